// The melody composer: a Song holds the settings of one composition and turns
// a four-sentence phrase layout into a melody (one note per syllable) with its
// durations; composition_file makes its composition MIDI file in memory.
//
// Glossary: stc = sentence, nt = note, tm = time (duration), cnt = count,
// seq = sequence, mk = make.
// Members without a trailing underscore (nt_cnt, nt_seq_now, ...) are the documented names.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "composer/draws.h"
#include "composer/message_sink.h"
#include "lyrics/phrase_layout.h"

namespace quavella {

/// A growable sequence of notes, durations or layout entries.
using Sequence = std::vector<std::int32_t>;

/// Ticks per beat of every composition file.
inline constexpr int kCompositionTicksPerBeat = 120;

/// The composer's unit of duration for a melody of `note_count` notes: half a beat
/// (60 ticks) for 28 notes and more, a beat (120 ticks) below. Every duration it
/// composes is a whole number of units, and note-length edits step by one unit.
constexpr int time_unit(int note_count) { return note_count >= 28 ? 60 : 120; }

/// A composition file made in memory.
struct CompositionFile {
    std::string bytes;  ///< the whole file; empty when it could not be made
    std::string error;  ///< the writer's error text; empty when the bytes are complete
};

/// The bytes of the composition file of a melody, exactly as Song writes them:
/// format 1, a track with key signature, tempo and program, a track of the notes.
/// Edited melodies are written through it too.
/// @param tempo_bpm beats per minute, above 0
/// @param notes,ticks MIDI note numbers and their durations, of the same length
/// @param rests the silence after each note, in ticks: empty (no rest, as every composed
///        melody) or one per note; a rest is the time between a note-off and the next
///        note-on (after the last note, before the end of the track)
CompositionFile composition_file(int tempo_bpm, int program, const Sequence& notes,
                                 const Sequence& ticks, const Sequence& rests = {});

/// The notes of a mode's scale that the composer draws pitches from (G3 to E5),
/// ascending; note editing steps along the same scale.
/// @return nothing for a mode outside 0..3
std::span<const std::int32_t> mode_scale(int mode);

/// Composer of one melody; used once: construct, set, compose, destroy.
class Song {
public:
    /// Creates a Song with the default settings (program 0, 90 bpm, mode 3).
    /// @param draws source of every random choice; must outlive the Song.
    /// @param messages receives the consistency messages; must outlive the Song.
    Song(DrawSource& draws, MessageSink& messages);

    /// Stores the General MIDI program (0-based), without any check.
    void set_program(int value);
    /// Stores the tempo in beats per minute, without any check.
    void set_tempo(int value);
    /// Stores the mode number (0..3 select a scale), without any check.
    void set_mode(int value);

    /// Composes a melody from the layout: every stage, in order. Its composition file
    /// is made in memory from the result (composition_file), never written here.
    /// @param a a layout with exactly four STC_END values, the last entry being one.
    void compose_melody(PhraseLayout a);

    /// MIDI note numbers of the melody.
    const Sequence& get_nt_seq_now() const { return nt_seq_now; }
    /// Duration of each note of the melody, in ticks.
    const Sequence& get_tm_seq_now() const { return tm_seq_now; }
    /// Number of notes of the finished melody.
    int get_nt_cnt() const { return nt_cnt; }
    /// The note area: the notes of the chosen scale, ascending.
    const Sequence& get_nt_area() const { return nt_area; }
    /// Layout entries of sentence i (0..3), sentence ends removed.
    const Sequence& get_stc_seq(int i) const { return stc_seq.at(static_cast<std::size_t>(i)); }
    /// Motif i (0..3) cut from the pitch series.
    const Sequence& get_nt_motif(int i) const { return nt_motif.at(static_cast<std::size_t>(i)); }
    /// Lowest note of the pitch pool.
    int get_first_nt() const { return first_nt; }
    /// Size of the pitch pool (after composing: the number of distinct series values).
    int get_nt_range() const { return nt_range; }
    /// Tempo in beats per minute.
    int get_tempo_bpm() const { return tempo_bpm; }
    /// Mode number.
    int get_mode() const { return mode; }
    /// General MIDI program, 0-based.
    int get_program() const { return program; }

private:
    friend struct SongProbe;

    void split_stc(const PhraseLayout& a);
    void mk_nt_area();
    void make_nt_seq();
    Sequence make_series();
    void cut_motifs();
    void show_seq(const Sequence& list);
    void build_all();
    Sequence build_stc(Sequence motif, Sequence stc);
    void smooth_leaps();
    void make_tm_seq();
    int nt_area_index(std::int32_t note);

    int program = 0;
    int nt_cnt = 0;
    int tempo_bpm = 90;
    int mode = 3;
    int nt_range = 5;
    int first_nt = 60;
    std::array<Sequence, 4> stc_seq;
    Sequence nt_seq_now;
    std::array<Sequence, 4> nt_motif;
    Sequence tm_seq_now;
    Sequence nt_area;

    DrawSource& draws_;
    MessageSink& messages_;
};

}  // namespace quavella
