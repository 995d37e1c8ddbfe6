// The working folder of a window started from the desktop menu.
#include "app/desktop/work_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <string_view>
#include <system_error>

#include "base/private_dirs.h"

namespace quavella {

namespace fs = std::filesystem;

namespace {

/// An absolute path from a variable; relative values are ignored, as the base
/// directory rules ask.
std::optional<fs::path> absolute_env(const EnvLookup& env, const std::string& name) {
    const auto value = env(name);
    if (!value || value->empty() || (*value)[0] != '/') {
        return std::nullopt;
    }
    return fs::path(*value);
}

/// A path without a trailing separator or "." parts, so two spellings compare equal.
fs::path normal(const fs::path& path) {
    fs::path result = path.lexically_normal();
    if (!result.has_filename() && result.has_parent_path() && result != result.root_path()) {
        result = result.parent_path();
    }
    return result;
}

/// The text of the user-dirs.dirs file `file`: nothing when it is missing, not a regular
/// file (a FIFO would block the start for good) or larger than kMaxUserDirsBytes.
std::optional<std::string> read_user_dirs(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> text;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxUserDirsBytes) {
        // Read one byte past the bound: a file that grew meanwhile is refused too.
        std::string bytes(static_cast<std::size_t>(kMaxUserDirsBytes) + 1, '\0');
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (n < 0) got = bytes.size();  // unreadable: as if too large
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        if (got <= static_cast<std::size_t>(kMaxUserDirsBytes)) {
            bytes.resize(got);
            text = std::move(bytes);
        }
    }
    ::close(fd);
    return text;
}

/// Undoes the shell escapes xdg-user-dirs writes inside double quotes.
std::string unescape(std::string_view quoted) {
    std::string out;
    for (std::size_t i = 0; i < quoted.size(); ++i) {
        if (quoted[i] == '\\' && i + 1 < quoted.size()) {
            ++i;
        }
        out += quoted[i];
    }
    return out;
}

}  // namespace

std::optional<std::string> process_env(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

std::optional<fs::path> music_dir_from_user_dirs(const std::string& text, const fs::path& home) {
    constexpr std::string_view kKey = "XDG_MUSIC_DIR=";
    std::optional<fs::path> found;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::string_view rest(line);
        const auto start = rest.find_first_not_of(" \t");
        if (start == std::string_view::npos) continue;
        rest.remove_prefix(start);
        if (rest.substr(0, kKey.size()) != kKey) continue;
        rest.remove_prefix(kKey.size());
        const auto end = rest.find_last_not_of(" \t\r");
        rest = rest.substr(0, end + 1);
        // The value is one double-quoted string, "$HOME/..." or an absolute path.
        if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"') {
            found.reset();
            continue;
        }
        const std::string value = unescape(rest.substr(1, rest.size() - 2));
        constexpr std::string_view kHome = "$HOME";
        if (std::string_view(value).substr(0, kHome.size()) == kHome &&
            (value.size() == kHome.size() || value[kHome.size()] == '/')) {
            found = home / fs::path(value.substr(kHome.size())).relative_path();
        } else if (!value.empty() && value[0] == '/') {
            found = fs::path(value);
        } else {
            found.reset();
        }
        // A later line wins, as it would when the shell sources the file.
    }
    return found;
}

std::optional<fs::path> menu_work_dir(const EnvLookup& env) {
    const auto home = absolute_env(env, "HOME");
    if (home) {
        const fs::path config = absolute_env(env, "XDG_CONFIG_HOME").value_or(*home / ".config");
        if (const auto text = read_user_dirs(config / "user-dirs.dirs")) {
            // A music folder that is the home folder means the desktop has none.
            const auto music = music_dir_from_user_dirs(*text, *home);
            if (music && normal(*music) != normal(*home)) {
                return normal(*music) / "Quavella";
            }
        }
    }
    if (const auto data = absolute_env(env, "XDG_DATA_HOME")) {
        return normal(*data) / "quavella" / "work";
    }
    if (home) {
        return normal(*home) / ".local" / "share" / "quavella" / "work";
    }
    return std::nullopt;
}

std::optional<std::string> enter_work_dir(const fs::path& dir) {
    // The working files are the user's own, as the history is: folders made here are
    // for their owner alone whatever the umask.
    if (auto failure = files::make_private_dirs(dir)) return failure;
    std::error_code ec;
    fs::current_path(dir, ec);
    if (ec) {
        return "cannot enter " + dir.string() + ": " + ec.message();
    }
    return std::nullopt;
}

}  // namespace quavella
