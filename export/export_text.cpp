// UTF-8 cleaning for the exports.
#include "export/export_text.h"

#include <cstddef>
#include <cstdint>

namespace quavella::exports {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

/// Decodes the UTF-8 sequence at text[i]. Returns its length and sets `cp`, or
/// returns 0 for a byte that starts no valid sequence (overlong forms,
/// surrogates and values above U+10FFFF included).
std::size_t decode(std::string_view text, std::size_t i, std::uint32_t& cp) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    std::size_t len;
    std::uint32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2, cp = b0 & 0x1Fu, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3, cp = b0 & 0x0Fu, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4, cp = b0 & 0x07u, min = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - i < len) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

bool dropped(std::uint32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0xFFFE || cp == 0xFFFF;
}

/// Length of a blank at the start of `text` (ASCII space or U+3000), or 0.
std::size_t blank_at_start(std::string_view text) {
    if (text.starts_with(' ')) return 1;
    if (text.starts_with("\xE3\x80\x80")) return 3;
    return 0;
}

/// Length of a blank at the end of `text` (ASCII space or U+3000), or 0.
std::size_t blank_at_end(std::string_view text) {
    if (text.ends_with(' ')) return 1;
    if (text.ends_with("\xE3\x80\x80")) return 3;
    return 0;
}

}  // namespace

std::string export_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t cp = 0;
        const std::size_t len = decode(text, i, cp);
        if (len == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        if (!dropped(cp)) out.append(text, i, len);
        i += len;
    }
    std::string_view kept = out;
    while (const std::size_t n = blank_at_start(kept)) kept.remove_prefix(n);
    while (const std::size_t n = blank_at_end(kept)) kept.remove_suffix(n);
    return std::string(kept);
}

std::string sung_text(const notation::Lyric& lyric) {
    if (lyric.continuation) return {};
    return export_text(lyric.text);
}

}  // namespace quavella::exports
