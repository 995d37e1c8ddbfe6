// UTF-8 validation, UTF-8 to GBK through glibc iconv, and line joining.
#include "lyrics/gbk_text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <set>

namespace quavella {
namespace {

/// Length of the well-formed UTF-8 sequence starting at s[i], or 0 if it is ill-formed.
std::size_t utf8_seq_len(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) return 1;
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0) lo = 0xA0;  // overlong
        if (b0 == 0xED) hi = 0x9F;  // surrogates U+D800..U+DFFF
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0) lo = 0x90;  // overlong
        if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
        return 0;  // continuation byte, C0/C1 overlong lead, or F5..FF
    }
    if (s.size() - i < len) return 0;
    if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < len; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return len;
}

/// Owns an iconv descriptor for the life of one conversion.
class IconvHandle {
public:
    IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~IconvHandle() {
        if (valid()) iconv_close(cd_);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

/// Number of characters in GBK (code page 936) text: bytes below 0x80 and the euro
/// sign 0x80 stand alone, 0x81..0xFE lead a pair.
std::size_t gbk_char_count(std::string_view gbk) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < gbk.size(); ++count) {
        const auto b = static_cast<unsigned char>(gbk[i]);
        i += b >= 0x81 && b <= 0xFE ? 2 : 1;
    }
    return count;
}

/// Number of characters in valid UTF-8 text.
std::size_t utf8_char_count(std::string_view utf8) {
    std::size_t count = 0;
    for (const char c : utf8) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

/// The characters of valid UTF-8 text that GBK lacks, each once, in order.
std::vector<std::string> characters_gbk_lacks(std::string_view utf8) {
    std::vector<std::string> lacking;
    IconvHandle cd("GBK", "UTF-8");
    if (!cd.valid()) return lacking;
    std::set<std::string_view> seen;
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t len = utf8_seq_len(utf8, i);
        const std::string_view one = utf8.substr(i, len == 0 ? 1 : len);
        i += one.size();
        if (one.size() == 1 || seen.count(one) != 0) continue;
        char out[8];
        char* out_ptr = out;
        std::size_t out_left = sizeof out;
        char* in = const_cast<char*>(one.data());
        std::size_t in_left = one.size();
        if (iconv(cd.get(), &in, &in_left, &out_ptr, &out_left) == static_cast<std::size_t>(-1)) {
            seen.insert(one);
            lacking.emplace_back(one);
        }
    }
    return lacking;
}

/// The code point of the well-formed UTF-8 sequence of `len` bytes at s[i].
char32_t decode_utf8(std::string_view s, std::size_t i, std::size_t len) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    if (len == 1) return byte(0);
    char32_t c = byte(0) & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) c = (c << 6) | (byte(k) & 0x3F);
    return c;
}

/// Unicode spaces GBK lacks; each stands for an ASCII space.
bool is_unicode_space(char32_t c) {
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F;
}

/// Valid UTF-8 lyric text with the characters GBK lacks that are no part of a
/// word settled first: Unicode spaces become ASCII spaces; C1 controls and the
/// byte order mark (U+FEFF, wherever it is) are dropped without notice.
std::string settle_utf8_blanks(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t len = utf8_seq_len(utf8, i);
        const char32_t c = decode_utf8(utf8, i, len);
        if (is_unicode_space(c)) {
            out.push_back(' ');
        } else if (!(c >= 0x80 && c <= 0x9F) && c != 0xFEFF) {
            out.append(utf8.substr(i, len));
        }
        i += len;
    }
    return out;
}

bool is_ascii_alnum(unsigned char b) {
    return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

/// What lyric tidying does with one character.
enum class Tidy { keep, space, drop };

/// ASCII: tab, vertical tab and form feed stand for a space; other control
/// bytes and punctuation that neither ends a sentence (, . ; ? !) nor belongs
/// to a word are not sung. Letters, digits, space and those marks are kept.
Tidy tidy_ascii(unsigned char b) {
    if (b == '\t' || b == '\v' || b == '\f') return Tidy::space;
    if (b < 0x20 || b == 0x7F) return Tidy::drop;
    if (is_ascii_alnum(b) || b == ' ' || b == ',' || b == '.' || b == ';' || b == '?' || b == '!') {
        return Tidy::keep;
    }
    return Tidy::drop;
}

/// Double-byte marks: the ideographic space, the ellipsis and the dash stand
/// for a space; quotation marks, brackets and the middle dot are not sung.
Tidy tidy_pair(unsigned char lead, unsigned char trail) {
    if (lead == 0xA1) {
        if (trail == 0xA1 || trail == 0xAA || trail == 0xAD) return Tidy::space;  // 　 — …
        if (trail == 0xA4) return Tidy::drop;                                     // ·
        if (trail >= 0xAE && trail <= 0xBF && trail != 0xAB)
            return Tidy::drop;  // ‘’“”〔〕〈〉《》「」『』〖〗【】
        return Tidy::keep;
    }
    if (lead == 0xA3) {
        switch (trail) {
            case 0xA2:
            case 0xA7:
            case 0xA8:
            case 0xA9:  // ＂ ＇ （ ）
            case 0xBC:
            case 0xBE:  // ＜ ＞
            case 0xDB:
            case 0xDD:
            case 0xFB:
            case 0xFD:  // ［ ］ ｛ ｝
                return Tidy::drop;
            default:
                return Tidy::keep;
        }
    }
    return Tidy::keep;
}

}  // namespace

std::string tidy_lyric_text(std::string_view gbk) {
    std::string out;
    out.reserve(gbk.size());
    bool after_alnum = false;  // the last character written is an ASCII letter or digit
    for (std::size_t i = 0; i < gbk.size();) {
        const auto b = static_cast<unsigned char>(gbk[i]);
        if (b >= 0x81 && b <= 0xFE && i + 1 < gbk.size()) {
            // A double-byte character: its second byte is never looked at alone.
            const auto trail = static_cast<unsigned char>(gbk[i + 1]);
            const Tidy t = tidy_pair(b, trail);
            if (t == Tidy::keep) out.append(gbk.substr(i, 2));
            if (t == Tidy::space) out.push_back(' ');
            after_alnum = false;
            i += 2;
            continue;
        }
        Tidy t = b < 0x80 ? tidy_ascii(b) : Tidy::keep;
        const bool before_alnum =
            i + 1 < gbk.size() && is_ascii_alnum(static_cast<unsigned char>(gbk[i + 1]));
        if (t == Tidy::drop && b >= 0x20 && after_alnum && before_alnum) {
            // Inside a Latin word: an apostrophe or a hyphen is part of it
            // (don't, well-known); any other mark there parts two words.
            t = b == '\'' || b == '-' ? Tidy::keep : Tidy::space;
        }
        if (t == Tidy::keep) out.push_back(static_cast<char>(b));
        if (t == Tidy::space) out.push_back(' ');
        if (t != Tidy::drop) after_alnum = t == Tidy::keep && is_ascii_alnum(b);
        ++i;
    }
    return out;
}

std::optional<std::size_t> find_invalid_utf8(std::string_view utf8) {
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::size_t len = utf8_seq_len(utf8, i);
        if (len == 0) return i;
        i += len;
    }
    return std::nullopt;
}

GbkConversion utf8_to_gbk(std::string_view utf8) {
    if (const auto bad = find_invalid_utf8(utf8)) return {false, {}, *bad};

    // With //IGNORE, glibc skips characters GBK lacks inside iconv() itself, but
    // still ends each internal chunk that skipped one with EILSEQ: carry on
    // while input is being consumed. (Skipping by hand after each EILSEQ without
    // //IGNORE would be far slower: glibc reconverts its chunk on every error.)
    errno = 0;
    IconvHandle cd("GBK//IGNORE", "UTF-8");
    if (!cd.valid()) {
        GbkConversion none{false, {}, std::string_view::npos};
        none.converter_errno = errno;
        // glibc says EINVAL also when it could not load the converter's module because
        // no file descriptor was left: name that cause when it is the one.
        if (none.converter_errno == EINVAL) {
            errno = 0;
            if (std::FILE* probe = std::fopen("/dev/null", "rb")) {
                std::fclose(probe);
            } else if (errno != 0) {
                none.converter_errno = errno;
            }
        }
        return none;
    }

    // GBK never takes more bytes than UTF-8 for the same character, so one
    // buffer of the input's size is enough; E2BIG is still handled by growing.
    std::string out(utf8.size() + 4, '\0');
    std::size_t out_used = 0;
    char* in = const_cast<char*>(utf8.data());
    std::size_t in_left = utf8.size();
    while (in_left > 0) {
        char* out_ptr = out.data() + out_used;
        std::size_t out_left = out.size() - out_used;
        const char* in_before = in;
        const std::size_t rc = iconv(cd.get(), &in, &in_left, &out_ptr, &out_left);
        out_used = out.size() - out_left;
        if (rc != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2 + 16);
        } else if (errno == EILSEQ) {
            if (in != in_before) continue;
            // No progress: drop the character at the front by hand.
            const std::size_t pos = static_cast<std::size_t>(in - utf8.data());
            const std::size_t len = utf8_seq_len(utf8, pos);
            const std::size_t step = len == 0 ? 1 : len;
            in += step;
            in_left -= step;
        } else {
            break;  // EINVAL cannot happen on validated input
        }
    }
    out.resize(out_used);
    GbkConversion conv{true, std::move(out), 0};
    // Only a text that lost characters is walked again to name them.
    if (gbk_char_count(conv.gbk) != utf8_char_count(utf8)) {
        conv.dropped = characters_gbk_lacks(utf8);
    }
    return conv;
}

namespace {
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
}  // namespace

GbkToUtf8::GbkToUtf8() : cd_(iconv_open("UTF-8", "GBK")) {}

GbkToUtf8::~GbkToUtf8() {
    if (static_cast<iconv_t>(cd_) != kNoConverter) iconv_close(static_cast<iconv_t>(cd_));
}

std::string GbkToUtf8::operator()(std::string_view gbk) {
    std::string out;
    const auto cd = static_cast<iconv_t>(cd_);
    if (cd == kNoConverter) {
        // Without a converter only ASCII can be shown as it is.
        for (const char c : gbk) {
            if (static_cast<unsigned char>(c) < 0x80) {
                out.push_back(c);
            } else {
                out += kReplacement;
            }
        }
        return out;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    // A GBK character (two bytes) never takes more than three bytes in UTF-8.
    out.resize(gbk.size() * 2 + 8);
    std::size_t out_used = 0;
    char* in = const_cast<char*>(gbk.data());
    std::size_t in_left = gbk.size();
    while (in_left > 0) {
        char* out_ptr = out.data() + out_used;
        std::size_t out_left = out.size() - out_used;
        const std::size_t rc = iconv(cd, &in, &in_left, &out_ptr, &out_left);
        out_used = out.size() - out_left;
        if (rc != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2 + 16);
            continue;
        }
        // EILSEQ (no GBK character starts here) or EINVAL (a lead byte at the
        // end): show the byte as U+FFFD and go on after it.
        if (out.size() - out_used < kReplacement.size()) out.resize(out.size() + 16);
        out.replace(out_used, kReplacement.size(), kReplacement);
        out_used += kReplacement.size();
        ++in;
        --in_left;
    }
    out.resize(out_used);
    return out;
}

std::string gbk_to_utf8(std::string_view gbk) { return GbkToUtf8()(gbk); }

std::string join_lyric_lines(std::string_view raw) {
    std::string joined;
    joined.reserve(raw.size());
    for (const char c : raw) {
        if (c != '\n' && c != '\r') joined.push_back(c);
    }
    return joined;
}

std::optional<LyricEncoding> parse_lyric_encoding(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (lower == "utf-8" || lower == "utf8") return LyricEncoding::utf8;
    if (lower == "gbk" || lower == "cp936") return LyricEncoding::gbk;
    return std::nullopt;
}

std::vector<std::string_view> split_lyric_lines(std::string_view raw) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\n' && raw[i] != '\r') continue;
        lines.push_back(raw.substr(start, i - start));
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
        start = i + 1;
    }
    lines.push_back(raw.substr(start));
    return lines;
}

GbkConversion lyric_text_from_lines(std::span<const std::string_view> lines,
                                    LyricEncoding encoding) {
    std::string joined;
    for (const std::string_view line : lines) joined += line;
    if (encoding == LyricEncoding::gbk) return {true, tidy_lyric_text(joined), 0};

    // Each line is checked alone: a character cut by a line break is invalid,
    // although its halves would meet once the lines are joined.
    for (std::size_t line = 0; line < lines.size(); ++line) {
        if (const auto bad = find_invalid_utf8(lines[line])) {
            GbkConversion refused{false, {}, *bad};
            refused.bad_line = line;
            return refused;
        }
    }
    GbkConversion conv = utf8_to_gbk(settle_utf8_blanks(joined));
    if (conv.ok) conv.gbk = tidy_lyric_text(conv.gbk);
    return conv;
}

GbkConversion lyric_text_from_lines(const std::vector<std::string>& lines, LyricEncoding encoding) {
    const std::vector<std::string_view> views(lines.begin(), lines.end());
    return lyric_text_from_lines(std::span<const std::string_view>(views), encoding);
}

GbkConversion lyric_text_from_input(std::string_view raw, LyricEncoding encoding) {
    const std::vector<std::string_view> lines = split_lyric_lines(raw);
    GbkConversion conv = lyric_text_from_lines(std::span<const std::string_view>(lines), encoding);
    if (!conv.ok && conv.bad_offset != std::string_view::npos) {
        // Back to an offset in the input as given, line breaks and all.
        conv.bad_offset += static_cast<std::size_t>(lines[conv.bad_line].data() - raw.data());
        conv.bad_line = 0;
    }
    return conv;
}

}  // namespace quavella
