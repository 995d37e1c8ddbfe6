// File copies (all or nothing, never through a link), the clock and the current directory over the
// standard library.
#include "app/commands/std_platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/staged_file.h"
#include "composer/draws.h"

namespace quavella {

namespace fs = std::filesystem;

namespace {
/// A working file larger than this is no melody of this program.
constexpr std::size_t kMaxCopiedBytes = std::size_t{64} << 20;
}  // namespace

std::optional<std::string> FsFileCopier::copy(const std::string& from, const std::string& to,
                                              bool replace) {
    // The working files are read without following a link in their place.
    const int fd = ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const bool link = fd < 0 && errno == ELOOP;
        if (fd >= 0) ::close(fd);
        return link ? from + " 是符号链接，不会跟随" : "找不到文件 " + from;
    }
    std::string bytes;
    char chunk[65536];
    ssize_t got;
    while ((got = ::read(fd, chunk, sizeof chunk)) > 0) {
        bytes.append(chunk, static_cast<std::size_t>(got));
        if (bytes.size() > kMaxCopiedBytes) {
            got = -1;
            errno = EFBIG;
            break;
        }
    }
    const int read_failure = got < 0 ? errno : 0;
    ::close(fd);
    if (read_failure != 0) return std::strerror(read_failure);
    // All or nothing, never through a link; without `replace` an existing name is
    // never taken, even one that appears meanwhile.
    files::StagedFile staged(to, {.replace = replace});
    if (staged.write(bytes) && staged.commit()) return std::nullopt;
    if (!replace && staged.reason() == std::strerror(EEXIST)) return "文件已存在";
    return staged.reason();
}

std::optional<std::string> FsFileCopier::write(const std::string& to, std::string_view bytes,
                                               bool replace) {
    // All or nothing, never through a link; without `replace` an existing name is
    // never taken, even one that appears meanwhile.
    files::StagedFile staged(to, {.replace = replace});
    if (staged.write(bytes) && staged.commit()) return std::nullopt;
    if (!replace && staged.reason() == std::strerror(EEXIST)) return "文件已存在";
    return staged.reason();
}

std::uint64_t SystemClock::now() { return clock_seed(); }

std::optional<std::string> read_current_dir() {
    std::error_code ec;
    const fs::path dir = fs::current_path(ec);
    if (ec) {
        return std::nullopt;
    }
    return dir.string();
}

}  // namespace quavella
