// Syllable texts: the words of the scan cut into the pieces their notes sing,
// then marked with the pauses and sentence ends of the shaped layout.
//
// The counts come from the word scan itself (scan_words), so the number of
// texts always equals the number of notes. The characters come from decoding
// the text as GBK in order: the scan pairs high bytes across ASCII bytes, which
// in the GBK extension ranges (second byte below 0x80) splits real characters,
// and a text shown to the user must keep them whole.
#include "lyrics/syllables.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "lyrics/lyric_scan.h"
#include "lyrics/paragraph.h"

namespace quavella {
namespace {

/// True for the ASCII bytes that end or split a word: space and , . ; ? !
bool is_ascii_delimiter(unsigned char b) {
    return b == ' ' || b == ',' || b == '.' || b == ';' || b == '?' || b == '!';
}

/// True for the double-byte sentence marks and the marks the scan ignores:
/// 。 ， ？ ！ ； ： and the ideographic space, －, 、, ～.
bool is_excluded_pair(unsigned char a, unsigned char b) {
    if (a == 0xA1) return b == 0xA3 || b == 0xA1 || b == 0xA2 || b == 0xAB;
    if (a == 0xA3)
        return b == 0xAC || b == 0xBF || b == 0xA1 || b == 0xBB || b == 0xBA || b == 0xAD;
    return false;
}

/// Length in bytes of the GBK character at text[i]: 2 for a lead byte with a
/// valid second byte, else 1 (ASCII, or a stray byte shown on its own).
std::size_t char_len(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x81 || lead == 0xFF || i + 1 >= text.size()) return 1;
    const auto trail = static_cast<unsigned char>(text[i + 1]);
    return trail >= 0x40 && trail <= 0xFE && trail != 0x7F ? 2 : 1;
}

/// Cuts the characters starting in [pos, end) into units: each double-byte
/// character (or stray high byte) alone, each run of ASCII characters together.
/// Delimiters and ignored marks are left out and end an ASCII run.
/// @return the offset after the last character read (may pass end by one byte)
std::size_t collect_units(std::string_view text, std::size_t pos, std::size_t end,
                          std::vector<std::string_view>& units) {
    bool in_run = false;
    while (pos < end) {
        const std::size_t len = char_len(text, pos);
        const auto b = static_cast<unsigned char>(text[pos]);
        if (len == 2) {
            in_run = false;
            if (!is_excluded_pair(b, static_cast<unsigned char>(text[pos + 1]))) {
                units.push_back(text.substr(pos, 2));
            }
        } else if (b >= 0x80) {
            in_run = false;
            units.push_back(text.substr(pos, 1));
        } else if (is_ascii_delimiter(b)) {
            in_run = false;
        } else if (in_run) {
            units.back() = std::string_view(units.back().data(), units.back().size() + 1);
        } else {
            units.push_back(text.substr(pos, 1));
            in_run = true;
        }
        pos += len;
    }
    return pos;
}

/// Builds the entries word by word.
class SyllableCutter {
public:
    /// Places the units of a word counted `count` on its notes.
    void place(std::int32_t count, const std::vector<std::string_view>& units) {
        if (count <= 0) {
            // No note of its own: the text goes to the neighbouring syllable.
            for (const std::string_view u : units) attach(u);
            return;
        }
        const std::size_t k = static_cast<std::size_t>(count);
        const std::size_t u = units.size();
        for (std::size_t i = 0; i < k; ++i) {
            if (i < u) {
                std::string text(units[i]);
                // More units than notes: the last note sings the rest.
                if (i + 1 == k) {
                    for (std::size_t j = i + 1; j < u; ++j) text += units[j];
                }
                sing(std::move(text));
            } else if (last_sung_ >= 0) {
                SyllableText cont;
                cont.continuation = true;
                out_.push_back(std::move(cont));
            } else {
                sing({});  // nothing sung before: this note cannot continue anything
            }
        }
    }

    /// Gives a piece of text without a note of its own to the last sung
    /// syllable, or keeps it for the first one still to come.
    void attach(std::string_view piece) {
        if (last_sung_ >= 0) {
            out_[static_cast<std::size_t>(last_sung_)].text += piece;
        } else {
            carried_ += piece;
        }
    }

    void reserve(std::size_t notes) { out_.reserve(notes); }

    std::vector<SyllableText> take() { return std::move(out_); }

private:
    void sing(std::string text) {
        SyllableText s;
        if (carried_.empty()) {
            s.text = std::move(text);
        } else {
            s.text = std::move(carried_) + text;
            carried_.clear();
        }
        out_.push_back(std::move(s));
        last_sung_ = static_cast<long>(out_.size()) - 1;
    }

    std::vector<SyllableText> out_;
    std::string carried_;
    long last_sung_ = -1;
};

/// Marks pauses, sentence ends and sentence numbers from the shaped layout:
/// its counts take the syllables in order.
void mark_layout(std::vector<SyllableText>& syllables, const PhraseLayout& layout) {
    std::size_t next = 0;
    int sentence = 0;
    bool sentence_has_syllable = false;
    for (const std::int32_t v : layout) {
        if (v > 0) {
            const std::size_t stop = std::min(syllables.size(), next + static_cast<std::size_t>(v));
            for (; next < stop; ++next) syllables[next].sentence = sentence;
            sentence_has_syllable = next > 0;
        } else if (v == STC_PAUSE) {
            if (sentence_has_syllable) syllables[next - 1].pause_after = true;
        } else if (v == STC_END) {
            if (sentence_has_syllable) syllables[next - 1].sentence_end = true;
            if (sentence < 3) ++sentence;
            sentence_has_syllable = false;
        }
    }
}

}  // namespace

std::vector<SyllableText> syllable_texts(std::string_view gbk_text) {
    SyllableCutter cutter;
    std::vector<std::string_view> units;
    std::size_t pos = 0;
    const std::vector<ScannedWord> words = scan_words(gbk_text);
    std::size_t notes_wanted = 0;
    for (const ScannedWord& word : words)
        notes_wanted += static_cast<std::size_t>(std::max(word.count, 0));
    cutter.reserve(notes_wanted);
    for (const ScannedWord& word : words) {
        units.clear();
        pos = collect_units(gbk_text, pos, word.end, units);
        cutter.place(word.count, units);
    }
    // Whatever follows the last word (a lone high byte the scan dropped, for
    // one) still belongs to the lyrics.
    units.clear();
    collect_units(gbk_text, pos, gbk_text.size(), units);
    for (const std::string_view u : units) cutter.attach(u);

    std::vector<SyllableText> syllables = cutter.take();
    const PhraseLayout layout = Paragraph(gbk_text).get_layout();
    std::size_t notes = 0;
    for (const std::int32_t v : layout) {
        if (v > 0) notes += static_cast<std::size_t>(v);
    }
    // The shaping moves markers only, so the counts agree; a layout value
    // clamped at 2^31 - 1 (gigabytes of one word) is the only way they could not.
    if (syllables.size() > notes) syllables.resize(notes);
    mark_layout(syllables, layout);
    return syllables;
}

}  // namespace quavella
