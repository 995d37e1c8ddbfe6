// A strict reader of Standard MIDI Files for the fuzz targets, written apart
// from the writer it checks: every chunk length must be exact, every track
// must end with its end-of-track event at the chunk's last byte, and running
// status is only accepted after a channel status of the same track.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quavella::fuzz {

struct SmfEvent {
    std::uint32_t tick = 0;          ///< absolute time in ticks
    std::uint8_t status = 0;         ///< 80..EF, F0, F7 or FF
    int meta = -1;                   ///< meta type for FF, else -1
    std::vector<std::uint8_t> data;  ///< data bytes (for meta and sysex: the payload)
};

struct SmfFile {
    int format = 0;
    int ntracks = 0;
    int division = 0;
    std::vector<std::vector<SmfEvent>> tracks;
};

/// Parses `bytes`; on any deviation returns nothing and says why in `why`.
std::optional<SmfFile> read_smf(std::string_view bytes, std::string& why);

}  // namespace quavella::fuzz
