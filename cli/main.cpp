// quavella-cli: command-line front end over the core. Reads the lyric input,
// calls the core and prints; the arguments are parsed by cli/args, and each
// command is one function in the dispatch table at the bottom.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/args.h"
#include "composer/compose_request.h"
#include "composer/draws.h"
#include "composer/message_sink.h"
#include "lyrics/gbk_text.h"
#include "lyrics/paragraph.h"
#include "notation/score.h"

namespace {

using quavella::cli::Exit;
using quavella::cli::status;

constexpr const char* kUsage =
    "Usage:\n"
    "  quavella-cli analyze [--encoding E] [FILE]\n"
    "  quavella-cli compose [--speed P] [--mode P] [--timbre P] [--seed S] [--encoding E] "
    "[-o OUT] [--score] [FILE]\n"
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
    "  --score        also print the melody in numbered notation, the syllables under\n"
    "                 the notes (the format is described in the README)\n"
    "  compose prints: seed=S notes=N tempo=T mode=M program=P file=OUT\n"
    "\n"
    "Exit status: 0 success; 1 the input cannot be read, the lyrics are empty or too\n"
    "short, or the output is not written; 2 bad usage or invalid UTF-8 input.\n";

int usage_error(const std::string& message) {
    std::cerr << "quavella-cli: " << message << "\n\n" << kUsage;
    return status(Exit::bad_usage);
}

/// Closes the input it holds on every way out, unless that is standard input.
struct CloseUnlessStdin {
    void operator()(std::FILE* file) const {
        if (file != stdin) std::fclose(file);
    }
};
using InputHandle = std::unique_ptr<std::FILE, CloseUnlessStdin>;

/// Reads all bytes of an open stream; false on a read error (errno tells why).
bool read_all(std::FILE* in, std::string& out) {
    char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) out.append(chunk, got);
    return std::ferror(in) == 0;
}

/// A lyric text ready for the composer, or the exit status of its failure.
using LyricText = std::variant<std::string, Exit>;

/// Reads the whole lyric input and turns it into joined GBK text. Prints the
/// reason on failure.
LyricText read_lyrics(const quavella::cli::LyricSource& src) {
    std::string raw;
    const bool from_stdin = src.file == "-";
    const std::string shown = from_stdin ? "standard input" : "'" + src.file + "'";
    const InputHandle in(from_stdin ? stdin : std::fopen(src.file.c_str(), "rb"));
    if (in == nullptr || !read_all(in.get(), raw)) {
        const int reason = errno;
        std::cerr << "quavella-cli: cannot read " << shown << ": " << std::strerror(reason) << "\n";
        return Exit::unreadable_input;
    }
    quavella::GbkConversion text = quavella::lyric_text_from_input(raw, src.encoding);
    if (!text.ok) {
        if (text.bad_offset == std::string_view::npos) {
            std::cerr << "quavella-cli: this system cannot convert UTF-8 to GBK\n";
        } else {
            std::cerr << "quavella-cli: invalid UTF-8 in " << shown << " at byte offset "
                      << text.bad_offset << " (use --encoding gbk for GBK input)\n";
        }
        return Exit::invalid_text;
    }
    return std::move(text.gbk);
}

/// Flushes standard output; a failure to write it fails the command.
Exit flush_output() {
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "quavella-cli: cannot write the output\n";
        return Exit::output_not_written;
    }
    return Exit::ok;
}

/// analyze: prints the shaped layout and the measures of the lyrics.
int cmd_analyze(std::span<const std::string> args) {
    const auto parsed = quavella::cli::parse_analyze(args);
    if (const auto* refused = std::get_if<quavella::cli::UsageError>(&parsed)) {
        return usage_error(refused->message);
    }
    const auto& settings = std::get<quavella::cli::AnalyzeSettings>(parsed);

    const LyricText text = read_lyrics(settings.source);
    if (const Exit* failed = std::get_if<Exit>(&text)) return status(*failed);

    const quavella::Paragraph parag(std::get<std::string>(text));
    std::string line = "layout:";
    for (const auto v : parag.get_layout()) line += " " + std::to_string(v);
    std::cout << line << "\n"
              << "stc_cnt=" << parag.get_stc_cnt() << " pause_cnt=" << parag.get_pause_cnt()
              << " val_sum=" << parag.get_val_sum() << " val_avg=" << parag.get_val_avg() << "\n";
    return status(flush_output());
}

/// Columns of the terminal standard output goes to; 80 when it is not a terminal,
/// so piped or redirected output is the same everywhere.
int terminal_width() {
    winsize size{};
    if (::isatty(STDOUT_FILENO) == 1 && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 &&
        size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

/// The composer's messages go to standard error, one per line.
class StderrMessages final : public quavella::MessageSink {
public:
    void show(const std::string& text) override { std::cerr << text << "\n"; }
};

/// compose: composes a melody from the lyrics and writes it as a MIDI file.
int cmd_compose(std::span<const std::string> args) {
    const auto parsed = quavella::cli::parse_compose(args);
    if (const auto* refused = std::get_if<quavella::cli::UsageError>(&parsed)) {
        return usage_error(refused->message);
    }
    const auto& settings = std::get<quavella::cli::ComposeSettings>(parsed);

    const LyricText read = read_lyrics(settings.source);
    if (const Exit* failed = std::get_if<Exit>(&read)) return status(*failed);
    const std::string& text = std::get<std::string>(read);
    if (const auto refusal = quavella::lyric_refusal(text)) {
        std::cerr << *refusal << "\n";
        return status(Exit::refused_lyrics);
    }

    const std::uint64_t seed = settings.seed.value_or(quavella::clock_seed());
    quavella::Generators draws(seed);
    StderrMessages messages;
    const quavella::ComposeOutcome outcome = quavella::compose_lyrics(
        text, settings.speed, settings.mode, settings.timbre, draws, messages, settings.out_file);
    if (!outcome.midi_error.empty()) {
        std::cerr << "quavella-cli: cannot write '" << settings.out_file
                  << "': " << outcome.midi_error << "\n";
        return status(Exit::output_not_written);
    }
    std::cout << "seed=" << seed << " notes=" << outcome.notes << " tempo=" << outcome.tempo
              << " mode=" << outcome.mode << " program=" << outcome.program
              << " file=" << settings.out_file << "\n";
    if (settings.score) {
        const auto score =
            quavella::notation::build_score(quavella::notation::melody_from(text, outcome));
        std::cout << quavella::notation::score_text(score, terminal_width());
    }
    return status(flush_output());
}

/// One subcommand: its name and the function that runs it on the arguments after the name.
struct Command {
    const char* name;
    int (*run)(std::span<const std::string> args);
};

constexpr Command kCommands[] = {
    {"analyze", cmd_analyze},
    {"compose", cmd_compose},
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (quavella::cli::asks_for_help(args)) {
        std::cout << kUsage;
        return status(Exit::ok);
    }
    if (args.empty()) return usage_error("no command given");
    for (const Command& cmd : kCommands) {
        if (args[0] == cmd.name) return cmd.run(std::span<const std::string>(args).subspan(1));
    }
    return usage_error("unknown command '" + args[0] + "'");
}
