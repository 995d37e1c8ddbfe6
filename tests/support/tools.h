// External programs the tests read results back with (midicsv, Debian's mido),
// run through the shell, and a check that names a missing one clearly.
#pragma once

#include <stdio.h>
#include <sys/wait.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace quavella::test {

/// Quotes a text for the shell.
inline std::string shell_quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

/// Runs a shell command and returns what it wrote on standard output.
inline std::string shell_output(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return out;
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe.get())) > 0;) {
        out.append(chunk, got);
    }
    return out;
}

/// Empty when `check` (a shell command) exits 0; otherwise a text that says which
/// tool is missing and which Debian package brings it, for the test to fail with.
inline std::string missing_tool(const std::string& check, const std::string& tool,
                                const std::string& package) {
    const int raw = std::system((check + " >/dev/null 2>&1").c_str());
    if (raw != -1 && WIFEXITED(raw) && WEXITSTATUS(raw) == 0) return {};
    return tool +
           " is missing: this test reads its results back with it (install the Debian "
           "package " +
           package + ", as scripts/install-deps.sh does)";
}

/// midicsv, which renders a MIDI file as text.
inline std::string missing_midicsv() {
    return missing_tool("command -v midicsv", "midicsv", "midicsv");
}

/// The system interpreter with Debian's mido module.
inline std::string missing_mido() {
    return missing_tool("/usr/bin/python3 -c 'import mido'", "python3-mido", "python3-mido");
}

/// midicsv's rendering of a MIDI file (standard output only).
inline std::string midicsv_text(const std::string& file) {
    return shell_output("midicsv " + shell_quoted(file) + " 2>/dev/null");
}

/// One record of midicsv's output, split at ", ".
using CsvRecord = std::vector<std::string>;

/// midicsv's records of a MIDI file; empty when midicsv refused the file.
inline std::vector<CsvRecord> midicsv_records(const std::string& file) {
    std::vector<CsvRecord> records;
    const std::string text = midicsv_text(file);
    std::size_t line_start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         line_start = end + 1, end = text.find('\n', line_start)) {
        const std::string line = text.substr(line_start, end - line_start);
        CsvRecord record;
        std::size_t start = 0;
        for (std::size_t comma = line.find(", "); comma != std::string::npos;
             comma = line.find(", ", start)) {
            record.push_back(line.substr(start, comma - start));
            start = comma + 2;
        }
        record.push_back(line.substr(start));
        records.push_back(record);
    }
    return records;
}

}  // namespace quavella::test
