// Fuzz target: the check that guards the player and 载入 against damaged MIDI files,
// seeded with compositions. Any bytes are checked without a fault of its own; a file that
// the strict reader of the fuzz targets accepts (and that holds nothing the player
// refuses: no track, SMPTE time, F7 events, over 128 tracks, times past 2^31 - 1) is
// accepted, with the length of its longest track and the channels whose notes sound.
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "fuzz/smf_reader.h"
#include "midi/smf_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr int kMaxTracks = 128;  // what the player holds
    const quavella::SmfCheck check =
        quavella::check_smf(std::span<const unsigned char>(data, size), kMaxTracks);
    if (check.ok()) {
        FUZZ_CHECK(check.total_ticks >= 0, "length %d", check.total_ticks);
        const int program = check.melody_program();
        FUZZ_CHECK(program >= -1 && program <= 127, "melody program %d", program);
    } else {
        FUZZ_CHECK(!quavella::smf_fault_text(check).empty(), "a fault without a reason");
    }

    std::string why;
    const auto file =
        quavella::fuzz::read_smf(std::string_view(reinterpret_cast<const char*>(data), size), why);
    if (!file || file->ntracks == 0 || file->ntracks > kMaxTracks || (file->division & 0x8000) != 0)
        return 0;
    long longest = 0;
    std::uint16_t sounding = 0;
    for (const auto& track : file->tracks) {
        for (const auto& event : track) {
            if (event.status == 0xF7 || event.tick > 0x7FFFFFFFu) return 0;
            if ((event.status & 0xF0) == 0x90 && event.data.size() == 2 && event.data[1] > 0) {
                sounding = static_cast<std::uint16_t>(sounding | (1u << (event.status & 0x0F)));
            }
        }
        if (!track.empty()) longest = std::max<long>(longest, track.back().tick);
    }
    FUZZ_CHECK(check.ok(), "a file the strict reader takes is refused: %s",
               quavella::smf_fault_text(check).c_str());
    FUZZ_CHECK(check.total_ticks == longest, "length %d, the tracks say %ld", check.total_ticks,
               longest);
    FUZZ_CHECK(check.note_channels == sounding, "sounding channels %04x, the tracks say %04x",
               check.note_channels, sounding);
    return 0;
}
