// The window program's command line.
#include "app/desktop/launch_options.h"

namespace quavella {

LaunchOptions parse_launch_options(const std::vector<std::string>& args) {
    LaunchOptions options;
    for (const std::string& arg : args) {
        if (arg == "--from-menu") {
            options.from_menu = true;
        } else if (arg == "--new-instance") {
            options.new_instance = true;
        } else if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (options.error.empty()) {
            // The rest is still read: --help and --version answer whatever else is there.
            options.error =
                (!arg.empty() && arg[0] == '-' ? "unknown option: " : "unexpected argument: ") +
                arg;
        }
    }
    return options;
}

const char* launch_usage() {
    return "Usage:\n"
           "  quavella [--from-menu] [--new-instance]\n"
           "  quavella --help | --version\n"
           "\n"
           "Opens the composer window. Its working files temp.mid, 1.mid and 2.mid are\n"
           "written to the current directory.\n"
           "\n"
           "Options:\n"
           "  --from-menu     keep the working files in a folder of their own instead: Quavella\n"
           "                  in the music folder, or ~/.local/share/quavella/work when the\n"
           "                  desktop has none (the desktop menu entry passes this option)\n"
           "  --new-instance  open a second window even when one is open on the same folder;\n"
           "                  without it, the open window is brought to the front instead\n"
           "  -h, --help      show this text\n"
           "  --version       show the version\n"
           "\n"
           "Exit status: 0 success, also when the open window was brought to the front;\n"
           "1 a window is open on the folder but does not answer; 2 bad command line.\n";
}

}  // namespace quavella
