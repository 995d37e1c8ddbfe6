// A stdio stream whose bytes stay in memory, for writers that take a FILE*: the
// composition file's bytes are made by the same MIDI writer that writes files.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace quavella {

/// Bytes written, and overwritten after a seek, through a FILE*. Unlike
/// open_memstream, a seek back before closing does not cut the bytes short.
class MemoryFile {
public:
    MemoryFile();
    ~MemoryFile();
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    /// A stream writing into this object, or nullptr when none could be made.
    /// Whoever receives it closes it (fclose); close it before reading bytes().
    std::FILE* release_stream();

    /// Everything written so far, after the stream was closed.
    const std::string& bytes() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace quavella
