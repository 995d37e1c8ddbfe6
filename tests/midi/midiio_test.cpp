// Tests of the Standard MIDI File writer: bytes of every event kind, the
// write-back window as seen by the stream, failure reports, and a read-back of
// written files by midicsv.
#include "midi/midiio.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/tools.h"

namespace {

using quavella::MidiWrite;
using Bytes = std::vector<std::uint8_t>;

// ---- helpers ----

Bytes hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    std::string word;
    while (in >> word) out.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
    return out;
}

std::string tohex(const Bytes& bytes) {
    std::string out;
    char digits[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X ", b);
        out += digits;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

Bytes be32(std::size_t v) {
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

// A format 1 file, 120 ticks per quarter note, one "MTrk" chunk per body.
Bytes smf(const std::vector<Bytes>& bodies) {
    Bytes out = hex("4D 54 68 64 00 00 00 06 00 01");
    out.push_back(static_cast<std::uint8_t>(bodies.size() >> 8));
    out.push_back(static_cast<std::uint8_t>(bodies.size()));
    append(out, hex("00 78"));
    for (const Bytes& body : bodies) {
        append(out, hex("4D 54 72 6B"));
        append(out, be32(body.size()));
        append(out, body);
    }
    return out;
}

// A memory stream (glibc fopencookie) that records every write call it receives.
struct Sink {
    Bytes bytes;
    std::vector<std::pair<long, std::size_t>> writes;  // offset, size
    long pos = 0;
    bool failclose = false;

    static ssize_t write(void* cookie, const char* buf, std::size_t size) {
        auto* s = static_cast<Sink*>(cookie);
        s->writes.emplace_back(s->pos, size);
        if (s->bytes.size() < static_cast<std::size_t>(s->pos) + size)
            s->bytes.resize(s->pos + size);
        std::memcpy(s->bytes.data() + s->pos, buf, size);
        s->pos += static_cast<long>(size);
        return static_cast<ssize_t>(size);
    }
    static int seek(void* cookie, off64_t* offset, int whence) {
        auto* s = static_cast<Sink*>(cookie);
        if (whence == SEEK_SET)
            s->pos = *offset;
        else if (whence == SEEK_CUR)
            s->pos += *offset;
        else
            s->pos = static_cast<long>(s->bytes.size()) + *offset;
        *offset = s->pos;
        return 0;
    }
    static int close(void* cookie) { return static_cast<Sink*>(cookie)->failclose ? -1 : 0; }

    std::FILE* open() {
        cookie_io_functions_t io{nullptr, &Sink::write, &Sink::seek, &Sink::close};
        return fopencookie(this, "wb", io);
    }
};

// A writer that records its reports and exposes the protected parts under test.
class Recorder : public MidiWrite {
public:
    explicit Recorder(const char* filename) : MidiWrite(filename) {}
    explicit Recorder(Sink& sink, bool smallwindow = false)
        : MidiWrite(sink.open(), "sink", smallwindow) {}
    ~Recorder() override { close(); }

    void error(const char* message) override { errors.emplace_back(message); }
    void warning(const char* message) override { warnings.emplace_back(message); }

    using MidiWrite::putcode;

    std::vector<std::string> errors;
    std::vector<std::string> warnings;
};

std::string tempdir() {
    static const quavella::test::ScratchDir dir;
    return dir.path().string();
}

Bytes readfile(const std::string& path) {
    Bytes out;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF) out.push_back(static_cast<std::uint8_t>(c));
        std::fclose(f);
    }
    return out;
}

template <class Row>
std::string rowname(const ::testing::TestParamInfo<Row>& row) {
    return row.param.name;
}

// ---- events, running status, tracks: the bytes written ----

struct EventRow {
    const char* name;
    std::function<void(MidiWrite&)> ops;  // run after header(1, 1, 120)
    std::vector<const char*> bodies;      // the track chunks' contents, in hex
};

class Events : public ::testing::TestWithParam<EventRow> {};

TEST_P(Events, WritesExactBytes) {
    const EventRow& row = GetParam();
    Sink sink;
    Recorder w(sink);
    w.header(1, 1, 120);
    row.ops(w);
    w.close();
    std::vector<Bytes> bodies;
    for (const char* body : row.bodies) bodies.push_back(hex(body));
    EXPECT_EQ(tohex(sink.bytes), tohex(smf(bodies)));
    EXPECT_TRUE(w.errors.empty());
    EXPECT_TRUE(w.warnings.empty());
}

const EventRow event_rows[] = {
    {"empty_track", [](MidiWrite& w) { w.starttrack(); }, {"00 FF 2F 00"}},
    {"noteon_pair_runs_on",
     [](MidiWrite& w) {
         w.starttrack();
         w.noteon(1, 60, 95);
         w.noteon(1, 64, 95);
     },
     {"00 91 3C 5F 00 40 5F 00 FF 2F 00"}},
    {"channel15_notes_run_on",
     [](MidiWrite& w) {
         w.starttrack();
         w.noteon(15, 60, 95);
         w.noteon(15, 64, 95);
         w.noteoff(15, 64, 0);
     },
     {"00 9F 3C 5F 00 40 5F 00 40 00 00 FF 2F 00"}},
    {"noteoff_velocity0_after_noteon_runs_on",
     [](MidiWrite& w) {
         w.starttrack();
         w.noteon(1, 60, 95);
         w.noteoff(1, 60, 0);
     },
     {"00 91 3C 5F 00 3C 00 00 FF 2F 00"}},
    {"noteoff_velocity95_after_noteon",
     [](MidiWrite& w) {
         w.starttrack();
         w.noteon(1, 60, 95);
         w.noteoff(1, 60, 95);
     },
     {"00 91 3C 5F 00 81 3C 5F 00 FF 2F 00"}},
    {"noteoff_velocity0_after_noteon_of_other_channel",
     [](MidiWrite& w) {
         w.starttrack();
         w.noteon(1, 60, 95);
         w.noteoff(2, 60, 0);
     },
     {"00 91 3C 5F 00 92 3C 00 00 FF 2F 00"}},
    {"noteoff_velocity0_without_noteon",
     [](MidiWrite& w) {
         w.starttrack();
         w.noteoff(1, 60, 0);
     },
     {"00 81 3C 00 00 FF 2F 00"}},
    {"noteoff_pair_runs_on",
     [](MidiWrite& w) {
         w.starttrack();
         w.noteoff(1, 60, 95);
         w.noteoff(1, 62, 95);
     },
     {"00 81 3C 5F 00 3E 5F 00 FF 2F 00"}},
    {"noteoff_velocity_low_byte",
     [](MidiWrite& w) {
         w.starttrack();
         w.noteoff(15, 60, 0x17F);
     },
     {"00 8F 3C 7F 00 FF 2F 00"}},
    {"programchange_pair_never_runs_on",
     [](MidiWrite& w) {
         w.starttrack();
         w.programchange(1, 5);
         w.programchange(1, 6);
     },
     {"00 C1 05 00 C1 06 00 FF 2F 00"}},
    {"meta_event_breaks_running_status",
     [](MidiWrite& w) {
         w.starttrack();
         w.noteon(0, 60, 95);
         w.tempo(500000);
         w.noteon(0, 62, 95);
     },
     {"00 90 3C 5F 00 FF 51 03 07 A1 20 00 90 3E 5F 00 FF 2F 00"}},
    {"new_track_resets_running_status",
     [](MidiWrite& w) {
         w.starttrack();
         w.noteon(1, 60, 95);
         w.starttrack();
         w.noteon(1, 60, 95);
     },
     {"00 91 3C 5F 00 FF 2F 00", "00 91 3C 5F 00 FF 2F 00"}},
    {"meta_events",
     [](MidiWrite& w) {
         w.starttrack();
         w.sequencenumber(0x1234);
         w.channelprefix(5);
         w.midiport(2);
         w.smpteoffset(1, 0x22, 3, 4, 5, 6);
         w.keysignature(-3, 1);
         w.tempo(0x1234567);
     },
     {"00 FF 00 02 12 34  00 FF 20 01 05  00 FF 21 01 02  00 FF 54 05 22 03 04 05 06"
      "  00 FF 59 02 FD 01  00 FF 51 03 23 45 67  00 FF 2F 00"}},
    {"smpteoffset_takes_low_byte_of_any_rate",
     [](MidiWrite& w) {
         w.starttrack();
         w.smpteoffset(INT32_MAX, 0x3F, 0, 0, 0, 0);
         w.smpteoffset(INT32_MIN, 1, 0, 0, 0, 0);
     },
     {"00 FF 54 05 FF 00 00 00 00  00 FF 54 05 01 00 00 00 00  00 FF 2F 00"}},
    {"events_written_over_held_bytes_leave_the_rest",
     [](MidiWrite& w) {
         w.starttrack();       // body starts at 22
         w.noteon(1, 60, 95);  // 22: 00 91 3C 5F
         w.noteon(1, 62, 95);  // 26: 00 3E 5F
         w.pause(5);
         w.noteon(1, 64, 95);  // 29: 05 40 5F
         w.seek(26);
         w.noteon(1, 65, 95);  // running status: 00 41 5F over 26..28
         w.seek(22);
         w.programchange(1, 5);  // 00 C1 05 over 22..24
     },
     {"00 C1 05 5F 00 41 5F 05 40 5F 00 FF 2F 00"}},
    {"pauses_add_up",
     [](MidiWrite& w) {
         w.starttrack();
         w.pause(100);
         w.pause(100);
         w.noteon(1, 60, 95);
     },
     {"81 48 91 3C 5F 00 FF 2F 00"}},
    {"pause_before_endtrack_delays_end",
     [](MidiWrite& w) {
         w.starttrack();
         w.noteon(1, 60, 95);
         w.pause(120);
         w.endtrack();
     },
     {"00 91 3C 5F 78 FF 2F 00"}},
    {"pause_before_starttrack_delays_pending_end",
     [](MidiWrite& w) {
         w.starttrack();
         w.pause(120);
         w.starttrack();
     },
     {"78 FF 2F 00", "00 FF 2F 00"}},
    {"pause_after_ended_track_is_dropped",
     [](MidiWrite& w) {
         w.starttrack();
         w.endtrack();
         w.pause(120);
         w.starttrack();
         w.noteon(1, 60, 95);
     },
     {"00 FF 2F 00", "00 91 3C 5F 00 FF 2F 00"}},
    {"endtrack_twice_and_endoftrack_after_it_write_nothing",
     [](MidiWrite& w) {
         w.starttrack();
         w.noteon(1, 60, 95);
         w.endtrack();
         w.endtrack();
         w.endoftrack();
     },
     {"00 91 3C 5F 00 FF 2F 00"}},
    {"explicit_endoftrack_is_not_repeated",
     [](MidiWrite& w) {
         w.starttrack();
         w.pause(60);
         w.endoftrack();
         w.endoftrack();
         w.endtrack();
     },
     {"3C FF 2F 00"}},
    {"end_before_first_track_writes_nothing",
     [](MidiWrite& w) {
         w.endtrack();
         w.endoftrack();
         w.starttrack();
     },
     {"00 FF 2F 00"}},
    {"close_ends_open_track",
     [](MidiWrite& w) {
         w.starttrack();
         w.programchange(0, 24);
         w.starttrack();
         w.noteon(0, 60, 95);
         w.pause(30);
     },
     {"00 C0 18 00 FF 2F 00", "00 90 3C 5F 1E FF 2F 00"}},
};

INSTANTIATE_TEST_SUITE_P(MidiWrite, Events, ::testing::ValuesIn(event_rows), rowname<EventRow>);

// ---- variable-length quantities, seen as delta times ----

struct VarlenRow {
    const char* name;
    std::vector<std::uint32_t> pauses;
    const char* delta;  // hex
    std::size_t errors;
};

class Varlen : public ::testing::TestWithParam<VarlenRow> {};

TEST_P(Varlen, EncodesDeltaTime) {
    const VarlenRow& row = GetParam();
    Sink sink;
    Recorder w(sink);
    w.header(1, 1, 120);
    w.starttrack();
    for (std::uint32_t ticks : row.pauses) w.pause(ticks);
    w.noteon(0, 60, 95);
    w.close();
    Bytes body = hex(row.delta);
    append(body, hex("90 3C 5F 00 FF 2F 00"));
    EXPECT_EQ(tohex(sink.bytes), tohex(smf({body})));
    ASSERT_EQ(w.errors.size(), row.errors);
    for (const std::string& e : w.errors)
        EXPECT_NE(e.find("does not fit a variable-length quantity; written as 268435455"),
                  std::string::npos)
            << e;
}

const VarlenRow varlen_rows[] = {
    {"zero", {0}, "00", 0},
    {"v127", {127}, "7F", 0},
    {"v128", {128}, "81 00", 0},
    {"v16383", {16383}, "FF 7F", 0},
    {"v16384", {16384}, "81 80 00", 0},
    {"v2097151", {2097151}, "FF FF 7F", 0},
    {"v2097152", {2097152}, "81 80 80 00", 0},
    {"largest", {268435455}, "FF FF FF 7F", 0},
    {"too_large_is_clamped_and_reported", {268435456}, "FF FF FF 7F", 1},
    {"sum_too_large_is_clamped_and_reported", {1u << 27, 1u << 27}, "FF FF FF 7F", 1},
    {"sum_past_32_bits_saturates_not_wraps", {0xFFFFFFFFu, 2}, "FF FF FF 7F", 1},
};

INSTANTIATE_TEST_SUITE_P(MidiWrite, Varlen, ::testing::ValuesIn(varlen_rows), rowname<VarlenRow>);

TEST(MidiWrite, LargePauseWarnsPerSingleCall) {
    const struct {
        std::vector<std::uint32_t> pauses;
        std::size_t warnings;
    } rows[] = {
        {{16777216}, 1},
        {{16777215}, 0},
        {{16777215, 16777215}, 0},
        {{16777216, 1, 0xFFFFFFFF}, 2},
    };
    for (const auto& row : rows) {
        Sink sink;
        Recorder w(sink);
        for (std::uint32_t ticks : row.pauses) w.pause(ticks);
        EXPECT_EQ(w.warnings.size(), row.warnings);
        for (const std::string& m : w.warnings) EXPECT_EQ(m, "generating unrealistic large pause");
    }
}

TEST(MidiWrite, LargePauseHookCanBeReplaced) {
    struct Quiet : Recorder {
        using Recorder::Recorder;
        void largepause(std::uint32_t ticks) override { seen.push_back(ticks); }
        std::vector<std::uint32_t> seen;
    };
    Sink sink;
    Quiet w(sink);
    w.header(1, 1, 120);
    w.starttrack();
    w.pause(1u << 24);
    w.noteon(0, 60, 95);
    w.close();
    EXPECT_EQ(w.seen, std::vector<std::uint32_t>{1u << 24});
    EXPECT_TRUE(w.warnings.empty());
    // The ticks count all the same.
    EXPECT_EQ(tohex(sink.bytes), tohex(smf({hex("88 80 80 00 90 3C 5F 00 FF 2F 00")})));
}

// ---- whole files ----

// Writes the two-track file a composition makes: key, tempo, program, then
// notes; with `end` the second track is ended as a composition ends it.
void composition(MidiWrite& w, const std::vector<std::pair<int, std::uint32_t>>& notes,
                 bool end = true) {
    w.header(1, 1, 120);
    w.starttrack();
    w.keysignature(0, 0);
    w.tempo(60000000 / 100);
    w.programchange(1, 0);
    w.starttrack();
    for (const auto& [key, ticks] : notes) {
        w.noteon(1, static_cast<std::uint8_t>(key), 95);
        w.pause(ticks);
        w.noteoff(1, static_cast<std::uint8_t>(key), 95);
    }
    if (end) {
        w.endtrack();
        w.endoftrack();
    }
}

TEST(MidiWrite, SmallFileReachesStreamInOneWriteAtClose) {
    Sink sink;
    Recorder w(sink);
    composition(w, {{60, 120}, {62, 240}});
    EXPECT_TRUE(sink.writes.empty()) << "nothing is written before close";
    EXPECT_EQ(w.midilength(), 71);
    w.close();
    const Bytes golden =
        hex("4D 54 68 64 00 00 00 06 00 01 00 02 00 78"
            " 4D 54 72 6B 00 00 00 14"
            " 00 FF 59 02 00 00"
            " 00 FF 51 03 09 27 C0"
            " 00 C1 00"
            " 00 FF 2F 00"
            " 4D 54 72 6B 00 00 00 15"
            " 00 91 3C 5F 78 81 3C 5F"
            " 00 91 3E 5F 81 70 81 3E 5F"
            " 00 FF 2F 00");
    EXPECT_EQ(tohex(sink.bytes), tohex(golden));
    // Both patches (track length, track count) fell inside the window.
    EXPECT_EQ(sink.writes, (std::vector<std::pair<long, std::size_t>>{{0, 71}}));
    EXPECT_TRUE(w.errors.empty());
}

std::vector<std::pair<int, std::uint32_t>> notes(int count) {
    std::vector<std::pair<int, std::uint32_t>> out;
    for (int i = 0; i < count; ++i) out.emplace_back(55 + i % 22, 120);
    return out;
}

Bytes compositionbytes(int count) {
    Bytes first = hex("00 FF 59 02 00 00 00 FF 51 03 09 27 C0 00 C1 00 00 FF 2F 00");
    Bytes second;
    for (const auto& [key, ticks] : notes(count)) {
        const auto k = static_cast<std::uint8_t>(key);
        append(second, {0x00, 0x91, k, 0x5F, static_cast<std::uint8_t>(ticks), 0x81, k, 0x5F});
    }
    append(second, hex("00 FF 2F 00"));
    return smf({first, second});
}

TEST(MidiWrite, LongFileGoesOutInWindowsThenPatches) {
    using Writes = std::vector<std::pair<long, std::size_t>>;
    const struct {
        const char* name;
        bool endtrack;
        Writes writes;
    } rows[] = {
        // Full windows while writing; then the rest, the second track's length
        // at 46 and the track count at 10, each outside the window before it.
        {"ended", true, {{0, 1024}, {1024, 1024}, {2048, 406}, {46, 4}, {10, 2}}},
        // Closing with the track open: the track count first, then the track's
        // end-of-track event and its length.
        {"open", false, {{0, 1024}, {1024, 1024}, {2048, 402}, {10, 2}, {2450, 4}, {46, 4}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Sink sink;
        Recorder w(sink);
        composition(w, notes(300), row.endtrack);  // 2454 bytes
        w.close();
        EXPECT_EQ(tohex(sink.bytes), tohex(compositionbytes(300)));
        EXPECT_EQ(sink.writes, row.writes);
    }
}

TEST(MidiWrite, SmallWindowFallbackWritesSameFile) {
    Sink sink;
    Recorder w(sink, true);
    composition(w, notes(40));
    w.close();
    EXPECT_EQ(tohex(sink.bytes), tohex(compositionbytes(40)));
    for (const auto& [offset, size] : sink.writes) EXPECT_LE(size, 16u) << "at " << offset;
}

TEST(MidiWrite, InterleavedWritersDoNotShareState) {
    Sink a, b;
    {
        Recorder wa(a), wb(b);
        wa.header(1, 1, 120);
        wb.header(1, 1, 120);
        wa.starttrack();
        wb.starttrack();
        for (int i = 0; i < 200; ++i) {
            wa.pause(200);
            wb.pause(20000);
            wa.noteon(0, 60, 95);
            wb.noteon(0, 60, 95);
        }
    }
    Bytes ba, bb;
    for (int i = 0; i < 200; ++i) {
        append(ba, i == 0 ? hex("81 48 90 3C 5F") : hex("81 48 3C 5F"));
        append(bb, i == 0 ? hex("81 9C 20 90 3C 5F") : hex("81 9C 20 3C 5F"));
    }
    append(ba, hex("00 FF 2F 00"));
    append(bb, hex("00 FF 2F 00"));
    EXPECT_EQ(tohex(a.bytes), tohex(smf({ba})));
    EXPECT_EQ(tohex(b.bytes), tohex(smf({bb})));
}

TEST(MidiWrite, TrackCountIsLeftAloneWithoutTracks) {
    Sink sink;
    Recorder w(sink);
    w.header(0, 7, 96);
    w.close();
    EXPECT_EQ(tohex(sink.bytes), "4D 54 68 64 00 00 00 06 00 00 00 07 00 60");
}

TEST(MidiWrite, SeekBackOverwritesWithoutGrowing) {
    Sink sink;
    Recorder w(sink);
    w.header(1, 1, 120);
    w.seek(8);
    w.header(1, 1, 120);  // header() seeks to 0 itself
    EXPECT_EQ(w.midilength(), 14);
    w.seek(w.midilength());  // the end itself is allowed
    w.close();
    EXPECT_EQ(tohex(sink.bytes), "4D 54 68 64 00 00 00 06 00 01 00 01 00 78");
}

// ---- close and failures ----

TEST(MidiWrite, CloseIsIdempotentAndLaterEventsAreIgnored) {
    Sink sink;
    Recorder w(sink);
    composition(w, notes(2));
    w.close();
    const Bytes closed = sink.bytes;
    const std::size_t writes = sink.writes.size();
    w.close();
    w.noteon(1, 60, 95);
    w.starttrack();
    w.close();
    EXPECT_EQ(sink.bytes, closed);
    EXPECT_EQ(sink.writes.size(), writes);
    EXPECT_TRUE(w.errors.empty());
}

TEST(MidiWrite, DiskFullIsReportedOncePerFailedWrite) {
    {
        Recorder w("/dev/full");
        composition(w, notes(2));
        w.close();
        EXPECT_EQ(w.errors, std::vector<std::string>{"write error (maybe disk full)"});
    }
    {
        Recorder w("/dev/full");
        composition(w, notes(300));
        w.close();
        // A window that failed stays and is tried again: more failures than
        // windows, every one reported, none fatal.
        ASSERT_GE(w.errors.size(), 3u);
        for (const std::string& e : w.errors) EXPECT_EQ(e, "write error (maybe disk full)");
    }
}

TEST(MidiWrite, FailedCloseIsReported) {
    Sink sink;
    sink.failclose = true;
    Recorder w(sink);
    composition(w, notes(2));
    w.close();
    EXPECT_EQ(w.errors, std::vector<std::string>{"write error (maybe disk full)"});
}

TEST(MidiWrite, UnopenableFileIsReportedOnceAndBytesDiscarded) {
    Recorder w("/nonexistent-midiio-dir/x.mid");
    composition(w, notes(300));
    EXPECT_EQ(w.midilength(), 2454);
    w.close();
    EXPECT_EQ(w.errors,
              std::vector<std::string>{"cannot open /nonexistent-midiio-dir/x.mid for writing: "
                                       "No such file or directory"});
}

TEST(MidiWrite, OverridesHearReportsWhenOwnerClosesInItsDestructor) {
    std::vector<std::string> heard;
    struct Owner : MidiWrite {
        Owner(const char* name, std::vector<std::string>& to) : MidiWrite(name), out(to) {}
        ~Owner() override { close(); }
        void error(const char* message) override { out.emplace_back(message); }
        std::vector<std::string>& out;
    };
    {
        Owner w("/dev/full", heard);
        composition(w, notes(2));  // 71 bytes: written only when closed
    }
    EXPECT_EQ(heard, std::vector<std::string>{"write error (maybe disk full)"});
}

TEST(MidiWrite, DefaultHooksPrintOnStandardError) {
    ::testing::internal::CaptureStderr();
    {
        MidiWrite w("/nonexistent-midiio-dir/x.mid");
        w.header(1, 1, 120);
    }
    {
        const std::string path = tempdir() + "/pause.mid";
        MidiWrite w(path.c_str());
        w.pause(1u << 24);
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "error: cannot open /nonexistent-midiio-dir/x.mid for writing: "
              "No such file or directory\n"
              "warning: generating unrealistic large pause\n");
}

TEST(MidiWrite, FileOnDiskMatchesStream) {
    const std::string path = tempdir() + "/long.mid";
    {
        MidiWrite w(path.c_str());
        composition(w, notes(300));
    }
    EXPECT_EQ(tohex(readfile(path)), tohex(compositionbytes(300)));
}

// ---- read back by an independent parser ----

std::string run(const std::string& command) {
    std::string out;
    if (std::FILE* p = popen(command.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, p) != nullptr) out += line;
        pclose(p);
    }
    return out;
}

TEST(MidiWrite, MidicsvReadsEveryEventAsWritten) {
    const std::string path = tempdir() + "/all.mid";
    {
        MidiWrite w(path.c_str());
        w.header(1, 1, 96);
        w.starttrack();
        w.sequencenumber(258);
        w.channelprefix(3);
        w.midiport(2);
        w.smpteoffset(1, 2, 3, 4, 5, 6);
        w.keysignature(-2, 1);
        w.tempo(600000);
        w.programchange(1, 24);
        w.starttrack();
        w.noteon(1, 60, 95);
        w.pause(96);
        w.noteoff(1, 60, 0);
        w.noteon(1, 62, 95);
        w.pause(200);
        w.noteoff(1, 62, 95);
        w.noteoff(2, 64, 40);
        w.pause(20000);
        w.noteon(15, 127, 1);
        w.pause(5);
    }
    const std::string expected =
        "0, 0, Header, 1, 2, 96\n"
        "1, 0, Start_track\n"
        "1, 0, Sequence_number, 258\n"
        "1, 0, Channel_prefix, 3\n"
        "1, 0, MIDI_port, 2\n"
        "1, 0, SMPTE_offset, 34, 3, 4, 5, 6\n"
        "1, 0, Key_signature, -2, \"minor\"\n"
        "1, 0, Tempo, 600000\n"
        "1, 0, Program_c, 1, 24\n"
        "1, 0, End_track\n"
        "2, 0, Start_track\n"
        "2, 0, Note_on_c, 1, 60, 95\n"
        "2, 96, Note_on_c, 1, 60, 0\n"
        "2, 96, Note_on_c, 1, 62, 95\n"
        "2, 296, Note_off_c, 1, 62, 95\n"
        "2, 296, Note_off_c, 2, 64, 40\n"
        "2, 20296, Note_on_c, 15, 127, 1\n"
        "2, 20301, End_track\n"
        "0, 0, End_of_file\n";
    ASSERT_EQ(quavella::test::missing_midicsv(), "");
    EXPECT_EQ(run("midicsv '" + path + "' 2>&1"), expected);
}

// ---- contract checks ----

std::string quoted(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (std::string("()[]{}.*+?^$|\\").find(c) != std::string::npos) out += '\\';
        out += c;
    }
    return out;
}

TEST(MidiWriteDeathTest, ContractChecksStopTheProgram) {
    const std::string channel =
        quoted("Assertion failed: channel >= 0 && channel < 16, file MIDIIO, line ");
    const std::string code = quoted("Assertion failed: code >= 0x80, file MIDIIO, line ");
    const std::string seek =
        quoted("Assertion failed: pos >= 0 && pos <= midilength(), file MIDIIO, line ");
    auto writer = [](const std::function<void(Recorder&)>& op) {
        Sink sink;
        Recorder w(sink);
        w.header(1, 1, 120);
        w.starttrack();
        op(w);
    };
    EXPECT_DEATH(writer([](Recorder& w) { w.programchange(16, 0); }), channel);
    EXPECT_DEATH(writer([](Recorder& w) { w.noteon(-1, 60, 95); }), channel);
    EXPECT_DEATH(writer([](Recorder& w) { w.noteoff(16, 60, 0); }), channel);
    EXPECT_DEATH(writer([](Recorder& w) { w.putcode(0x7F); }), code);
    EXPECT_DEATH(writer([](Recorder& w) { w.seek(w.midilength() + 1); }), seek);
    EXPECT_DEATH(writer([](Recorder& w) { w.seek(-1); }), seek);
}

}  // namespace
