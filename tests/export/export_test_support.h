// Shared by the export tests: a scratch directory per test, running the
// external readers (midicsv, sox, python3, mscore3) and reading files back.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace quavella::export_test {

namespace fs = std::filesystem;

/// What a shell command printed and how it ended.
struct CommandResult {
    int status;
    std::string out;
};

/// Runs `command` through the shell; standard error joins standard output.
inline CommandResult run(const std::string& command) {
    CommandResult result{-1, ""};
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) result.out.append(chunk, got);
    const int raw = ::pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

/// True when `tool` is on the PATH (or is an executable path).
inline bool have_tool(const std::string& tool) {
    return run("command -v " + tool + " >/dev/null").status == 0;
}

inline std::string quoted(const std::string& s) {
    std::string q = "'";
    for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string read_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void write_file(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

/// A test fixture with a fresh directory, removed afterwards.
class ScratchDir : public testing::Test {
protected:
    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        for (char& c : name) {
            if (c == '/') c = '_';
        }
        dir_ = fs::temp_directory_path() /
               ("quavella-export-" + std::to_string(::getpid()) + "-" + name);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path file(const std::string& name) const { return dir_ / name; }

    fs::path dir_;
};

/// Skips the test, saying which tool is missing, unless every tool is installed.
#define QUAVELLA_REQUIRE_TOOL(tool)                                                            \
    do {                                                                                       \
        if (!::quavella::export_test::have_tool(tool))                                         \
            GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh installs it)"; \
    } while (0)

}  // namespace quavella::export_test
