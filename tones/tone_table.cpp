// Tone lookup over the generated table of every GBK double-byte code.
#include "tones/tone_table.h"

namespace quavella {
namespace {

#include "tones/gbk_tone_table.inc"

constexpr unsigned kFirstLead = 0x81, kLastLead = 0xFE;
constexpr unsigned kFirstTrail = 0x40, kLastTrail = 0xFE;
constexpr unsigned kTrails = kLastTrail - kFirstTrail + 1;

static_assert(sizeof kGbkTones == ((kLastLead - kFirstLead + 1) * kTrails + 1) / 2,
              "the generated table covers every lead and trail byte");

}  // namespace

Tone gbk_char_tone(unsigned char lead, unsigned char trail) {
    if (lead < kFirstLead || lead > kLastLead || trail < kFirstTrail || trail > kLastTrail) {
        return Tone::none;
    }
    const unsigned index = (lead - kFirstLead) * kTrails + (trail - kFirstTrail);
    const unsigned nibble = (kGbkTones[index / 2] >> (index % 2 * 4)) & 0x0F;
    return static_cast<Tone>(nibble);
}

Tone text_tone(std::string_view gbk) {
    for (std::size_t i = 0; i < gbk.size();) {
        const auto lead = static_cast<unsigned char>(gbk[i]);
        if (lead < 0x80 || i + 1 == gbk.size()) {
            ++i;  // a single byte, or a stray lead byte at the end
            continue;
        }
        const Tone tone = gbk_char_tone(lead, static_cast<unsigned char>(gbk[i + 1]));
        if (tone != Tone::none) return tone;
        i += 2;
    }
    return Tone::none;
}

std::string_view tone_digit(Tone tone) {
    switch (tone) {
        case Tone::first:
            return "1";
        case Tone::second:
            return "2";
        case Tone::third:
            return "3";
        case Tone::fourth:
            return "4";
        case Tone::neutral:
            return "5";
        case Tone::none:
            break;
    }
    return "";
}

}  // namespace quavella
