// The score as terminal text: a header, then for each line of bars the notes
// and, under them, the syllables, every symbol in a column as wide as the
// wider of the two. Widths are terminal columns: East Asian wide and fullwidth
// characters take two.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "notation/score.h"

namespace quavella::notation {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

/// Decodes the UTF-8 sequence at s[i]; a byte that starts none decodes to
/// U+FFFD and counts one byte.
char32_t decode(std::string_view s, std::size_t& i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = b(i);
    std::size_t len = b0 < 0x80                  ? 1
                      : b0 >= 0xC2 && b0 <= 0xDF ? 2
                      : b0 >= 0xE0 && b0 <= 0xEF ? 3
                      : b0 >= 0xF0 && b0 <= 0xF4 ? 4
                                                 : 0;
    if (len == 0 || i + len > s.size()) {
        ++i;
        return 0xFFFD;
    }
    char32_t cp = len == 1 ? b0 : b0 & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    i += len;
    return cp;
}

/// Columns a code point takes on a terminal: 2 for East Asian wide and
/// fullwidth characters, 0 for combining marks and zero-width ones, else 1.
int columns(char32_t cp) {
    struct Range {
        char32_t lo, hi;
    };
    static constexpr Range kWide[] = {
        {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},
        {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xA960, 0xA97F},   {0xAC00, 0xD7A3},
        {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},
        {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD},
        {0x30000, 0x3FFFD},
    };
    static constexpr Range kZero[] = {
        {0x0300, 0x036F}, {0x200B, 0x200F}, {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}};
    for (const Range& r : kZero) {
        if (cp >= r.lo && cp <= r.hi) return 0;
    }
    for (const Range& r : kWide) {
        if (cp >= r.lo && cp <= r.hi) return 2;
    }
    return 1;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

/// A piece of text safe for a terminal and its width: control characters
/// (which could move the cursor or start an escape sequence) and ill-formed
/// UTF-8 become U+FFFD.
struct Cell {
    std::string text;
    int width = 0;
};

Cell cell(std::string_view s) {
    Cell c;
    c.text.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp = decode(s, i);
        if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) cp = 0xFFFD;
        if (cp == 0xFFFD) {
            c.text += kReplacement;
        } else {
            append_utf8(c.text, cp);
        }
        c.width += columns(cp);
    }
    return c;
}

/// The notes-line symbol of a glyph: [#]digit, ' per octave up or , per octave
/// down, _ per underline, . when dotted, " -" per dash, ~ when tied on.
std::string symbol(const Glyph& g) {
    std::string s;
    if (g.sharp) s += '#';
    s += static_cast<char>('0' + g.degree);
    if (g.octave > 0) s.append(static_cast<std::size_t>(g.octave), '\'');
    if (g.octave < 0) s.append(static_cast<std::size_t>(-g.octave), ',');
    s.append(static_cast<std::size_t>(g.underlines), '_');
    if (g.dotted) s += '.';
    for (int d = 0; d < g.dashes; ++d) s += " -";
    if (g.tie_to_next) s += '~';
    return s;
}

/// One column: a symbol over its syllable.
struct Column {
    Cell note;
    Cell lyric;
};

/// The columns of one bar: each glyph, and a breath mark V after the last
/// piece of a note that ends its sentence.
std::vector<Column> bar_columns(const Score& score, const Bar& bar) {
    const std::vector<Lyric>& lyrics = score.melody.lyrics;
    std::vector<Column> cols;
    cols.reserve(bar.glyphs.size() + 1);
    for (const Glyph& g : bar.glyphs) {
        Column col{cell(symbol(g)), {}};
        const auto i = static_cast<std::size_t>(g.note);
        const bool has_lyric = g.note >= 0 && i < lyrics.size();
        if (has_lyric && g.first) {
            const Lyric& l = lyrics[i];
            std::string text;
            if (i == 0 || l.sentence != lyrics[i - 1].sentence) {
                text = std::to_string(static_cast<long long>(l.sentence) + 1) + '.';
            }
            text += l.continuation ? std::string("_") : l.text;
            col.lyric = cell(text);
        }
        cols.push_back(std::move(col));
        if (has_lyric && !g.tie_to_next && lyrics[i].sentence_end) {
            cols.push_back(Column{cell("V"), {}});
        }
    }
    return cols;
}

void pad(std::string& line, const Cell& c, int width) {
    line += c.text;
    line.append(static_cast<std::size_t>(std::max(0, width - c.width)), ' ');
}

/// A bar as two strings of equal width: " sym sym |" over " syl syl  ".
struct BarText {
    std::string notes;
    std::string lyrics;
    int width = 0;
};

BarText bar_text(const Score& score, const Bar& bar) {
    BarText t;
    for (const Column& col : bar_columns(score, bar)) {
        const int w = std::max(col.note.width, col.lyric.width);
        t.notes += ' ';
        t.lyrics += ' ';
        pad(t.notes, col.note, w);
        pad(t.lyrics, col.lyric, w);
        t.width += w + 1;
    }
    t.notes += " |";
    t.lyrics += "  ";
    t.width += 2;
    return t;
}

void rtrim(std::string& s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
}

}  // namespace

std::string score_text(const Score& score, int width) {
    std::string out;
    const Cell title = cell(score.title);
    if (!title.text.empty()) out += title.text + "  ";
    out += "1=C 4/4 \xE2\x99\xA9=" + std::to_string(score.melody.tempo) + '\n';

    std::string notes = "|";
    std::string lyrics = " ";
    int used = 1;
    bool empty_line = true;
    const auto flush = [&](bool last) {
        if (last) notes += '|';  // the closing double bar
        out += '\n';
        out += notes;
        out += '\n';
        rtrim(lyrics);
        out += lyrics;
        out += '\n';
        notes = "|";
        lyrics = " ";
        used = 1;
        empty_line = true;
    };
    for (std::size_t b = 0; b < score.bars.size(); ++b) {
        BarText t = bar_text(score, score.bars[b]);
        const bool last = b + 1 == score.bars.size();
        const int needed = t.width + (last ? 1 : 0);
        if (!empty_line && used + needed > width) flush(false);
        notes += t.notes;
        lyrics += t.lyrics;
        used += t.width;
        empty_line = false;
        if (last) flush(true);
    }
    return out;
}

}  // namespace quavella::notation
