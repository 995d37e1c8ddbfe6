// Applying, undoing and redoing edits of a composed melody.
#include "edit/editable_melody.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "composer/compose_request.h"
#include "composer/message_sink.h"
#include "lyrics/gbk_text.h"
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

/// The change a length or rest edit makes to a melody, or why it is refused.
std::optional<std::string> length_change(const notation::Melody& melody, const Edit& edit,
                                         Change& change) {
    const int count = static_cast<int>(melody.notes.size());
    if (edit.note < 0 || edit.note >= count) {
        return note_name(edit.note) + " does not exist (the melody has " + std::to_string(count) +
               " notes)";
    }
    const auto i = static_cast<std::size_t>(edit.note);
    const int unit = time_unit(count);
    const int rest = notation::rest_after(melody, i);
    change = Change{
        edit.note, melody.notes[i], melody.notes[i], melody.ticks[i], melody.ticks[i], rest, rest};
    switch (edit.kind) {
        case EditKind::lengthen:
            change.to_ticks += unit;
            break;
        case EditKind::shorten:
            if (change.from_ticks - unit < unit) {
                return note_name(edit.note) + " cannot be shorter than one unit (" +
                       std::to_string(unit) + " ticks)";
            }
            change.to_ticks -= unit;
            break;
        case EditKind::add_rest:
            change.to_rest += unit;
            break;
        case EditKind::remove_rest:
            if (change.from_rest <= 0) return "there is no rest after " + note_name(edit.note);
            change.to_rest = std::max(change.from_rest - unit, 0);
            break;
        default:
            return "not a length or rest edit";
    }
    // Whatever is added must leave the melody within what a score is written for.
    if (change.to_ticks > change.from_ticks || change.to_rest > change.from_rest) {
        std::int64_t total = unit;
        for (std::size_t k = 0; k < melody.notes.size(); ++k) {
            total += std::max(melody.ticks[k], 0) + std::max(notation::rest_after(melody, k), 0);
        }
        if (total > notation::kMaxScoreTicks) {
            return "the melody would last over " + std::to_string(notation::kMaxScoreTicks) +
                   " ticks";
        }
    }
    return std::nullopt;
}

/// The changes of 对齐节拍: note lengths only, pitches and rests kept.
std::vector<Change> rhythm_changes(const notation::Melody& melody) {
    const RhythmRepair repair =
        align_beats(melody, time_unit(static_cast<int>(melody.notes.size())));
    std::vector<Change> changes;
    for (const int note : repair.changed) {
        const auto i = static_cast<std::size_t>(note);
        const int rest = notation::rest_after(melody, i);
        changes.push_back(Change{note, melody.notes[i], melody.notes[i], melody.ticks[i],
                                 repair.ticks[i], rest, rest});
    }
    return changes;
}

/// The words of a word edit as the joined GBK text that is composed, read as the lyric
/// box's lines are; or why they cannot be sung, as a composition's lyrics are refused.
std::optional<std::string> words_gbk(const std::string& words, std::string& gbk) {
    if (words.size() > kMaxWordBytes) {
        return "new words of more than " + std::to_string(kMaxWordBytes) + " bytes";
    }
    std::vector<std::string_view> lines;
    const std::string_view all(words);
    std::size_t start = 0;
    for (std::size_t end; (end = all.find('\n', start)) != std::string_view::npos;
         start = end + 1) {
        lines.push_back(all.substr(start, end - start));
    }
    lines.push_back(all.substr(start));
    GbkConversion converted = lyric_text_from_lines(lines, LyricEncoding::utf8);
    if (!converted.ok) {
        if (converted.bad_offset == std::string_view::npos) {
            return std::string("this system cannot convert UTF-8 to GBK");
        }
        const auto line_start =
            static_cast<std::size_t>(lines[converted.bad_line].data() - all.data());
        return "invalid UTF-8 in the new words at byte offset " +
               std::to_string(line_start + converted.bad_offset);
    }
    const LyricCheck check = check_lyrics(converted);
    if (check.refusal) return *check.refusal;
    gbk = std::move(converted.gbk);
    return std::nullopt;
}

/// Index of the first entry of each sentence (0..3) and one past its last, in `sentences`
/// (one per note); nothing when a sentence is not one run of notes.
std::optional<std::array<std::array<int, 2>, 4>> sentence_runs(const std::vector<int>& sentences) {
    std::array<std::array<int, 2>, 4> runs{};
    std::array<bool, 4> seen{};
    for (std::size_t i = 0; i < sentences.size(); ++i) {
        const int s = sentences[i];
        if (s < 0 || s > 3) return std::nullopt;
        auto& run = runs[static_cast<std::size_t>(s)];
        const int at = static_cast<int>(i);
        if (!seen[static_cast<std::size_t>(s)]) {
            seen[static_cast<std::size_t>(s)] = true;
            run = {at, at + 1};
        } else if (run[1] == at) {
            run[1] = at + 1;
        } else {
            return std::nullopt;
        }
    }
    return runs;
}

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
    // A word edit may leave a melody that does not match its words: no pairs then.
    grading_ = check_.syllables().size() == melody_.notes.size() ? check_.grade(melody_.notes)
                                                                 : ToneGrading{};
}

void EditableMelody::put(const Change& change, bool forward) {
    const auto i = static_cast<std::size_t>(change.note);
    melody_.notes[i] = forward ? change.to_pitch : change.from_pitch;
    melody_.ticks[i] = forward ? change.to_ticks : change.from_ticks;
    // The rest list stays empty while the melody has none: such a melody writes the
    // composition's bytes.
    const int rest = forward ? change.to_rest : change.from_rest;
    if (rest != 0 && melody_.rests.empty()) melody_.rests.assign(melody_.notes.size(), 0);
    if (!melody_.rests.empty()) {
        melody_.rests[i] = rest;
        if (rest == 0 &&
            std::all_of(melody_.rests.begin(), melody_.rests.end(), [](int r) { return r == 0; }))
            melody_.rests.clear();
    }
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
        const int rest = notation::rest_after(melody_, i);
        return Change{note, melody_.notes[i], pitch, melody_.ticks[i], melody_.ticks[i], rest,
                      rest};
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
        case EditKind::words: {
            if (auto refused = word_change(edit, result.step)) return refuse(std::move(*refused));
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
        case EditKind::lengthen:
        case EditKind::shorten:
        case EditKind::add_rest:
        case EditKind::remove_rest: {
            Change change;
            if (auto refused = length_change(melody_, edit, change)) {
                return refuse(std::move(*refused));
            }
            result.step.changes.push_back(change);
            break;
        }
        case EditKind::fix_rhythm:
            result.step.changes = rhythm_changes(melody_);
            break;
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

void EditableMelody::put(const WordChange& words, bool forward) {
    source_.gbk_text = forward ? words.to_text : words.from_text;
    check_ = ToneCheck(syllable_texts(source_.gbk_text));
    melody_ = forward ? words.to : words.from;
}

const std::string* EditableMelody::words() const {
    for (std::size_t k = applied_; k-- > 0;) {
        if (steps_[k].edit.kind == EditKind::words) return &steps_[k].edit.words;
    }
    return nullptr;
}

std::array<Generators::State, 4> EditableMelody::sentence_states() const {
    std::array<Generators::State, 4> states;
    states.fill(source_.state);
    for (std::size_t k = 0; k < applied_; ++k) {
        const Edit& edit = steps_[k].edit;
        if (edit.kind == EditKind::sentence && edit.sentence >= 0 && edit.sentence <= 3) {
            states[static_cast<std::size_t>(edit.sentence)] = edit.state;
        }
    }
    return states;
}

std::optional<std::string> EditableMelody::word_change(const Edit& edit, Step& step) const {
    std::string gbk;
    if (auto refused = words_gbk(edit.words, gbk)) return refused;
    if (gbk == source_.gbk_text) return std::nullopt;  // the same words: nothing changes

    Source words_source = source_;
    words_source.gbk_text = gbk;
    const std::vector<SyllableText> syllables = syllable_texts(gbk);
    std::vector<int> new_sentences;
    for (const SyllableText& syllable : syllables) new_sentences.push_back(syllable.sentence);
    std::vector<int> old_sentences;
    for (const notation::Lyric& lyric : melody_.lyrics) old_sentences.push_back(lyric.sentence);
    const auto new_runs = sentence_runs(new_sentences);
    const auto old_runs = sentence_runs(old_sentences);
    if (!new_runs || !old_runs || old_sentences.size() != melody_.notes.size()) {
        return std::string("this melody's notes do not follow its sentences");
    }

    // A sentence whose syllable count changed takes its notes from the composition of
    // the new words from the state that sentence was composed from: the origin's, or
    // that of the sentence edit that last gave it notes (重新生成本句 among them). The
    // sentence is then what that edit would give it on the new words, and another
    // sentence keeps its own state, kept or composed anew, through any number of word
    // edits. Each state is composed once.
    const std::array<Generators::State, 4> states = sentence_states();
    std::vector<std::pair<Generators::State, ComposeOutcome>> composed;
    auto outcome_from = [&](const Generators::State& state) -> const ComposeOutcome* {
        for (const auto& [from, outcome] : composed) {
            if (from == state) return &outcome;
        }
        Candidate candidate = compose_from(words_source, state);
        if (candidate.outcome.nt_seq.size() != syllables.size() ||
            candidate.outcome.tm_seq.size() != syllables.size()) {
            return nullptr;
        }
        composed.emplace_back(state, std::move(candidate.outcome));
        return &composed.back().second;
    };

    notation::Melody to;
    to.tempo = melody_.tempo;
    to.mode = melody_.mode;
    to.program = melody_.program;
    to.lyrics = notation::lyrics_of(syllables, syllables.size());
    std::vector<int> rests;
    for (std::size_t s = 0; s < 4; ++s) {
        const auto [first, end] = (*new_runs)[s];
        const auto [old_first, old_end] = (*old_runs)[s];
        if (end - first == old_end - old_first) {
            // The same count of syllables: the sentence keeps its notes, note for note.
            for (int i = old_first; i < old_end; ++i) {
                const auto k = static_cast<std::size_t>(i);
                to.notes.push_back(melody_.notes[k]);
                to.ticks.push_back(melody_.ticks[k]);
                rests.push_back(melody_.rests.empty() ? 0 : melody_.rests[k]);
            }
            continue;
        }
        if (first == end) continue;  // no syllable of it left: nothing to compose
        const ComposeOutcome* outcome = outcome_from(states[s]);
        if (outcome == nullptr) {
            return "the composition of the new words from state " + state_text(states[s]) +
                   " does not sing one note per syllable";
        }
        for (int i = first; i < end; ++i) {
            const auto k = static_cast<std::size_t>(i);
            to.notes.push_back(outcome->nt_seq[k]);
            to.ticks.push_back(outcome->tm_seq[k]);
            rests.push_back(0);
        }
    }
    // A melody without a rest keeps none (as every composed melody).
    if (std::any_of(rests.begin(), rests.end(), [](int rest) { return rest != 0; })) {
        to.rests = std::move(rests);
    }
    auto change = std::make_shared<WordChange>();
    change->from_text = source_.gbk_text;
    change->to_text = std::move(gbk);
    change->from = melody_;
    change->to = std::move(to);
    step.words = std::move(change);
    return std::nullopt;
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
        const int rest = notation::rest_after(melody_, k);
        const Change change{i, melody_.notes[k], notes[k], melody_.ticks[k], ticks[k], rest, rest};
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
        moved = moved || change.from_ticks != change.to_ticks || change.from_rest != change.to_rest;
    }
    // New words: any note may have moved, and the count of notes with them.
    if (step.words) {
        from = 0;
        moved = true;
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
    if (step.words) put(*step.words, true);
    for (const Change& change : step.changes) put(change, true);
    if (!step.changes.empty() || step.words) rechord(step);
    put_chords(step, true);
    steps_.push_back(step);
    ++applied_;
    regrade();
}

std::optional<std::string> EditableMelody::apply_all(const std::vector<Edit>& edits) {
    for (std::size_t k = 0; k < edits.size(); ++k) {
        const Applied applied = apply(edits[k]);
        if (applied.error) {
            // A word item may be long: its start names it.
            std::string shown = edit_text(edits[k]);
            if (shown.size() > 40) shown = shown.substr(0, 40) + "...";
            return item_message(k + 1, shown, *applied.error);
        }
    }
    return std::nullopt;
}

const Step* EditableMelody::undo() {
    if (applied_ == 0) return nullptr;
    const Step& step = steps_[--applied_];
    for (auto change = step.changes.rbegin(); change != step.changes.rend(); ++change) {
        put(*change, false);
    }
    if (step.words) put(*step.words, false);
    put_chords(step, false);
    regrade();
    return &step;
}

const Step* EditableMelody::redo() {
    if (applied_ == steps_.size()) return nullptr;
    const Step& step = steps_[applied_++];
    if (step.words) put(*step.words, true);
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
                            Sequence(melody_.ticks.begin(), melody_.ticks.end()),
                            Sequence(melody_.rests.begin(), melody_.rests.end()));
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
