// quavella-cli: command-line front end over the core. Reads the lyric input,
// calls the core and prints; the arguments are parsed by cli/args, and each
// command is one function, in a file of its own, in the dispatch table below.
#include <iostream>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/cli_common.h"

namespace {

using quavella::cli::Exit;
using quavella::cli::status;
using quavella::cli::usage_error;

/// One subcommand: its name and the function that runs it on the arguments after the name.
struct Command {
    const char* name;
    int (*run)(std::span<const std::string> args);
};

constexpr Command kCommands[] = {
    {"analyze", quavella::cli::cmd_analyze},
    {"compose", quavella::cli::cmd_compose},
    {"history", quavella::cli::cmd_history},
};

/// Runs the command line (the arguments after the program's name).
/// @return the exit status
int run(const std::vector<std::string>& args) {
    if (quavella::cli::asks_for_help(args)) {
        std::cout << quavella::cli::kUsage;
        return status(Exit::ok);
    }
    if (quavella::cli::asks_for_version(args)) {
        if (args.size() != 1) return usage_error("--version takes no other argument");
        std::cout << "quavella-cli " << QUAVELLA_VERSION << "\n";
        return status(Exit::ok);
    }
    if (args.empty()) return usage_error("no command given");
    for (const Command& cmd : kCommands) {
        if (args[0] == cmd.name) return cmd.run(std::span<const std::string>(args).subspan(1));
    }
    return usage_error("unknown command '" + args[0] + "'");
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::bad_alloc&) {
        // A limit on the process's memory (ulimit -v) met by the longest lyrics or many
        // candidates: the outputs not yet complete were discarded on the way out.
        std::cerr << "quavella-cli: out of memory: this command needs more memory than the "
                     "process may use (fewer candidates or shorter lyrics need less)\n";
        return status(Exit::out_of_memory);
    }
}
