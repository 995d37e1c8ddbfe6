// Files for tests: whole-file reads and writes, and a scratch directory that is
// removed with everything in it when the test ends.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace quavella::test {

/// The bytes of a file; empty when it cannot be read.
inline std::string read_file(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// Writes `bytes` as the whole file.
inline void write_file(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream(file, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

/// A fresh directory of its own for one test (or suite), removed with its contents
/// at the end; with Current::enter it is also the current directory meanwhile.
class ScratchDir {
public:
    enum class Current { stay, enter };

    /// @param base where the directory is made; the system's temporary directory
    ///        when empty
    explicit ScratchDir(Current current = Current::stay, const std::filesystem::path& base = {}) {
        const std::filesystem::path parent =
            base.empty() ? std::filesystem::temp_directory_path() : base;
        std::string pattern = (parent / "quavella-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot make a scratch directory in " + pattern);
        }
        path_ = pattern;
        if (current == Current::enter) {
            old_ = std::filesystem::current_path();
            std::filesystem::current_path(path_);
        }
    }
    ~ScratchDir() {
        std::error_code ec;
        if (!old_.empty()) std::filesystem::current_path(old_, ec);
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    /// The path of `name` inside the directory, as text.
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
    std::filesystem::path old_;
};

}  // namespace quavella::test
