// File copies, the clock and the current directory over the standard library.
#include "app/commands/std_platform.h"

#include <filesystem>
#include <system_error>

#include "base/file_write.h"
#include "composer/draws.h"

namespace quavella {

namespace fs = std::filesystem;

std::optional<std::string> FsFileCopier::copy(const std::string& from, const std::string& to,
                                              bool replace) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::path(from), ec)) {
        return "找不到文件 " + from;
    }
    // copy_file refuses an existing target itself, so a file that appears
    // between a check and the copy is never replaced either.
    const auto options = replace ? fs::copy_options::overwrite_existing : fs::copy_options::none;
    fs::copy_file(fs::path(from), fs::path(to), options, ec);
    if (!ec) {
        return std::nullopt;
    }
    if (ec == std::errc::file_exists) {
        return "文件已存在";
    }
    return ec.message();
}

std::optional<std::string> FsFileCopier::write(const std::string& to, std::string_view bytes,
                                               bool replace) {
    const std::error_code ec = write_file_atomically(fs::path(to), bytes, replace);
    if (!ec) return std::nullopt;
    if (ec == std::errc::file_exists) return "文件已存在";
    return ec.message();
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
