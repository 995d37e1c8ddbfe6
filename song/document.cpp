// The song document: its edits, its history, its current composition and its listeners.
#include "song/document.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "edit/edits.h"

namespace quavella::song {

namespace {

edit::Source source_of(const Composition& composition) {
    const CompositionSource& from = *composition.composed_source();
    return edit::Source{from.gbk_text, from.speed_pos, from.mode_pos, from.timbre_pos,
                        composition.state};
}

}  // namespace

edit::EditableMelody shaped_of(const Composition& origin) {
    if (origin.edits.empty()) return edit::EditableMelody(source_of(origin), origin.melody);
    // Made by edits: the composition from its state, then its edits, which are part of it.
    edit::EditableMelody shaped(source_of(origin));
    shaped.apply_all(edit::parse_edits(origin.edits).edits);
    return shaped;
}

void Document::start(CompositionPtr origin) {
    edit::EditableMelody shaped = shaped_of(*origin);
    start(std::move(origin), std::move(shaped));
}

void Document::start(CompositionPtr origin, edit::EditableMelody shaped) {
    settle();  // what was shaped from the song this one replaces
    origin_ = std::move(origin);
    current_ = origin_;
    recorded_edits_ = origin_->edits;
    fixed_steps_ = shaped.applied();
    shaped.forget_undone();
    melody_.emplace(std::move(shaped));
    // An origin made without its chords (an entry of the history keeps none) is shown
    // with the chords its edits leave: the same composition otherwise.
    std::vector<harmony::Lock> locks = melody_->locks();
    if (current_->chords.chords != melody_->chords().chords || current_->locks != locks) {
        auto with_chords = std::make_shared<Composition>(*current_);
        with_chords->chords = melody_->chords();
        with_chords->locks = std::move(locks);
        current_ = std::move(with_chords);
    }
    tell(Event::started);
}

edit::Applied Document::apply(const edit::Edit& edit) {
    if (!melody_) {
        edit::Applied refused;
        refused.step.edit = edit;
        refused.error = "there is no melody to edit yet";
        return refused;
    }
    edit::Applied applied = melody_->apply(edit);
    if (applied.error || !applied.step.changed()) return applied;
    if (auto failed = remake(Event::edited)) {
        melody_->undo();
        melody_->forget_undone();
        applied.error = std::move(failed);
    }
    return applied;
}

edit::Applied Document::regenerate_sentence(int sentence, int count) {
    if (!melody_) {
        edit::Applied refused;
        refused.step.edit = edit::Edit{edit::EditKind::sentence};
        refused.error = "there is no melody to edit yet";
        return refused;
    }
    edit::Applied applied = melody_->regenerate_sentence(sentence, count);
    if (applied.error || !applied.step.changed()) return applied;
    if (auto failed = remake(Event::edited)) {
        melody_->undo();
        melody_->forget_undone();
        applied.error = std::move(failed);
    }
    return applied;
}

bool Document::can_undo() const { return melody_ && melody_->applied() > fixed_steps_; }

bool Document::can_redo() const { return melody_ && melody_->can_redo(); }

const edit::Step* Document::undo_step() const {
    return can_undo() ? &melody_->steps()[melody_->applied() - 1] : nullptr;
}

const edit::Step* Document::redo_step() const {
    return can_redo() ? &melody_->steps()[melody_->applied()] : nullptr;
}

bool Document::undo() {
    if (!can_undo()) return false;
    melody_->undo();
    if (remake(Event::undone)) {
        melody_->redo();
        return false;
    }
    return true;
}

bool Document::redo() {
    if (!can_redo()) return false;
    melody_->redo();
    if (remake(Event::redone)) {
        melody_->undo();
        return false;
    }
    return true;
}

bool Document::recorded() const {
    return !current_ || current_->edits == recorded_edits_ || current_->edits == origin_->edits;
}

void Document::settle() {
    if (recorded()) return;
    recorded_edits_ = current_->edits;
    tell(Event::settled);
}

void Document::add_listener(Listener& listener) { listeners_.push_back(&listener); }

void Document::remove_listener(Listener& listener) { std::erase(listeners_, &listener); }

std::optional<std::string> Document::remake(Event event) {
    // The melody was graded as it was edited: the composition takes that grading. After
    // a word edit it sings the new words; the origin's stay what its state composes.
    const std::shared_ptr<const CompositionSource>& composed = origin_->composed_source();
    std::shared_ptr<const CompositionSource> sung = composed;
    std::shared_ptr<const CompositionSource> composed_from;
    if (const std::string* words = melody_->words()) {
        sung = with_words(*composed, *words, melody_->source().gbk_text);
        composed_from = composed;
    }
    Composed made =
        make_composition(std::move(sung), origin_->state, melody_->melody(), melody_->grading(),
                         edit::edits_text(melody_->edits()), std::move(composed_from),
                         SongChords{melody_->chords(), melody_->locks()});
    if (!made.composition) return std::move(made.error);
    current_ = std::move(made.composition);
    tell(event);
    return std::nullopt;
}

void Document::tell(Event event) {
    // A listener may add or remove listeners while it is told: a copy is walked.
    const std::vector<Listener*> told = listeners_;
    for (Listener* listener : told) {
        if (std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end()) {
            listener->changed(*this, event);
        }
    }
}

}  // namespace quavella::song
