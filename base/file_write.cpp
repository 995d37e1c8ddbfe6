// Whole-file writes through a temporary file in the same folder.
#include "base/file_write.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

namespace quavella {

namespace {

std::error_code system_error(int error) { return {error, std::generic_category()}; }

/// Writes every byte to `fd`, going on after interruptions and short writes.
int write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

}  // namespace

std::error_code write_file_atomically(const std::filesystem::path& path, std::string_view bytes,
                                      bool replace) {
    static std::atomic<unsigned> serial{0};
    const std::filesystem::path dir = path.has_parent_path() ? path.parent_path() : ".";
    // 1. A new file beside the target, with the rights a plain create gives it.
    std::filesystem::path part;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        part = dir / ("." + path.filename().string() + "." + std::to_string(::getpid()) + "-" +
                      std::to_string(serial++) + ".part");
        fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return system_error(errno);
    }
    if (fd < 0) return system_error(EEXIST);

    // 2. Every byte written and on the disk: a full disk shows here, not later.
    int error = write_all(fd, bytes);
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;

    // 3. The whole file takes the target's name at once.
    if (error == 0) {
        if (replace) {
            if (::rename(part.c_str(), path.c_str()) == 0) return {};
            error = errno;
        } else {
            // link() never replaces; the temporary name goes either way. A file system
            // without hard links (a FAT memory stick) renames without replacing instead.
            if (::link(part.c_str(), path.c_str()) != 0) {
                error = errno;
                if (error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK) {
                    if (::renameat2(AT_FDCWD, part.c_str(), AT_FDCWD, path.c_str(),
                                    RENAME_NOREPLACE) == 0) {
                        return {};
                    }
                    error = errno;
                }
            }
        }
    }
    ::unlink(part.c_str());
    return error == 0 ? std::error_code() : system_error(error);
}

}  // namespace quavella
