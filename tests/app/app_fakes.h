// Fakes of the platform services for the window's tests, and the facts of a
// composition file as midicsv reads them.
#pragma once

#include <array>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/commands/button_panel.h"
#include "app/commands/command_error.h"
#include "app/commands/composition_listener.h"
#include "app/commands/export_dialogs.h"
#include "app/commands/file_copier.h"
#include "app/commands/link_opener.h"
#include "app/commands/media_player.h"
#include "app/commands/message_box.h"
#include "app/commands/save_dialog.h"
#include "app/commands/std_platform.h"
#include "app/commands/timing.h"
#include "app/commands/window_commands.h"
#include "tests/support/files.h"
#include "tests/support/tools.h"

namespace quavella::test {

/// What the fakes were asked to do, in order: "show:<caption>:<text>",
/// "error:<caption>:<text>", "copy:<from>:<to>", "write:<to>", "sleep:<ms>", "open:<file>",
/// "play", "pause", "stop", "close", "url:<address>".
using EventLog = std::vector<std::string>;

struct FakeBox : MessageBox {
    explicit FakeBox(EventLog& log) : log_(log) {}
    void show(const std::string& text, const std::string& caption) override {
        log_.push_back("show:" + caption + ":" + text);
    }
    void error(const std::string& text, const std::string& caption) override {
        log_.push_back("error:" + caption + ":" + text);
    }
    EventLog& log_;
};

/// Copies and writes for real, and records each call; a write to a name in
/// `failing` fails with the text given there instead (as on a full disk).
struct RecordingCopier : FileCopier {
    explicit RecordingCopier(EventLog& log) : log_(log) {}
    std::optional<std::string> copy(const std::string& from, const std::string& to,
                                    bool replace) override {
        log_.push_back("copy:" + from + ":" + to);
        return real_.copy(from, to, replace);
    }
    std::optional<std::string> write(const std::string& to, std::string_view bytes,
                                     bool replace) override {
        log_.push_back("write:" + to);
        if (const auto failure = failing.find(to); failure != failing.end()) return failure->second;
        return real_.write(to, bytes, replace);
    }
    EventLog& log_;
    FsFileCopier real_;
    std::map<std::string, std::string> failing;
};

struct FakeSleeper : Sleeper {
    explicit FakeSleeper(EventLog& log) : log_(log) {}
    void sleep_ms(int ms) override { log_.push_back("sleep:" + std::to_string(ms)); }
    EventLog& log_;
};

struct FakeClock : Clock {
    explicit FakeClock(std::uint64_t value) : value_(value) {}
    std::uint64_t now() override { return value_; }
    std::uint64_t value_;
};

/// Answers with the queued names; an empty queue cancels.
struct FakeSaveDialog : SaveDialog {
    std::optional<std::string> ask() override {
        if (answers.empty()) {
            return std::nullopt;
        }
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void save_failed() override { ++failures; }
    std::deque<std::optional<std::string>> answers;
    int failures = 0;  ///< how often the commands said nothing could be saved
};

/// The five buttons, starting in the Fresh state.
struct FakeButtons : ButtonPanel {
    void set_enabled(int button, bool enabled) override { state.at(button) = enabled; }
    /// Index 1 to 5.
    std::array<bool, 6> state{false, true, false, false, false, false};
};

/// Records the calls; open, play or stop throw while `fail_open` or no file is open.
struct FakePlayer : MediaPlayer {
    explicit FakePlayer(EventLog& log) : log_(log) {}
    void open(const std::string& file) override {
        log_.push_back("open:" + file);
        opened = false;
        if (fail_open) {
            throw CommandError("cannot open " + file);
        }
        if (!std::filesystem::is_regular_file(file)) {
            throw CommandError("missing " + file);
        }
        opened = true;
        ++files_read;
    }
    /// Logged as open is ("open:<name>"); keeps the bytes and reads no file.
    void open_melody(const std::string& name, std::string_view bytes) override {
        log_.push_back("open:" + name);
        opened = false;
        if (fail_open) {
            throw CommandError("cannot open " + name);
        }
        melody.assign(bytes);
        opened = true;
    }
    void play() override { call("play"); }
    void play_from(int tick) override {
        call(("play_from:" + std::to_string(tick)).c_str());
        position = tick;
    }
    void pause() override { call("pause"); }
    void stop() override { call("stop"); }
    void close() override {
        log_.push_back("close");
        opened = false;
    }
    /// Reports `position` as it is set, not logged: the score window asks many times.
    std::optional<int> position_ticks() const override { return position; }
    void call(const char* what) {
        log_.push_back(what);
        if (!opened) {
            throw CommandError("No MCI device open");
        }
    }
    EventLog& log_;
    bool fail_open = false;
    bool opened = false;
    std::optional<int> position;
    std::string melody;  ///< the bytes the last open_melody was given
    int files_read = 0;  ///< opens that read a file
};

struct FakeLinkOpener : LinkOpener {
    explicit FakeLinkOpener(EventLog& log) : log_(log) {}
    void open_url(const std::string& url) override { log_.push_back("url:" + url); }
    EventLog& log_;
};

/// Answers the export questions from queues and records them: "file:<suggested>",
/// "replace?:<path>", "failure:<text>".
struct FakeExportDialogs : ExportDialogs {
    explicit FakeExportDialogs(EventLog& log) : log_(log) {}
    std::optional<std::string> ask_file(const std::string& suggested, const std::string&) override {
        log_.push_back("file:" + suggested);
        if (files.empty()) return std::nullopt;
        auto file = files.front();
        files.pop_front();
        return file;
    }
    bool confirm_replace(const std::string& path) override {
        log_.push_back("replace?:" + path);
        return replace;
    }
    void tell_failure(const std::string& text) override {
        log_.push_back("failure:" + text);
        if (while_told) while_told();
    }
    EventLog& log_;
    std::deque<std::string> files;
    bool replace = false;
    /// Runs while the failure is told, as the real error box runs its own event loop.
    std::function<void()> while_told;
};

/// The commands' services as fakes that write into one log, and the clock they
/// start up with.
struct CommandFakes {
    CommandServices services(CompositionListener* listener = nullptr) {
        return {box, copier, sleeper, dialog, buttons, player, listener};
    }

    EventLog log;
    FakeBox box{log};
    RecordingCopier copier{log};
    FakeSleeper sleeper{log};
    FakeClock clock{20240601};
    FakeSaveDialog dialog;
    FakeButtons buttons;
    FakePlayer player{log};
};

/// The facts of a composition file that the window's tests check.
struct MidiSummary {
    bool header_ok = false;  ///< format 1, two tracks, 120 ticks per quarter note
    long tempo_us = 0;       ///< microseconds per quarter note
    int program = -1;        ///< program change on channel 1
    int note_ons = 0;        ///< note-ons with velocity 95 on channel 1
    int note_offs = 0;       ///< note-offs on channel 1
};

/// Summarises a composition file as midicsv reads it.
inline MidiSummary summarise_midi(const std::filesystem::path& file) {
    MidiSummary summary;
    for (const CsvRecord& r : midicsv_records(file.string())) {
        if (r.size() < 3) {
            continue;
        }
        const std::string& type = r[2];
        if (type == "Header" && r.size() == 6) {
            summary.header_ok = r[3] == "1" && r[4] == "2" && r[5] == "120";
        } else if (type == "Tempo" && r.size() == 4) {
            summary.tempo_us = std::stol(r[3]);
        } else if (type == "Program_c" && r.size() == 5 && r[3] == "1") {
            summary.program = std::stoi(r[4]);
        } else if (type == "Note_on_c" && r.size() == 6 && r[3] == "1" && r[5] == "95") {
            ++summary.note_ons;
        } else if (type == "Note_off_c" && r.size() == 6 && r[3] == "1") {
            ++summary.note_offs;
        }
    }
    return summary;
}

}  // namespace quavella::test
