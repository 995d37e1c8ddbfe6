// The text form of an edit list: printing and reading.
#include "edit/edits.h"

#include <charconv>
#include <limits>
#include <optional>

#include "composer/draws.h"
#include "lyrics/lyrics_hex.h"

namespace quavella::edit {
namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

/// A decimal number made of digits only, read whole; nothing when it does not fit `Int`.
template <typename Int>
std::optional<Int> number(std::string_view digits) {
    if (digits.empty() || digits.size() > 20) return std::nullopt;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    Int value{};
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

/// The kind of a length or rest item from what follows its note number: "d+" and "d-"
/// (one unit longer, shorter), "r+" and "r-" (one unit of rest more, less after it).
std::optional<EditKind> length_kind(std::string_view suffix) {
    if (suffix == "d+") return EditKind::lengthen;
    if (suffix == "d-") return EditKind::shorten;
    if (suffix == "r+") return EditKind::add_rest;
    if (suffix == "r-") return EditKind::remove_rest;
    return std::nullopt;
}

/// Reads a chord item: k<slot>+, k<slot>-, k<slot>:<root>:<kind>, kr.
std::optional<Edit> parse_chord_item(std::string_view item, std::string& reason) {
    if (item == "kr") return Edit{EditKind::regenerate_chords};
    std::size_t digits = 1;
    while (digits < item.size() && item[digits] >= '0' && item[digits] <= '9') ++digits;
    const auto slot = number<int>(item.substr(1, digits - 1));
    const std::string_view rest = item.substr(digits);
    if (!slot || rest.empty()) {
        reason = "a chord item is k<slot>+, k<slot>-, k<slot>:<root>:<kind> or kr";
        return std::nullopt;
    }
    if (*slot < 1) {
        reason = "chord slots are counted from 1";
        return std::nullopt;
    }
    Edit edit;
    edit.slot = *slot - 1;
    if (rest == "+" || rest == "-") {
        edit.kind = rest == "+" ? EditKind::lock_chord : EditKind::unlock_chord;
        return edit;
    }
    const std::size_t second = rest.find(':', 1);
    const auto root = rest.front() == ':' && second != std::string_view::npos
                          ? number<int>(rest.substr(1, second - 1))
                          : std::nullopt;
    const auto kind = root ? number<int>(rest.substr(second + 1)) : std::nullopt;
    if (!root || !kind || *root > 11 || *kind > static_cast<int>(harmony::ChordKind::minor7_no5)) {
        reason =
            "a chord is :<root>:<kind>, the root a pitch class from 0 (C) to 11 (B), the "
            "kind from 0 to 4 (major, minor, sus2, sus4, minor7-no5)";
        return std::nullopt;
    }
    edit.kind = EditKind::set_chord;
    edit.chord = harmony::Chord{*root, static_cast<harmony::ChordKind>(*kind)};
    return edit;
}

/// Reads one item; sets `reason` when it is refused.
std::optional<Edit> parse_item(std::string_view item, std::string& reason) {
    if (item.empty()) {
        reason = "empty item (two commas in a row, or a comma at an end)";
        return std::nullopt;
    }
    if (item == "fix") return Edit{EditKind::fix_tones};
    if (item == "suit") return Edit{EditKind::suit_tones};
    if (item == "beat") return Edit{EditKind::fix_rhythm};
    if (item.front() == 'w') {
        // w:<hex of the new words>; whether they can be sung is checked when applied.
        if (item.size() < 2 || item[1] != ':') {
            reason = "a word item is w:<the new words as hex digits, two a byte of UTF-8>";
            return std::nullopt;
        }
        const std::string_view hex = item.substr(2);
        if (hex.size() > kMaxWordItemBytes - 2) {
            reason = "new words of more than " + std::to_string(kMaxWordBytes) + " bytes";
            return std::nullopt;
        }
        auto words = parse_lyrics_hex(hex);
        if (!words) {
            reason = "the new words are hex digits, two a byte of UTF-8";
            return std::nullopt;
        }
        Edit edit{EditKind::words};
        edit.words = std::move(*words);
        return edit;
    }
    if (item.front() == 'k') return parse_chord_item(item, reason);
    if (item.front() == 's') {
        // s<K>:<S>:<T>
        const std::size_t colon = item.find(':');
        const auto sentence = number<int>(
            item.substr(1, colon == std::string_view::npos ? std::string_view::npos : colon - 1));
        if (colon == std::string_view::npos || !sentence) {
            reason = "a sentence item is s<sentence>:<state>, as s2:123:456";
            return std::nullopt;
        }
        if (*sentence < 1 || *sentence > 4) {
            reason = "sentence " + std::to_string(*sentence) + " does not exist (sentences 1 to 4)";
            return std::nullopt;
        }
        const auto state = parse_state(item.substr(colon + 1));
        if (!state) {
            reason =
                "the state after the sentence is S:T, S from 0 to 2^64-1 and T from 0 to "
                "2^32-1";
            return std::nullopt;
        }
        Edit edit{EditKind::sentence};
        edit.sentence = *sentence - 1;
        edit.state = *state;
        return edit;
    }

    // A note item: <N> then +, -, or :<pitch>.
    std::size_t digits = 0;
    while (digits < item.size() && item[digits] >= '0' && item[digits] <= '9') ++digits;
    const auto note = number<int>(item.substr(0, digits));
    if (!note || digits == item.size()) {
        reason =
            "expected a note number followed by +, -, :<pitch>, d+, d-, r+ or r-, \"s\" for a "
            "sentence, \"w\" for new words, \"fix\", \"suit\" or \"beat\"";
        return std::nullopt;
    }
    if (*note < 1) {
        reason = "notes are counted from 1";
        return std::nullopt;
    }
    Edit edit;
    edit.note = *note - 1;
    const std::string_view rest = item.substr(digits);
    if (const auto kind = length_kind(rest)) {
        edit.kind = *kind;
        return edit;
    }
    if (rest.front() == ':') {
        const auto pitch = number<int>(rest.substr(1));
        if (!pitch || *pitch > 127) {
            reason = "a pitch is a MIDI note number from 0 to 127";
            return std::nullopt;
        }
        edit.kind = EditKind::pitch;
        edit.amount = *pitch;
        return edit;
    }
    if (rest.front() != '+' && rest.front() != '-') {
        reason = "expected +, -, :<pitch>, d+, d-, r+ or r- after the note number";
        return std::nullopt;
    }
    edit.amount = rest.front() == '+' ? 1 : -1;
    const std::string_view unit = rest.substr(1);
    if (unit.empty()) {
        edit.kind = EditKind::step;
    } else if (unit == "h") {
        edit.kind = EditKind::semitone;
    } else if (unit == "o") {
        edit.kind = EditKind::octave;
    } else {
        reason = "after + or - comes nothing (a scale step), h (a semitone) or o (an octave)";
        return std::nullopt;
    }
    return edit;
}

}  // namespace

std::string edit_text(const Edit& edit) {
    const std::string note = std::to_string(edit.note + 1);
    const char* sign = edit.amount > 0 ? "+" : "-";
    switch (edit.kind) {
        case EditKind::step:
            return note + sign;
        case EditKind::semitone:
            return note + sign + "h";
        case EditKind::octave:
            return note + sign + "o";
        case EditKind::pitch:
            return note + ":" + std::to_string(edit.amount);
        case EditKind::sentence:
            return "s" + std::to_string(edit.sentence + 1) + ":" + state_text(edit.state);
        case EditKind::fix_tones:
            return "fix";
        case EditKind::suit_tones:
            return "suit";
        case EditKind::lengthen:
            return note + "d+";
        case EditKind::shorten:
            return note + "d-";
        case EditKind::add_rest:
            return note + "r+";
        case EditKind::remove_rest:
            return note + "r-";
        case EditKind::fix_rhythm:
            return "beat";
        case EditKind::words:
            return "w:" + lyrics_hex(edit.words);
        case EditKind::lock_chord:
            return "k" + std::to_string(edit.slot + 1) + "+";
        case EditKind::unlock_chord:
            return "k" + std::to_string(edit.slot + 1) + "-";
        case EditKind::set_chord:
            return "k" + std::to_string(edit.slot + 1) + ":" + std::to_string(edit.chord.root) +
                   ":" + std::to_string(static_cast<int>(edit.chord.kind));
        case EditKind::regenerate_chords:
            return "kr";
    }
    return {};
}

std::string edits_text(const std::vector<Edit>& edits) {
    std::string text;
    for (const Edit& edit : edits) {
        if (!text.empty()) text += ',';
        text += edit_text(edit);
    }
    return text;
}

std::string item_message(std::size_t item, std::string_view item_text, std::string_view reason) {
    std::string message = "item " + std::to_string(item) + " \"";
    message += item_text;
    message += "\": ";
    message += reason;
    return message;
}

ParsedEdits parse_edits(std::string_view text) {
    ParsedEdits parsed;
    if (trimmed(text).empty()) return parsed;
    if (text.size() > kMaxEditsBytes) {
        parsed.error = "an edit list of more than " + std::to_string(kMaxEditsBytes) + " bytes";
        return parsed;
    }
    std::size_t start = 0;
    for (std::size_t index = 1;; ++index) {
        const std::size_t comma = text.find(',', start);
        const std::string_view item = trimmed(text.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (index > kMaxEdits) {
            parsed.edits.clear();
            parsed.item = 0;
            parsed.error = "more than " + std::to_string(kMaxEdits) + " edits in one list";
            return parsed;
        }
        std::string reason;
        const auto edit = parse_item(item, reason);
        if (!edit) {
            parsed.edits.clear();
            parsed.item = index;
            parsed.error = item_message(index, item.substr(0, 40), reason);
            return parsed;
        }
        parsed.edits.push_back(*edit);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return parsed;
}

}  // namespace quavella::edit
