// The main window's commands over the platform services.
#include "app/commands/window_commands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "base/staged_file.h"
#include "composer/compose_request.h"
#include "edit/editable_melody.h"
#include "lyrics/gbk_text.h"
#include "lyrics/syllables.h"
#include "tones/best_of.h"
#include "tones/tone_grading.h"

namespace quavella {

namespace {

constexpr const char* kSecondPlayFile = "2.mid";

/// The play file after `current`: "1.mid" becomes "2.mid", anything else "1.mid".
std::string next_play_file(const std::string& current) {
    return current == kFirstPlayFile ? kSecondPlayFile : kFirstPlayFile;
}

std::string not_saved_message(const std::string& file, const std::string& reason) {
    return "无法保存旋律文件 " + file + "：" + reason;
}

/// The name the composer writes the working file under: its staged temporary,
/// or "" (nothing written, the draws the same) when that could not be made.
std::string staged_name(const files::StagedFile& working) {
    return working.error() ? std::string() : working.temp_path().string();
}

/// Puts the composed working file in place unless the writer failed.
/// @return why the working file is not complete, or nothing
std::optional<std::string> put_in_place(files::StagedFile& working,
                                        const std::string& writer_error) {
    if (working.error()) return working.reason();
    if (!writer_error.empty()) return writer_error;
    if (!working.commit()) return working.reason();
    return std::nullopt;
}

}  // namespace

WindowCommands::WindowCommands(CommandServices services, std::string app_title)
    : svc_(services), title_(std::move(app_title)), sink_(svc_.box, title_) {}

void WindowCommands::start_up(Clock& clock, const std::optional<std::string>& current_dir) {
    play_file_.clear();
    start_dir_.clear();
    gens_.seed(clock.now());
    play_file_ = kFirstPlayFile;
    if (current_dir) {
        start_dir_ = *current_dir;
    } else {
        svc_.box.show("Error!", title_);
    }
}

std::optional<std::string> WindowCommands::lyric_text(const ComposeInput& input) {
    // The lines joined with nothing between them, as GBK bytes.
    GbkConversion converted = lyric_text_from_lines(input.lines, LyricEncoding::utf8);
    if (!converted.ok) {
        throw CommandError("歌词无法转换为 GBK 编码");
    }
    // Characters GBK lacks are named once; empty, too short or unusable texts are
    // turned away before anything is built.
    const LyricCheck check = check_lyrics(converted);
    if (check.notice) {
        svc_.box.show(*check.notice, kHintCaption);
    }
    if (check.refusal) {
        svc_.box.show(*check.refusal, kHintCaption);
        return std::nullopt;
    }
    return std::move(converted.gbk);
}

bool WindowCommands::rotate_play_file() {
    // The next play file gets the new melody; the player still holds the other.
    const std::string next = next_play_file(play_file_);
    if (const auto failure = svc_.copier.copy(kWorkingFile, next, true)) {
        svc_.box.show(not_saved_message(next, *failure), kHintCaption);
        return false;
    }
    play_file_ = next;
    return true;
}

bool WindowCommands::deliver() {
    if (!rotate_play_file()) return false;

    // Wait, then load; an open that fails ends the command with its error.
    svc_.sleeper.sleep_ms(kWaitMs);
    svc_.player.open(play_file_);

    // Loaded: composing waits for 停止, the melody's buttons come alive.
    svc_.buttons.set_enabled(kComposeButton, false);
    for (const int button : {kPlayButton, kPauseButton, kStopButton, kSaveAsButton}) {
        svc_.buttons.set_enabled(button, true);
    }
    return true;
}

void WindowCommands::compose(const ComposeInput& input) {
    const std::optional<std::string> gbk = lyric_text(input);
    if (!gbk) return;

    // The paragraph analysed, the tempo drawn, the settings mapped and the melody
    // composed into the working file.
    const Generators::State state_before = gens_.state();
    files::StagedFile working(kWorkingFile);
    ComposeOutcome outcome = compose_lyrics(*gbk, input.speed_pos, input.mode_pos, input.timbre_pos,
                                            gens_, sink_, staged_name(working));
    if (const auto failure = put_in_place(working, outcome.midi_error)) {
        // A partial "temp.mid" must not reach the player: nothing else changes.
        svc_.box.show(not_saved_message(kWorkingFile, *failure), kHintCaption);
        return;
    }
    if (!deliver()) return;
    svc_.box.show("作曲完成", kHintCaption);
    if (svc_.listener != nullptr) {
        svc_.listener->composed(FinishedComposition{input.lines, *gbk, input.speed_pos,
                                                    input.mode_pos, input.timbre_pos, state_before,
                                                    std::move(outcome), play_file_});
    }
}

void WindowCommands::compose_best_of(const ComposeInput& input, int count) {
    const std::optional<std::string> gbk = lyric_text(input);
    if (!gbk) return;

    // The candidates composed and graded; the best one written to the working file.
    const ToneCheck check(syllable_texts(*gbk));
    files::StagedFile working(kWorkingFile);
    BestOf best = quavella::compose_best_of(*gbk, check, count, input.speed_pos, input.mode_pos,
                                            input.timbre_pos, gens_, sink_, staged_name(working));
    if (const auto failure = put_in_place(working, best.midi_error)) {
        svc_.box.show(not_saved_message(kWorkingFile, *failure), kHintCaption);
        return;
    }
    if (!deliver()) return;
    svc_.box.show("作曲完成", kHintCaption);
    if (svc_.listener == nullptr) return;
    const auto finished = [&](std::size_t k, std::string play_file) {
        BestOfCandidate& c = best.candidates[k];
        FinishedComposition f{
            input.lines,      *gbk,    input.speed_pos,      input.mode_pos,
            input.timbre_pos, c.state, std::move(c.outcome), std::move(play_file)};
        f.candidate = static_cast<int>(k) + 1;
        return f;
    };
    for (std::size_t k = 0; k < best.candidates.size(); ++k) {
        if (k != best.best) svc_.listener->passed_over(finished(k, std::string()));
    }
    svc_.listener->composed(finished(best.best, play_file_));
}

bool WindowCommands::write_working_file(std::string_view midi) {
    // All or nothing, never through a link in the working file's place.
    files::StagedFile working(kWorkingFile);
    if (!working.write(midi) || !working.commit()) {
        svc_.box.show(not_saved_message(kWorkingFile, working.reason()), kHintCaption);
        return false;
    }
    return true;
}

void WindowCommands::compose_by_sentence(const ComposeInput& input, int count) {
    const std::optional<std::string> gbk = lyric_text(input);
    if (!gbk) return;

    const ToneCheck check(syllable_texts(*gbk));
    edit::Source source{*gbk, input.speed_pos, input.mode_pos, input.timbre_pos, gens_.state()};
    const edit::SentenceChoice choice = edit::choose_by_sentence(source, check, count, gens_);
    source.state = choice.first;
    Generators first;
    first.restore(choice.first);
    ComposeOutcome outcome =
        compose_melody(*gbk, input.speed_pos, input.mode_pos, input.timbre_pos, first, sink_);
    edit::EditableMelody melody(source, notation::melody_from(*gbk, outcome));
    melody.apply_all(choice.edits);
    const CompositionFile file = melody.file();
    if (!file.error.empty()) {
        svc_.box.show(not_saved_message(kWorkingFile, file.error), kHintCaption);
        return;
    }
    if (!write_working_file(file.bytes) || !deliver()) return;
    svc_.box.show("作曲完成", kHintCaption);
    if (svc_.listener == nullptr) return;
    outcome.nt_seq.assign(melody.melody().notes.begin(), melody.melody().notes.end());
    outcome.tm_seq.assign(melody.melody().ticks.begin(), melody.melody().ticks.end());
    FinishedComposition done{input.lines,      *gbk,         input.speed_pos,    input.mode_pos,
                             input.timbre_pos, choice.first, std::move(outcome), play_file_};
    done.edits = edit::edits_text(melody.edits());
    svc_.listener->composed(done);
}

void WindowCommands::load(std::string_view midi) {
    if (write_working_file(midi)) deliver();
}

bool WindowCommands::adopt(std::string_view midi) {
    if (!write_working_file(midi) || !rotate_play_file()) return false;
    svc_.player.open(play_file_);
    return true;
}

void WindowCommands::play() { svc_.player.play(); }

void WindowCommands::pause() { svc_.player.pause(); }

void WindowCommands::stop() {
    svc_.player.stop();
    svc_.sleeper.sleep_ms(kWaitMs);
    svc_.buttons.set_enabled(kComposeButton, true);
    svc_.buttons.set_enabled(kPlayButton, false);
    svc_.buttons.set_enabled(kPauseButton, false);
}

void WindowCommands::save_as() {
    const auto chosen = svc_.save_dialog.ask();
    if (!chosen) {
        return;
    }
    const std::string target = save_target(*chosen);
    // The play file lies in the start directory; when that could not be read, the
    // play file was written relative to the current directory and is read the same way.
    const std::string source = start_dir_.empty() ? play_file_ : start_dir_ + "/" + play_file_;
    if (const auto failure = svc_.copier.copy(source, target, false)) {
        svc_.save_dialog.save_failed();
        svc_.box.show("主旋律没有保存到 " + target + "：" + *failure, kHintCaption);
    }
}

std::string save_target(std::string_view chosen) {
    constexpr std::string_view ext = ".mid";
    const bool has_ext =
        chosen.size() >= ext.size() &&
        std::equal(ext.begin(), ext.end(), chosen.end() - static_cast<std::ptrdiff_t>(ext.size()),
                   [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
    std::string target(chosen);
    if (!has_ext) {
        target += ext;
    }
    return target;
}

}  // namespace quavella
