// Writing an export's bytes to a file.
#include "export/export_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quavella::exports {

std::string write_failure(const std::filesystem::path& file, std::string_view reason) {
    std::string text = "cannot write '";
    text += file.string();
    text += "': ";
    text += reason;
    return text;
}

std::optional<std::string> write_bytes(const std::filesystem::path& file, std::string_view bytes) {
    errno = 0;
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr) return write_failure(file, std::strerror(errno));
    errno = 0;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    int reason = written ? 0 : errno;
    // A full disk often shows only when the buffered bytes leave at close.
    errno = 0;
    if (std::fclose(out) != 0 && reason == 0) reason = errno != 0 ? errno : EIO;
    if (!written || reason != 0)
        return write_failure(file, std::strerror(reason != 0 ? reason : EIO));
    return std::nullopt;
}

}  // namespace quavella::exports
