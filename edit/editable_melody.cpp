// Applying, undoing and redoing edits of a composed melody.
#include "edit/editable_melody.h"

#include <algorithm>
#include <utility>

#include "composer/compose_request.h"
#include "composer/message_sink.h"
#include "lyrics/syllables.h"

namespace quavella::edit {
namespace {

/// The notes and durations of the composition made from `state`, and the state after it.
struct Candidate {
    ComposeOutcome outcome;
    Generators::State after;
};

Candidate compose_from(const Source& source, const Generators::State& state) {
    Generators gens;
    gens.restore(state);
    QuietSink quiet;
    ComposeOutcome outcome = compose_melody(source.gbk_text, source.speed_pos, source.mode_pos,
                                            source.timbre_pos, gens, quiet);
    return Candidate{std::move(outcome), gens.state()};
}

notation::Melody composed_melody(const Source& source) {
    return notation::melody_from(source.gbk_text, compose_from(source, source.state).outcome);
}

/// The pitch one scale step from `pitch` in `direction` (+1 or -1); a pitch outside
/// the scale goes to the nearest scale note that way. Nothing past 0..127.
std::optional<int> scale_step(int mode, int pitch, int direction) {
    std::array<bool, 12> in_scale{};
    for (const std::int32_t note : mode_scale(mode))
        in_scale[static_cast<std::size_t>(note % 12)] = true;
    for (int next = pitch + direction; next >= 0 && next <= 127; next += direction) {
        if (in_scale[static_cast<std::size_t>(next % 12)]) return next;
    }
    return std::nullopt;
}

std::string note_name(int note) { return "note " + std::to_string(note + 1); }

}  // namespace

bool SentenceGrade::better_than(const SentenceGrade& other) const {
    if (contrary != other.contrary) return contrary < other.contrary;
    if (agreeing != other.agreeing) return agreeing > other.agreeing;
    return good > other.good;
}

SentenceGrade sentence_grade(const ToneCheck& check, const ToneGrading& grading, int sentence) {
    SentenceGrade grade;
    for (const TonePair& pair : grading.pairs) {
        if (check.syllables()[pair.second].sentence != sentence) continue;
        ++grade.graded;
        if (pair.grade == ToneGrade::good || pair.grade == ToneGrade::fair) ++grade.agreeing;
        if (pair.grade == ToneGrade::good) ++grade.good;
        if (pair.grade == ToneGrade::contrary) ++grade.contrary;
    }
    return grade;
}

EditableMelody::EditableMelody(Source source) : EditableMelody(source, composed_melody(source)) {}

EditableMelody::EditableMelody(Source source, notation::Melody composed)
    : source_(std::move(source)),
      check_(syllable_texts(source_.gbk_text)),
      composed_(std::move(composed)),
      melody_(composed_) {
    // A melody whose notes do not match its lyric's syllables cannot be graded
    // note by note; it is graded as having no pairs.
    if (check_.syllables().size() == melody_.notes.size()) grading_ = check_.grade(melody_.notes);
    chords_ = harmony::choose_chords(harmony::request_for(melody_));
    locked_.assign(chords_.chords.size(), false);
}

std::vector<harmony::Lock> EditableMelody::locks() const {
    std::vector<harmony::Lock> locks;
    for (std::size_t k = 0; k < locked_.size(); ++k)
        if (locked_[k]) locks.push_back({static_cast<int>(k), chords_.chords[k]});
    return locks;
}

harmony::ChordRequest EditableMelody::chord_request(std::span<const harmony::Lock> locks) const {
    return harmony::request_for(melody_, locks);
}

std::array<int, 2> EditableMelody::sentence_notes(int sentence) const {
    int first = -1;
    int last = -1;
    for (std::size_t i = 0; i < melody_.lyrics.size(); ++i) {
        if (melody_.lyrics[i].sentence != sentence) continue;
        if (first < 0) first = static_cast<int>(i);
        last = static_cast<int>(i);
    }
    if (first < 0) return {0, 0};
    return {first, last + 1};
}

void EditableMelody::regrade() {
    if (check_.syllables().size() == melody_.notes.size()) grading_ = check_.grade(melody_.notes);
}

void EditableMelody::put(const Change& change, bool forward) {
    const auto i = static_cast<std::size_t>(change.note);
    melody_.notes[i] = forward ? change.to_pitch : change.from_pitch;
    melody_.ticks[i] = forward ? change.to_ticks : change.from_ticks;
}

Applied EditableMelody::apply(const Edit& edit) {
    Applied result;
    result.step.edit = edit;
    const int count = static_cast<int>(melody_.notes.size());
    auto refuse = [&result](std::string reason) {
        result.error = std::move(reason);
        return result;
    };
    auto pitch_change = [this](int note, int pitch) {
        const auto i = static_cast<std::size_t>(note);
        return Change{note, melody_.notes[i], pitch, melody_.ticks[i], melody_.ticks[i]};
    };

    switch (edit.kind) {
        case EditKind::step:
        case EditKind::semitone:
        case EditKind::octave:
        case EditKind::pitch: {
            if (edit.note < 0 || edit.note >= count) {
                return refuse(note_name(edit.note) + " does not exist (the melody has " +
                              std::to_string(count) + " notes)");
            }
            const int pitch = melody_.notes[static_cast<std::size_t>(edit.note)];
            const int direction = edit.amount >= 0 ? 1 : -1;
            std::optional<int> to;
            if (edit.kind == EditKind::step) {
                to = scale_step(melody_.mode, pitch, direction);
            } else if (edit.kind == EditKind::pitch) {
                to = edit.amount;
            } else {
                to = pitch + direction * (edit.kind == EditKind::octave ? 12 : 1);
            }
            if (!to || *to < 0 || *to > 127) {
                return refuse(note_name(edit.note) + " cannot go " +
                              (direction > 0 ? "higher" : "lower"));
            }
            if (*to != pitch) result.step.changes.push_back(pitch_change(edit.note, *to));
            break;
        }
        case EditKind::sentence: {
            const auto [first, end] = sentence_notes(edit.sentence);
            if (edit.sentence < 0 || edit.sentence > 3 || first == end) {
                return refuse("sentence " + std::to_string(edit.sentence + 1) +
                              " does not exist in this melody");
            }
            const Candidate other = compose_from(source_, edit.state);
            if (auto refused = sentence_changes(edit, other.outcome.nt_seq, other.outcome.tm_seq,
                                                result.step.changes)) {
                return refuse(std::move(*refused));
            }
            break;
        }
        case EditKind::fix_tones:
        case EditKind::suit_tones: {
            if (check_.syllables().size() != melody_.notes.size()) {
                return refuse("this melody's notes do not match its lyric's syllables");
            }
            const RepairLimits limits = limits_for(melody_.mode, composed_.notes, melody_.notes);
            const Repair repair = repair_tones(
                check_, melody_.notes, limits,
                edit.kind == EditKind::fix_tones ? RepairGoal::no_contrary : RepairGoal::all_suit);
            for (const NoteChange& change : repair.changes) {
                result.step.changes.push_back(pitch_change(change.note, change.to));
            }
            result.step.left = repair.left;
            break;
        }
        case EditKind::lock_chord:
        case EditKind::unlock_chord:
        case EditKind::set_chord:
        case EditKind::regenerate_chords:
            if (auto refused = chord_step(result.step)) return refuse(std::move(*refused));
            break;
    }

    if (result.step.changed()) keep(result.step);
    return result;
}

std::optional<std::string> EditableMelody::sentence_changes(const Edit& edit, const Sequence& notes,
                                                            const Sequence& ticks,
                                                            std::vector<Change>& changes) const {
    const auto [first, end] = sentence_notes(edit.sentence);
    if (notes.size() != melody_.notes.size() || ticks.size() != melody_.ticks.size()) {
        return "the composition from state " + state_text(edit.state) +
               " does not have this melody's notes";
    }
    // The sentence comes with its rhythm: the notes after it move with the
    // length it has, each note still sung on its own syllable.
    for (int i = first; i < end; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const Change change{i, melody_.notes[k], notes[k], melody_.ticks[k], ticks[k]};
        if (change.from_pitch != change.to_pitch || change.from_ticks != change.to_ticks) {
            changes.push_back(change);
        }
    }
    return std::nullopt;
}

std::optional<std::string> EditableMelody::chord_step(Step& step) {
    const Edit& edit = step.edit;
    const int slots = static_cast<int>(chords_.chords.size());
    if (edit.kind != EditKind::regenerate_chords && (edit.slot < 0 || edit.slot >= slots)) {
        return "chord slot " + std::to_string(edit.slot + 1) + " does not exist in this melody (" +
               (slots == 0 ? std::string("it has none") : "slots 1 to " + std::to_string(slots)) +
               ")";
    }
    std::vector<bool> locked = locked_;
    std::vector<harmony::Lock> locks = this->locks();
    harmony::Harmony chosen = chords_;
    switch (edit.kind) {
        case EditKind::lock_chord:
        case EditKind::unlock_chord:
            locked[static_cast<std::size_t>(edit.slot)] = edit.kind == EditKind::lock_chord;
            break;
        case EditKind::set_chord: {
            // The chord set becomes a lock; the unlocked slots on either side are chosen
            // again around it.
            locked[static_cast<std::size_t>(edit.slot)] = true;
            std::erase_if(locks, [&](const harmony::Lock& lock) { return lock.slot == edit.slot; });
            locks.push_back({edit.slot, edit.chord});
            const std::int64_t first = std::max(edit.slot - 1, 0);
            const std::int64_t end = edit.slot + 2;
            chosen = harmony::choose_chords_near(
                chord_request(locks), chords_, first * harmony::kSlotTicks,
                end * harmony::kSlotTicks, static_cast<int>(end - first));
            break;
        }
        case EditKind::regenerate_chords:
            chosen = harmony::choose_chords(chord_request(locks));
            break;
        default:
            break;
    }
    record_chords(step, chosen, locked);
    return std::nullopt;
}

void EditableMelody::rechord(Step& step) {
    // Where each note starts in the edited melody, its rest before the next one counted.
    const std::size_t n = melody_.notes.size();
    std::vector<std::int64_t> start(n + 1, 0);
    for (std::size_t i = 0; i < n; ++i) {
        start[i + 1] = start[i] + std::max(melody_.ticks[i], 0) +
                       (melody_.rests.size() == n ? std::max(melody_.rests[i], 0) : 0);
    }
    std::int64_t from = start[n];
    std::int64_t to = 0;
    bool moved = false;  // a length changed: every note after it moved
    for (const Change& change : step.changes) {
        const auto i = static_cast<std::size_t>(change.note);
        from = std::min(from, start[i]);
        to = std::max(to, start[i + 1]);
        moved = moved || change.from_ticks != change.to_ticks;
    }
    const std::vector<harmony::Lock> locks = this->locks();
    const harmony::ChordRequest request = chord_request(locks);
    const int slots = harmony::slot_count(request);
    int most = slots;  // a repair or a sentence: every slot its notes sound in
    if (moved) {
        to = std::max<std::int64_t>(
            {to, start[n], static_cast<std::int64_t>(chords_.chords.size()) * harmony::kSlotTicks});
    } else if (step.changes.size() == 1) {
        most = 2;  // one note: at most the two chords it sounds under
    }
    const harmony::Harmony chosen = harmony::choose_chords_near(request, chords_, from, to, most);
    std::vector<bool> locked = locked_;
    locked.resize(chosen.chords.size(), false);
    record_chords(step, chosen, locked);
}

void EditableMelody::record_chords(Step& step, const harmony::Harmony& chosen,
                                   const std::vector<bool>& locked) {
    const std::size_t before = chords_.chords.size();
    const std::size_t after = chosen.chords.size();
    step.chord_slots.clear();
    step.slots_from = static_cast<int>(before);
    step.slots_to = static_cast<int>(after);
    for (std::size_t k = 0; k < std::max(before, after); ++k) {
        SlotChange change{static_cast<int>(k), {}, {}, false, false};
        change.from = k < before ? chords_.chords[k] : chosen.chords[k];
        change.from_locked = k < before ? locked_[k] : locked[k];
        change.to = k < after ? chosen.chords[k] : chords_.chords[k];
        change.to_locked = k < after ? locked[k] : locked_[k];
        if (k >= std::min(before, after) || !(change.from == change.to) ||
            change.from_locked != change.to_locked) {
            step.chord_slots.push_back(change);
        }
    }
}

void EditableMelody::put_chords(const Step& step, bool forward) {
    if (step.chord_slots.empty() && step.slots_from == step.slots_to) return;
    const auto size = static_cast<std::size_t>(std::max(step.slots_from, step.slots_to));
    chords_.chords.resize(size);
    locked_.resize(size, false);
    for (const SlotChange& change : step.chord_slots) {
        const auto k = static_cast<std::size_t>(change.slot);
        chords_.chords[k] = forward ? change.to : change.from;
        locked_[k] = forward ? change.to_locked : change.from_locked;
    }
    const auto count = static_cast<std::size_t>(forward ? step.slots_to : step.slots_from);
    chords_.chords.resize(count);
    locked_.resize(count);
    const std::vector<harmony::Lock> locks = this->locks();
    chords_.cost = harmony::sequence_cost(chord_request(locks), chords_.chords);
}

void EditableMelody::keep(Step& step) {
    steps_.resize(applied_);
    for (const Change& change : step.changes) put(change, true);
    if (!step.changes.empty()) rechord(step);
    put_chords(step, true);
    steps_.push_back(step);
    ++applied_;
    regrade();
}

std::optional<std::string> EditableMelody::apply_all(const std::vector<Edit>& edits) {
    for (std::size_t k = 0; k < edits.size(); ++k) {
        const Applied applied = apply(edits[k]);
        if (applied.error) return item_message(k + 1, edit_text(edits[k]), *applied.error);
    }
    return std::nullopt;
}

const Step* EditableMelody::undo() {
    if (applied_ == 0) return nullptr;
    const Step& step = steps_[--applied_];
    for (auto change = step.changes.rbegin(); change != step.changes.rend(); ++change) {
        put(*change, false);
    }
    put_chords(step, false);
    regrade();
    return &step;
}

const Step* EditableMelody::redo() {
    if (applied_ == steps_.size()) return nullptr;
    const Step& step = steps_[applied_++];
    for (const Change& change : step.changes) put(change, true);
    put_chords(step, true);
    regrade();
    return &step;
}

std::vector<Edit> EditableMelody::edits() const {
    std::vector<Edit> list;
    list.reserve(applied_);
    for (std::size_t k = 0; k < applied_; ++k) list.push_back(steps_[k].edit);
    return list;
}

CompositionFile EditableMelody::file() const {
    return composition_file(melody_.tempo, melody_.program,
                            Sequence(melody_.notes.begin(), melody_.notes.end()),
                            Sequence(melody_.ticks.begin(), melody_.ticks.end()));
}

Applied EditableMelody::regenerate_sentence(int sentence, int count) {
    const auto [first, end] = sentence_notes(sentence);
    if (sentence < 0 || sentence > 3 || first == end) {
        Applied refused;
        refused.step.edit = Edit{EditKind::sentence};
        refused.error =
            "sentence " + std::to_string(sentence + 1) + " does not exist in this melody";
        return refused;
    }
    if (!next_candidate_) next_candidate_ = compose_from(source_, source_.state).after;
    Edit best{EditKind::sentence};
    best.sentence = sentence;
    std::optional<SentenceGrade> best_grade;
    for (int k = 0; k < std::max(count, 1); ++k) {
        const Generators::State state = *next_candidate_;
        const Candidate candidate = compose_from(source_, state);
        next_candidate_ = candidate.after;
        if (candidate.outcome.nt_seq.size() != check_.syllables().size()) continue;
        const SentenceGrade grade =
            sentence_grade(check_, check_.grade(candidate.outcome.nt_seq), sentence);
        if (!best_grade || grade.better_than(*best_grade)) {
            best_grade = grade;
            best.state = state;
        }
    }
    return apply(best);
}

BySentence shape_by_sentence(Source settings, const ToneCheck& check, int count, Generators& gens,
                             MessageSink& messages) {
    settings.state = gens.state();
    std::array<std::optional<SentenceGrade>, 4> best;
    std::array<Generators::State, 4> best_state{};
    std::array<ComposeOutcome, 4> best_outcome;  // each sentence's candidate as composed
    std::array<int, 4> chosen{};
    std::optional<ComposeOutcome> first;
    std::vector<Generators::State> states;
    QuietSink quiet;
    for (int k = 0; k < std::max(count, 1); ++k) {
        const Generators::State state = gens.state();
        states.push_back(state);
        ComposeOutcome outcome =
            compose_melody(settings.gbk_text, settings.speed_pos, settings.mode_pos,
                           settings.timbre_pos, gens, k == 0 ? messages : quiet);
        if (outcome.nt_seq.size() == check.syllables().size()) {
            const ToneGrading grading = check.grade(outcome.nt_seq);
            for (std::size_t s = 0; s < 4; ++s) {
                const SentenceGrade grade = sentence_grade(check, grading, static_cast<int>(s));
                if (best[s] && !grade.better_than(*best[s])) continue;
                best[s] = grade;
                best_state[s] = state;
                chosen[s] = k;
                if (k > 0) best_outcome[s] = outcome;
            }
        }
        if (k == 0) first = std::move(outcome);
    }

    BySentence made{EditableMelody(settings, notation::melody_from(settings.gbk_text, *first)),
                    chosen, std::move(states)};
    EditableMelody& melody = made.melody;
    for (std::size_t s = 0; s < 4; ++s) {
        if (chosen[s] == 0) continue;
        Step step;
        step.edit = Edit{EditKind::sentence};
        step.edit.sentence = static_cast<int>(s);
        step.edit.state = best_state[s];
        // A sentence missing from this melody, or a candidate of another length, is
        // passed over as applying its edit would refuse it.
        const auto [begin, end] = melody.sentence_notes(step.edit.sentence);
        if (begin == end) continue;
        if (melody.sentence_changes(step.edit, best_outcome[s].nt_seq, best_outcome[s].tm_seq,
                                    step.changes)) {
            continue;
        }
        if (step.changed()) melody.keep(step);
    }
    return made;
}

}  // namespace quavella::edit
