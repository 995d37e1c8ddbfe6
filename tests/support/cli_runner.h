// Runs the built quavella-cli as a user does: arguments, bytes on standard input,
// a working directory; returns the exit status and both outputs.
// The test target defines QUAVELLA_CLI_PATH.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/tools.h"

#ifndef QUAVELLA_CLI_PATH
#error "define QUAVELLA_CLI_PATH as the built quavella-cli"
#endif

namespace quavella::test {

/// What one run of the program did.
struct CliRun {
    int status;  ///< exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

/// Runs quavella-cli with `args`, feeding `input` on standard input, in `workdir`
/// (the current directory when empty).
inline CliRun run_cli(const std::vector<std::string>& args, const std::string& input = "",
                      const std::filesystem::path& workdir = {}) {
    const ScratchDir io;
    write_file(io.file("stdin"), input);
    std::string command;
    if (!workdir.empty()) command = "cd " + shell_quoted(workdir.string()) + " && ";
    command += shell_quoted(QUAVELLA_CLI_PATH);
    for (const std::string& arg : args) command += " " + shell_quoted(arg);
    command += " <" + shell_quoted(io.file("stdin")) + " >" + shell_quoted(io.file("stdout")) +
               " 2>" + shell_quoted(io.file("stderr"));
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(io.file("stdout")),
            read_file(io.file("stderr"))};
}

}  // namespace quavella::test
