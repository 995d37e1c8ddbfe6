// The argument walk, the option kinds and the commands' option tables.
#include "cli/args.h"

#include <charconv>
#include <climits>

#include "composer/style_tables.h"

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
                if (!option.takes_value) return std::string(option.name) + " takes no value";
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

Option position(std::string_view name, int& target, const std::vector<std::string>& items) {
    return {name, true, "a value",
            [name, &target, &items](const std::string& value) -> std::optional<std::string> {
                const auto parsed = parse_position(value, items);
                if (!parsed) return "invalid value '" + value + "' for " + std::string(name);
                target = *parsed;
                return std::nullopt;
            }};
}

Option encoding(LyricEncoding& target) {
    return {"--encoding", true, "a value",
            [&target](const std::string& value) -> std::optional<std::string> {
                const auto parsed = parse_lyric_encoding(value);
                if (!parsed) return "unknown encoding '" + value + "'";
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

Parsed<AnalyzeSettings> parse_analyze(std::span<const std::string> args) {
    AnalyzeSettings a;
    const Option options[] = {
        encoding(a.source.encoding),
    };
    if (auto refused = walk_arguments(args, "analyze", options, lyric_file(a.source))) {
        return UsageError{*refused};
    }
    return a;
}

Parsed<ComposeSettings> parse_compose(std::span<const std::string> args) {
    ComposeSettings a;
    const Option options[] = {
        encoding(a.source.encoding),
        position("--speed", a.speed, speed_items()),
        position("--mode", a.mode, mode_items()),
        position("--timbre", a.timbre, timbre_items()),
        {"--seed", true, "a value",
         [&a](const std::string& value) -> std::optional<std::string> {
             a.seed = parse_seed(value);
             if (!a.seed) return "invalid seed '" + value + "' (0 to 18446744073709551615)";
             return std::nullopt;
         }},
        file("-o", a.out_file),
        flag("--score", a.score),
    };
    if (auto refused = walk_arguments(args, "compose", options, lyric_file(a.source))) {
        return UsageError{*refused};
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

}  // namespace quavella::cli
