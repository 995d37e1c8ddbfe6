// quavella-cli: command-line front end over the core. Reads the lyric input,
// calls the core and prints; the arguments are parsed by cli/args, and each
// command is one function in the dispatch table at the bottom.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
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
#include "export/audio_render.h"
#include "export/lyrics_midi.h"
#include "export/musicxml.h"
#include "history/record.h"
#include "history/store.h"
#include "lyrics/gbk_text.h"
#include "lyrics/paragraph.h"
#include "lyrics/syllables.h"
#include "notation/score.h"
#include "tones/best_of.h"
#include "tones/tone_grading.h"
#include "tones/tone_report.h"

namespace {

using quavella::cli::Exit;
using quavella::cli::status;

constexpr const char* kUsage =
    "Usage:\n"
    "  quavella-cli analyze [--encoding E] [--tones] [FILE]\n"
    "  quavella-cli compose [--speed P] [--mode P] [--timbre P] [--seed S] [--encoding E] "
    "[-o OUT] [--score] [--state S:T]\n"
    "                       [--musicxml FILE] [--lyrics-midi FILE] [--audio FILE]\n"
    "                       [--tones] [--best-of N] [FILE]\n"
    "  quavella-cli history list [--limit N]\n"
    "  quavella-cli history show ID\n"
    "  quavella-cli history export ID [-o FILE] [--musicxml FILE] [--lyrics-midi FILE]\n"
    "                       [--audio FILE]\n"
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
    "  history   the compositions the window recorded, newest first:\n"
    "              list     one line each: ID, time, settings, notes, first words\n"
    "              show     one entry: lyrics, settings, generator state, the command\n"
    "                       line that makes it again, and its score (as --score prints it)\n"
    "              export   write the entry's composition file (default history-ID.mid),\n"
    "                       and with --musicxml, --lyrics-midi, --audio its score as\n"
    "                       compose writes them; prints file=OUT and the exports written\n"
    "\n"
    "Options:\n"
    "  --encoding E   encoding of the lyrics: utf-8 (default; characters GBK lacks are\n"
    "                 dropped) or gbk (bytes taken as they stand)\n"
    "  --tones        also print the Mandarin tone of every syllable, sentence by sentence\n"
    "                 (5 = neutral, 3>2 a tone changed by the next syllable); compose adds\n"
    "                 the grading of each pair of syllables and the tone score\n"
    "  -h, --help     show this text\n"
    "\n"
    "Options of compose (P is a list position from 0, or the item's own text):\n"
    "  --speed P      0 \"慢\", 1 \"中\", 2 \"快\" (default 0)\n"
    "  --mode P       0 \"七声调式\", 1 \"六声调式1\", 2 \"六声调式2\", 3 \"五声调式\" (default "
    "0)\n"
    "  --timbre P     0 \"钢琴\" ... 9 \"短笛\" (default 0)\n"
    "  --seed S       seed of the random draws, 0 to 18446744073709551615 (default: the clock)\n"
    "  --state S:T    instead of --seed: start both random generators from a state the\n"
    "                 history recorded (history show prints it)\n"
    "  -o OUT         the MIDI file to write (default temp.mid)\n"
    "  --score        also print the melody in numbered notation, the syllables under\n"
    "                 the notes (the format is described in the README)\n"
    "  --musicxml FILE  also write the score as MusicXML, the syllables as lyrics\n"
    "  --lyrics-midi FILE  also write the melody as MIDI with a lyric event per syllable\n"
    "  --audio FILE   also render the melody as audio; the extension names the format\n"
    "                 (.wav, .flac, .ogg, ...)\n"
    "  --best-of N    compose N melodies (1 to 1000), as N presses of the window's compose\n"
    "                 button would, and write the one with the highest tone score (the\n"
    "                 first of equals); each candidate is printed first, as\n"
    "                   candidate=K state=S:T tones=N% (G of P)\n"
    "                 S:T being the generators' state before it was composed (--state)\n"
    "  compose prints: seed=S (or state=S:T) notes=N tempo=T mode=M program=P file=OUT, then\n"
    "                  musicxml=FILE lyrics-midi=FILE audio=FILE for the exports written,\n"
    "                  and with --best-of candidate=K state=S:T tones=N% for the one written\n"
    "\n"
    "Options of history list:\n"
    "  --limit N      list N entries (default 20; 0 lists all)\n"
    "The history is $XDG_DATA_HOME/quavella/history.sqlite3 (default ~/.local/share).\n"
    "\n"
    "Exit status: 0 success; 1 the input cannot be read, the lyrics are empty or too\n"
    "short, the output is not written, the history cannot be read or has no such\n"
    "entry; 2 bad usage or invalid UTF-8 input.\n";

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

/// A converted lyric text, or the exit status of its failure.
using LyricText = std::variant<quavella::GbkConversion, Exit>;

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
    return text;
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

    const LyricText read = read_lyrics(settings.source);
    if (const Exit* failed = std::get_if<Exit>(&read)) return status(*failed);
    const quavella::GbkConversion& text = std::get<quavella::GbkConversion>(read);
    // Analysis applies no refusal, but left-out characters are named all the same.
    if (!text.dropped.empty()) {
        const quavella::LyricCheck check = quavella::check_lyrics(text);
        std::cerr << (check.notice ? *check.notice : *check.refusal) << "\n";
    }

    const std::string& gbk = text.gbk;
    const quavella::Paragraph parag(gbk);
    std::string line = "layout:";
    for (const auto v : parag.get_layout()) line += " " + std::to_string(v);
    std::cout << line << "\n"
              << "stc_cnt=" << parag.get_stc_cnt() << " pause_cnt=" << parag.get_pause_cnt()
              << " val_sum=" << parag.get_val_sum() << " val_avg=" << parag.get_val_avg() << "\n";
    if (settings.tones) {
        std::cout << quavella::tone_lines(quavella::ToneCheck(quavella::syllable_texts(gbk)));
    }
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

/// The export files asked for ("" for none).
struct ExportFiles {
    const std::string& musicxml;
    const std::string& lyrics_midi;
    const std::string& audio;
    bool any() const { return !musicxml.empty() || !lyrics_midi.empty() || !audio.empty(); }
};

/// Writes the exports asked for, all from the same score. Every one is tried; a
/// failure is named on standard error.
/// @param score the score; needed only when files.any()
/// @param written gets " label=FILE" for each export asked for
/// @return true when every export was written
bool write_exports(const ExportFiles& files, const std::optional<quavella::notation::Score>& score,
                   std::string& written) {
    const struct {
        const char* label;
        const std::string& file;
        std::optional<std::string> (*write)(const quavella::notation::Score&,
                                            const std::filesystem::path&);
    } exports[] = {
        {"musicxml", files.musicxml, quavella::exports::write_musicxml},
        {"lyrics-midi", files.lyrics_midi, quavella::exports::write_lyrics_midi},
        {"audio", files.audio,
         [](const quavella::notation::Score& sheet, const std::filesystem::path& file) {
             return quavella::exports::render_audio(sheet, file);
         }},
    };
    bool exported = true;
    for (const auto& e : exports) {
        if (e.file.empty()) continue;
        if (const auto error = e.write(*score, e.file)) {
            std::cerr << "quavella-cli: " << *error << "\n";
            exported = false;
        }
        written += std::string(" ") + e.label + "=" + e.file;
    }
    return exported;
}

/// compose: composes a melody from the lyrics and writes it as a MIDI file.
int cmd_compose(std::span<const std::string> args) {
    const auto parsed = quavella::cli::parse_compose(args);
    if (const auto* refused = std::get_if<quavella::cli::UsageError>(&parsed)) {
        return usage_error(refused->message);
    }
    const auto& settings = std::get<quavella::cli::ComposeSettings>(parsed);

    const LyricText read = read_lyrics(settings.source);
    if (const Exit* failed = std::get_if<Exit>(&read)) return status(*failed);
    const std::string& text = std::get<quavella::GbkConversion>(read).gbk;
    const quavella::LyricCheck lyric_check =
        quavella::check_lyrics(std::get<quavella::GbkConversion>(read));
    if (lyric_check.notice) std::cerr << *lyric_check.notice << "\n";
    if (lyric_check.refusal) {
        std::cerr << *lyric_check.refusal << "\n";
        return status(Exit::refused_lyrics);
    }

    const std::uint64_t seed = settings.seed.value_or(quavella::clock_seed());
    quavella::Generators draws(seed);
    if (settings.state) draws.restore(*settings.state);
    StderrMessages messages;
    std::optional<quavella::ToneCheck> check;
    if (settings.tones || settings.best_of > 1) check.emplace(quavella::syllable_texts(text));

    // A single composition is written as it is composed; best of N writes its choice.
    quavella::ComposeOutcome outcome;
    std::optional<quavella::BestOf> best;
    if (settings.best_of > 1) {
        best =
            quavella::compose_best_of(text, *check, settings.best_of, settings.speed, settings.mode,
                                      settings.timbre, draws, messages, settings.out_file);
        outcome = best->candidates[best->best].outcome;
    } else {
        outcome = quavella::compose_lyrics(text, settings.speed, settings.mode, settings.timbre,
                                           draws, messages, settings.out_file);
    }
    if (!outcome.midi_error.empty()) {
        std::cerr << "quavella-cli: cannot write '" << settings.out_file
                  << "': " << outcome.midi_error << "\n";
        return status(Exit::output_not_written);
    }

    const ExportFiles files{settings.musicxml_file, settings.lyrics_midi_file, settings.audio_file};
    std::optional<quavella::notation::Score> score;
    if (files.any() || settings.score) {
        score = quavella::notation::build_score(quavella::notation::melody_from(text, outcome));
    }
    std::string written;
    const bool exported = write_exports(files, score, written);
    if (!exported) return status(Exit::output_not_written);

    if (best) {
        for (std::size_t k = 0; k < best->candidates.size(); ++k) {
            const quavella::BestOfCandidate& candidate = best->candidates[k];
            std::cout << "candidate=" << k + 1
                      << " state=" << quavella::history::state_text(candidate.state)
                      << " tones=" << candidate.grading.percent() << "% ("
                      << candidate.grading.agreeing() << " of " << candidate.grading.graded()
                      << ")\n";
        }
    }
    if (settings.state) {
        std::cout << "state=" << quavella::history::state_text(*settings.state);
    } else {
        std::cout << "seed=" << seed;
    }
    std::cout << " notes=" << outcome.notes << " tempo=" << outcome.tempo
              << " mode=" << outcome.mode << " program=" << outcome.program
              << " file=" << settings.out_file << written;
    if (best) {
        const quavella::BestOfCandidate& chosen = best->candidates[best->best];
        std::cout << " candidate=" << best->best + 1
                  << " state=" << quavella::history::state_text(chosen.state)
                  << " tones=" << chosen.grading.percent() << "%";
    }
    std::cout << "\n";
    if (settings.score) std::cout << quavella::notation::score_text(*score, terminal_width());
    if (settings.tones) {
        std::cout << quavella::grading_lines(
            *check, best ? best->candidates[best->best].grading : check->grade(outcome.nt_seq));
    }
    return status(flush_output());
}

/// The lyrics' first characters on one line: line breaks shown as " / ".
std::string one_line(const std::string& lyrics) {
    std::string line;
    for (const char c : lyrics) {
        if (c == '\n') {
            line += " / ";
        } else {
            line += c;
        }
    }
    return line;
}

/// The three settings as their items' texts, or positions where a text is missing.
std::string settings_text(int speed_pos, const std::string& speed_item, int mode_pos,
                          const std::string& mode_item, int timbre_pos,
                          const std::string& timbre_item) {
    const auto shown = [](int pos, const std::string& item) {
        return item.empty() ? "#" + std::to_string(pos) : item;
    };
    return shown(speed_pos, speed_item) + " " + shown(mode_pos, mode_item) + " " +
           shown(timbre_pos, timbre_item);
}

/// Prints the history's notice or error on standard error; true when the call succeeded.
bool history_ok(const quavella::history::Store& store, quavella::history::Status st) {
    if (!store.notice().empty()) std::cerr << "quavella-cli: " << store.notice() << "\n";
    if (st == quavella::history::Status::ok || st == quavella::history::Status::recovered) {
        return true;
    }
    std::cerr << "quavella-cli: " << store.last_error() << "\n";
    return false;
}

int history_list(quavella::history::Store& store, int limit) {
    std::vector<quavella::history::Summary> page;
    if (!history_ok(store, store.list(page, limit))) return status(Exit::history_failed);
    for (const auto& s : page) {
        std::cout << s.id << "  " << quavella::history::local_time_text(s.time_ms) << "  "
                  << settings_text(s.speed_pos, s.speed_item, s.mode_pos, s.mode_item, s.timbre_pos,
                                   s.timbre_item)
                  << "  " << s.note_count << " notes  ";
        if (s.tone_score) std::cout << "tones " << quavella::score_percent(*s.tone_score) << "%  ";
        std::cout << one_line(s.lyrics_start) << "\n";
    }
    return status(flush_output());
}

/// Reads one entry; prints why when it cannot.
std::optional<quavella::history::Entry> history_entry(quavella::history::Store& store,
                                                      std::int64_t id, Exit& failure) {
    quavella::history::Entry entry;
    const auto st = store.get(id, entry);
    if (st == quavella::history::Status::not_found) {
        if (!store.notice().empty()) std::cerr << "quavella-cli: " << store.notice() << "\n";
        std::cerr << "quavella-cli: " << store.last_error() << "\n";
        failure = Exit::no_such_entry;
        return std::nullopt;
    }
    if (!history_ok(store, st)) {
        failure = Exit::history_failed;
        return std::nullopt;
    }
    return entry;
}

int history_show(quavella::history::Store& store, std::int64_t id) {
    Exit failure = Exit::ok;
    const auto entry = history_entry(store, id, failure);
    if (!entry) return status(failure);
    const quavella::history::Record& r = entry->record;
    std::cout << "entry " << entry->id << "  " << quavella::history::local_time_text(r.time_ms)
              << "\n"
              << "settings: "
              << settings_text(r.speed_pos, r.speed_item, r.mode_pos, r.mode_item, r.timbre_pos,
                               r.timbre_item)
              << " (--speed " << r.speed_pos << " --mode " << r.mode_pos << " --timbre "
              << r.timbre_pos << ")\n"
              << "tempo=" << r.tempo << " mode=" << r.mode << " program=" << r.program
              << " notes=" << r.notes.size() << "\n"
              << "state=" << quavella::history::state_text(r.state) << "\n";
    if (r.tone_score) {
        std::cout << "tone score: " << quavella::score_percent(*r.tone_score) << "%\n";
    }
    std::cout << "lyrics:\n";
    std::size_t start = 0;
    while (start <= r.lyrics.size()) {
        const std::size_t end = std::min(r.lyrics.find('\n', start), r.lyrics.size());
        std::cout << "  " << r.lyrics.substr(start, end - start) << "\n";
        start = end + 1;
    }
    std::cout << "make it again:\n  " << quavella::history::reproduce_command(r) << "\n";
    const auto score = quavella::notation::build_score(quavella::history::melody_of(r));
    std::cout << quavella::notation::score_text(score, terminal_width());
    return status(flush_output());
}

int history_export(quavella::history::Store& store,
                   const quavella::cli::HistorySettings& settings) {
    Exit failure = Exit::ok;
    const auto entry = history_entry(store, settings.id, failure);
    if (!entry) return status(failure);
    const std::string out_file = settings.out_file.empty()
                                     ? "history-" + std::to_string(settings.id) + ".mid"
                                     : settings.out_file;
    std::ofstream out(out_file, std::ios::binary | std::ios::trunc);
    out.write(entry->record.midi.data(), static_cast<std::streamsize>(entry->record.midi.size()));
    out.close();
    if (!out) {
        std::cerr << "quavella-cli: cannot write '" << out_file << "': " << std::strerror(errno)
                  << "\n";
        return status(Exit::output_not_written);
    }
    const ExportFiles files{settings.musicxml_file, settings.lyrics_midi_file, settings.audio_file};
    std::optional<quavella::notation::Score> score;
    if (files.any()) {
        score = quavella::notation::build_score(quavella::history::melody_of(entry->record));
    }
    std::string written;
    if (!write_exports(files, score, written)) return status(Exit::output_not_written);
    std::cout << "file=" << out_file << written << "\n";
    return status(flush_output());
}

/// history: lists, shows and exports the compositions the window recorded.
int cmd_history(std::span<const std::string> args) {
    const auto parsed = quavella::cli::parse_history(args);
    if (const auto* refused = std::get_if<quavella::cli::UsageError>(&parsed)) {
        return usage_error(refused->message);
    }
    const auto& settings = std::get<quavella::cli::HistorySettings>(parsed);
    const auto path = quavella::history::default_path(
        [](const char* name) -> const char* { return std::getenv(name); });
    if (!path) {
        std::cerr << "quavella-cli: no place for the history: neither XDG_DATA_HOME nor HOME is "
                     "set\n";
        return status(Exit::history_failed);
    }
    quavella::history::Store store(*path);
    using Action = quavella::cli::HistorySettings::Action;
    switch (settings.action) {
        case Action::list:
            return history_list(store, settings.limit);
        case Action::show:
            return history_show(store, settings.id);
        case Action::export_file:
            return history_export(store, settings);
    }
    return status(Exit::bad_usage);
}

/// One subcommand: its name and the function that runs it on the arguments after the name.
struct Command {
    const char* name;
    int (*run)(std::span<const std::string> args);
};

constexpr Command kCommands[] = {
    {"analyze", cmd_analyze},
    {"compose", cmd_compose},
    {"history", cmd_history},
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
