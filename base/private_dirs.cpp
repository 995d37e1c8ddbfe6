// Private folders: mkdir 0700 and chmod, since the umask may take bits but never add them.
#include "base/private_dirs.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace quavella::files {

std::optional<std::string> make_private_dirs(const std::filesystem::path& dir) {
    std::filesystem::path made;
    for (const auto& part : dir) {
        made /= part;
        if (::mkdir(made.c_str(), 0700) != 0) {
            const int error = errno;
            if (error == EEXIST) continue;
            return "cannot create the directory " + made.string() + ": " + std::strerror(error);
        }
        // The umask cannot take bits from 0700 that a program should keep, but may.
        ::chmod(made.c_str(), 0700);
    }
    return std::nullopt;
}

bool open_to_others(const std::filesystem::path& dir) {
    struct stat info {};
    return ::stat(dir.c_str(), &info) == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

}  // namespace quavella::files
