// Where the window keeps its working files ("temp.mid", "1.mid", "2.mid"). Started from a
// terminal it uses the current directory; started from the desktop menu, whose current
// directory is the home folder, a folder of its own. Qt-free; used by main.cpp and tests.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace quavella {

/// Reads one environment variable: nothing when it is unset.
using EnvLookup = std::function<std::optional<std::string>(const std::string& name)>;

/// The process's own environment.
std::optional<std::string> process_env(const std::string& name);

/// The value of `XDG_MUSIC_DIR` in the text of a user-dirs.dirs file, with "$HOME"
/// expanded and shell escapes undone.
/// @return nothing when the file names no music folder, or names it in a form the
///         format does not allow (neither absolute nor under "$HOME").
std::optional<std::filesystem::path> music_dir_from_user_dirs(const std::string& text,
                                                              const std::filesystem::path& home);

/// The largest user-dirs.dirs read, in bytes (the desktop writes well under a kilobyte);
/// a larger file, like one that is not a regular file, is ignored as unusable.
inline constexpr long kMaxUserDirsBytes = 64 * 1024;

/// The folder for the working files of a window started from the menu:
/// "Quavella" in the user's music folder when the desktop names one (user-dirs.dirs
/// under $XDG_CONFIG_HOME, default ~/.config) other than the home folder itself;
/// otherwise "quavella/work" under $XDG_DATA_HOME (default ~/.local/share).
/// @return nothing when neither HOME nor an absolute XDG_DATA_HOME is set.
std::optional<std::filesystem::path> menu_work_dir(const EnvLookup& env);

/// Creates `dir` with its parents when missing, each for its owner alone (0700) whatever
/// the umask, and makes it the current directory.
/// @return empty on success, otherwise why not.
std::optional<std::string> enter_work_dir(const std::filesystem::path& dir);

}  // namespace quavella
