// An in-memory FILE*: fopencookie on glibc, funopen on the BSDs and macOS.
#include "midi/memory_file.h"

#include <sys/types.h>

#include <cstring>

namespace quavella {

struct MemoryFile::State {
    std::string bytes;
    std::size_t pos = 0;

    void write(const char* data, std::size_t size) {
        if (bytes.size() < pos + size) bytes.resize(pos + size);
        std::memcpy(bytes.data() + pos, data, size);
        pos += size;
    }
    /// The new position, or -1 for one before the start.
    long long seek(long long offset, int whence) {
        long long base = 0;
        if (whence == SEEK_CUR) base = static_cast<long long>(pos);
        if (whence == SEEK_END) base = static_cast<long long>(bytes.size());
        if (base + offset < 0) return -1;
        pos = static_cast<std::size_t>(base + offset);
        return base + offset;
    }
};

namespace {

#if defined(__GLIBC__)
ssize_t cookie_write(void* cookie, const char* data, std::size_t size) {
    static_cast<MemoryFile::State*>(cookie)->write(data, size);
    return static_cast<ssize_t>(size);
}

int cookie_seek(void* cookie, off64_t* offset, int whence) {
    const long long pos = static_cast<MemoryFile::State*>(cookie)->seek(*offset, whence);
    if (pos < 0) return -1;
    *offset = pos;
    return 0;
}
#elif defined(__APPLE__) || defined(__FreeBSD__) || defined(__OpenBSD__) || defined(__NetBSD__)
int fun_write(void* cookie, const char* data, int size) {
    static_cast<MemoryFile::State*>(cookie)->write(data, static_cast<std::size_t>(size));
    return size;
}

fpos_t fun_seek(void* cookie, fpos_t offset, int whence) {
    return static_cast<fpos_t>(static_cast<MemoryFile::State*>(cookie)->seek(offset, whence));
}
#endif

}  // namespace

MemoryFile::MemoryFile() : state_(std::make_unique<State>()) {}

MemoryFile::~MemoryFile() = default;

std::FILE* MemoryFile::release_stream() {
#if defined(__GLIBC__)
    cookie_io_functions_t io{};
    io.write = cookie_write;
    io.seek = cookie_seek;
    return fopencookie(state_.get(), "wb", io);
#elif defined(__APPLE__) || defined(__FreeBSD__) || defined(__OpenBSD__) || defined(__NetBSD__)
    return funopen(state_.get(), nullptr, fun_write, fun_seek, nullptr);
#else
    return nullptr;  // the writer reports that it has no stream to write to
#endif
}

const std::string& MemoryFile::bytes() const { return state_->bytes; }

}  // namespace quavella
