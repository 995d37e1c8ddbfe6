// quavella-cli: command-line front end over the core. Parses arguments, reads
// the lyric input, calls the core and prints; each command is one function in
// the dispatch table at the bottom.
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "composer/compose_request.h"
#include "composer/draws.h"
#include "composer/message_sink.h"
#include "composer/style_tables.h"
#include "lyrics/gbk_text.h"
#include "lyrics/paragraph.h"

namespace {

// Exit statuses: 0 success; 1 the input cannot be read, the lyrics are refused, or
// the output is not written; 2 usage error or invalid UTF-8 input.
constexpr int kExitOk = 0;
constexpr int kExitUnreadable = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage:\n"
    "  quavella-cli analyze [--encoding E] [FILE]\n"
    "  quavella-cli compose [--speed P] [--mode P] [--timbre P] [--seed S] [--encoding E] "
    "[-o OUT] [FILE]\n"
    "  quavella-cli --help\n"
    "\n"
    "Lyrics are read from FILE, or from standard input when FILE is \"-\" or absent.\n"
    "The lines of the lyrics are joined with nothing between them.\n"
    "\n"
    "Commands:\n"
    "  analyze   print the four-sentence phrase layout of the lyrics and its measures:\n"
    "              layout: V V ... (0 = pause, -1 = end of sentence)\n"
    "              stc_cnt=4 pause_cnt=Z val_sum=S val_avg=A\n"
    "  compose   compose a melody from the lyrics and write it as a MIDI file\n"
    "\n"
    "Options:\n"
    "  --encoding E   encoding of the lyrics: utf-8 (default; characters GBK lacks are\n"
    "                 dropped) or gbk (bytes taken as they stand)\n"
    "  -h, --help     show this text\n"
    "\n"
    "Options of compose (P is a list position from 0, or the item's own text):\n"
    "  --speed P      0 \"慢\", 1 \"中\", 2 \"快\" (default 0)\n"
    "  --mode P       0 \"七声调式\", 1 \"六声调式1\", 2 \"六声调式2\", 3 \"五声调式\" (default "
    "0)\n"
    "  --timbre P     0 \"钢琴\" ... 9 \"短笛\" (default 0)\n"
    "  --seed S       seed of the random draws, 0 to 18446744073709551615 (default: the clock)\n"
    "  -o OUT         the MIDI file to write (default temp.mid)\n"
    "  compose prints: seed=S notes=N tempo=T mode=M program=P file=OUT\n"
    "\n"
    "Exit status: 0 success; 1 the input cannot be read, the lyrics are empty or too\n"
    "short, or the output is not written; 2 bad usage or invalid UTF-8 input.\n";

int usage_error(const std::string& message) {
    std::cerr << "quavella-cli: " << message << "\n\n" << kUsage;
    return kExitUsage;
}

/// Where the lyrics come from and how they are encoded.
struct LyricSource {
    std::string file = "-";  // "-" is standard input
    quavella::LyricEncoding encoding = quavella::LyricEncoding::utf8;
    bool file_given = false;
};

/// Takes the value of an option written "--name VALUE" or "--name=VALUE".
/// Advances i past a separate value. Returns nothing if arg is not that option.
std::optional<std::string> option_value(const std::vector<std::string>& args, std::size_t& i,
                                        std::string_view name, bool& missing) {
    const std::string& arg = args[i];
    missing = false;
    if (arg == name) {
        if (i + 1 >= args.size()) {
            missing = true;
            return std::string();
        }
        return args[++i];
    }
    if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 &&
        arg[name.size()] == '=') {
        return arg.substr(name.size() + 1);
    }
    return std::nullopt;
}

/// Accepts FILE (or "-") as the lyric source; a second one is an error.
bool take_file(LyricSource& src, const std::string& arg, std::string& error) {
    if (src.file_given) {
        error = "more than one FILE: '" + arg + "'";
        return false;
    }
    src.file = arg;
    src.file_given = true;
    return true;
}

/// Parses "--encoding E". Returns true and sets handled if args[i] was it.
bool parse_encoding_option(const std::vector<std::string>& args, std::size_t& i, LyricSource& src,
                           bool& handled, std::string& error) {
    bool missing = false;
    const auto value = option_value(args, i, "--encoding", missing);
    handled = value.has_value();
    if (!handled) return true;
    if (missing) {
        error = "--encoding needs a value";
        return false;
    }
    const auto enc = quavella::parse_lyric_encoding(*value);
    if (!enc) {
        error = "unknown encoding '" + *value + "'";
        return false;
    }
    src.encoding = *enc;
    return true;
}

/// Reads all bytes of an open stream; false on a read error (errno tells why).
bool read_all(std::FILE* in, std::string& out) {
    char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) out.append(chunk, got);
    return std::ferror(in) == 0;
}

/// Reads the whole lyric input and turns it into joined GBK text. Prints the
/// reason and sets the exit status on failure.
std::optional<std::string> read_lyrics(const LyricSource& src, int& status) {
    std::string raw;
    const bool from_stdin = src.file == "-";
    const std::string shown = from_stdin ? "standard input" : "'" + src.file + "'";
    std::FILE* in = from_stdin ? stdin : std::fopen(src.file.c_str(), "rb");
    bool read_ok = in != nullptr && read_all(in, raw);
    const int read_errno = errno;
    if (in != nullptr && !from_stdin) std::fclose(in);
    if (!read_ok) {
        std::cerr << "quavella-cli: cannot read " << shown << ": " << std::strerror(read_errno)
                  << "\n";
        status = kExitUnreadable;
        return std::nullopt;
    }
    quavella::GbkConversion text = quavella::lyric_text_from_input(raw, src.encoding);
    if (!text.ok) {
        if (text.bad_offset == std::string_view::npos) {
            std::cerr << "quavella-cli: this system cannot convert UTF-8 to GBK\n";
        } else {
            std::cerr << "quavella-cli: invalid UTF-8 in " << shown << " at byte offset "
                      << text.bad_offset << " (use --encoding gbk for GBK input)\n";
        }
        status = kExitUsage;
        return std::nullopt;
    }
    return std::move(text.gbk);
}

/// Parses the options that one command adds to the common ones. Sets `handled`
/// when args[i] is one of them (advancing i past a value it takes) and returns
/// an error text for a bad value.
using CommandOptions = std::function<std::optional<std::string>(
    const std::vector<std::string>& args, std::size_t& i, bool& handled)>;

/// Walks a command's arguments: "--" ends the options, "--encoding E" and FILE
/// are common to every command, other options go to `extra`.
/// @return an error text for the usage message, or nothing.
std::optional<std::string> parse_arguments(const std::vector<std::string>& args,
                                           const std::string& command, LyricSource& src,
                                           const CommandOptions& extra) {
    std::string error;
    bool options_done = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!options_done && arg == "--") {
            options_done = true;
            continue;
        }
        if (!options_done && arg.size() > 1 && arg[0] == '-') {
            bool handled = false;
            if (!parse_encoding_option(args, i, src, handled, error)) return error;
            if (handled) continue;
            if (extra) {
                if (auto bad = extra(args, i, handled)) return bad;
                if (handled) continue;
            }
            return "unknown option '" + arg + "' for " + command;
        }
        if (!take_file(src, arg, error)) return error;
    }
    return std::nullopt;
}

/// analyze: prints the shaped layout and the measures of the lyrics.
int cmd_analyze(const std::vector<std::string>& args) {
    LyricSource src;
    if (const auto bad = parse_arguments(args, "analyze", src, nullptr)) return usage_error(*bad);

    int status = kExitOk;
    const auto text = read_lyrics(src, status);
    if (!text) return status;

    const quavella::Paragraph parag(*text);
    std::string line = "layout:";
    for (const auto v : parag.get_layout()) line += " " + std::to_string(v);
    std::cout << line << "\n"
              << "stc_cnt=" << parag.get_stc_cnt() << " pause_cnt=" << parag.get_pause_cnt()
              << " val_sum=" << parag.get_val_sum() << " val_avg=" << parag.get_val_avg() << "\n";
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "quavella-cli: cannot write the output\n";
        return kExitUnreadable;
    }
    return kExitOk;
}

/// The composer's messages go to standard error, one per line.
class StderrMessages final : public quavella::MessageSink {
public:
    void show(const std::string& text) override { std::cerr << text << "\n"; }
};

/// Parses a list position: an integer (any value; those outside the list map
/// like "any other") or the text of one of the list's items.
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

/// Parses a seed: a decimal integer from 0 to 2^64 - 1.
std::optional<std::uint64_t> parse_seed(const std::string& value) {
    std::uint64_t seed = 0;
    const char* last = value.data() + value.size();
    const auto [end, ec] = std::from_chars(value.data(), last, seed);
    if (value.empty() || ec != std::errc() || end != last) return std::nullopt;
    return seed;
}

/// compose: composes a melody from the lyrics and writes it as a MIDI file.
int cmd_compose(const std::vector<std::string>& args) {
    LyricSource src;
    int speed = 0, mode = 0, timbre = 0;
    std::optional<std::uint64_t> seed;
    std::string out_file = "temp.mid";
    const auto compose_options = [&](const std::vector<std::string>& argv, std::size_t& i,
                                     bool& handled) -> std::optional<std::string> {
        struct PositionOption {
            const char* name;
            int* target;
            const std::vector<std::string>& items;
        };
        const PositionOption positions[] = {{"--speed", &speed, quavella::speed_items()},
                                            {"--mode", &mode, quavella::mode_items()},
                                            {"--timbre", &timbre, quavella::timbre_items()}};
        bool missing = false;
        for (const PositionOption& option : positions) {
            const auto value = option_value(argv, i, option.name, missing);
            if (!value) continue;
            handled = true;
            if (missing) return std::string(option.name) + " needs a value";
            const auto position = parse_position(*value, option.items);
            if (!position) return "invalid value '" + *value + "' for " + option.name;
            *option.target = *position;
            return std::nullopt;
        }
        if (const auto value = option_value(argv, i, "--seed", missing)) {
            handled = true;
            if (missing) return std::string("--seed needs a value");
            seed = parse_seed(*value);
            if (!seed) return "invalid seed '" + *value + "' (0 to 18446744073709551615)";
            return std::nullopt;
        }
        if (const auto value = option_value(argv, i, "-o", missing)) {
            handled = true;
            if (missing || value->empty()) return std::string("-o needs a file name");
            out_file = *value;
        }
        return std::nullopt;
    };
    if (const auto bad = parse_arguments(args, "compose", src, compose_options)) {
        return usage_error(*bad);
    }

    int status = kExitOk;
    const auto text = read_lyrics(src, status);
    if (!text) return status;
    if (const auto refusal = quavella::lyric_refusal(*text)) {
        std::cerr << *refusal << "\n";
        return kExitUnreadable;
    }

    if (!seed) {
        seed =
            static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    }
    quavella::Generators draws(*seed);
    StderrMessages messages;
    const quavella::ComposeOutcome outcome =
        quavella::compose_lyrics(*text, speed, mode, timbre, draws, messages, out_file);
    if (!outcome.midi_error.empty()) {
        std::cerr << "quavella-cli: cannot write '" << out_file << "': " << outcome.midi_error
                  << "\n";
        return kExitUnreadable;
    }
    std::cout << "seed=" << *seed << " notes=" << outcome.notes << " tempo=" << outcome.tempo
              << " mode=" << outcome.mode << " program=" << outcome.program << " file=" << out_file
              << "\n";
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "quavella-cli: cannot write the output\n";
        return kExitUnreadable;
    }
    return kExitOk;
}

/// One subcommand: its name and the function that runs it on the arguments after the name.
struct Command {
    const char* name;
    int (*run)(const std::vector<std::string>& args);
};

constexpr Command kCommands[] = {
    {"analyze", cmd_analyze},
    {"compose", cmd_compose},
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const auto& arg : args) {
        if (arg == "--") break;
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return kExitOk;
        }
    }
    if (args.empty()) return usage_error("no command given");
    for (const Command& cmd : kCommands) {
        if (args[0] == cmd.name) return cmd.run({args.begin() + 1, args.end()});
    }
    return usage_error("unknown command '" + args[0] + "'");
}
