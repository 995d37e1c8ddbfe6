// Writing an export's bytes to the file the user named, with a reason when it fails.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quavella::exports {

/// The text reporting that `file` could not be written: "cannot write 'FILE': REASON".
std::string write_failure(const std::filesystem::path& file, std::string_view reason);

/// Creates or replaces `file` with `bytes`.
/// @return write_failure(file, reason) when it could not be written completely
std::optional<std::string> write_bytes(const std::filesystem::path& file, std::string_view bytes);

}  // namespace quavella::exports
