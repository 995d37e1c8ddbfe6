// A composed melody being shaped: the notes as composed, what they were
// composed from, and the edits made since, each of which can be undone and
// redone exactly. The score window edits through it (each step wrapped in an
// undo command); quavella-cli replays an edit list through it.
//
// An edited melody keeps the composition's tempo, mode and timbre and is written
// by the same MIDI writer in the same layout as a composition, so the player,
// the score, the exports and the history take it as they take a composition.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "composer/draws.h"
#include "composer/message_sink.h"
#include "composer/song.h"
#include "edit/beat_check.h"
#include "edit/edits.h"
#include "edit/tone_repair.h"
#include "harmony/chord_model.h"
#include "notation/score.h"
#include "tones/tone_grading.h"

namespace quavella::edit {

/// What a composition was made from: enough to make it, or any other composition
/// of the same lyrics and settings, again.
struct Source {
    std::string gbk_text;  ///< the joined lyric lines, GBK (the new words after a word edit)
    int speed_pos = 0;     ///< list positions, as compose_melody takes them
    int mode_pos = 0;
    int timbre_pos = 0;
    Generators::State state;  ///< the generators just before the composition
};

/// One note an edit changed.
struct Change {
    int note = 0;  ///< index of the note
    int from_pitch = 0;
    int to_pitch = 0;
    int from_ticks = 0;
    int to_ticks = 0;
    int from_rest = 0;  ///< ticks of silence after the note, before and after the edit
    int to_rest = 0;
};

/// What a word edit changed: the lyric and the whole melody, before and after (the
/// count of notes may change, which a list of Changes cannot say).
struct WordChange {
    std::string from_text;  ///< the lyric before, GBK
    std::string to_text;    ///< the lyric after, GBK
    notation::Melody from;
    notation::Melody to;
};

/// One chord slot an edit changed: its chord and whether it is locked, before and after.
/// A slot past the end on one side (the melody grew or shrank) holds what it held on
/// the other side there.
struct SlotChange {
    int slot = 0;  ///< from 0
    harmony::Chord from;
    harmony::Chord to;
    bool from_locked = false;
    bool to_locked = false;
    bool operator==(const SlotChange&) const = default;
};

/// An applied edit and what it did.
struct Step {
    Edit edit;
    std::vector<Change> changes;  ///< in melody order; empty when it changed no note
    std::vector<TonePair> left;   ///< a repair: the pairs it could not mend
    /// A word edit: the words and melody it replaced and put (shared: undo keeps it).
    std::shared_ptr<const WordChange> words;
    std::vector<SlotChange> chord_slots;  ///< the chord slots it changed, in order
    int slots_from = 0;                   ///< how many chord slots there were before it
    int slots_to = 0;                     ///< and after it
    /// True when it changed a note, the words or a chord: a step that changed nothing is
    /// not kept.
    bool changed() const {
        return !changes.empty() || words != nullptr || !chord_slots.empty() ||
               slots_from != slots_to;
    }
};

/// What apply() did.
struct Applied {
    std::optional<std::string> error;  ///< why the edit was refused; the melody is unchanged
    Step step;  ///< the step; when it changed nothing it is not kept (nothing to undo)
};

/// How well one sentence of a melody sings its words.
struct SentenceGrade {
    int agreeing = 0;  ///< pairs good or fair
    int good = 0;      ///< pairs good
    int contrary = 0;  ///< pairs contrary
    int graded = 0;    ///< pairs graded
    /// Fewer pairs contrary (倒字 first); then more good or fair; then more good.
    bool better_than(const SentenceGrade& other) const;
};

/// The grade of sentence `sentence` (0..3) of a graded melody of `check`'s lyric.
SentenceGrade sentence_grade(const ToneCheck& check, const ToneGrading& grading, int sentence);

struct BySentence;

/// A composed melody and its edits.
class EditableMelody {
public:
    /// Composes the source (its messages are dropped) and starts with no edits.
    explicit EditableMelody(Source source);
    /// Starts with no edits from a melody composed from `source`.
    EditableMelody(Source source, notation::Melody composed);

    const Source& source() const { return source_; }
    /// The melody as composed (from the source's first words: a word edit keeps it,
    /// as the range of pitches the composer chose).
    const notation::Melody& composed() const { return composed_; }
    /// The melody as edited so far.
    const notation::Melody& melody() const { return melody_; }
    /// The words of the last word edit applied (UTF-8 lines joined by "\n"), or null
    /// while the melody sings the source's first words.
    const std::string* words() const;
    /// The tone check of the lyric (the words as edited).
    const ToneCheck& check() const { return check_; }
    /// The grading of the edited melody, kept current.
    const ToneGrading& grading() const { return grading_; }
    /// The chords under the edited melody, one per slot (half bar): at the start
    /// chosen by harmony::choose_chords; after a note edit only the unlocked ones near
    /// it chosen again (harmony::choose_chords_near), the locked ones always kept.
    const harmony::Harmony& chords() const { return chords_; }
    /// Whether each slot's chord is locked, one per slot.
    const std::vector<bool>& locked() const { return locked_; }
    /// The locks: each locked slot with its chord, in slot order.
    std::vector<harmony::Lock> locks() const;
    /// The chord model's request for the edited melody with these locks: it views the
    /// melody and `locks`, which must outlive it and the melody's next change.
    harmony::ChordRequest chord_request(std::span<const harmony::Lock> locks) const;

    /// Index of the first note of a sentence and one past its last; equal when it has none.
    std::array<int, 2> sentence_notes(int sentence) const;

    /// Applies an edit after the current one; edits undone before are dropped.
    Applied apply(const Edit& edit);
    /// Applies a list in order; stops at the first refused edit.
    /// @return the refusal, naming the item (from 1) and its text
    std::optional<std::string> apply_all(const std::vector<Edit>& edits);

    bool can_undo() const { return applied_ > 0; }
    bool can_redo() const { return applied_ < steps_.size(); }
    /// Undoes the last applied edit. @return it, or nothing when there is none
    const Step* undo();
    /// Applies again the first undone edit. @return it, or nothing when there is none
    const Step* redo();
    /// Drops the undone edits: redo has nothing to apply then.
    void forget_undone() { steps_.resize(applied_); }

    /// The applied edits, in order.
    std::vector<Edit> edits() const;
    /// Every kept step; the first `applied()` of them are applied.
    const std::vector<Step>& steps() const { return steps_; }
    std::size_t applied() const { return applied_; }
    /// True when an edit is applied (its notes may still equal the composed ones).
    bool edited() const { return applied_ > 0; }

    /// The composition file of the edited melody (the composed melody's bytes when unedited).
    CompositionFile file() const;

    /// Regenerates one sentence: composes `count` candidates from consecutive
    /// generator states, after those used before (the first after the composition
    /// itself), and takes the sentence from the one whose sentence grades best
    /// (the first of equals). Applied as one sentence edit.
    Applied regenerate_sentence(int sentence, int count);

private:
    friend BySentence shape_by_sentence(Source, const ToneCheck&, int, Generators&, MessageSink&);
    void regrade();
    void put(const Change& change, bool forward);
    /// Puts the words and melody of a word edit, or takes them back.
    void put(const WordChange& words, bool forward);
    /// The step of a word edit: the new words' sentences whose syllable count is
    /// unchanged keep their notes, the others are composed from the new words.
    std::optional<std::string> word_change(const Edit& edit, Step& step) const;
    /// The generators' state each sentence's notes come from: that of the last sentence
    /// edit of it applied, else the source's.
    std::array<Generators::State, 4> sentence_states() const;
    /// The changes of a sentence edit that takes `edit.sentence` from `notes` and `ticks`.
    std::optional<std::string> sentence_changes(const Edit& edit, const Sequence& notes,
                                                const Sequence& ticks,
                                                std::vector<Change>& changes) const;
    /// Keeps a step whose changes are made: applied, graded, undone steps dropped.
    void keep(Step& step);
    /// A chord edit's slot changes in `step`; the reason when it is refused.
    std::optional<std::string> chord_step(Step& step);
    /// After the notes of `step` changed: the unlocked chords near them chosen again,
    /// recorded in `step`.
    void rechord(Step& step);
    /// Records in `step` each slot whose chord or lock `chosen` and `locked` change.
    void record_chords(Step& step, const harmony::Harmony& chosen, const std::vector<bool>& locked);
    /// Puts a step's chord slots after it (`forward`) or before it.
    void put_chords(const Step& step, bool forward);

    Source source_;
    ToneCheck check_;
    notation::Melody composed_;
    notation::Melody melody_;
    ToneGrading grading_;
    harmony::Harmony chords_;
    std::vector<bool> locked_;
    std::vector<Step> steps_;
    std::size_t applied_ = 0;
    std::optional<Generators::State> next_candidate_;  // where regeneration goes on
};

/// Best of N by sentence, made: the first candidate with each sentence taken from
/// the candidate that sings it best, as applied steps.
struct BySentence {
    /// The first candidate (its state is the source's), a sentence step applied for each
    /// sentence taken from another candidate; its edits name those candidates' states.
    EditableMelody melody;
    std::array<int, 4> chosen{};  ///< the candidate (from 0) each sentence comes from
    /// The generators' state just before each candidate, in the order composed: what makes
    /// each candidate again (the history records them all).
    std::vector<Generators::State> states;
};

/// Best of N by sentence, the one recipe the window and the command line share:
/// composes `count` candidates from consecutive states of `gens` (as best of N does,
/// leaving `gens` where `count` compositions leave it) and takes each sentence, note
/// for note with its rhythm, from the candidate whose sentence grades best, the first
/// of equals. Each sentence is taken from the candidate as composed, never composed
/// again; only the candidates a sentence comes from are held.
/// @param settings the lyric and settings; its state is not read
/// @param check the tone check of settings.gbk_text
/// @param messages the composer's messages of the first candidate (the others are quiet,
///        as a composition from its state would say the same)
BySentence shape_by_sentence(Source settings, const ToneCheck& check, int count, Generators& gens,
                             MessageSink& messages);

}  // namespace quavella::edit
