// Writing a whole file all or nothing: a reader (another window, a player) sees the
// old file or the new one, never a part. Used for the composition files of the
// window and the command line.
#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

namespace quavella {

/// Writes `bytes` as the file `path`: into a new file beside it, flushed to disk,
/// then renamed onto `path` (replace) or linked to it (never replacing). On failure
/// nothing is left behind and an existing `path` is untouched.
/// @param replace false: an existing `path` fails the write with std::errc::file_exists
/// @return empty when written; otherwise the system's reason
std::error_code write_file_atomically(const std::filesystem::path& path, std::string_view bytes,
                                      bool replace);

}  // namespace quavella
