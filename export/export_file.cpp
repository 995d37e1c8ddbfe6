// Writing an export's bytes to a file.
#include "export/export_file.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace quavella::exports {

std::string write_failure(const std::filesystem::path& file, std::string_view reason) {
    std::string text = "cannot write '";
    text += file.string();
    text += "': ";
    text += reason;
    return text;
}

ExportFile::ExportFile(std::filesystem::path file) : path_(std::move(file)) {
    errno = 0;
    out_ = std::fopen(path_.c_str(), "wb");
    if (out_ == nullptr) failure_ = errno != 0 ? errno : EIO;
}

ExportFile::~ExportFile() {
    if (out_ != nullptr) std::fclose(out_);
}

void ExportFile::write(const void* data, std::size_t size) {
    if (out_ == nullptr || failure_ != 0 || size == 0) return;
    errno = 0;
    if (std::fwrite(data, 1, size, out_) != size) failure_ = errno != 0 ? errno : EIO;
}

std::optional<std::string> ExportFile::finish() {
    if (out_ != nullptr) {
        // A full disk often shows only when the buffered bytes leave at close.
        errno = 0;
        if (std::fclose(out_) != 0 && failure_ == 0) failure_ = errno != 0 ? errno : EIO;
        out_ = nullptr;
    }
    if (failure_ != 0) return write_failure(path_, std::strerror(failure_));
    return std::nullopt;
}

}  // namespace quavella::exports
