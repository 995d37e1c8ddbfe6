// quavella-cli history: the recorded compositions, listed, shown and exported.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "base/terminal_text.h"
#include "cli/cli_common.h"
#include "cli/json_out.h"
#include "history/record.h"
#include "history/store.h"
#include "midi/smf_check.h"
#include "notation/score.h"
#include "tones/tone_grading.h"

namespace quavella::cli {

namespace {

/// The most tracks a melody may have, as for the window's player.
constexpr int kMaxTracks = 128;

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
    if (!store.notice().empty()) {
        std::cerr << "quavella-cli: " << quavella::terminal_text(store.notice()) << "\n";
    }
    if (st == quavella::history::Status::ok || st == quavella::history::Status::recovered) {
        return true;
    }
    std::cerr << "quavella-cli: " << quavella::terminal_text(store.last_error()) << "\n";
    return false;
}

/// A tone score in whole percent, or nothing when none was graded.
std::optional<std::int64_t> tone_percent(const std::optional<double>& score) {
    if (!score) return std::nullopt;
    return quavella::score_percent(*score);
}

/// How an entry stands in a best-of press, for a list line: "best of N" for the chosen
/// one, "candidate of ID" for the others, nothing for an entry made alone.
std::string press_mark(const quavella::history::Summary& s) {
    if (s.candidates >= 2) return "best of " + std::to_string(s.candidates);
    if (s.chosen && *s.chosen != s.id) return "candidate of " + std::to_string(*s.chosen);
    return {};
}

/// Prints one entry of a list as a line (after `indent`) or a JSON object.
void print_summary(const quavella::history::Summary& s, bool json, const char* indent) {
    if (json) {
        std::cout << JsonObject()
                         .number("id", s.id)
                         .number("time_ms", s.time_ms)
                         .text("time", quavella::history::local_time_text(s.time_ms))
                         .number("speed_pos", s.speed_pos)
                         .text("speed_item", s.speed_item)
                         .number("mode_pos", s.mode_pos)
                         .text("mode_item", s.mode_item)
                         .number("timbre_pos", s.timbre_pos)
                         .text("timbre_item", s.timbre_item)
                         .number("tempo", s.tempo)
                         .number("notes", s.note_count)
                         .number_or_null("tone_percent", tone_percent(s.tone_score))
                         .text("lyrics_start", s.lyrics_start)
                         .boolean("edited", s.edited)
                         .number_or_null("origin", s.origin)
                         .number_or_null("chosen", s.chosen)
                         .number("candidates", s.candidates)
                         .str()
                  << "\n";
        return;
    }
    std::ostringstream line;
    line << indent << s.id << "  " << quavella::history::local_time_text(s.time_ms) << "  "
         << settings_text(s.speed_pos, s.speed_item, s.mode_pos, s.mode_item, s.timbre_pos,
                          s.timbre_item)
         << "  " << s.note_count << " notes  ";
    if (s.tone_score) line << "tones " << quavella::score_percent(*s.tone_score) << "%  ";
    if (const std::string mark = press_mark(s); !mark.empty()) line << mark << "  ";
    if (s.edited) {
        line << (s.origin ? "edited from " + std::to_string(*s.origin) : std::string("edited"))
             << "  ";
    }
    line << one_line(s.lyrics_start);
    std::cout << quavella::terminal_text(line.str()) << "\n";
}

/// Prints the candidates of the press chosen as `chosen`, up to `limit` (all for 0),
/// a page at a time; with `passed_over_only` the chosen entry itself is left out.
/// @return ok, no_such_entry or history_failed (said on standard error)
Exit print_candidates(quavella::history::Store& store, std::int64_t chosen, int limit, bool json,
                      const char* indent, bool passed_over_only, int& printed) {
    constexpr int kPage = 500;
    std::int64_t before = std::numeric_limits<std::int64_t>::max();
    printed = 0;
    for (;;) {
        std::vector<quavella::history::Summary> page;
        const int want = limit > 0 ? std::min(kPage, limit - printed) : kPage;
        const auto st = store.list_candidates(chosen, page, want, before);
        if (st == quavella::history::Status::not_found) {
            std::cerr << "quavella-cli: " << quavella::terminal_text(store.last_error()) << "\n";
            return Exit::no_such_entry;
        }
        if (!history_ok(store, st)) return Exit::history_failed;
        for (const auto& s : page) {
            if (passed_over_only && s.id == chosen) continue;
            print_summary(s, json, indent);
            ++printed;
        }
        if (static_cast<int>(page.size()) < want || (limit > 0 && printed >= limit)) {
            return Exit::ok;
        }
        before = page.back().id;
    }
}

int history_list(quavella::history::Store& store, const quavella::cli::HistorySettings& settings) {
    if (settings.candidates_of != 0) {
        int printed = 0;
        const Exit listed = print_candidates(store, settings.candidates_of, settings.limit,
                                             settings.json, "", false, printed);
        if (listed != Exit::ok) return status(listed);
        if (printed == 0) {
            std::cerr << "quavella-cli: entry " << settings.candidates_of
                      << " was not chosen from candidates\n";
        }
        return status(flush_output());
    }
    std::vector<quavella::history::Summary> page;
    if (!history_ok(store, store.list(page, settings.limit))) return status(Exit::history_failed);
    for (const auto& s : page) {
        print_summary(s, settings.json, "");
        // With --all, the candidates passed over follow their press, indented.
        if (settings.all && s.candidates >= 2) {
            int printed = 0;
            if (const Exit listed =
                    print_candidates(store, s.id, 0, settings.json, "  ", true, printed);
                listed != Exit::ok)
                return status(listed);
        }
    }
    return status(flush_output());
}

/// Reads one entry; prints why when it cannot.
std::optional<quavella::history::Entry> history_entry(quavella::history::Store& store,
                                                      std::int64_t id, Exit& failure) {
    quavella::history::Entry entry;
    const auto st = store.get(id, entry);
    if (st == quavella::history::Status::not_found) {
        if (!store.notice().empty()) {
            std::cerr << "quavella-cli: " << quavella::terminal_text(store.notice()) << "\n";
        }
        std::cerr << "quavella-cli: " << quavella::terminal_text(store.last_error()) << "\n";
        failure = Exit::no_such_entry;
        return std::nullopt;
    }
    if (!history_ok(store, st)) {
        failure = Exit::history_failed;
        return std::nullopt;
    }
    return entry;
}

int history_show(quavella::history::Store& store, std::int64_t id, bool json) {
    Exit failure = Exit::ok;
    const auto entry = history_entry(store, id, failure);
    if (!entry) return status(failure);
    const quavella::history::Record& r = entry->record;
    if (json) {
        std::vector<std::string> syllables;
        for (const auto& l : quavella::history::melody_of(r).lyrics) {
            syllables.push_back(json_string(l.text));
        }
        std::cout << JsonObject()
                         .number("id", entry->id)
                         .number("time_ms", r.time_ms)
                         .text("time", quavella::history::local_time_text(r.time_ms))
                         .text("lyrics", r.lyrics)
                         .number("speed_pos", r.speed_pos)
                         .text("speed_item", r.speed_item)
                         .number("mode_pos", r.mode_pos)
                         .text("mode_item", r.mode_item)
                         .number("timbre_pos", r.timbre_pos)
                         .text("timbre_item", r.timbre_item)
                         .number("tempo", r.tempo)
                         .number("mode", r.mode)
                         .number("program", r.program)
                         .text("state", quavella::history::state_text(r.state))
                         .number("notes", static_cast<std::int64_t>(r.notes.size()))
                         .raw("keys", json_numbers(r.notes))
                         .raw("ticks", json_numbers(r.ticks))
                         .raw("syllables", json_array(syllables))
                         .number_or_null("tone_percent", tone_percent(r.tone_score))
                         .text("edits", r.edits)
                         .number_or_null("origin", r.origin)
                         .number_or_null("chosen", entry->chosen)
                         .text("command", quavella::history::reproduce_command(r))
                         .str()
                  << "\n";
        return status(flush_output());
    }
    std::cout << "entry " << entry->id << "  " << quavella::history::local_time_text(r.time_ms)
              << "\n"
              << "settings: "
              << quavella::terminal_text(settings_text(r.speed_pos, r.speed_item, r.mode_pos,
                                                       r.mode_item, r.timbre_pos, r.timbre_item))
              << " (--speed " << r.speed_pos << " --mode " << r.mode_pos << " --timbre "
              << r.timbre_pos << ")\n"
              << "tempo=" << r.tempo << " mode=" << r.mode << " program=" << r.program
              << " notes=" << r.notes.size() << "\n"
              << "state=" << quavella::history::state_text(r.state) << "\n";
    if (!r.edits.empty()) {
        // The list holds only letters, digits and "+-:,"; shown escaped all the same.
        std::cout << "edits=" << quavella::terminal_text(r.edits);
        if (r.origin) std::cout << " (shaped from entry " << *r.origin << ")";
        std::cout << "\n";
    }
    if (entry->chosen) {
        if (*entry->chosen == entry->id) {
            std::cout << "best of: chosen from its candidates (history list --candidates "
                      << entry->id << ")\n";
        } else {
            std::cout << "best of: a candidate passed over for entry " << *entry->chosen << "\n";
        }
    }
    if (r.tone_score) {
        std::cout << "tone score: " << quavella::score_percent(*r.tone_score) << "%\n";
    }
    std::cout << "lyrics:\n";
    std::size_t start = 0;
    while (start <= r.lyrics.size()) {
        const std::size_t end = std::min(r.lyrics.find('\n', start), r.lyrics.size());
        std::cout << "  " << quavella::terminal_text(r.lyrics.substr(start, end - start)) << "\n";
        start = end + 1;
    }
    // The lyrics travel as hex digits: the line is the same on screen, pasted in any shell.
    std::cout << "make it again:\n  " << quavella::history::reproduce_command(r) << "\n";
    const auto score = quavella::notation::build_score(quavella::history::melody_of(r));
    std::cout << quavella::terminal_text(quavella::notation::score_text(score, terminal_width()),
                                         true);
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
    // A damaged melody is refused with the player's own check of its bytes.
    const std::string& bytes = entry->record.midi;
    const quavella::SmfCheck check = quavella::check_smf(
        std::span(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()), kMaxTracks);
    if (!check.ok()) {
        std::cerr << "quavella-cli: entry " << settings.id
                  << " of the history holds a damaged melody, not exported: "
                  << quavella::terminal_text(quavella::smf_fault_text(check)) << "\n";
        return status(Exit::output_not_written);
    }
    // A file is staged and replaced with the exports, all or none; standard output
    // gets the bytes at once.
    std::optional<quavella::files::StagedFile> midi;
    if (out_file == "-") {
        if (!write_bytes(out_file, bytes)) return status(Exit::output_not_written);
    } else {
        midi.emplace(out_file);
        midi->write(bytes);
    }
    std::ostream& out = report_stream(out_file);
    const ExportFiles files{settings.musicxml_file, settings.lyrics_midi_file, settings.audio_file,
                            settings.karaoke_file};
    std::optional<quavella::notation::Score> score;
    if (files.any()) {
        score = quavella::notation::build_score(quavella::history::melody_of(entry->record));
    }
    std::string written;
    if (!write_outputs(midi ? &*midi : nullptr, files, score, written))
        return status(Exit::output_not_written);
    out << "file=" << quavella::terminal_text(out_file + written) << "\n";
    return status(flush_output());
}

}  // namespace

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
    // These commands only read: the history is never created, changed or moved aside,
    // and read-only media are no obstacle.
    quavella::history::Store store(*path, {}, quavella::history::Access::read_only);
    using Action = quavella::cli::HistorySettings::Action;
    switch (settings.action) {
        case Action::list:
            return history_list(store, settings);
        case Action::show:
            return history_show(store, settings.id, settings.json);
        case Action::export_file:
            return history_export(store, settings);
    }
    return status(Exit::bad_usage);
}

}  // namespace quavella::cli
