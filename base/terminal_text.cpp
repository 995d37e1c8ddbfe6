// Neutralising text for the terminal: a UTF-8 walk that copies printable characters.
#include "base/terminal_text.h"

#include <cstdint>
#include <cstdio>

namespace quavella {

namespace {

/// The length of the UTF-8 sequence at `at` and its code point; 0 when it is not one
/// (a stray continuation byte, an overlong form, a surrogate, past U+10FFFF, cut short).
std::size_t decode(std::string_view s, std::size_t at, char32_t& cp) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[at + i]); };
    const unsigned char lead = b(0);
    std::size_t n = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        n = 2, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        n = 3, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        n = 4, cp = lead & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (at + n > s.size()) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

/// Characters that reorder or hide the text around them.
bool bidi_control(char32_t cp) {
    return cp == 0x061C || cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

}  // namespace

std::string terminal_text(std::string_view text, bool keep_newlines) {
    std::string out;
    out.reserve(text.size());
    char buf[16];
    for (std::size_t at = 0; at < text.size();) {
        char32_t cp = 0;
        const std::size_t n = decode(text, at, cp);
        if (n == 0) {
            std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned char>(text[at]));
            out += buf;
            ++at;
            continue;
        }
        if ((cp < 0x20 && !(cp == '\n' && keep_newlines)) || cp == 0x7F) {
            std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned>(cp));
            out += buf;
        } else if ((cp >= 0x80 && cp <= 0x9F) || bidi_control(cp)) {
            std::snprintf(buf, sizeof buf, "<U+%04X>", static_cast<unsigned>(cp));
            out += buf;
        } else {
            out.append(text.substr(at, n));
        }
        at += n;
    }
    return out;
}

}  // namespace quavella
