// JSON text for --json.
#include "cli/json_out.h"

#include <cstdio>

namespace quavella::cli {

namespace {

/// Length of the UTF-8 sequence at text[i] and its code point, or 0 when the
/// bytes there are not one (overlong forms and surrogates included).
std::size_t utf8_at(std::string_view text, std::size_t i, std::uint32_t& cp) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    std::size_t len = 0;
    std::uint32_t min = 0;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - i < len) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

/// True for the code points a terminal may act on or that reorder text.
bool escaped(std::uint32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 ||
           (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200E ||
           cp == 0x200F || cp == 0x061C;
}

}  // namespace

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t cp = 0;
        const std::size_t len = utf8_at(text, i, cp);
        if (len == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD for a byte that starts no valid sequence
            ++i;
            continue;
        }
        if (cp == '"') {
            out += "\\\"";
        } else if (cp == '\\') {
            out += "\\\\";
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\t') {
            out += "\\t";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (escaped(cp)) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04X", static_cast<unsigned>(cp));
            out += code;
        } else {
            out.append(text.substr(i, len));
        }
        i += len;
    }
    return out + "\"";
}

JsonObject& JsonObject::field(std::string_view name, std::string_view json) {
    if (body_.size() > 1) body_ += ",";
    body_ += json_string(name);
    body_ += ":";
    body_ += json;
    return *this;
}

JsonObject& JsonObject::text(std::string_view name, std::string_view value) {
    return field(name, json_string(value));
}

JsonObject& JsonObject::text_or_null(std::string_view name, std::string_view value) {
    return field(name, value.empty() ? std::string("null") : json_string(value));
}

JsonObject& JsonObject::number(std::string_view name, std::int64_t value) {
    return field(name, std::to_string(value));
}

JsonObject& JsonObject::unsigned_number(std::string_view name, std::uint64_t value) {
    return field(name, std::to_string(value));
}

JsonObject& JsonObject::boolean(std::string_view name, bool value) {
    return field(name, value ? "true" : "false");
}

JsonObject& JsonObject::number_or_null(std::string_view name,
                                       const std::optional<std::int64_t>& value) {
    return field(name, value ? std::to_string(*value) : std::string("null"));
}

JsonObject& JsonObject::raw(std::string_view name, std::string_view json) {
    return field(name, json);
}

std::string json_array(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += ",";
        out += items[i];
    }
    return out + "]";
}

std::string json_numbers(const std::vector<int>& values) {
    std::vector<std::string> items;
    items.reserve(values.size());
    for (const int v : values) items.push_back(std::to_string(v));
    return json_array(items);
}

}  // namespace quavella::cli
