// The song being shaped: one document that owns it, and the views that follow it.
//
// Who owns what:
//   Document (here)    the composition it started from, the applied and undone edits (the
//                      one undo/redo history), the current Composition (made once per
//                      change, graded once), whether that has been recorded, its listeners
//   views              the score window draws `current()` and its undo menu names
//                      `undo_step()` and `redo_step()`; keys and buttons call apply, undo,
//                      redo. No view keeps a melody or a history of its own.
//   player             a listener: each change hands `current()->midi` to the player from
//                      memory, and the same listener writes the working files
//   recorder           a listener: `settled` puts the shaped melody into the history
//
// An edit is a value of the closed set edit::EditKind; each kind has its text form
// (edit/edits.h: what quavella-cli --edits replays and the history stores) and, once
// applied, its inverse (edit::Step: what it changed, which undo puts back). A new kind (a
// note's length, a rest, a word, a chord) is one more EditKind with its text and its case
// in EditableMelody::apply, which records in its Step what it changed (a note's pitch and
// length today; a kind that changes another part of the song records that part beside
// them); the document, its history and its listeners take it as it is.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "composition/composition.h"
#include "edit/editable_melody.h"

namespace quavella::song {

/// What changed in a document.
enum class Event {
    started,  ///< a new song: another origin, no edits to undo
    edited,   ///< an edit was applied
    undone,   ///< the last applied edit was undone
    redone,   ///< an undone edit was applied again
    settled,  ///< editing paused on a melody not yet recorded: record `current()` now
};

class Document;

/// Told of every change, in the order listeners were added, on the thread that made it.
class Listener {
public:
    virtual ~Listener() = default;
    virtual void changed(const Document& document, Event event) = 0;
};

/// The melody a document started from `origin` shapes: the composed melody, graded, with
/// the edits `origin` was made by replayed. What start(origin) makes; a long melody takes a
/// while, so the window makes it on a worker beside the composition and hands it to start.
edit::EditableMelody shaped_of(const Composition& origin);

/// One song being shaped. Not thread-safe: it lives on the window's thread.
class Document {
public:
    Document() = default;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    /// Starts shaping `origin` (not null), after settling what was shaped before. An origin
    /// made by edits (best of N by sentence, an entry of the history) is composed again
    /// from its state and its edits replayed: they are part of it, not steps to undo.
    void start(CompositionPtr origin);
    /// Starts shaping `origin`, made from `shaped` (its applied steps are part of the
    /// origin): nothing is composed or replayed again.
    void start(CompositionPtr origin, edit::EditableMelody shaped);

    /// Whether a song was started.
    bool started() const { return melody_.has_value(); }
    /// The composition it started from; null before the first start.
    const CompositionPtr& origin() const { return origin_; }
    /// The song as it is now, a value of its own (the origin while unedited); null before
    /// the first start.
    const CompositionPtr& current() const { return current_; }
    /// The melody, its grading and its steps; only after a start.
    const edit::EditableMelody& melody() const { return *melody_; }

    /// Applies an edit after the current one (undone edits are dropped) and tells the
    /// listeners `edited`. An edit that changes nothing is not kept and tells nobody.
    /// @return what it did, or why it was refused (the song is unchanged then)
    edit::Applied apply(const edit::Edit& edit);
    /// Regenerates one sentence from the best of `count` further candidates, as apply.
    edit::Applied regenerate_sentence(int sentence, int count);

    bool can_undo() const;
    bool can_redo() const;
    /// The step undo would take back, or null.
    const edit::Step* undo_step() const;
    /// The step redo would apply again, or null.
    const edit::Step* redo_step() const;
    /// Undoes the last applied edit and tells `undone`. @return false when there is none
    bool undo();
    /// Applies the first undone edit again and tells `redone`. @return false when none
    bool redo();

    /// Whether `current()` is in the history: the origin is, and so is a shaped melody
    /// once settled (or when undoing led back to one that was).
    bool recorded() const;
    /// A pause in editing: a melody not recorded yet is handed on (`settled`) once.
    void settle();

    /// Adds a listener, which must outlive the document or be removed first.
    void add_listener(Listener& listener);
    void remove_listener(Listener& listener);

private:
    /// Makes `current()` from the melody (graded once, as edited) and tells `event`.
    /// @return why the composition could not be made; the change is then taken back
    std::optional<std::string> remake(Event event);
    void tell(Event event);

    CompositionPtr origin_;
    std::optional<edit::EditableMelody> melody_;
    std::size_t fixed_steps_ = 0;  ///< the steps the origin was made by, not undoable
    CompositionPtr current_;
    std::string recorded_edits_;  ///< the edit list last recorded
    std::vector<Listener*> listeners_;
};

}  // namespace quavella::song
