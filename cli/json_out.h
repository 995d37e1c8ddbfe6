// JSON output of quavella-cli (--json): one object per result, built field by
// field, its strings valid UTF-8 that no terminal acts on. The commands use it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quavella::cli {

/// A JSON string literal of `text`: quotes, backslashes and every control
/// character (C0, DEL, C1), line and paragraph separators and the bidi controls
/// escaped as \uXXXX (or \n, \t, ...), bytes that are not UTF-8 as U+FFFD.
std::string json_string(std::string_view text);

/// A JSON object written in field order.
class JsonObject {
public:
    JsonObject& text(std::string_view name, std::string_view value);
    /// A string, or null when `value` is empty.
    JsonObject& text_or_null(std::string_view name, std::string_view value);
    JsonObject& number(std::string_view name, std::int64_t value);
    JsonObject& unsigned_number(std::string_view name, std::uint64_t value);
    JsonObject& boolean(std::string_view name, bool value);
    /// A number, or null when there is none.
    JsonObject& number_or_null(std::string_view name, const std::optional<std::int64_t>& value);
    /// A value already in JSON (an array or an object).
    JsonObject& raw(std::string_view name, std::string_view json);

    /// The object: "{...}", no line break.
    std::string str() const { return body_ + "}"; }

private:
    JsonObject& field(std::string_view name, std::string_view json);
    std::string body_ = "{";
};

/// A JSON array of values already in JSON.
std::string json_array(const std::vector<std::string>& items);
/// A JSON array of integers.
std::string json_numbers(const std::vector<int>& values);

}  // namespace quavella::cli
