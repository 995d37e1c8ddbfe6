// Usage, lyric input, output and exports shared by the commands of quavella-cli.
#include "cli/cli_common.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/terminal_text.h"
#include "cli/json_out.h"
#include "composer/compose_request.h"
#include "export/arrangement.h"
#include "export/audio_render.h"
#include "export/karaoke.h"
#include "export/lyrics_midi.h"
#include "export/musicxml.h"
#include "lyrics/gbk_text.h"
#include "notation/score.h"

namespace quavella::cli {

const char* const kUsage =
    "Usage:\n"
    "  quavella-cli analyze [--encoding E] [--tones] [--json]\n"
    "                       [--lyrics-hex HEX | FILE]\n"
    "  quavella-cli compose [--speed P] [--mode P] [--timbre P] [--seed S]\n"
    "                       [--state S:T] [--encoding E] [-o OUT] [--score]\n"
    "                       [--musicxml FILE] [--lyrics-midi FILE] [--karaoke FILE]\n"
    "                       [--audio FILE] [--tones] [--best-of N] [--by-sentence]\n"
    "                       [--edits LIST] [--fix-tones[=suit]] [--fix-rhythm]\n"
    "                       [--json] [--record]\n"
    "                       [--chords] [--arrangement FILE] [--pattern NAME]\n"
    "                       [--accompaniment PROGRAM] [--lyrics-hex HEX | FILE]\n"
    "  quavella-cli history list [--limit N] [--all | --candidates ID] [--json]\n"
    "  quavella-cli history show [--json] ID\n"
    "  quavella-cli history export ID [-o FILE] [--musicxml FILE]\n"
    "                       [--lyrics-midi FILE] [--karaoke FILE] [--audio FILE]\n"
    "  quavella-cli --help | --version\n"
    "\n"
    "Lyrics are read from FILE, or from standard input when FILE is \"-\" or absent.\n"
    "The lines of the lyrics are joined with nothing between them.\n"
    "--lyrics-hex HEX gives them instead as hex digits, two per byte of the text\n"
    "(lines separated by 0a); several --lyrics-hex follow one another.\n"
    "\n"
    "Commands:\n"
    "  analyze   print the four-sentence phrase layout of the lyrics and its\n"
    "            measures:\n"
    "              layout: V V ... (0 = pause, -1 = end of sentence)\n"
    "              stc_cnt=4 pause_cnt=Z val_sum=S val_avg=A\n"
    "  compose   compose a melody from the lyrics and write it as a MIDI file\n"
    "  history   the compositions the window recorded, newest first:\n"
    "              list    one line each: ID, time, settings, notes, first words;\n"
    "                      a best-of press is one line, its chosen melody\n"
    "                      (\"best of N\")\n"
    "              show    one entry: lyrics, settings, generator state, the\n"
    "                      command line that makes it again, and its score (as\n"
    "                      --score prints it)\n"
    "              export  write the entry's composition file (default\n"
    "                      history-ID.mid), and with --musicxml, --lyrics-midi,\n"
    "                      --karaoke, --audio its score as compose writes them;\n"
    "                      prints file=OUT and the exports written\n"
    "\n"
    "Options:\n"
    "  --encoding E   encoding of the lyrics: utf-8 (default; characters GBK\n"
    "                 lacks are dropped) or gbk (bytes taken as they stand)\n"
    "  --tones        also print the Mandarin tone of every syllable, sentence\n"
    "                 by sentence (5 = neutral, 3>2 a tone changed by the next\n"
    "                 syllable); compose adds the grading of each pair of\n"
    "                 syllables and the tone score\n"
    "  --json         print one JSON object per result instead of the text lines\n"
    "                 (analyze, compose, history list and show; the fields are in\n"
    "                 the manual page)\n"
    "  -h, --help     show this text\n"
    "  --version      show the version (given alone)\n"
    "\n"
    "Options of compose (P is a list position from 0, or the item's own text):\n"
    "  --speed P      0 \"慢\", 1 \"中\", 2 \"快\" (default 0)\n"
    "  --mode P       0 \"七声调式\" (seven tones), 1 \"六声调式1\" (six, with B),\n"
    "                 2 \"六声调式2\" (six, with F), 3 \"五声调式\" (five tones)\n"
    "                 (default 0)\n"
    "  --timbre P     0 \"钢琴\" ... 9 \"短笛\" (default 0)\n"
    "  --seed S       seed of the random draws, 0 to 18446744073709551615\n"
    "                 (default: the clock)\n"
    "  --state S:T    instead of --seed: start both random generators from a\n"
    "                 state the history recorded (history show prints it)\n"
    "  -o OUT         the MIDI file to write (default temp.mid); - writes it to\n"
    "                 standard output, and what compose prints goes to standard\n"
    "                 error\n"
    "  --score        also print the melody in numbered notation, the syllables\n"
    "                 under the notes (the format is described in the README)\n"
    "  --musicxml FILE\n"
    "                 also write the score as MusicXML, the syllables as lyrics\n"
    "  --lyrics-midi FILE\n"
    "                 also write the melody as MIDI with a lyric event per\n"
    "                 syllable (a space after each Latin word, a line break after\n"
    "                 each sentence)\n"
    "  --karaoke FILE also write the melody as a Soft Karaoke file (.kar), its\n"
    "                 words track shown line by line by karaoke players\n"
    "  --audio FILE   also render the melody as audio; the extension names the\n"
    "                 format: .wav, .flac, .ogg or .oga (Ogg Vorbis), .aiff or .aif,\n"
    "                 .au, .caf, .w64, .rf64 (those this FluidSynth offers)\n"
    "  --best-of N    compose N melodies (1 to 1000), as N presses of the\n"
    "                 window's compose button would, and write the one with the\n"
    "                 highest tone score (the first of equals); each candidate\n"
    "                 is printed first, as\n"
    "                   candidate=K state=S:T tones=N% (G of P)\n"
    "                 S:T being the generators' state before it was composed\n"
    "                 (--state)\n"
    "  --by-sentence  with --best-of N: take each sentence from the candidate\n"
    "                 whose sentence suits the tones best; prints\n"
    "                   sentence=K candidate=C tones=G of P\n"
    "  --edits LIST   shape the melody: items separated by commas, notes and\n"
    "                 sentences counted from 1: N+ N- a scale step, N+h N-h a\n"
    "                 semitone, N+o N-o an octave, N:P MIDI note P, sK:S:T\n"
    "                 sentence K of the composition from state S:T, fix, suit\n"
    "                 and beat the repairs below, Nd+ Nd- note N one unit (half\n"
    "                 a beat from 28 notes, else a beat) longer or shorter, Nr+\n"
    "                 Nr- a unit of rest more or less after note N; given more\n"
    "                 than once, the lists are joined in order\n"
    "  --fix-tones    repair 倒字 with the fewest changed notes (in the scale,\n"
    "                 the range and the widest leap of the melody) so that no\n"
    "                 pair is contrary; =suit: so that every pair is good or\n"
    "                 fair; prints the notes changed and any pair the limits\n"
    "                 keep\n"
    "  --fix-rhythm   对齐节拍: lengthen or shorten notes by the fewest units (none\n"
    "                 below a unit, no pitch or rest changed) so that every line\n"
    "                 ends on a strong beat (beat 1 or 3) and lasts a beat at\n"
    "                 least; prints the notes changed (in ticks); before or after\n"
    "                 --fix-tones as given\n"
    "  --record       also record the composition in the history, as the window\n"
    "                 does; with --best-of N, all N, listed under the one\n"
    "                 written\n"
    "  --chords       choose chords under the melody (in the mode's scale, changing\n"
    "                 on beats 1 and 3 at most, the last on the final note) and\n"
    "                 print them after the summary line, one line each:\n"
    "                   tick=T chord=NAME root=R kind=K degree=D\n"
    "                 --musicxml then carries them as chord symbols\n"
    "  --arrangement FILE\n"
    "                 also write melody and accompaniment on those chords as MIDI,\n"
    "                 each on its own track and channel; --audio and --karaoke\n"
    "                 then carry the accompaniment too\n"
    "  --pattern NAME the accompaniment: block (chords on beats 1 and 3, the\n"
    "                 default), broken (a broken chord in eighths) or pad (bass\n"
    "                 and a held chord)\n"
    "  --accompaniment PROGRAM\n"
    "                 its instrument: a General MIDI program 0 to 127 or a\n"
    "                 timbre's text (default 0, the piano)\n"
    "  compose prints one line:\n"
    "    seed=S (or state=S:T) notes=N tempo=T mode=M program=P file=OUT\n"
    "  then, for what was written or asked:\n"
    "    musicxml=FILE lyrics-midi=FILE karaoke=FILE audio=FILE\n"
    "    arrangement=FILE\n"
    "    candidate=K state=S:T tones=N%   (--best-of: the candidate written)\n"
    "    tones=N% (G of P) beats=N% (A of L) edits=LIST\n"
    "                      (--edits, --fix-tones, --fix-rhythm, --by-sentence;\n"
    "                      beats: line ends on beat 1 or 3 and a beat long)\n"
    "    history=ID                       (--record)\n"
    "  M is the scale: 0 five tones, 1 six with F, 2 six with B, 3 seven tones.\n"
    "  --state S:T --edits LIST makes the same file again.\n"
    "\n"
    "Options of history list:\n"
    "  --limit N      list N entries (default 20; 0 lists all)\n"
    "  --all          each best-of press followed by its candidates passed over,\n"
    "                 indented\n"
    "  --candidates ID\n"
    "                 the candidates of the press whose chosen entry is ID\n"
    "  --json         one JSON object per entry, one per line\n"
    "The history is $XDG_DATA_HOME/quavella/history.sqlite3 (default\n"
    "~/.local/share).\n"
    "\n"
    "A refused command line prints one line naming what is wrong (the option\n"
    "and its value); settings outside their lists are refused with the allowed\n"
    "values, and nothing is written.\n"
    "\n"
    "Exit status: 0 success; 1 the input cannot be read, the lyrics are empty or\n"
    "too short, the output is not written, the history cannot be read or written\n"
    "or has no entry with that ID; 2 bad usage, a setting out of range or invalid\n"
    "UTF-8 input.\n";

bool write_bytes(const std::string& path, std::string_view bytes) {
    if (path == "-") {
        std::cout.flush();
        errno = 0;
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() ||
            std::fflush(stdout) != 0) {
            const int reason = errno;
            std::cerr << "quavella-cli: cannot write standard output: "
                      << (reason != 0 ? std::strerror(reason) : "unknown reason") << "\n";
            return false;
        }
        return true;
    }
    if (const auto failure = quavella::files::write_file(path, bytes)) {
        std::cerr << "quavella-cli: " << terminal_text(*failure) << "\n";
        return false;
    }
    return true;
}
int usage_error(const std::string& message) {
    std::cerr << "quavella-cli: " << terminal_text(message) << "; try --help\n";
    return status(Exit::bad_usage);
}

namespace {

/// Closes the input it holds on every way out, unless that is standard input.
struct CloseUnlessStdin {
    void operator()(std::FILE* file) const {
        if (file != stdin) std::fclose(file);
    }
};
using InputHandle = std::unique_ptr<std::FILE, CloseUnlessStdin>;

/// Reads the bytes of an open stream, at most `limit` + 1 of them (so that lyrics over
/// the limit are told without reading them all); false on a read error (errno tells why).
bool read_all(std::FILE* in, std::string& out, std::size_t limit) {
    char chunk[65536];
    std::size_t got;
    while (out.size() <= limit &&
           (got = std::fread(chunk, 1, std::min(sizeof chunk, limit + 1 - out.size()), in)) > 0) {
        out.append(chunk, got);
    }
    return std::ferror(in) == 0;
}

/// Prints why lyrics of `bytes` bytes are too long; true when they are.
bool too_long(std::size_t bytes) {
    const auto refusal = quavella::lyric_size_refusal(bytes);
    if (refusal) std::cerr << *refusal << "\n";
    return refusal.has_value();
}

}  // namespace

/// ": REASON" of a converter that could not be opened (too many open files), if known.
std::string converter_reason(const quavella::GbkConversion& text) {
    if (text.converter_errno == 0) return {};
    return std::string(": ") + std::strerror(text.converter_errno);
}

/// Reads the whole lyric input and turns it into joined GBK text. Prints the
/// reason on failure.
LyricText read_lyrics(const quavella::cli::LyricSource& src, std::vector<std::string>* given) {
    if (src.text) {
        if (too_long(src.text->size())) return Exit::refused_lyrics;
        // The lyric box's lines as recorded: only "\n" ends a line.
        std::vector<std::string_view> lines;
        const std::string_view all(*src.text);
        std::size_t start = 0;
        for (std::size_t end; (end = all.find('\n', start)) != std::string_view::npos;
             start = end + 1) {
            lines.push_back(all.substr(start, end - start));
        }
        lines.push_back(all.substr(start));
        if (given != nullptr) given->assign(lines.begin(), lines.end());
        quavella::GbkConversion text = quavella::lyric_text_from_lines(lines, src.encoding);
        if (!text.ok) {
            if (text.bad_offset == std::string_view::npos) {
                std::cerr << "quavella-cli: this system cannot convert UTF-8 to GBK"
                          << converter_reason(text) << "\n";
            } else {
                const auto line_start =
                    static_cast<std::size_t>(lines[text.bad_line].data() - all.data());
                std::cerr << "quavella-cli: invalid UTF-8 in --lyrics-hex at byte offset "
                          << line_start + text.bad_offset << "\n";
            }
            return Exit::invalid_text;
        }
        return text;
    }
    std::string raw;
    const bool from_stdin = src.file == "-";
    const std::string shown = from_stdin ? "standard input" : "'" + terminal_text(src.file) + "'";
    const InputHandle in(from_stdin ? stdin : std::fopen(src.file.c_str(), "rb"));
    if (in == nullptr || !read_all(in.get(), raw, quavella::kMaxLyricBytes)) {
        const int reason = errno;
        std::cerr << "quavella-cli: cannot read " << shown << ": " << std::strerror(reason) << "\n";
        return Exit::unreadable_input;
    }
    if (too_long(raw.size())) return Exit::refused_lyrics;
    if (given != nullptr) {
        const std::vector<std::string_view> lines = quavella::split_lyric_lines(raw);
        given->assign(lines.begin(), lines.end());
    }
    quavella::GbkConversion text = quavella::lyric_text_from_input(raw, src.encoding);
    if (!text.ok) {
        if (text.bad_offset == std::string_view::npos) {
            std::cerr << "quavella-cli: this system cannot convert UTF-8 to GBK"
                      << converter_reason(text) << "\n";
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

std::string grading_json(const ToneGrading& grading) {
    std::vector<std::string> pairs;
    for (const TonePair& p : grading.pairs) {
        pairs.push_back(JsonObject()
                            .number("first", static_cast<std::int64_t>(p.first) + 1)
                            .number("second", static_cast<std::int64_t>(p.second) + 1)
                            .number("interval", p.interval)
                            .text("grade", grade_name(p.grade))
                            .str());
    }
    return JsonObject()
        .number("percent", grading.percent())
        .number("agreeing", grading.agreeing())
        .number("graded", grading.graded())
        .raw("pairs", json_array(pairs))
        .str();
}

std::string beats_json(const edit::BeatCheck& beats) {
    std::vector<int> off;
    for (const int note : beats.off_notes()) off.push_back(note + 1);
    return JsonObject()
        .number("percent", beats.percent())
        .number("aligned", beats.aligned())
        .number("lines", beats.checked())
        .raw("off", json_numbers(off))
        .str();
}

std::ostream& report_stream(const std::string& out_file) {
    return out_file == "-" ? std::cerr : std::cout;
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
void StderrMessages::show(const std::string& text) {
    std::cerr << terminal_text(text, true) << "\n";
}

/// Writes the main file and the exports all or nothing (see cli_common.h).
bool write_outputs(quavella::files::StagedFile* main_file, const ExportFiles& files,
                   const std::optional<quavella::notation::Score>& score, std::string& written) {
    using quavella::files::StagedFile;
    using quavella::notation::Score;
    using Write = std::optional<std::string> (*)(const Score&, const ExportFiles&, StagedFile&);
    const struct {
        const char* label;
        const std::string& file;
        Write write;
    } exports[] = {
        {"musicxml", files.musicxml,
         [](const Score& sheet, const ExportFiles& asked, StagedFile& out) {
             std::vector<quavella::harmony::ChordChange> changes;
             if (asked.chords) changes = quavella::harmony::chord_changes(*asked.chords);
             return quavella::exports::write_musicxml(sheet, out, {}, changes);
         }},
        {"lyrics-midi", files.lyrics_midi,
         [](const Score& sheet, const ExportFiles&, StagedFile& out) {
             return quavella::exports::write_lyrics_midi(sheet, out);
         }},
        {"karaoke", files.karaoke,
         [](const Score& sheet, const ExportFiles& asked, StagedFile& out) {
             if (!asked.chords || asked.arrangement.empty())
                 return quavella::exports::write_karaoke(sheet, out);
             const quavella::exports::KaraokeAccompaniment accompaniment{
                 quavella::harmony::accompany(sheet.melody, *asked.chords,
                                              asked.arrangement_settings.pattern),
                 asked.arrangement_settings.program};
             return quavella::exports::write_karaoke(sheet, out, &accompaniment);
         }},
        {"audio", files.audio,
         [](const Score& sheet, const ExportFiles& asked, StagedFile& out) {
             quavella::exports::AudioSettings audio;
             if (asked.chords && !asked.arrangement.empty()) {
                 audio.accompaniment = quavella::harmony::accompany(
                     sheet.melody, *asked.chords, asked.arrangement_settings.pattern);
                 audio.accompaniment_program = asked.arrangement_settings.program;
             }
             return quavella::exports::render_audio(sheet, out, audio);
         }},
        {"arrangement", files.arrangement,
         [](const Score& sheet, const ExportFiles& asked, StagedFile& out) {
             const quavella::harmony::Harmony none;
             return quavella::exports::write_arrangement(sheet.melody,
                                                         asked.chords ? *asked.chords : none,
                                                         asked.arrangement_settings, out);
         }},
    };
    const auto told = [](const std::string& error) {
        std::cerr << "quavella-cli: " << terminal_text(error) << "\n";
    };
    bool complete = true;
    if (main_file != nullptr && main_file->error()) {
        told(*main_file->error());
        complete = false;
    }
    std::vector<StagedFile> staged;
    staged.reserve(std::size(exports));
    for (const auto& e : exports) {
        if (e.file.empty()) continue;
        written += std::string(" ") + e.label + "=" + e.file;
        StagedFile& out = staged.emplace_back(e.file);
        const std::optional<std::string> error =
            out.error() ? out.error() : e.write(*score, files, out);
        if (error) {
            told(*error);
            complete = false;
        }
    }
    if (!complete) {
        if (main_file != nullptr) main_file->discard();  // the exports' go with `staged`
        return false;
    }
    std::vector<StagedFile*> all;
    if (main_file != nullptr) all.push_back(main_file);
    for (StagedFile& out : staged) all.push_back(&out);
    if (const auto failure = quavella::files::commit_all(all)) {
        told(*failure);
        return false;
    }
    return true;
}

Harmonised harmonise(const ComposeSettings& settings, const quavella::Composition& composition) {
    Harmonised made;
    if (!settings.harmonised()) return made;
    made.chords = composition.chords;
    made.changes = quavella::harmony::chord_changes(*made.chords);
    return made;
}

ExportFiles compose_exports(const ComposeSettings& settings, const Harmonised& harmonised) {
    return ExportFiles{settings.musicxml_file,
                       settings.lyrics_midi_file,
                       settings.audio_file,
                       settings.karaoke_file,
                       harmonised.chords ? &*harmonised.chords : nullptr,
                       settings.arrangement_file,
                       settings.arrangement};
}

std::string chord_lines(const std::vector<quavella::harmony::ChordChange>& changes) {
    std::string text;
    for (const auto& c : changes) {
        text += "tick=" + std::to_string(c.tick) +
                " chord=" + quavella::harmony::chord_name(c.chord) +
                " root=" + quavella::harmony::root_name(c.chord.root) +
                " kind=" + quavella::harmony::kind_name(c.chord.kind) +
                " degree=" + std::to_string(quavella::harmony::degree_of(c.chord)) + "\n";
    }
    return text;
}

std::string chords_json(const std::vector<quavella::harmony::ChordChange>& changes) {
    std::vector<std::string> items;
    items.reserve(changes.size());
    for (const auto& c : changes) {
        items.push_back(JsonObject()
                            .number("tick", c.tick)
                            .text("root", quavella::harmony::root_name(c.chord.root))
                            .text("kind", quavella::harmony::kind_name(c.chord.kind))
                            .number("degree", quavella::harmony::degree_of(c.chord))
                            .str());
    }
    return json_array(items);
}

}  // namespace quavella::cli
