// Writing an export's bytes to a file.
#include "export/export_file.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace quavella::exports {

std::string write_failure(const std::filesystem::path& file, std::string_view reason) {
    return files::write_failure(file, reason);
}

ExportFile::ExportFile(files::StagedFile& staged) : staged_(staged) {
    if (staged_.error()) return;
    errno = 0;
    out_ = std::fopen(staged_.temp_path().c_str(), "wb");
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
    if (failure_ != 0) staged_.fail(write_failure(staged_.target(), std::strerror(failure_)));
    return staged_.error();
}

}  // namespace quavella::exports
