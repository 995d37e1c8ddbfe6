// Fuzz target: the MIDI writer's API driven by a random sequence of calls,
// against a plain model of the bytes each call must place. The stream is a
// memory file that may refuse writes after a budget, so failing streams,
// the 16-byte fallback window and files far beyond one 1024-byte window are
// all reached, as are large pauses and over-long variable-length values.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_input.h"
#include "midi/midiio.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- The stream: memory behind glibc's fopencookie. ----

struct MemoryFile {
    Bytes bytes;
    std::int64_t pos = 0;
    std::int64_t budget = -1;  // bytes it accepts before refusing; -1 for no limit
    bool refused = false;

    static ssize_t write(void* cookie, const char* buf, std::size_t size) {
        auto* f = static_cast<MemoryFile*>(cookie);
        if (f->budget >= 0) {
            if (static_cast<std::int64_t>(size) > f->budget) {
                f->refused = true;
                return 0;  // fopencookie: a write error is 0 bytes written, never negative
            }
            f->budget -= static_cast<std::int64_t>(size);
        }
        const auto end = static_cast<std::size_t>(f->pos) + size;
        if (f->bytes.size() < end) f->bytes.resize(end);
        std::copy(buf, buf + size, f->bytes.begin() + f->pos);
        f->pos = static_cast<std::int64_t>(end);
        return static_cast<ssize_t>(size);
    }
    static int seek(void* cookie, off64_t* offset, int whence) {
        auto* f = static_cast<MemoryFile*>(cookie);
        std::int64_t base = whence == SEEK_SET   ? 0
                            : whence == SEEK_CUR ? f->pos
                                                 : static_cast<std::int64_t>(f->bytes.size());
        if (base + *offset < 0) return -1;
        f->pos = base + *offset;
        *offset = f->pos;
        return 0;
    }
    static int close(void*) { return 0; }

    std::FILE* open() {
        cookie_io_functions_t io{nullptr, &MemoryFile::write, &MemoryFile::seek,
                                 &MemoryFile::close};
        return fopencookie(this, "w", io);
    }
};

class FuzzWriter : public quavella::MidiWrite {
public:
    FuzzWriter(std::FILE* file, bool smallwindow) : MidiWrite(file, "fuzz.mid", smallwindow) {}
    ~FuzzWriter() override { close(); }
    void error(const char*) override { ++errors; }
    void warning(const char*) override { ++warnings; }
    using MidiWrite::putmeta;

    int errors = 0;
    int warnings = 0;
};

// ---- The model: what each call places, byte by byte. ----

class Model {
public:
    Bytes file;
    int errors = 0;    // values too large for a variable-length quantity
    int warnings = 0;  // large pauses

    std::int32_t length() const { return static_cast<std::int32_t>(file.size()); }

    void header(int format, int ntracks, int division) {
        cur_ = 0;
        put({'M', 'T', 'h', 'd'});
        put32(6);
        put16(static_cast<std::uint32_t>(format));
        put16(static_cast<std::uint32_t>(ntracks));
        put16(static_cast<std::uint32_t>(division));
    }
    void starttrack() {
        if (trackpos_ > 0) endtrack();
        eotdone_ = false;
        lastcode_ = -1;
        delta_ = 0;
        trackpos_ = length();
        cur_ = trackpos_;
        put({'M', 'T', 'r', 'k'});
        put32(0);
        ++trackcount_;
    }
    void endtrack() {
        cur_ = length();
        if (!eotdone_) endoftrack();
        if (trackpos_ > 0) {
            cur_ = trackpos_ + 4;
            put32(static_cast<std::uint32_t>(length() - trackpos_ - 8));
            trackpos_ = 0;
        }
    }
    void endoftrack() {
        if (eotdone_) return;
        eotdone_ = true;
        meta(0x2F, {});
    }
    void close() {
        if (trackcount_ > 0) {
            cur_ = 10;
            put16(static_cast<std::uint32_t>(trackcount_));
        }
        if (trackpos_ > 0) endtrack();
    }
    void pause(std::uint32_t ticks) {
        if (ticks >= (1u << 24)) ++warnings;
        delta_ = ticks > UINT32_MAX - delta_ ? UINT32_MAX : delta_ + ticks;
    }
    void seek(std::int32_t pos) { cur_ = pos; }
    void channel(int code, Bytes data) {
        varlen(delta_);
        delta_ = 0;
        if (code != lastcode_ || code > 0x9F) put({static_cast<std::uint8_t>(code)});
        lastcode_ = code;
        put(data);
    }
    void noteoff(int ch, std::uint8_t key, int velocity) {
        const bool asnoteon = velocity == 0 && lastcode_ >= 0x90 && lastcode_ <= 0x9F;
        channel((asnoteon ? 0x90 : 0x80) + ch, {key, static_cast<std::uint8_t>(velocity)});
    }
    void meta(int type, const Bytes& data, std::uint32_t length = UINT32_MAX) {
        if (length == UINT32_MAX) length = static_cast<std::uint32_t>(data.size());
        varlen(delta_);
        delta_ = 0;
        put({0xFF});
        lastcode_ = 0xFF;
        put({static_cast<std::uint8_t>(type)});
        varlen(length);
        put(Bytes(data.begin(), data.begin() + std::min<std::size_t>(data.size(), length)));
    }

private:
    void put(const Bytes& bytes) {
        for (const auto b : bytes) {
            if (cur_ < length()) {
                file[static_cast<std::size_t>(cur_)] = b;
            } else {
                file.push_back(b);
            }
            ++cur_;
        }
    }
    void put16(std::uint32_t v) { put({std::uint8_t(v >> 8), std::uint8_t(v)}); }
    void put32(std::uint32_t v) {
        put({std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)});
    }
    void varlen(std::uint32_t v) {
        if (v > 0x0FFFFFFFu) {
            ++errors;
            v = 0x0FFFFFFFu;
        }
        Bytes out{std::uint8_t(v & 0x7F)};
        while ((v >>= 7) != 0) out.insert(out.begin(), std::uint8_t(0x80 | (v & 0x7F)));
        put(out);
    }

    std::int32_t cur_ = 0;
    std::int32_t trackpos_ = -1;
    std::int32_t trackcount_ = 0;
    int lastcode_ = -1;
    bool eotdone_ = true;
    std::uint32_t delta_ = 0;
};

std::uint32_t pause_ticks(quavella::fuzz::FuzzInput& in) {
    switch (in.below(4)) {
        case 0:
            return in.byte();
        case 1:
            return static_cast<std::uint32_t>(in.number(2));
        case 2:
            return static_cast<std::uint32_t>(in.number(3)) << 4;  // around 2^24 and 2^28
        default:
            return static_cast<std::uint32_t>(in.number(4));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quavella::fuzz::FuzzInput;
    FuzzInput in(data, size);
    MemoryFile mem;
    const std::uint8_t setup = in.byte();
    const bool smallwindow = (setup & 1) != 0;
    if ((setup & 2) != 0) mem.budget = static_cast<std::int64_t>(in.number(2));

    Model model;
    {
        FuzzWriter w(mem.open(), smallwindow);
        const int format = in.below(3), ntracks = in.byte(),
                  division = static_cast<int>(in.number(2));
        w.header(format, ntracks, division);
        model.header(format, ntracks, division);
        int calls = 0;
        bool closed = false;
        while (!in.empty() && ++calls < 4000 && !closed) {
            const int op = in.below(17);
            const int ch = in.below(16);
            switch (op) {
                case 0:
                    w.starttrack();
                    model.starttrack();
                    break;
                case 1:
                    w.endtrack();
                    model.endtrack();
                    break;
                case 2:
                    w.endoftrack();
                    model.endoftrack();
                    break;
                case 3: {
                    const std::uint32_t t = pause_ticks(in);
                    w.pause(t);
                    model.pause(t);
                    break;
                }
                case 4: {
                    const auto pos = static_cast<std::int32_t>(in.number(2) % (model.length() + 1));
                    w.seek(pos);
                    model.seek(pos);
                    break;
                }
                case 5: {
                    const std::uint8_t p = in.byte();
                    w.programchange(ch, p);
                    model.channel(0xC0 + ch, {p});
                    break;
                }
                case 6:
                case 7: {
                    const std::uint8_t key = in.byte(), vel = in.byte();
                    w.noteon(ch, key, vel);
                    model.channel(0x90 + ch, {key, vel});
                    break;
                }
                case 8:
                case 9: {
                    const std::uint8_t key = in.byte();
                    const int vel = in.below(2) != 0 ? 0 : in.byte();
                    w.noteoff(ch, key, vel);
                    model.noteoff(ch, key, vel);
                    break;
                }
                case 10: {
                    const auto us = static_cast<int>(in.number(4));
                    w.tempo(us);
                    const auto u = static_cast<std::uint32_t>(us);
                    model.meta(0x51,
                               {std::uint8_t(u >> 16), std::uint8_t(u >> 8), std::uint8_t(u)});
                    break;
                }
                case 11: {
                    const int v = in.byte();
                    if (in.below(2) != 0) {
                        w.channelprefix(v);
                        model.meta(0x20, {std::uint8_t(v)});
                    } else {
                        w.midiport(v);
                        model.meta(0x21, {std::uint8_t(v)});
                    }
                    break;
                }
                case 12: {
                    const auto n = static_cast<int>(in.number(2));
                    w.sequencenumber(n);
                    model.meta(0x00, {std::uint8_t(n >> 8), std::uint8_t(n)});
                    break;
                }
                case 13: {
                    const int rate = in.byte(), h = in.byte(), m = in.byte(), s = in.byte(),
                              f = in.byte(), sf = in.byte();
                    w.smpteoffset(rate, h, m, s, f, sf);
                    const auto rh = static_cast<std::uint32_t>(rate) * 32u +
                                    static_cast<std::uint32_t>(h & 0x1F);
                    model.meta(0x54, {std::uint8_t(rh), std::uint8_t(m), std::uint8_t(s),
                                      std::uint8_t(f), std::uint8_t(sf)});
                    break;
                }
                case 14: {
                    const int sharps = static_cast<std::int8_t>(in.byte()), minor = in.byte();
                    w.keysignature(sharps, minor);
                    model.meta(0x59, {std::uint8_t(sharps), std::uint8_t(minor)});
                    break;
                }
                case 15: {
                    // A text-like meta event, long enough to cross windows.
                    const std::size_t n = in.number(2) % 3000;
                    Bytes text(n);
                    for (std::size_t i = 0; i < n; ++i) text[i] = static_cast<std::uint8_t>(i * 7);
                    const int type = in.below(0x80);
                    w.putmeta(type, static_cast<std::uint32_t>(n), text.data());
                    model.meta(type, text);
                    break;
                }
                default:
                    w.close();
                    model.close();
                    closed = true;
                    break;
            }
        }
        if (!closed) {
            w.close();
            model.close();
        }
        FUZZ_CHECK(w.warnings == model.warnings, "warnings %d, expected %d", w.warnings,
                   model.warnings);
        if (mem.refused) {
            FUZZ_CHECK(w.errors > model.errors,
                       "a refused write went unreported: errors %d, model %d", w.errors,
                       model.errors);
        } else {
            FUZZ_CHECK(w.errors == model.errors, "errors %d, expected %d", w.errors, model.errors);
        }
    }
    if (!mem.refused) {
        FUZZ_CHECK(mem.bytes == model.file, "file differs from the model: %zu bytes, expected %zu",
                   mem.bytes.size(), model.file.size());
    }
    return 0;
}
