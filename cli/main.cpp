// quavella-cli: command-line front end over the core. Parses arguments, reads
// the lyric input, calls the core and prints; each command is one function in
// the dispatch table at the bottom.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lyrics/gbk_text.h"
#include "lyrics/paragraph.h"

namespace {

// Exit statuses: 0 success, 1 the input cannot be read (or the output not
// written), 2 usage error or invalid UTF-8 input.
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
    "Exit status: 0 success, 1 the input cannot be read or the output not written,\n"
    "2 bad usage or invalid UTF-8 input.\n";

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

/// analyze: prints the shaped layout and the measures of the lyrics.
int cmd_analyze(const std::vector<std::string>& args) {
    LyricSource src;
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
            if (!parse_encoding_option(args, i, src, handled, error)) return usage_error(error);
            if (!handled) return usage_error("unknown option '" + arg + "' for analyze");
            continue;
        }
        if (!take_file(src, arg, error)) return usage_error(error);
    }

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

/// One subcommand: its name and the function that runs it on the arguments after the name.
struct Command {
    const char* name;
    int (*run)(const std::vector<std::string>& args);
};

constexpr Command kCommands[] = {
    {"analyze", cmd_analyze},
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
