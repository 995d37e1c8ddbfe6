// Standard MIDI File writer: window management, file access and the events
// that are not on the per-note fast path (see midiio.h).
#include "midi/midiio.h"

#include <cerrno>
#include <new>

namespace quavella {

namespace {

constexpr const char* writeerror = "write error (maybe disk full)";

}  // namespace

// ---- MidiBuffer ----

MidiBuffer::MidiBuffer(const char* filename)
    : filename_(filename),
      file_(nullptr),
      buf_(nullptr),
      bufsize_(0),
      winlen_(0),
      winpos_(0),
      smallbuf_{},
      ownbuf_(false),
      length_(0),
      openreported_(false),
      closed_(false),
      filepos_(0) {
    // 1. Open with "wb": the file is created, or emptied if it exists.
    std::FILE* file = nullptr;
    if (filename_ == nullptr) {
        openerror_ = "cannot open a file without a name for writing";
    } else {
        errno = 0;
        file = std::fopen(filename_, "wb");
        if (file == nullptr) {
            openerror_ = std::string("cannot open ") + filename_ +
                         " for writing: " + (errno != 0 ? std::strerror(errno) : "unknown reason");
        }
    }
    open(file, false);
}

MidiBuffer::MidiBuffer(std::FILE* file, const char* name, bool smallwindow)
    : filename_(name),
      file_(nullptr),
      buf_(nullptr),
      bufsize_(0),
      winlen_(0),
      winpos_(0),
      smallbuf_{},
      ownbuf_(false),
      length_(0),
      openreported_(false),
      closed_(false),
      filepos_(-1) {
    if (file == nullptr) {
        openerror_ = std::string("cannot open ") + (name != nullptr ? name : "stream") +
                     " for writing: no stream";
    }
    open(file, smallwindow);
}

void MidiBuffer::open(std::FILE* file, bool smallwindow) {
    file_ = file;
    if (file_ != nullptr) {
        // Each window goes to the file in one unbuffered write, so a failure
        // (a full disk) shows at that write and not later, hidden in stdio.
        std::setvbuf(file_, nullptr, _IONBF, 0);
        // 2. A window of 1024 bytes for an open file.
        if (!smallwindow) {
            buf_ = new (std::nothrow) std::uint8_t[windowsize];
            if (buf_ != nullptr) {
                bufsize_ = windowsize;
                ownbuf_ = true;
            }
        }
    }
    // 3. Without a buffer (no file, or no memory) the small window serves.
    if (buf_ == nullptr) {
        buf_ = smallbuf_;
        bufsize_ = smallwindowsize;
        ownbuf_ = false;
    }
}

MidiBuffer::~MidiBuffer() {
    close();
    if (ownbuf_) delete[] buf_;
}

void MidiBuffer::error(const char* message) { std::fprintf(stderr, "error: %s\n", message); }

void MidiBuffer::warning(const char* message) { std::fprintf(stderr, "warning: %s\n", message); }

void MidiBuffer::reportopenfailure() {
    if (openreported_ || openerror_.empty()) return;
    openreported_ = true;
    error(openerror_.c_str());
}

void MidiBuffer::close() {
    if (closed_) return;
    flush();
    if (file_ == nullptr) {
        reportopenfailure();
    } else {
        const bool pending = winlen_ > 0;  // its failure is reported already
        if (std::fclose(file_) != 0 && !pending) error(writeerror);
        file_ = nullptr;
    }
    closed_ = true;
    // From now on nothing can be placed: reserve refuses every byte.
    winlen_ = 0;
    bufsize_ = 0;
}

void MidiBuffer::flush() {
    if (winlen_ == 0) return;
    if (file_ == nullptr) {
        // The bytes have nowhere to go; say so once.
        reportopenfailure();
        return;
    }
    // One seek (skipped when the stream is already there) and one write call.
    if (filepos_ != winpos_) {
        if (std::fseek(file_, winpos_, SEEK_SET) != 0) {
            filepos_ = -1;
            error(writeerror);
            return;
        }
        filepos_ = winpos_;
    }
    if (std::fwrite(buf_, winlen_, 1, file_) == 1) {
        filepos_ = std::int64_t(winpos_) + winlen_;
        winlen_ = 0;
    } else {
        // The window stays as it is, for the next flush to try again.
        std::clearerr(file_);
        filepos_ = -1;
        error(writeerror);
    }
}

std::uint8_t* MidiBuffer::reserveslow(std::int32_t pos, std::uint32_t n) {
    // 1. Refuse a negative position, more than the window holds, and a gap
    //    after the end of the file.
    if (pos < 0 || n > bufsize_ || pos > length_) return nullptr;
    const std::int64_t end = std::int64_t(pos) + n;
    if (end > INT32_MAX) return nullptr;
    // 2. Bytes inside or right after the window that fit the buffer were taken
    //    by reservewithin. 3. So the window goes to the file and a new one begins
    //    here. If that write failed, the old window's bytes are lost now.
    flush();
    winpos_ = pos;
    winlen_ = n;
    // 4. The file grows to cover the new bytes.
    if (end > length_) length_ = static_cast<std::int32_t>(end);
    return buf_;
}

void MidiBuffer::putbytesslow(std::int32_t& pos, std::uint32_t n, const std::uint8_t* data) {
    // More than one window's worth: place it chunk by chunk.
    const std::uint32_t chunk = bufsize_;
    while (n > 0 && chunk > 0) {
        const std::uint32_t take = n < chunk ? n : chunk;
        std::uint8_t* p = reserve(pos, take);
        if (p == nullptr) return;
        std::memcpy(p, data, take);
        pos += static_cast<std::int32_t>(take);
        data += take;
        n -= take;
    }
}

void MidiBuffer::put16(std::int32_t& pos, std::uint32_t value) {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value)};
    putbytes(pos, 2, bytes);
}

void MidiBuffer::put24(std::int32_t& pos, std::uint32_t value) {
    const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(value >> 16),
                                   static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value)};
    putbytes(pos, 3, bytes);
}

void MidiBuffer::put32(std::int32_t& pos, std::uint32_t value) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
        static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    putbytes(pos, 4, bytes);
}

std::uint32_t MidiBuffer::encodevarlenslow(std::uint32_t value, std::uint8_t* out) {
    // Four bytes of seven bits hold values below 2^28. A larger value cannot be
    // written truthfully; the largest one that fits keeps the file readable.
    if (value > maxvarlen) {
        const std::string message = "value " + std::to_string(value) +
                                    " does not fit a variable-length quantity; written as " +
                                    std::to_string(maxvarlen);
        error(message.c_str());
        value = maxvarlen;
    }
    // Seven bits per byte, most significant group first, bit 7 set on all but the last.
    std::uint32_t n = 1;
    while (n < 4 && (value >> (7 * n)) != 0) ++n;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t group = (value >> (7 * (n - 1 - i))) & 0x7F;
        out[i] = static_cast<std::uint8_t>(i + 1 < n ? group | 0x80 : group);
    }
    return n;
}

// ---- MidiWrite ----

MidiWrite::MidiWrite(const char* filename)
    : MidiBuffer(filename),
      trackpos_(-1),
      curpos_(0),
      trackcount_(0),
      lastcode_(-1),
      eotdone_(1),
      delta_(0) {}

MidiWrite::MidiWrite(std::FILE* file, const char* name, bool smallwindow)
    : MidiBuffer(file, name, smallwindow),
      trackpos_(-1),
      curpos_(0),
      trackcount_(0),
      lastcode_(-1),
      eotdone_(1),
      delta_(0) {}

MidiWrite::~MidiWrite() { close(); }

void MidiWrite::close() {
    if (isclosed()) return;
    // 1. The header's track count becomes the number of tracks started.
    if (trackcount_ > 0) {
        seek(10);
        put16(curpos_, static_cast<std::uint32_t>(trackcount_));
    }
    // 2. A track still open gets its end and its length.
    if (trackpos_ > 0) endtrack();
    // 3. The last window goes out and the file is closed.
    MidiBuffer::close();
}

void MidiWrite::header(int format, int ntracks, int division) {
    // "MThd", length 6, format, track count, ticks per quarter note: 14 bytes.
    seek(0);
    putbytes(curpos_, 4, "MThd");
    put32(curpos_, 6);
    put16(curpos_, static_cast<std::uint32_t>(format));
    put16(curpos_, static_cast<std::uint32_t>(ntracks));
    put16(curpos_, static_cast<std::uint32_t>(division));
}

void MidiWrite::starttrack() {
    // 1. An open track is completed first.
    if (trackpos_ > 0) endtrack();
    // 2. A new track has no end-of-track event, no running status and no delay.
    eotdone_ = 0;
    lastcode_ = -1;
    delta_ = 0;
    // 3. "MTrk" at the end of the file, with a place-holder for its length.
    trackpos_ = midilength();
    seek(trackpos_);
    putbytes(curpos_, 4, "MTrk");
    put32(curpos_, 0);
    // 4. Counted for the header.
    ++trackcount_;
}

void MidiWrite::endtrack() {
    // 1. Events go at the end of the file.
    seek(midilength());
    // 2. The end-of-track event, unless the caller wrote it already.
    if (eotdone_ == 0) endoftrack();
    // 3. The length: every byte after the length field up to the end of the file.
    if (trackpos_ > 0) {
        seek(trackpos_ + 4);
        put32(curpos_, static_cast<std::uint32_t>(midilength() - trackpos_ - 8));
        trackpos_ = 0;
    }
}

void MidiWrite::endoftrack() {
    if (eotdone_ != 0) return;
    eotdone_ = 1;
    putmeta(0x2F, 0, nullptr);
}

void MidiWrite::seek(std::int32_t pos) {
    QV_ASSERT("MIDIIO", pos >= 0 && pos <= midilength());
    curpos_ = pos;
}

void MidiWrite::tempo(int microseconds) {
    const auto us = static_cast<std::uint32_t>(microseconds);
    const std::uint8_t data[3] = {static_cast<std::uint8_t>(us >> 16),
                                  static_cast<std::uint8_t>(us >> 8),
                                  static_cast<std::uint8_t>(us)};
    putmeta(0x51, 3, data);
}

void MidiWrite::channelprefix(int channel) {
    const std::uint8_t data[1] = {static_cast<std::uint8_t>(channel)};
    putmeta(0x20, 1, data);
}

void MidiWrite::midiport(int port) {
    const std::uint8_t data[1] = {static_cast<std::uint8_t>(port)};
    putmeta(0x21, 1, data);
}

void MidiWrite::sequencenumber(int number) {
    const std::uint8_t data[2] = {static_cast<std::uint8_t>(number >> 8),
                                  static_cast<std::uint8_t>(number)};
    putmeta(0x00, 2, data);
}

void MidiWrite::smpteoffset(int rate, int hours, int minutes, int seconds, int frames,
                            int subframes) {
    // Rate code in bits 5-6, hours in bits 0-4; the low byte of rate x 32 +
    // hours, computed unsigned so that no rate overflows.
    const std::uint32_t ratehours =
        static_cast<std::uint32_t>(rate) * 32u + static_cast<std::uint32_t>(hours & 0x1F);
    const std::uint8_t data[5] = {
        static_cast<std::uint8_t>(ratehours), static_cast<std::uint8_t>(minutes),
        static_cast<std::uint8_t>(seconds), static_cast<std::uint8_t>(frames),
        static_cast<std::uint8_t>(subframes)};
    putmeta(0x54, 5, data);
}

void MidiWrite::keysignature(int sharps, int minor) {
    const std::uint8_t data[2] = {static_cast<std::uint8_t>(sharps),
                                  static_cast<std::uint8_t>(minor)};
    putmeta(0x59, 2, data);
}

void MidiWrite::largepause(std::uint32_t /*ticks*/) {
    warning("generating unrealistic large pause");
}

void MidiWrite::channeleventslow(int code, std::uint8_t data1, std::uint8_t data2,
                                 std::uint32_t ndata) {
    // Delta time, status, data bytes, each placed on its own, so that at a
    // window's end the windows break where the parts meet.
    putdelta();
    putcode(code);
    putbyte(curpos_, data1);
    if (ndata == 2) putbyte(curpos_, data2);
}

void MidiWrite::putdelta() {
    putvarlen(curpos_, delta_);
    delta_ = 0;
}

void MidiWrite::putcode(int code) {
    QV_ASSERT("MIDIIO", code >= 0x80);
    if (needsstatus(code)) putbyte(curpos_, static_cast<std::uint8_t>(code));
    lastcode_ = code;
}

void MidiWrite::putmeta(int type, std::uint32_t length, const void* data) {
    putdelta();
    putcode(0xFF);
    putbyte(curpos_, static_cast<std::uint8_t>(type));
    putvarlen(curpos_, length);  // reports and clamps a length of 2^28 or more
    putbytes(curpos_, length > maxvarlen ? maxvarlen : length, data);
}

}  // namespace quavella
