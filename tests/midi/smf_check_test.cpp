// Tests of the Standard MIDI File check: files that play, with their length, sounding
// channels and programs, and one row per way a file is refused, built byte by byte.
#include "midi/smf_check.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

namespace quavella {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes be(std::uint32_t value, int bytes) {
    Bytes out;
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes chunk(const char* id, const Bytes& body) {
    return cat({Bytes(id, id + 4), be(static_cast<std::uint32_t>(body.size()), 4), body});
}

/// A header chunk: format, track count, division.
Bytes header(unsigned format, unsigned tracks, unsigned division = 120) {
    return chunk("MThd", cat({be(format, 2), be(tracks, 2), be(division, 2)}));
}

const Bytes end_of_track = {0x00, 0xff, 0x2f, 0x00};

/// The shape the composer writes: a tempo track with the program change, a note track.
const Bytes composition = cat(
    {header(1, 2),
     chunk("MTrk", cat({{0x00, 0xff, 0x51, 0x03, 0x08, 0xa1, 0x20, 0x00, 0xc1, 24}, end_of_track})),
     chunk("MTrk", cat({{0x00, 0x91, 62, 95, 0x81, 0x70, 0x81, 62, 95},
                        {0x00, 0x91, 67, 95, 0x83, 0x60, 0x81, 67, 95},
                        end_of_track}))});

struct Row {
    const char* name;
    Bytes bytes;
    SmfFault fault;
    int track = 0;        // where the fault is; for a file that plays, unused
    int total_ticks = 0;  // for a file that plays
    std::uint16_t note_channels = 0;
    int melody_program = -1;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class SmfCheckTest : public ::testing::TestWithParam<Row> {};

TEST_P(SmfCheckTest, FindsTheFaultOrMeasuresTheFile) {
    const Row& row = GetParam();
    const SmfCheck check = check_smf(row.bytes, 4);
    EXPECT_EQ(check.fault, row.fault);
    if (row.fault == SmfFault::none) {
        EXPECT_TRUE(check.ok());
        EXPECT_EQ(check.total_ticks, row.total_ticks);
        EXPECT_EQ(check.note_channels, row.note_channels);
        EXPECT_EQ(check.melody_program(), row.melody_program);
    } else {
        EXPECT_FALSE(check.ok());
        EXPECT_EQ(check.track, row.track);
        EXPECT_EQ(check.total_ticks, 0);
    }
}

Bytes one_track(const Bytes& events) { return cat({header(0, 1), chunk("MTrk", events)}); }

// A track chunk whose stated length is `length`, whatever its body.
Bytes with_length(const Bytes& events, std::uint32_t length) {
    return cat({header(0, 1), Bytes{'M', 'T', 'r', 'k'}, be(length, 4), events});
}

const Row kRows[] = {
    {"composition", composition, SmfFault::none, 0, 720, 0x0002, 24},
    // Running status, a system exclusive event, and a second track longer than the first.
    {"longest_track_counts",
     cat({header(1, 2), chunk("MTrk", {0x00, 0xc1, 0x10, 0x00, 0x91, 60,   100,  0x64, 62,
                                       100,  0x00, 0xf0, 0x03, 0x7e, 0x7f, 0xf7, 0x81, 0x00,
                                       0x81, 60,   64,   0x00, 0xff, 0x2f, 0x00}),
          chunk("MTrk", {0x00, 0xff, 0x51, 0x03, 0x0f, 0x42, 0x40, 0x83, 0x60, 0x91,
                         64,   90,   0x00, 0x91, 64,   0x00, 0x00, 0xff, 0x2f, 0x00}),
          chunk("XFIH", {1, 2, 3})}),  // after the last track: never read
     SmfFault::none, 0, 480, 0x0002, 16},
    {"track_without_end_event_counts_to_its_end",
     one_track({0x00, 0x90, 60, 90, 0x60, 0x80, 60, 0}), SmfFault::none, 0, 96, 0x0001, -1},
    {"bytes_after_end_of_track_are_not_read", one_track(cat({end_of_track, {0x00, 0xf4}})),
     SmfFault::none, 0, 0, 0, -1},
    {"velocity_0_does_not_sound_and_later_programs_do_not_count",
     one_track(cat({{0x00, 0xc3, 5, 0x00, 0x93, 60, 0, 0x00, 0xc4, 7, 0x00, 0xc4, 9},
                    {0x00, 0x94, 60, 1, 0x10, 0x84, 60, 0},
                    end_of_track})),
     SmfFault::none, 0, 16, 0x0010, 7},
    {"empty", {}, SmfFault::not_midi},
    {"text",
     {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!'},
     SmfFault::not_midi},
    {"header_cut", Bytes(composition.begin(), composition.begin() + 13), SmfFault::not_midi},
    {"header_length_7", cat({chunk("MThd", {0, 0, 0, 1, 0, 120, 0}), chunk("MTrk", end_of_track)}),
     SmfFault::header_length},
    {"format_3", cat({header(3, 1), chunk("MTrk", end_of_track)}), SmfFault::unknown_format},
    {"no_tracks", header(0, 0), SmfFault::no_tracks},
    {"more_tracks_than_the_limit", cat({header(1, 5), chunk("MTrk", end_of_track)}),
     SmfFault::too_many_tracks},
    {"smpte_division", cat({header(0, 1, 0xe728), chunk("MTrk", end_of_track)}),
     SmfFault::smpte_division},
    {"division_0", cat({header(0, 1, 0), chunk("MTrk", end_of_track)}), SmfFault::zero_division},
    {"second_track_missing", cat({header(1, 2), chunk("MTrk", end_of_track)}),
     SmfFault::missing_track, 2},
    {"chunk_between_tracks",
     cat({header(1, 2), chunk("MTrk", end_of_track), chunk("XFIH", {}),
          chunk("MTrk", end_of_track)}),
     SmfFault::foreign_chunk, 2},
    {"track_past_the_end", with_length(end_of_track, 5), SmfFault::chunk_past_end, 1},
    {"cut_inside_an_event", one_track({0x00, 0x90, 60}), SmfFault::event_cut, 1},
    {"cut_inside_a_delta_time", one_track({0x81}), SmfFault::event_cut, 1},
    {"five_byte_number", one_track({0x81, 0x81, 0x81, 0x81, 0x01, 0xff, 0x2f, 0x00}),
     SmfFault::long_number, 1},
    {"data_before_any_status", one_track({0x00, 0x40, 0x40}), SmfFault::data_without_status, 1},
    {"meta_past_its_track", one_track({0x00, 0xff, 0x01, 0x05, 'a', 'b'}),
     SmfFault::meta_past_track, 1},
    {"sysex_past_its_track", one_track({0x00, 0xf0, 0x05, 0x7e}), SmfFault::sysex_past_track, 1},
    {"song_position_event", one_track(cat({{0x00, 0xf2, 0x00, 0x00}, end_of_track})),
     SmfFault::unsupported_event, 1},
    {"sysex_continuation", one_track(cat({{0x00, 0xf7, 0x01, 0x00}, end_of_track})),
     SmfFault::unsupported_event, 1},
    {"status_inside_a_note", one_track({0x00, 0x90, 60, 0x90}), SmfFault::status_in_data, 1},
    // Nine of the largest delta times pass 2^31 - 1 ticks.
    {"longer_than_int",
     one_track(cat({{0xff, 0xff, 0xff, 0x7f, 0xff, 0x01, 0x00},
                    {0xff, 0xff, 0xff, 0x7f, 0xff, 0x01, 0x00},
                    {0xff, 0xff, 0xff, 0x7f, 0xff, 0x01, 0x00},
                    {0xff, 0xff, 0xff, 0x7f, 0xff, 0x01, 0x00},
                    {0xff, 0xff, 0xff, 0x7f, 0xff, 0x01, 0x00},
                    {0xff, 0xff, 0xff, 0x7f, 0xff, 0x01, 0x00},
                    {0xff, 0xff, 0xff, 0x7f, 0xff, 0x01, 0x00},
                    {0xff, 0xff, 0xff, 0x7f, 0xff, 0x01, 0x00},
                    {0xff, 0xff, 0xff, 0x7f, 0xff, 0x2f, 0x00}})),
     SmfFault::too_long, 1},
};

INSTANTIATE_TEST_SUITE_P(Rows, SmfCheckTest, ::testing::ValuesIn(kRows),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(SmfFaultTextTest, SaysWhatIsDamagedAndWhere) {
    SmfCheck fine;
    EXPECT_EQ(smf_fault_text(fine), "");
    EXPECT_EQ(smf_fault_text(check_smf(Bytes{'h', 'i'}, 4)), "不是 MIDI 文件");
    // An unprintable byte of a chunk id is shown as '?'.
    const Bytes foreign =
        cat({header(1, 2), chunk("MTrk", end_of_track), Bytes{'X', 0x01, 'I', 'H', 0, 0, 0, 0},
             chunk("MTrk", end_of_track)});
    EXPECT_EQ(smf_fault_text(check_smf(foreign, 4)),
              "MIDI 文件已损坏：第 2 条音轨之前有不支持的数据块“X?IH”");
    EXPECT_EQ(smf_fault_text(check_smf(cat({header(2, 9), chunk("MTrk", end_of_track)}), 4)),
              "MIDI 文件已损坏：音轨太多（9 条）");
}

}  // namespace
}  // namespace quavella
