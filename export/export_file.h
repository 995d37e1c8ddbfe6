// Writing an export's bytes to the file the user named, all or nothing (through a
// staged temporary), with a reason when it fails.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/staged_file.h"

namespace quavella::exports {

/// The text reporting that `file` could not be written: "cannot write 'FILE': REASON".
std::string write_failure(const std::filesystem::path& file, std::string_view reason);

/// Writes a file through `write(staged)` and puts it in place when that succeeded;
/// otherwise the file is as it was and no temporary is left.
/// @return the failure, naming the file
template <class Write>
std::optional<std::string> write_staged(const std::filesystem::path& file, Write&& write) {
    files::StagedFile staged(file);
    if (staged.error()) return staged.error();
    if (std::optional<std::string> failed = write(staged)) return failed;
    if (!staged.commit()) return staged.error();
    return std::nullopt;
}

/// A staged file being written in pieces; it keeps the first failure.
class ExportFile {
public:
    /// Opens the staged file's temporary; its target is untouched.
    explicit ExportFile(files::StagedFile& staged);
    /// Closes the temporary if `finish` has not.
    ~ExportFile();

    ExportFile(const ExportFile&) = delete;
    ExportFile& operator=(const ExportFile&) = delete;

    /// Appends bytes; after a failure nothing more is written.
    void write(const void* data, std::size_t size);

    /// Closes the temporary; the caller commits the staged file.
    /// @return write_failure(target, reason) when it could not be written completely
    std::optional<std::string> finish();

private:
    files::StagedFile& staged_;
    std::FILE* out_ = nullptr;
    int failure_ = 0;  // errno of the first failure
};

}  // namespace quavella::exports
