// Tone changes of Mandarin over the sung syllables of one lyric.
#include "tones/tone_changes.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "tones/word_tones.h"

namespace quavella {
namespace {

// The characters the tone changes name, in GBK.
constexpr std::string_view kYi = "\xD2\xBB";  // 一
constexpr std::string_view kBu = "\xB2\xBB";  // 不
constexpr std::string_view kDi = "\xB5\xDA";  // 第, the ordinal prefix
constexpr std::array<std::string_view, 13> kDigits = {
    "\xA9\x96",  // 〇
    "\xC1\xE3",  // 零
    kYi,
    "\xB6\xFE",  // 二
    "\xC8\xFD",  // 三
    "\xCB\xC4",  // 四
    "\xCE\xE5",  // 五
    "\xC1\xF9",  // 六
    "\xC6\xDF",  // 七
    "\xB0\xCB",  // 八
    "\xBE\xC5",  // 九
    "\xCA\xAE",  // 十
    "\xC1\xBD",  // 两
};

/// The first double-byte character of a text that has a reading; empty if none.
std::string_view reading_char(std::string_view gbk) {
    for (std::size_t i = 0; i + 1 < gbk.size();) {
        const auto lead = static_cast<unsigned char>(gbk[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (gbk_char_tone(lead, static_cast<unsigned char>(gbk[i + 1])) != Tone::none) {
            return gbk.substr(i, 2);
        }
        i += 2;
    }
    return {};
}

bool is_digit(std::string_view ch) {
    return std::find(kDigits.begin(), kDigits.end(), ch) != kDigits.end();
}

/// One syllable with a reading, and where it sits in its phrase.
struct Reading {
    std::string_view ch;  // the character with the reading
    std::size_t entry;    // index in the syllable texts
};

/// Reads the characters of one phrase by their words: a word of the table
/// replaces the tone of the customary reading and is kept with the syllable.
void read_words(const std::vector<Reading>& phrase, std::vector<SyllableTone>& tones) {
    std::vector<std::string_view> chars;
    chars.reserve(phrase.size());
    for (const Reading& reading : phrase) chars.push_back(reading.ch);
    const std::vector<WordTone> words = word_tones(chars);
    for (std::size_t k = 0; k < phrase.size(); ++k) {
        const WordTone& word = words[k];
        if (word.tone == Tone::none) continue;
        SyllableTone& tone = tones[phrase[k].entry];
        tone.citation = tone.sung = word.tone;
        for (std::size_t w = word.word_first; w < word.word_first + word.word_size; ++w) {
            tone.word += chars[w];
        }
    }
}

/// Applies the changes to one phrase of syllables with readings.
void change_phrase(const std::vector<Reading>& phrase, std::vector<SyllableTone>& tones) {
    read_words(phrase, tones);
    const auto citation = [&](std::size_t k) { return tones[phrase[k].entry].citation; };
    for (std::size_t k = 0; k < phrase.size(); ++k) {
        SyllableTone& tone = tones[phrase[k].entry];
        const std::string_view ch = phrase[k].ch;
        const std::string_view prev = k > 0 ? phrase[k - 1].ch : std::string_view();
        const std::string_view next = k + 1 < phrase.size() ? phrase[k + 1].ch : std::string_view();
        // Every syllable of a phrase has a reading: none marks the phrase end.
        const Tone next_tone = next.empty() ? Tone::none : citation(k + 1);
        const bool between_repeats = !prev.empty() && prev == next;

        if (ch == kYi && next_tone != Tone::none) {
            if (prev == kDi || is_digit(prev) || is_digit(next)) continue;
            if (between_repeats) {
                tone.sung = Tone::neutral;
            } else {
                tone.sung = next_tone == Tone::fourth ? Tone::second : Tone::fourth;
            }
        } else if (ch == kBu && next_tone != Tone::none) {
            if (between_repeats) {
                tone.sung = Tone::neutral;
            } else if (next_tone == Tone::fourth) {
                tone.sung = Tone::second;
            }
        } else if (tone.citation == Tone::third && next_tone == Tone::third) {
            tone.sung = Tone::second;
        }
    }
}

}  // namespace

std::vector<SyllableTone> syllable_tones(std::span<const SyllableText> syllables) {
    std::vector<SyllableTone> tones(syllables.size());
    std::vector<Reading> phrase;
    for (std::size_t i = 0; i < syllables.size(); ++i) {
        const SyllableText& syl = syllables[i];
        // A phrase ends at a pause or a sentence end, which a continuation may
        // carry for the syllable it prolongs.
        const bool boundary = syl.pause_after || syl.sentence_end;
        const bool new_sentence = i > 0 && syllables[i - 1].sentence != syl.sentence;
        if (new_sentence && !phrase.empty()) {
            change_phrase(phrase, tones);
            phrase.clear();
        }
        if (!syl.continuation) {
            const std::string_view ch = reading_char(syl.text);
            if (ch.empty()) {
                // A syllable without a reading separates its neighbours.
                change_phrase(phrase, tones);
                phrase.clear();
            } else {
                const Tone citation = text_tone(ch);
                tones[i] = SyllableTone{citation, citation, {}};
                phrase.push_back(Reading{ch, i});
            }
        }
        if (boundary) {
            change_phrase(phrase, tones);
            phrase.clear();
        }
    }
    change_phrase(phrase, tones);
    return tones;
}

}  // namespace quavella
