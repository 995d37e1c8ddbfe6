// The window program's command line: where the working files go, whether a second
// window may open, help and version. Qt-free; main.cpp parses with it, tests check it.
#pragma once

#include <string>
#include <vector>

namespace quavella {

/// What the command line of `quavella` asks for.
struct LaunchOptions {
    /// Working files in a folder of their own (the desktop menu entry passes --from-menu).
    bool from_menu = false;
    /// Open a window even when one is already open on the same working folder.
    bool new_instance = false;
    bool help = false;
    bool version = false;
    /// Why the command line was refused; empty when it was not.
    std::string error;
};

/// Exit statuses of the window program.
inline constexpr int kLaunchExitOk = 0;
/// A window holds the folder's socket but did not answer (stopped or hung).
inline constexpr int kLaunchExitNoAnswer = 1;
inline constexpr int kLaunchExitUsage = 2;

/// Reads the arguments after the program name. Help and version are recognised even
/// beside arguments that are refused (such as Qt's own options, before Qt takes them out).
LaunchOptions parse_launch_options(const std::vector<std::string>& args);

/// The usage text printed by --help (a refused command line gets one line naming why).
const char* launch_usage();

}  // namespace quavella
