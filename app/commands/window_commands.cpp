// The main window's commands over the platform services.
#include "app/commands/window_commands.h"

#include <algorithm>
#include <cctype>
#include <span>
#include <utility>

#include "composer/compose_request.h"
#include "composition/best_of.h"
#include "edit/editable_melody.h"
#include "edit/edits.h"
#include "lyrics/gbk_text.h"

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

std::shared_ptr<const CompositionSource> WindowCommands::source_of(const ComposeInput& input) {
    // Lyrics over the limit are turned away before they are converted.
    std::size_t bytes = input.lines.empty() ? 0 : input.lines.size() - 1;  // the line ends
    for (const std::string& line : input.lines) bytes += line.size();
    if (const auto refusal = lyric_size_refusal(bytes)) {
        svc_.box.show(*refusal, kHintCaption);
        return nullptr;
    }
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
        return nullptr;
    }
    auto source = std::make_shared<CompositionSource>();
    source->lines = input.lines;
    source->gbk_text = std::move(converted.gbk);
    source->speed_pos = input.speed_pos;
    source->mode_pos = input.mode_pos;
    source->timbre_pos = input.timbre_pos;
    return source;
}

bool WindowCommands::write_working_file(const Composition& composition) {
    // A failed write leaves no partial "temp.mid" and nothing else changes.
    if (const auto failure = svc_.copier.write(kWorkingFile, composition.midi, true)) {
        svc_.box.show(not_saved_message(kWorkingFile, *failure), kHintCaption);
        return false;
    }
    return true;
}

bool WindowCommands::rotate_play_file(CompositionPtr composition) {
    // The next play file gets the new melody; the player still holds the other.
    const std::string next = next_play_file(play_file_);
    if (const auto failure = svc_.copier.write(next, composition->midi, true)) {
        svc_.box.show(not_saved_message(next, *failure), kHintCaption);
        return false;
    }
    play_file_ = next;
    current_ = std::move(composition);
    rewind_ = false;  // opened afresh, at its start
    return true;
}

bool WindowCommands::deliver(CompositionPtr composition) {
    if (!rotate_play_file(std::move(composition))) return false;

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

void WindowCommands::finish(const CompositionPtr& composition) {
    // Recorded before its files are written and before anything is shown: a composition
    // whose file is on disk, or that the user heard, is never lost.
    if (svc_.listener != nullptr) svc_.listener->made(std::span(&composition, 1), 0);
    if (!write_working_file(*composition)) return;
    if (!deliver(composition)) return;
    svc_.box.show("作曲完成", kHintCaption);
    if (svc_.listener != nullptr) svc_.listener->composed(composition);
}

void WindowCommands::compose(const ComposeInput& input) {
    const auto source = source_of(input);
    if (!source) return;

    // The paragraph analysed, the tempo drawn, the settings mapped and the melody
    // composed, with its file's bytes, in memory.
    Composed made = quavella::compose(source, gens_, sink_);
    if (!made.error.empty()) {
        svc_.box.show(not_saved_message(kWorkingFile, made.error), kHintCaption);
        return;
    }
    finish(made.composition);
}

void WindowCommands::compose_best_of(const ComposeInput& input, int count) {
    const auto source = source_of(input);
    if (!source) return;

    // Every candidate composed, graded and kept for the listener; the best one
    // goes on as a single composition does.
    std::vector<CompositionPtr> candidates;
    const CandidateSink keep = [&](std::size_t, const CompositionPtr& c) {
        candidates.push_back(c);
    };
    BestOf best = quavella::compose_best_of(source, count, gens_, sink_,
                                            svc_.listener != nullptr ? keep : CandidateSink());
    if (!best.error.empty()) {
        svc_.box.show(not_saved_message(kWorkingFile, best.error), kHintCaption);
        return;
    }
    if (svc_.listener != nullptr) svc_.listener->made(candidates, best.best_index);
    candidates.clear();
    if (!write_working_file(*best.best)) return;
    if (!deliver(best.best)) return;
    svc_.box.show("作曲完成", kHintCaption);
    if (svc_.listener != nullptr) svc_.listener->composed(best.best);
}

void WindowCommands::compose_by_sentence(const ComposeInput& input, int count) {
    const auto source = source_of(input);
    if (!source) return;

    // Each sentence from the candidate that sings it best; the first candidate,
    // composed as compose does, gives the rest, and the others' sentences are edits.
    const LyricPart lyric = lyric_part(source->gbk_text);
    edit::Source from{source->gbk_text, source->speed_pos, source->mode_pos, source->timbre_pos,
                      gens_.state()};
    const edit::SentenceChoice choice = edit::choose_by_sentence(from, lyric.check, count, gens_);
    from.state = choice.first;
    Generators first;
    first.restore(choice.first);
    Composed composed = quavella::compose(source, lyric, first, sink_);
    if (!composed.error.empty()) {
        svc_.box.show(not_saved_message(kWorkingFile, composed.error), kHintCaption);
        return;
    }
    edit::EditableMelody melody(from, composed.composition->melody);
    melody.apply_all(choice.edits);
    Composed made = make_composition(source, choice.first, melody.melody(), lyric.check,
                                     edit::edits_text(melody.edits()));
    if (!made.error.empty()) {
        svc_.box.show(not_saved_message(kWorkingFile, made.error), kHintCaption);
        return;
    }
    if (svc_.listener == nullptr) {
        finish(made.composition);
        return;
    }
    // The listener hears of the press as of a best of N: the candidates compared, in the
    // order composed (the first is the melody the sentences were put into), and last the
    // melody made from them, the one the player gets.
    std::vector<CompositionPtr> press{composed.composition};
    QuietSink quiet;
    for (int k = 1; k < count; ++k) {
        Composed candidate = quavella::compose(source, lyric, first, quiet);
        if (!candidate.error.empty()) {
            svc_.box.show(not_saved_message(kWorkingFile, candidate.error), kHintCaption);
            return;
        }
        press.push_back(std::move(candidate.composition));
    }
    // Every sentence from the first candidate: that is the melody, chosen as best of N
    // chooses.
    CompositionPtr chosen = composed.composition;
    if (!choice.edits.empty()) {
        chosen = made.composition;
        press.push_back(chosen);
    }
    svc_.listener->made(press, chosen == press.front() ? 0 : press.size() - 1);
    press.clear();
    if (!write_working_file(*chosen)) return;
    if (!deliver(chosen)) return;
    svc_.box.show("作曲完成", kHintCaption);
    svc_.listener->composed(chosen);
}

void WindowCommands::load(CompositionPtr composition) {
    if (!write_working_file(*composition)) return;
    if (!deliver(composition)) return;
    // Already in the history: not made again, but the melody the window now holds.
    if (svc_.listener != nullptr) svc_.listener->composed(composition);
}

bool WindowCommands::adopt(CompositionPtr composition) {
    if (!write_working_file(*composition) || !rotate_play_file(composition)) return false;
    svc_.player.open(play_file_);
    return true;
}

void WindowCommands::play() {
    // The player keeps its place when stopped, and 播放 would go on from there: after the
    // score window's 停止 the melody starts again, as it does after this window's 停止
    // (which leaves 播放 disabled until a melody is opened afresh). A melody the score
    // window plays again meanwhile goes on.
    if (std::exchange(rewind_, false) && !svc_.player.position_ticks()) {
        svc_.player.play_from(0);
    } else {
        svc_.player.play();
    }
}

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
    // The melody in the player, from memory: the play files on disk may have been
    // rewritten by another window working in the same folder.
    std::optional<std::string> failure;
    if (!current_) {
        failure = "还没有作曲";
    } else {
        failure = svc_.copier.write(target, current_->midi, false);
    }
    if (failure) {
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
