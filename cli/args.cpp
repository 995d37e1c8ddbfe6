// The argument walk, the option kinds and the commands' option tables.
#include "cli/args.h"

#include <charconv>
#include <climits>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <utility>

#include "base/staged_file.h"
#include "composer/style_tables.h"
#include "history/record.h"

namespace quavella::cli {

namespace {

/// The value of `option` if `arg` is "NAME=VALUE".
std::optional<std::string> attached_value(const std::string& arg, std::string_view name) {
    if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 &&
        arg[name.size()] == '=') {
        return arg.substr(name.size() + 1);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> walk_arguments(std::span<const std::string> args,
                                          std::string_view command, std::span<const Option> options,
                                          const OperandTaker& operand) {
    bool options_done = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!options_done && arg == "--") {
            options_done = true;
            continue;
        }
        if (options_done || arg.size() <= 1 || arg[0] != '-') {
            if (auto refused = operand(arg)) return refused;
            continue;
        }
        const Option* matched = nullptr;
        std::optional<std::string> value;
        for (const Option& option : options) {
            if (arg == option.name) {
                matched = &option;
                if (option.takes_value) {
                    if (i + 1 >= args.size()) {
                        return std::string(option.name) + " needs " +
                               std::string(option.value_kind);
                    }
                    value = args[++i];
                }
                break;
            }
            if ((value = attached_value(arg, option.name))) {
                matched = &option;
                if (!option.takes_value && option.value_kind.empty()) {
                    return std::string(option.name) + " takes no value";
                }
                break;
            }
        }
        if (matched == nullptr) {
            return "unknown option '" + arg + "' for " + std::string(command);
        }
        if (auto refused = matched->take(value.value_or(std::string()))) return refused;
    }
    return std::nullopt;
}

Option flag(std::string_view name, bool& target) {
    return {name, false, {}, [&target](const std::string&) -> std::optional<std::string> {
                target = true;
                return std::nullopt;
            }};
}

Option file(std::string_view name, std::string& target) {
    return {name, true, "a file name",
            [name, &target](const std::string& value) -> std::optional<std::string> {
                if (value.empty()) return std::string(name) + " needs a file name";
                target = value;
                return std::nullopt;
            }};
}

std::string allowed_positions(const std::vector<std::string>& items) {
    std::string text = "0 to " + std::to_string(static_cast<int>(items.size()) - 1) + ", or";
    for (const std::string& item : items) text += " " + item;
    return text;
}

Option position(std::string_view name, int& target, const std::vector<std::string>& items) {
    return {name, true, "a value",
            [name, &target, &items](const std::string& value) -> std::optional<std::string> {
                const auto parsed = parse_position(value, items);
                if (!parsed) {
                    return "invalid value '" + value + "' for " + std::string(name) + " (" +
                           allowed_positions(items) + ")";
                }
                if (*parsed < 0 || *parsed >= static_cast<int>(items.size())) {
                    return std::string(name) + " " + value + " is out of range (" +
                           allowed_positions(items) + ")";
                }
                target = *parsed;
                return std::nullopt;
            }};
}

Option encoding(LyricEncoding& target) {
    return {"--encoding", true, "a value",
            [&target](const std::string& value) -> std::optional<std::string> {
                const auto parsed = parse_lyric_encoding(value);
                if (!parsed) return "invalid value '" + value + "' for --encoding (utf-8 or gbk)";
                target = *parsed;
                return std::nullopt;
            }};
}

OperandTaker lyric_file(LyricSource& source) {
    return [&source](const std::string& operand) -> std::optional<std::string> {
        if (source.file_given) return "more than one FILE: '" + operand + "'";
        source.file = operand;
        source.file_given = true;
        return std::nullopt;
    };
}

Option lyrics_hex(LyricSource& source) {
    return {"--lyrics-hex", true, "a value",
            [&source](const std::string& value) -> std::optional<std::string> {
                const auto bytes = history::parse_lyrics_hex(value);
                if (!bytes) {
                    return "invalid value for --lyrics-hex (hex digits, two per byte of "
                           "the lyrics)";
                }
                if (!source.text) source.text.emplace();
                *source.text += *bytes;
                return std::nullopt;
            }};
}

namespace {

/// Lyrics come from one place: a FILE, or --lyrics-hex.
std::optional<std::string> one_lyric_source(const LyricSource& source) {
    if (source.text && source.file_given) {
        return "--lyrics-hex and FILE '" + source.file + "' cannot be used together";
    }
    return std::nullopt;
}

}  // namespace

Parsed<AnalyzeSettings> parse_analyze(std::span<const std::string> args) {
    AnalyzeSettings a;
    const Option options[] = {
        encoding(a.source.encoding),
        flag("--tones", a.tones),
        lyrics_hex(a.source),
        flag("--json", a.json),
    };
    if (auto refused = walk_arguments(args, "analyze", options, lyric_file(a.source))) {
        return UsageError{*refused};
    }
    if (auto refused = one_lyric_source(a.source)) return UsageError{*refused};
    return a;
}

namespace {

/// Two outputs under one name would leave only the last one written, and an output
/// on the input would destroy it. Names are compared by the file they lead to.
/// @param outputs each output's option and file name ("" when not asked for)
/// @return the refusal, or nothing when every name is its own
std::optional<std::string> same_output(
    std::initializer_list<std::pair<const char*, std::string>> outputs) {
    for (auto one = outputs.begin(); one != outputs.end(); ++one) {
        for (auto other = one + 1; other != outputs.end(); ++other) {
            if (one->second.empty() || other->second.empty()) continue;
            if (quavella::files::same_file(one->second, other->second)) {
                return std::string(one->first) + " and " + other->first + " name the same file '" +
                       other->second + "'";
            }
        }
    }
    return std::nullopt;
}

/// Only the composition file goes to standard output: "-" names no export.
std::optional<std::string> export_to_stdout(
    std::initializer_list<std::pair<const char*, std::string>> exports) {
    for (const auto& [option, name] : exports) {
        if (name == "-") {
            return std::string(option) +
                   " - : only -o writes to standard output (name the file "
                   "./- for a file called -)";
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<int> accompaniment_program(const std::string& value) {
    int program = -1;
    const char* last = value.data() + value.size();
    const auto [end, ec] = std::from_chars(value.data(), last, program);
    if (!value.empty() && ec == std::errc() && end == last)
        return program >= 0 && program <= 127 ? std::optional<int>(program) : std::nullopt;
    const auto& items = timbre_items();
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i] == value) return program_number(static_cast<int>(i));
    return std::nullopt;
}

Parsed<ComposeSettings> parse_compose(std::span<const std::string> args) {
    ComposeSettings a;
    bool pattern_given = false;
    bool program_given = false;
    const Option options[] = {
        encoding(a.source.encoding),
        position("--speed", a.speed, speed_items()),
        position("--mode", a.mode, mode_items()),
        position("--timbre", a.timbre, timbre_items()),
        {"--seed", true, "a value",
         [&a](const std::string& value) -> std::optional<std::string> {
             a.seed = parse_seed(value);
             if (!a.seed) {
                 return "invalid value '" + value + "' for --seed (0 to 18446744073709551615)";
             }
             return std::nullopt;
         }},
        {"--state", true, "a value",
         [&a](const std::string& value) -> std::optional<std::string> {
             a.state = history::parse_state(value);
             if (!a.state) {
                 return "invalid value '" + value +
                        "' for --state (S:T, S from 0 to 18446744073709551615, T from 0 to "
                        "4294967295)";
             }
             return std::nullopt;
         }},
        file("-o", a.out_file),
        flag("--score", a.score),
        file("--musicxml", a.musicxml_file),
        file("--lyrics-midi", a.lyrics_midi_file),
        file("--karaoke", a.karaoke_file),
        file("--audio", a.audio_file),
        flag("--tones", a.tones),
        lyrics_hex(a.source),
        {"--best-of", true, "a value",
         [&a](const std::string& value) -> std::optional<std::string> {
             int count = 0;
             const char* last = value.data() + value.size();
             const auto [end, ec] = std::from_chars(value.data(), last, count);
             if (value.empty() || ec != std::errc() || end != last || count < 1 ||
                 count > kMaxBestOf) {
                 return "invalid count '" + value + "' for --best-of (1 to " +
                        std::to_string(kMaxBestOf) + ")";
             }
             a.best_of = count;
             return std::nullopt;
         }},
        flag("--by-sentence", a.by_sentence),
        flag("--json", a.json),
        flag("--record", a.record),
        {"--edits", true, "a list of edits",
         [&a](const std::string& value) -> std::optional<std::string> {
             edit::ParsedEdits parsed = edit::parse_edits(value);
             if (!parsed.error.empty()) return "--edits: " + parsed.error;
             // An empty list reads as "as composed" in the history; given here it is a slip.
             if (parsed.edits.empty()) return std::string("--edits: no edit given");
             // Given again, the lists are joined in order (a long list may be cut in parts).
             if (a.edits.size() + parsed.edits.size() > edit::kMaxEdits)
                 return "--edits: more than " + std::to_string(edit::kMaxEdits) + " edits in all";
             a.edits.insert(a.edits.end(), parsed.edits.begin(), parsed.edits.end());
             return std::nullopt;
         }},
        {"--fix-tones", false, "=suit",
         [&a](const std::string& value) -> std::optional<std::string> {
             if (value.empty()) {
                 a.fix_tones = edit::EditKind::fix_tones;
             } else if (value == "suit") {
                 a.fix_tones = edit::EditKind::suit_tones;
             } else {
                 return "invalid value '" + value + "' for --fix-tones (none, or =suit)";
             }
             return std::nullopt;
         }},
        {"--fix-rhythm",
         false,
         {},
         [&a](const std::string&) -> std::optional<std::string> {
             if (!a.fix_rhythm) a.rhythm_first = !a.fix_tones.has_value();
             a.fix_rhythm = true;
             return std::nullopt;
         }},
        flag("--chords", a.chords),
        file("--arrangement", a.arrangement_file),
        {"--pattern", true, "a value",
         [&a, &pattern_given](const std::string& value) -> std::optional<std::string> {
             const auto pattern = harmony::pattern_of(value);
             if (!pattern) return "invalid pattern '" + value + "' (block, broken or pad)";
             a.arrangement.pattern = *pattern;
             pattern_given = true;
             return std::nullopt;
         }},
        {"--accompaniment", true, "a value",
         [&a, &program_given](const std::string& value) -> std::optional<std::string> {
             const auto program = accompaniment_program(value);
             if (!program) {
                 std::string timbres;
                 for (const std::string& item : timbre_items()) timbres += " " + item;
                 return "invalid value '" + value +
                        "' for --accompaniment (a General MIDI program 0 to 127, or" + timbres +
                        ")";
             }
             a.arrangement.program = *program;
             program_given = true;
             return std::nullopt;
         }},
    };
    if (auto refused = walk_arguments(args, "compose", options, lyric_file(a.source))) {
        return UsageError{*refused};
    }
    if (auto refused = one_lyric_source(a.source)) return UsageError{*refused};
    if (auto refused = export_to_stdout({{"--musicxml", a.musicxml_file},
                                         {"--lyrics-midi", a.lyrics_midi_file},
                                         {"--karaoke", a.karaoke_file},
                                         {"--audio", a.audio_file},
                                         {"--arrangement", a.arrangement_file}})) {
        return UsageError{*refused};
    }
    if (auto refused =
            same_output({{"-o", a.out_file == "-" ? "" : a.out_file},
                         {"--musicxml", a.musicxml_file},
                         {"--lyrics-midi", a.lyrics_midi_file},
                         {"--karaoke", a.karaoke_file},
                         {"--audio", a.audio_file},
                         {"--arrangement", a.arrangement_file},
                         {"the lyric file", a.source.file == "-" ? "" : a.source.file}})) {
        return UsageError{*refused};
    }
    if (a.seed && a.state) return UsageError{"--seed and --state cannot be used together"};
    if (a.by_sentence && a.best_of < 2) return UsageError{"--by-sentence needs --best-of N"};
    if (a.json && a.score) return UsageError{"--json and --score cannot be used together"};
    if ((pattern_given || program_given) && a.arrangement_file.empty()) {
        return UsageError{std::string(pattern_given ? "--pattern" : "--accompaniment") +
                          " needs --arrangement FILE"};
    }
    return a;
}

Parsed<HistorySettings> parse_history(std::span<const std::string> args) {
    using Action = HistorySettings::Action;
    HistorySettings a;
    if (args.empty()) return UsageError{"history needs list, show or export"};
    const std::string& name = args[0];
    if (name == "list") {
        a.action = Action::list;
    } else if (name == "show") {
        a.action = Action::show;
    } else if (name == "export") {
        a.action = Action::export_file;
    } else {
        return UsageError{"unknown history command '" + name + "' (list, show or export)"};
    }
    const std::string command = "history " + name;

    std::vector<Option> options;
    if (a.action != Action::export_file) options.push_back(flag("--json", a.json));
    if (a.action == Action::list) {
        options.push_back(
            {"--limit", true, "a value",
             [&a](const std::string& value) -> std::optional<std::string> {
                 const char* last = value.data() + value.size();
                 const auto [end, ec] = std::from_chars(value.data(), last, a.limit);
                 if (value.empty() || ec != std::errc() || end != last || a.limit < 0) {
                     return "invalid value '" + value + "' for --limit (0 for all, or a count)";
                 }
                 return std::nullopt;
             }});
        options.push_back(flag("--all", a.all));
        options.push_back(
            {"--candidates", true, "an ID",
             [&a](const std::string& value) -> std::optional<std::string> {
                 const char* last = value.data() + value.size();
                 const auto [end, ec] = std::from_chars(value.data(), last, a.candidates_of);
                 if (value.empty() || ec != std::errc() || end != last || a.candidates_of <= 0) {
                     return "invalid ID '" + value +
                            "' for --candidates (the number history list shows)";
                 }
                 return std::nullopt;
             }});
    }
    if (a.action == Action::export_file) {
        options.push_back(file("-o", a.out_file));
        options.push_back(file("--musicxml", a.musicxml_file));
        options.push_back(file("--lyrics-midi", a.lyrics_midi_file));
        options.push_back(file("--karaoke", a.karaoke_file));
        options.push_back(file("--audio", a.audio_file));
    }

    bool id_given = false;
    const auto take_id = [&](const std::string& operand) -> std::optional<std::string> {
        if (a.action == Action::list) return "unexpected argument '" + operand + "' for " + command;
        if (id_given) return "more than one ID: '" + operand + "'";
        const char* last = operand.data() + operand.size();
        const auto [end, ec] = std::from_chars(operand.data(), last, a.id);
        if (operand.empty() || ec != std::errc() || end != last || a.id <= 0) {
            return "invalid ID '" + operand + "' (the number history list shows)";
        }
        id_given = true;
        return std::nullopt;
    };
    if (auto refused = walk_arguments(args.subspan(1), command, options, take_id)) {
        return UsageError{*refused};
    }
    if (a.action != Action::list && !id_given) return UsageError{command + " needs an ID"};
    if (a.all && a.candidates_of != 0) {
        return UsageError{"--all and --candidates cannot be given together"};
    }
    if (a.action == Action::export_file) {
        const std::string out =
            a.out_file.empty() ? "history-" + std::to_string(a.id) + ".mid" : a.out_file;
        if (auto refused = export_to_stdout({{"--musicxml", a.musicxml_file},
                                             {"--lyrics-midi", a.lyrics_midi_file},
                                             {"--karaoke", a.karaoke_file},
                                             {"--audio", a.audio_file}})) {
            return UsageError{*refused};
        }
        if (auto refused = same_output({{"-o", out},
                                        {"--musicxml", a.musicxml_file},
                                        {"--lyrics-midi", a.lyrics_midi_file},
                                        {"--karaoke", a.karaoke_file},
                                        {"--audio", a.audio_file}})) {
            return UsageError{*refused};
        }
    }
    return a;
}

std::optional<int> parse_position(const std::string& value, const std::vector<std::string>& items) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (value == items[i]) return static_cast<int>(i);
    }
    const char* first = value.data();
    const char* last = value.data() + value.size();
    if (first != last && *first == '+') ++first;
    long long number = 0;
    const auto [end, ec] = std::from_chars(first, last, number);
    if (first == last || end != last) {
        if (ec != std::errc::result_out_of_range || end != last) return std::nullopt;
        return -1;  // an integer too large for any list
    }
    if (ec == std::errc::result_out_of_range || number < INT_MIN || number > INT_MAX) return -1;
    return static_cast<int>(number);
}

std::optional<std::uint64_t> parse_seed(const std::string& value) {
    std::uint64_t seed = 0;
    const char* last = value.data() + value.size();
    const auto [end, ec] = std::from_chars(value.data(), last, seed);
    if (value.empty() || ec != std::errc() || end != last) return std::nullopt;
    return seed;
}

bool asks_for_help(std::span<const std::string> args) {
    for (const std::string& arg : args) {
        if (arg == "--") return false;
        if (arg == "--help" || arg == "-h") return true;
    }
    return false;
}

bool asks_for_version(std::span<const std::string> args) {
    for (const std::string& arg : args) {
        if (arg == "--") return false;
        if (arg == "--version") return true;
    }
    return false;
}

}  // namespace quavella::cli
