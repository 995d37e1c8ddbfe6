// The main window's commands over the platform services.
#include "app/commands/window_commands.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

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

/// Keeps the composer's messages of work done away from the window's thread, for the
/// window to show once it is done.
class CollectingSink : public MessageSink {
public:
    explicit CollectingSink(std::vector<std::string>& texts) : texts_(texts) {}
    void show(const std::string& text) override { texts_.push_back(text); }

private:
    std::vector<std::string>& texts_;
};

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
    svc_.player.open_melody(play_file_, heard_bytes(*current_, hearing_));

    // Loaded: composing waits for 停止, the melody's buttons come alive.
    svc_.buttons.set_enabled(kComposeButton, false);
    for (const int button : {kPlayButton, kPauseButton, kStopButton, kSaveAsButton}) {
        svc_.buttons.set_enabled(button, true);
    }
    return true;
}

void WindowCommands::off_thread(const std::function<void()>& work) {
    if (svc_.runner != nullptr) {
        svc_.runner->run(work);
    } else {
        work();
    }
}

void WindowCommands::finish(const Press& press, const CompositionPtr& composition,
                            std::optional<edit::EditableMelody> shaped) {
    // Recorded before its files are written and before anything is shown: a composition
    // whose file is on disk, or that the user heard, is never lost. The history's first
    // try at a large press takes a while: the window keeps painting meanwhile.
    if (svc_.listener != nullptr) off_thread([&] { svc_.listener->made(press); });
    if (!write_working_file(*composition)) return;
    if (!deliver(composition)) return;
    svc_.box.show("作曲完成", kHintCaption);
    start_song(composition, std::move(shaped));
    if (svc_.listener != nullptr) svc_.listener->composed(composition);
}

void WindowCommands::start_song(const CompositionPtr& composition,
                                std::optional<edit::EditableMelody> shaped) {
    if (svc_.document == nullptr) return;
    if (shaped) {
        svc_.document->start(composition, std::move(*shaped));
    } else {
        svc_.document->start(composition);
    }
    // An entry of the history keeps no chords: the song's, made again by its edits, are
    // what the player plays (the melody's bytes are the same).
    const CompositionPtr& song = svc_.document->current();
    if (song != composition && song->midi == composition->midi && current_ == composition) {
        current_ = song;
        if (heard_bytes(*song, hearing_) != heard_bytes(*composition, hearing_))
            svc_.player.open_melody(play_file_, heard_bytes(*current_, hearing_));
    }
}

std::optional<edit::EditableMelody> WindowCommands::shaped_for_song(
    const Composition& composition) const {
    if (svc_.document == nullptr) return std::nullopt;
    return song::shaped_of(composition);
}

void WindowCommands::compose(const ComposeInput& input) {
    const auto source = source_of(input);
    if (!source) return;

    // The paragraph analysed, the tempo drawn, the settings mapped and the melody
    // composed, with its file's bytes, in memory, away from the window's thread (the
    // longest lyrics take a while); the composer's messages are shown afterwards, in order.
    std::vector<std::string> messages;
    CollectingSink collected(messages);
    Composed made;
    std::optional<edit::EditableMelody> shaped;
    off_thread([&] {
        made = quavella::compose(source, gens_, collected);
        if (made.error.empty()) shaped = shaped_for_song(*made.composition);
    });
    for (const std::string& text : messages) sink_.show(text);
    if (!made.error.empty()) {
        svc_.box.show(not_saved_message(kWorkingFile, made.error), kHintCaption);
        return;
    }
    finish(Press::of(made.composition), made.composition, std::move(shaped));
}

void WindowCommands::compose_best_of(const ComposeInput& input, int count) {
    const auto source = source_of(input);
    if (!source) return;

    // Every candidate composed and graded away from the window's thread, only the best
    // held; the composer's messages wait for the window's thread, in order.
    std::vector<std::string> messages;
    CollectingSink collected(messages);
    auto best = std::make_shared<BestOf>();
    std::optional<edit::EditableMelody> shaped;
    off_thread([&] {
        *best = quavella::compose_best_of(source, count, gens_, collected);
        if (best->error.empty()) shaped = shaped_for_song(*best->best);
    });
    for (const std::string& text : messages) sink_.show(text);
    if (!best->error.empty()) {
        svc_.box.show(not_saved_message(kWorkingFile, best->error), kHintCaption);
        return;
    }
    // The candidates passed over are made again from their states when the listener
    // asks for them (the history, one at a time as it records them).
    const CompositionPtr chosen = best->best;
    Press press{best->candidates.size(), best->best_index,
                [source, best](std::size_t k) { return candidate_of(source, *best, k); }};
    finish(press, chosen, std::move(shaped));
}

void WindowCommands::compose_by_sentence(const ComposeInput& input, int count) {
    const auto source = source_of(input);
    if (!source) return;

    // Each sentence from the candidate that sings it best; the first candidate,
    // composed as compose does, gives the rest. The shaped melody is handed to the song
    // as it was made: its sentence steps are part of it. The candidates are composed away
    // from the window's thread; the composer's messages are shown afterwards, in order.
    const edit::Source settings{source->gbk_text, source->speed_pos, source->mode_pos,
                                source->timbre_pos, gens_.state()};
    std::vector<std::string> messages;
    CollectingSink collected(messages);
    std::optional<edit::BySentence> shaped;
    off_thread([&] {
        shaped = edit::shape_by_sentence(settings, lyric_tone_check(source->gbk_text), count, gens_,
                                         collected);
    });
    for (const std::string& text : messages) sink_.show(text);
    const edit::EditableMelody& melody = shaped->melody;
    Composed made = make_composition(source, melody.source().state, melody.melody(),
                                     melody.grading(), edit::edits_text(melody.edits()), nullptr,
                                     SongChords{melody.chords(), melody.locks()});
    if (!made.error.empty()) {
        svc_.box.show(not_saved_message(kWorkingFile, made.error), kHintCaption);
        return;
    }
    // The listener hears of the press as of a best of N: the candidates compared, in the
    // order composed (the first is the melody the sentences were put into), made again from
    // their states when asked for, and last the melody made from them, the one the player
    // gets, when a sentence came from another candidate.
    const std::vector<Generators::State> states = shaped->states;
    const bool reshaped = !melody.edits().empty();
    const CompositionPtr chosen = made.composition;
    Press press{states.size() + (reshaped ? 1 : 0), reshaped ? states.size() : 0,
                [source, states, chosen, reshaped](std::size_t k) -> CompositionPtr {
                    if (k == (reshaped ? states.size() : 0)) return chosen;
                    Generators again;
                    again.restore(states.at(k));
                    QuietSink quiet;
                    Composed candidate = quavella::compose(source, again, quiet);
                    return candidate.error.empty() ? std::move(candidate.composition) : nullptr;
                }};
    finish(press, chosen, std::move(shaped->melody));
}

void WindowCommands::load(CompositionPtr composition) {
    if (!write_working_file(*composition)) return;
    if (!deliver(composition)) return;
    // Already in the history: not made again, but the melody the window now holds.
    start_song(composition);
    if (svc_.listener != nullptr) svc_.listener->composed(composition);
}

bool WindowCommands::adopt(CompositionPtr composition) {
    if (composition == current_) return true;  // in the player already
    if (!write_working_file(*composition) || !rotate_play_file(composition)) return false;
    svc_.player.open_melody(play_file_, heard_bytes(*current_, hearing_));
    return true;
}

void WindowCommands::set_hearing(const Hearing& hearing) {
    if (hearing == hearing_) return;
    hearing_ = hearing;
    if (!current_) return;
    rewind_ = false;  // opened afresh, at its start
    svc_.player.open_melody(play_file_, heard_bytes(*current_, hearing_));
}

void WindowCommands::changed(const song::Document& document, song::Event event) {
    switch (event) {
        case song::Event::edited:
        case song::Event::undone:
        case song::Event::redone:
            adopt(document.current());
            break;
        case song::Event::started:  // put in the player by the command that made it
        case song::Event::settled:  // the recorder's
            break;
    }
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
