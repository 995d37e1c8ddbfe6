// Writing an export's bytes to the file the user named, with a reason when it fails.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quavella::exports {

/// The text reporting that `file` could not be written: "cannot write 'FILE': REASON".
std::string write_failure(const std::filesystem::path& file, std::string_view reason);

/// A file being written in pieces; it keeps the first failure.
class ExportFile {
public:
    /// Creates or empties the file.
    explicit ExportFile(std::filesystem::path file);
    /// Closes the file if `finish` has not.
    ~ExportFile();

    ExportFile(const ExportFile&) = delete;
    ExportFile& operator=(const ExportFile&) = delete;

    /// Appends bytes; after a failure nothing more is written.
    void write(const void* data, std::size_t size);

    /// Closes the file.
    /// @return write_failure(file, reason) when it could not be written completely
    std::optional<std::string> finish();

private:
    std::filesystem::path path_;
    std::FILE* out_ = nullptr;
    int failure_ = 0;  // errno of the first failure
};

}  // namespace quavella::exports
