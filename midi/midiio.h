// Standard MIDI File writer. MidiBuffer is an output file seen through one
// 1024-byte write-back window; MidiWrite encodes header, track chunks and events
// into it. The composer writes each composition through a MidiWrite.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/qassert.h"

namespace quavella {

/// An output file with a single write-back window of 1024 bytes.
///
/// Bytes are placed at any position up to the logical end of the file. They
/// collect in the window and reach the file one window at a time: one seek and
/// one write call per window. Going back to patch a byte that is still in the
/// window (a track length, the track count) costs no file access, so a file of
/// at most 1024 bytes is written with a single call when it is closed.
///
/// Failures never stop the writer. They go to the `error` hook:
///  - "write error (maybe disk full)" once per failed window write (the window
///    is kept and tried again by the next flush; its bytes are lost only when a
///    new window has to begin);
///  - "cannot open <name> for writing: <reason>" once, at the first flush or at
///    close, when the file could not be opened; every byte is then discarded;
///  - "value N does not fit a variable-length quantity; written as 268435455"
///    for a delta time or length of 2^28 or more: the largest four-byte
///    quantity (FF FF FF 7F) is written in its place, so the file stays
///    parseable; a meta event's data is cut to that length too.
///
/// Hooks called from a destructor reach only this class's own versions. An
/// owner that overrides `error` to learn of failures calls `close()` itself
/// (for instance from its own destructor) while its overrides are still live.
class MidiBuffer {
public:
    /// Opens (creates or empties) the file for writing.
    /// @param filename the file name; used only while constructing.
    explicit MidiBuffer(const char* filename);
    /// Closes the file (see `close`) and frees the window.
    virtual ~MidiBuffer();

    MidiBuffer(const MidiBuffer&) = delete;
    MidiBuffer& operator=(const MidiBuffer&) = delete;

    /// Reports a failure; the default prints "error: <message>" on stderr.
    virtual void error(const char* message);
    /// Reports a doubtful request; the default prints "warning: <message>" on stderr.
    virtual void warning(const char* message);

    /// Returns the logical length of the file: the end of the furthest byte placed so far.
    std::int32_t midilength() const { return length_; }

    /// Writes what is left in the window and closes the file. Idempotent; bytes
    /// placed afterwards are ignored. A failure to close is reported as a write error.
    void close();

protected:
    /// Size of the window: small enough to live on any heap, large enough that
    /// a whole composition file goes out in one write call.
    static constexpr std::uint32_t windowsize = 1024;
    /// Size of the fallback window inside the object.
    static constexpr std::uint32_t smallwindowsize = 16;
    /// The largest value a four-byte variable-length quantity can hold.
    static constexpr std::uint32_t maxvarlen = 0x0FFFFFFF;

    /// Writes to an already open stream instead of a named file; takes ownership
    /// of it. With `smallwindow` the 16-byte fallback window serves.
    MidiBuffer(std::FILE* file, const char* name, bool smallwindow);

    /// Returns the place in the window for `n` bytes at file position `pos`, or
    /// nullptr when they cannot be placed (negative position, more than the
    /// window holds, a gap after the end of the file, or the file is closed).
    std::uint8_t* reserve(std::int32_t pos, std::uint32_t n);
    /// Like `reserve`, but only when the bytes fit the current window as it
    /// stands (no flush, no new window); nullptr otherwise.
    std::uint8_t* reservewithin(std::int32_t pos, std::uint32_t n);
    /// Room a caller of `reservetail` may store into, from the returned place on.
    static constexpr std::uint32_t tailroom = 5;
    /// Like `reservewithin`, but only for bytes that reach the end of those the
    /// window holds and leave `tailroom` bytes of buffer: the caller may then
    /// store `tailroom` bytes at the result, the ones past `n` being scratch.
    std::uint8_t* reservetail(std::int32_t pos, std::uint32_t n);
    /// Writes the window to the file; reports a failed write through `error`.
    void flush();

    /// Places `n` bytes at `pos` and advances `pos` past those placed.
    void putbytes(std::int32_t& pos, std::uint32_t n, const void* data);
    /// Places one byte at `pos` and advances `pos`.
    void putbyte(std::int32_t& pos, std::uint8_t b) { putbytes(pos, 1, &b); }
    /// Places the low 16 bits of `value`, most significant byte first.
    void put16(std::int32_t& pos, std::uint32_t value);
    /// Places the low 24 bits of `value`, most significant byte first.
    void put24(std::int32_t& pos, std::uint32_t value);
    /// Places the 32 bits of `value`, most significant byte first.
    void put32(std::int32_t& pos, std::uint32_t value);
    /// Places `value` as a variable-length quantity (1 to 4 bytes).
    void putvarlen(std::int32_t& pos, std::uint32_t value);
    /// Encodes `value` as a variable-length quantity into `out`; returns the
    /// byte count. Values of 2^28 or more are reported and written as `maxvarlen`.
    std::uint32_t encodevarlen(std::uint32_t value, std::uint8_t* out);

    /// Tells whether `close` has run.
    bool isclosed() const { return closed_; }

private:
    void open(std::FILE* file, bool smallwindow);
    std::uint8_t* reserveslow(std::int32_t pos, std::uint32_t n);
    void putbytesslow(std::int32_t& pos, std::uint32_t n, const std::uint8_t* data);
    std::uint32_t encodevarlenslow(std::uint32_t value, std::uint8_t* out);
    void reportopenfailure();

    const char* filename_;   // not used after construction
    std::FILE* file_;        // nullptr when opening failed or after close
    std::uint8_t* buf_;      // the window buffer
    std::uint32_t bufsize_;  // capacity of buf_: 1024, 16, or 0 once closed
    std::uint32_t winlen_;   // bytes held in the window, not yet written
    std::int32_t winpos_;    // file position of the window's first byte
    std::uint8_t smallbuf_[smallwindowsize];
    bool ownbuf_;          // buf_ was allocated here
    std::int32_t length_;  // logical length of the file

    std::string openerror_;  // why the file could not be opened; empty if it was
    bool openreported_;      // openerror_ has gone to `error`
    bool closed_;
    std::int64_t filepos_;  // the stream's own position; -1 when unknown
};

/// Writes a Standard MIDI File: the header chunk, track chunks and their events.
///
/// The caller writes `header()` first, then each track: `starttrack()`, its
/// events and pauses, `endtrack()` (or the next `starttrack()` or `close()`).
/// Closing (explicitly, or at destruction) sets the header's track count to the
/// number of tracks started, completes an open track and writes the last window.
///
/// Running status: a note-off or note-on status (80..9F) equal to the previous
/// status of the track is left out; every other status, FF of the meta events
/// included, is always written. Channels must be 0..15; every other data value is
/// written as its low byte(s). Before the first `starttrack()` there is no track
/// to end, so `endtrack()` and `endoftrack()` then write nothing.
class MidiWrite : public MidiBuffer {
public:
    /// Opens (creates or empties) the file for writing.
    explicit MidiWrite(const char* filename);
    /// Completes and closes the file (see `close`).
    ~MidiWrite() override;

    /// Completes the file: patches the track count, ends an open track, then
    /// writes the last window and closes the file. Idempotent. (It hides
    /// MidiBuffer::close, which through a MidiBuffer reference would close the
    /// file without completing its tracks.)
    void close();

    /// Writes the 14-byte header chunk at position 0.
    void header(int format, int ntracks, int division);
    /// Ends an open track, then opens a new track chunk at the end of the file.
    void starttrack();
    /// Completes the open track: its end-of-track event, then its length. Leaves
    /// the write position right after the length field.
    void endtrack();
    /// Writes the current track's end-of-track event, once per track.
    void endoftrack();

    /// Adds `ticks` to the delta time of the next event (saturating at 2^32 - 1).
    void pause(std::uint32_t ticks);
    /// Moves the write position; requires 0 <= pos <= midilength().
    void seek(std::int32_t pos);

    /// Writes a program change (C0+channel).
    void programchange(int channel, std::uint8_t program);
    /// Writes a note-on (90+channel).
    void noteon(int channel, std::uint8_t key, std::uint8_t velocity);
    /// Writes a note-off (80+channel); one of velocity 0 right after a note-on
    /// is written as a note-on of velocity 0, so that running status applies.
    void noteoff(int channel, std::uint8_t key, int velocity);
    /// Writes a set-tempo meta event (low 24 bits of microseconds per quarter note).
    void tempo(int microseconds);

    /// Writes a MIDI channel prefix meta event (FF 20 01 channel).
    virtual void channelprefix(int channel);
    /// Writes a MIDI port meta event (FF 21 01 port).
    virtual void midiport(int port);
    /// Writes a sequence number meta event (FF 00 02, 16 bits).
    virtual void sequencenumber(int number);
    /// Writes an SMPTE offset meta event (FF 54 05); `rate` is the 2-bit rate code.
    virtual void smpteoffset(int rate, int hours, int minutes, int seconds, int frames,
                             int subframes);
    /// Writes a key signature meta event (FF 59 02); negative sharps are flats.
    virtual void keysignature(int sharps, int minor);
    /// Called by `pause` for a single pause of 2^24 ticks or more; the default
    /// warns "generating unrealistic large pause".
    virtual void largepause(std::uint32_t ticks);

protected:
    /// Writes to an already open stream (see MidiBuffer); takes ownership of it.
    MidiWrite(std::FILE* file, const char* name, bool smallwindow = false);

    /// Writes the pending delta time and clears it.
    void putdelta();
    /// Writes a status byte, leaving out a repeated note-off/note-on status.
    void putcode(int code);
    /// Tells whether `code` must be written: only note-off and note-on statuses
    /// (80..9F) run on; every other status is always written.
    bool needsstatus(int code) const { return code != lastcode_ || code > 0x9F; }
    /// Writes a meta event: delta time, FF, type, length, data.
    void putmeta(int type, std::uint32_t length, const void* data);

private:
    void channelevent(int code, std::uint8_t data1, std::uint8_t data2, std::uint32_t ndata);
    void channeleventslow(int code, std::uint8_t data1, std::uint8_t data2, std::uint32_t ndata);

    std::int32_t trackpos_;    // "MTrk" of the open track; > 0 while open, 0 once ended
    std::int32_t curpos_;      // write position
    std::int32_t trackcount_;  // tracks started
    std::int32_t lastcode_;    // last status of the current track; -1 for none
    std::uint32_t eotdone_;    // the current track's end-of-track event is written
    std::uint32_t delta_;      // pending delta time of the next event
};

// ---- Fast paths, inline: every event goes through them. ----

inline std::uint8_t* MidiBuffer::reservewithin(std::int32_t pos, std::uint32_t n) {
    // The bytes start inside the window or right after it (a position before
    // the window, negative ones included, wraps to a huge offset) and fit the
    // buffer; the file stays below 2^31 bytes.
    const std::uint32_t off = static_cast<std::uint32_t>(pos) - static_cast<std::uint32_t>(winpos_);
    if (off <= winlen_ && n <= bufsize_ - off) {
        const std::uint32_t used = off + n;
        const std::uint32_t end = static_cast<std::uint32_t>(winpos_) + used;
        if (end <= static_cast<std::uint32_t>(INT32_MAX)) {
            if (used > winlen_) winlen_ = used;
            if (end > static_cast<std::uint32_t>(length_)) length_ = static_cast<std::int32_t>(end);
            return buf_ + off;
        }
    }
    return nullptr;
}

inline std::uint8_t* MidiBuffer::reservetail(std::int32_t pos, std::uint32_t n) {
    // As reservewithin; and no held byte lies past the n placed, so nothing
    // the window holds is overwritten by the scratch bytes.
    const std::uint32_t off = static_cast<std::uint32_t>(pos) - static_cast<std::uint32_t>(winpos_);
    const std::uint32_t held = winlen_;
    if (off <= held && off + n >= held && tailroom <= bufsize_ - off) {
        const std::uint32_t end = static_cast<std::uint32_t>(winpos_) + off + n;
        if (end <= static_cast<std::uint32_t>(INT32_MAX)) {
            winlen_ = off + n;
            if (end > static_cast<std::uint32_t>(length_)) length_ = static_cast<std::int32_t>(end);
            return buf_ + off;
        }
    }
    return nullptr;
}

inline std::uint8_t* MidiBuffer::reserve(std::int32_t pos, std::uint32_t n) {
    if (std::uint8_t* p = reservewithin(pos, n)) return p;
    return reserveslow(pos, n);
}

inline void MidiBuffer::putbytes(std::int32_t& pos, std::uint32_t n, const void* data) {
    if (n == 0 || data == nullptr) return;
    if (n <= bufsize_) {
        if (std::uint8_t* p = reserve(pos, n)) {
            std::memcpy(p, data, n);
            pos += static_cast<std::int32_t>(n);
        }
        return;
    }
    putbytesslow(pos, n, static_cast<const std::uint8_t*>(data));
}

inline std::uint32_t MidiBuffer::encodevarlen(std::uint32_t value, std::uint8_t* out) {
    if (value < 0x80) {
        out[0] = static_cast<std::uint8_t>(value);
        return 1;
    }
    return encodevarlenslow(value, out);
}

inline void MidiBuffer::putvarlen(std::int32_t& pos, std::uint32_t value) {
    std::uint8_t bytes[4];
    putbytes(pos, encodevarlen(value, bytes), bytes);
}

inline void MidiWrite::pause(std::uint32_t ticks) {
    if (ticks >= (1u << 24)) largepause(ticks);
    delta_ = ticks > UINT32_MAX - delta_ ? UINT32_MAX : delta_ + ticks;
}

inline void MidiWrite::channelevent(int code, std::uint8_t data1, std::uint8_t data2,
                                    std::uint32_t ndata) {
    // Delta time, status (left out under running status), data. The common
    // case, a one-byte delta time and an event appended to the window, is
    // stored in place with two stores: status and data (or data alone, one
    // byte earlier) as four bytes, then the delta time over the first of them.
    // Everything else takes the general path.
    const bool status = needsstatus(code);
    const std::uint32_t n = 1 + (status ? 1 : 0) + ndata;
    const std::uint32_t delta = delta_;
    if (delta < 0x80) {
        if (std::uint8_t* p = reservetail(curpos_, n)) {
            const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(code), data1, data2, 0};
            static_assert(1 + sizeof bytes <= tailroom);
            std::memcpy(p + (status ? 1 : 0), bytes, sizeof bytes);
            *p = static_cast<std::uint8_t>(delta);
            curpos_ += static_cast<std::int32_t>(n);
            lastcode_ = code;
            delta_ = 0;
            return;
        }
    }
    channeleventslow(code, data1, data2, ndata);
}

inline void MidiWrite::programchange(int channel, std::uint8_t program) {
    QV_ASSERT("MIDIIO", channel >= 0 && channel < 16);
    channelevent(0xC0 + channel, program, 0, 1);
}

inline void MidiWrite::noteon(int channel, std::uint8_t key, std::uint8_t velocity) {
    QV_ASSERT("MIDIIO", channel >= 0 && channel < 16);
    channelevent(0x90 + channel, key, velocity, 2);
}

inline void MidiWrite::noteoff(int channel, std::uint8_t key, int velocity) {
    QV_ASSERT("MIDIIO", channel >= 0 && channel < 16);
    // A velocity-0 note-on is a note-off too; after a note-on it lets the
    // status run on, which saves a byte per note.
    const bool asnoteon = velocity == 0 && lastcode_ >= 0x90 && lastcode_ <= 0x9F;
    channelevent((asnoteon ? 0x90 : 0x80) + channel, key, static_cast<std::uint8_t>(velocity), 2);
}

}  // namespace quavella
