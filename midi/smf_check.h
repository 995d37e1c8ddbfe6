// Checks a Standard MIDI File before it is played: walks the header and every track the
// way a sequencer reading tracks in order loads them, and measures the file's length in
// ticks, the channels that sound and the programs they start with. The media player uses it
// to refuse a damaged file at open and to know where the melody ends.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace quavella {

/// Why a file is refused; `none` for a file that plays.
enum class SmfFault {
    none,
    not_midi,             ///< shorter than a header, or no "MThd" at the start
    header_length,        ///< the header chunk's length is not 6
    unknown_format,       ///< a format above 2
    no_tracks,            ///< the header declares no track
    too_many_tracks,      ///< more tracks than the caller's limit
    smpte_division,       ///< SMPTE time division (frames per second), not ticks per beat
    zero_division,        ///< 0 ticks per beat
    missing_track,        ///< the file ends before a track the header declares
    foreign_chunk,        ///< a chunk other than "MTrk" before the last track
    chunk_past_end,       ///< a track chunk is longer than the rest of the file
    event_cut,            ///< a track ends inside an event
    long_number,          ///< a variable-length number of more than 4 bytes
    data_without_status,  ///< a data byte with no running status to continue
    meta_past_track,      ///< a meta event longer than the rest of its track
    sysex_past_track,     ///< a system exclusive event longer than the rest of its track
    unsupported_event,    ///< a status byte F1 to FE (F7 included) in a track
    status_in_data,       ///< a byte with the top bit set inside a channel event's data
    too_long,             ///< a track longer than 2^31 - 1 ticks
};

/// What check_smf found.
struct SmfCheck {
    SmfFault fault = SmfFault::none;
    /// The track (from 1) where the fault was found; 0 for faults of the header.
    int track = 0;
    /// The format number for `unknown_format`, the track count for `too_many_tracks`.
    int value = 0;
    /// The id of a foreign chunk, with bytes outside printable ASCII shown as '?'.
    std::string chunk;

    /// The length in ticks: the longest track, counted to its end-of-track event or its end.
    int total_ticks = 0;
    /// Bit c is set when channel c (0 to 15) has a note-on with a velocity above 0.
    std::uint16_t note_channels = 0;
    /// The program of each channel's first program change; -1 where there is none.
    std::array<int, 16> first_program = {-1, -1, -1, -1, -1, -1, -1, -1,
                                         -1, -1, -1, -1, -1, -1, -1, -1};

    bool ok() const { return fault == SmfFault::none; }
    /// The program that the first sounding channel starts with; -1 when it sets none.
    int melody_program() const;
};

/// Checks the bytes of a Standard MIDI File.
/// @param max_tracks the most tracks the caller can play
/// @return the fault found first, or `none` with the file's measures
SmfCheck check_smf(std::span<const unsigned char> bytes, int max_tracks);

/// The reason for a fault as the user reads it, in Chinese: "不是 MIDI 文件" or
/// "MIDI 文件已损坏：" and what is damaged where. Empty for `none`.
std::string smf_fault_text(const SmfCheck& check);

}  // namespace quavella
