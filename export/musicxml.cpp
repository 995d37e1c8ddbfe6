// MusicXML export: the score's bars and glyphs become measures and notes,
// built as a pugixml document and serialized once.
#include "export/musicxml.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <pugixml.hpp>
#include <string_view>
#include <vector>

#include "composer/style_tables.h"
#include "export/export_file.h"
#include "export/export_text.h"
#include "export/gm_instruments.h"

namespace quavella::exports {

namespace {

using notation::Glyph;

/// The velocity of every note of the composition file.
constexpr int kVelocity = 95;

/// The composer's timbres by General MIDI program, voiced as notation programs'
/// templates write them: guitar in the octave treble clef, the acoustic bass in
/// bass clef written an octave above its sound, the piccolo an octave below.
struct ProgramVoicing {
    int program;
    Voicing voicing;
};
constexpr std::array<ProgramVoicing, 10> kVoicings{{
    {0, {"keyboard.piano", "G", 2, 0, 0}},
    {10, {"pitched-percussion.music-box", "G", 2, 0, 0}},
    {16, {"keyboard.organ.drawbar", "G", 2, 0, 0}},
    {24, {"pluck.guitar.nylon-string", "G", 2, -1, 0}},
    {32, {"pluck.bass.acoustic", "F", 4, 0, -1}},
    {40, {"strings.violin", "G", 2, 0, 0}},
    {48, {"strings.group", "G", 2, 0, 0}},
    {56, {"brass.trumpet", "G", 2, 0, 0}},
    {64, {"wind.reed.saxophone.soprano", "G", 2, 0, 0}},
    {72, {"wind.flutes.flute.piccolo", "G", 2, 0, 1}},
}};

/// The dynamics mark nearest a velocity, by the velocities notation programs play them at.
const char* dynamics_mark(int velocity) {
    static constexpr std::array<std::pair<const char*, int>, 8> marks{{{"ppp", 16},
                                                                       {"pp", 33},
                                                                       {"p", 49},
                                                                       {"mp", 64},
                                                                       {"mf", 80},
                                                                       {"f", 96},
                                                                       {"ff", 112},
                                                                       {"fff", 126}}};
    const auto* nearest = &marks[0];
    for (const auto& m : marks) {
        if (std::abs(m.second - velocity) < std::abs(nearest->second - velocity)) nearest = &m;
    }
    return nearest->first;
}
using notation::kBarTicks;
using notation::kTicksPerBeat;
using notation::Score;

/// A written note value: its length in ticks, MusicXML type, dots and flags.
struct NoteValue {
    int ticks;
    const char* type;
    int dots;
    int flags;  ///< beams it can take: 1 for an eighth, 2 for a sixteenth, ...
};

/// The values a glyph can be written as, longest first.
constexpr std::array<NoteValue, 10> kValues{{{480, "whole", 0, 0},
                                             {360, "half", 1, 0},
                                             {240, "half", 0, 0},
                                             {180, "quarter", 1, 0},
                                             {120, "quarter", 0, 0},
                                             {90, "eighth", 1, 1},
                                             {60, "eighth", 0, 1},
                                             {45, "16th", 1, 2},
                                             {30, "16th", 0, 2},
                                             {15, "32nd", 0, 3}}};

/// One written note or rest of a measure: a glyph, or a piece of a glyph whose
/// length no single note value has (then its pieces are tied).
struct Piece {
    const Glyph* glyph;
    NoteValue value;
    bool whole_glyph;  ///< the glyph is written as this one piece
    bool first;        ///< the first piece of its glyph
    bool last;         ///< the last piece of its glyph
    bool tie_start;
    bool tie_stop;
};

/// Splits a glyph's length into note values, longest first. A remainder shorter
/// than the shortest value is written with its exact duration as a 64th.
std::vector<NoteValue> note_values(int ticks) {
    std::vector<NoteValue> values;
    for (const NoteValue& v : kValues) {
        if (v.ticks == ticks) return {v};
    }
    int left = ticks;
    for (const NoteValue& v : kValues) {
        while (left >= v.ticks) {
            values.push_back(v);
            left -= v.ticks;
        }
    }
    if (left > 0) values.push_back({left, "64th", 0, 4});
    return values;
}

/// The pieces of every bar, ties between them set.
std::vector<std::vector<Piece>> bar_pieces(const Score& score) {
    std::vector<std::vector<Piece>> bars;
    bars.reserve(score.bars.size());
    bool tied_from_before = false;
    for (const notation::Bar& bar : score.bars) {
        std::vector<Piece>& pieces = bars.emplace_back();
        for (const Glyph& g : bar.glyphs) {
            if (g.ticks <= 0) continue;
            const bool is_note = g.note >= 0;
            const std::vector<NoteValue> values = note_values(g.ticks);
            for (std::size_t k = 0; k < values.size(); ++k) {
                const bool last = k + 1 == values.size();
                Piece p{&g, values[k], values.size() == 1, k == 0, last, false, false};
                p.tie_stop = is_note && tied_from_before;
                p.tie_start = is_note && (!last || g.tie_to_next);
                tied_from_before = p.tie_start;
                pieces.push_back(p);
            }
        }
    }
    return bars;
}

/// The divisions per quarter note that give every piece a whole duration.
int divisions_for(const std::vector<std::vector<Piece>>& bars) {
    int unit = kTicksPerBeat;
    for (const auto& pieces : bars) {
        for (const Piece& p : pieces) unit = std::gcd(unit, p.value.ticks);
    }
    return kTicksPerBeat / unit;
}

/// Step, alteration and octave of a MIDI note, black keys spelled as sharps (C major).
struct Pitch {
    const char* step;
    int alter;
    int octave;
};

/// The written pitches MusicXML has: octaves 0 to 9, C0 (12 as a MIDI key) to B9 (131).
constexpr int kLowestWritten = 12;
constexpr int kHighestWritten = 131;

/// The pitch of a written key. Keys outside kLowestWritten..kHighestWritten have none:
/// write_musicxml refuses them (musicxml_refusal) before anything is written.
Pitch pitch_of(int written) {
    static constexpr std::array<const char*, 12> steps{"C", "C", "D", "D", "E", "F",
                                                       "F", "G", "G", "A", "A", "B"};
    static constexpr std::array<int, 12> alters{0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0};
    const int m = std::clamp(written, kLowestWritten, kHighestWritten);
    return {steps[static_cast<std::size_t>(m % 12)], alters[static_cast<std::size_t>(m % 12)],
            m / 12 - 1};
}

/// A key's name with sharps and its octave, any key: "C#4", "C-1", "F10".
std::string key_name(int key) {
    static constexpr std::array<const char*, 12> names{"C",  "C#", "D",  "D#", "E",  "F",
                                                       "F#", "G",  "G#", "A",  "A#", "B"};
    const int octave = (key >= 0 ? key / 12 : (key - 11) / 12) - 1;
    return names[static_cast<std::size_t>(((key % 12) + 12) % 12)] + std::to_string(octave);
}

/// The beam states of the pieces of one bar, level by level (empty: no beam).
/// Two notes are joined where the first glyph's underline runs on to the next
/// and each is written as one note value with flags.
std::vector<std::vector<const char*>> beams_of(const std::vector<Piece>& pieces) {
    const std::size_t n = pieces.size();
    auto flags = [&](std::size_t i) {
        const Piece& p = pieces[i];
        return p.glyph->note >= 0 && p.whole_glyph ? p.value.flags : 0;
    };
    auto joined = [&](std::size_t i) {  // piece i to piece i + 1
        return i + 1 < n && pieces[i].glyph->beam_with_next && flags(i) > 0 && flags(i + 1) > 0;
    };
    std::vector<std::vector<const char*>> beams(n);
    for (std::size_t i = 0; i < n; ++i) {
        const bool left = i > 0 && joined(i - 1);
        const bool right = joined(i);
        if (!left && !right) continue;  // a lone note keeps its flags
        for (int level = 1; level <= flags(i); ++level) {
            const bool l = left && flags(i - 1) >= level;
            const bool r = right && flags(i + 1) >= level;
            const char* state = l && r  ? "continue"
                                : r     ? "begin"
                                : l     ? "end"
                                : right ? "forward hook"
                                        : "backward hook";
            beams[i].push_back(state);
        }
    }
    return beams;
}

/// Serializes into a string.
class StringWriter final : public pugi::xml_writer {
public:
    explicit StringWriter(std::string& out) : out_(out) {}
    void write(const void* data, std::size_t size) override {
        out_.append(static_cast<const char*>(data), size);
    }

private:
    std::string& out_;
};

/// Serializes into an export file.
class FileWriter final : public pugi::xml_writer {
public:
    explicit FileWriter(ExportFile& out) : out_(out) {}
    void write(const void* data, std::size_t size) override { out_.write(data, size); }

private:
    ExportFile& out_;
};

void add_text(pugi::xml_node parent, const char* name, std::string_view text) {
    parent.append_child(name).text().set(text.data(), text.size());
}

void add_number(pugi::xml_node parent, const char* name, int value) {
    parent.append_child(name).text().set(value);
}

/// Builds the document from the score.
class DocumentWriter {
public:
    DocumentWriter(const Score& score, std::string_view date,
                   std::span<const harmony::ChordChange> chords)
        : score_(score),
          melody_(score.melody),
          voicing_(voicing_of(score.melody.program)),
          date_(date.empty() ? encoding_date() : std::string(date)),
          chords_(chords) {}

    /// Writes the whole document. The score header is one small document with a
    /// slot where the measures go; each measure is then built in a scratch
    /// document of its own and printed at its depth, so memory stays that of one
    /// measure however long the melody (fresh memory costs more than the
    /// building itself on long lyrics).
    void write(pugi::xml_writer& out) {
        pugi::xml_document header;
        build_header(header);
        std::string head;
        StringWriter head_writer(head);
        header.save(head_writer, kIndent, pugi::format_default, pugi::encoding_utf8);
        // The slot is the only processing instruction: its line gives way to the measures.
        const std::size_t slot = head.find("<?" + std::string(kSlot));
        const std::size_t before = head.rfind('\n', slot) + 1;
        const std::size_t after = head.find('\n', slot) + 1;
        out.write(head.data(), before);

        const auto bars = bar_pieces(score_);
        const int divisions = divisions_for(bars);
        pugi::xml_document scratch;
        const std::size_t count = std::max<std::size_t>(bars.size(), 1);
        for (std::size_t b = 0; b < count; ++b) {
            scratch.reset();
            auto measure = start_measure(scratch, static_cast<int>(b + 1), divisions);
            // A score without bars still opens: one measure of rest.
            const std::vector<Piece> none;
            const auto& pieces = bars.empty() ? none : bars[b];
            const bool all_rest = std::all_of(pieces.begin(), pieces.end(),
                                              [](const Piece& p) { return p.glyph->note < 0; });
            const std::int64_t bar_start = static_cast<std::int64_t>(b) * kBarTicks;
            if (all_rest) {
                harmonies(measure, bar_start, bar_start + kBarTicks, divisions);
                whole_rest(measure, divisions);
            } else {
                const auto beams = beams_of(pieces);
                std::int64_t at = bar_start;
                for (std::size_t i = 0; i < pieces.size(); ++i) {
                    harmonies(measure, at, at + pieces[i].value.ticks, divisions);
                    note(measure, pieces[i], beams[i], divisions);
                    at += pieces[i].value.ticks;
                }
            }
            if (b + 1 == count) final_barline(measure);
            measure.print(out, kIndent, pugi::format_default, pugi::encoding_utf8, 2);
        }
        out.write(head.data() + after, head.size() - after);
    }

private:
    static constexpr const char* kIndent = "  ";
    static constexpr const char* kSlot = "measures";

    /// Everything but the measures; the part holds the slot for them.
    void build_header(pugi::xml_document& doc) {
        auto decl = doc.append_child(pugi::node_declaration);
        decl.append_attribute("version") = "1.0";
        decl.append_attribute("encoding") = "UTF-8";
        decl.append_attribute("standalone") = "no";
        doc.append_child(pugi::node_doctype)
            .set_value(
                "score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
                "\"http://www.musicxml.org/dtds/partwise.dtd\"");
        auto root = doc.append_child("score-partwise");
        root.append_attribute("version") = "4.0";

        const std::string title = export_text(notation::print_title(score_.title));
        if (!title.empty()) {
            add_text(root.append_child("work"), "work-title", title);
            add_text(root, "movement-title", title);
        }
        auto encoding = root.append_child("identification").append_child("encoding");
        add_text(encoding, "software", "Quavella " QUAVELLA_VERSION);
        add_text(encoding, "encoding-date", date_);
        part_list(root);

        auto part = root.append_child("part");
        part.append_attribute("id") = "P1";
        part.append_child(pugi::node_pi).set_name(kSlot);
    }

    void part_list(pugi::xml_node root) {
        const int program = std::clamp(melody_.program, 0, 127);
        const std::string_view instrument = gm_instrument_name(program);
        auto part = root.append_child("part-list").append_child("score-part");
        part.append_attribute("id") = "P1";
        add_text(part, "part-name", instrument);
        auto score_instrument = part.append_child("score-instrument");
        score_instrument.append_attribute("id") = "P1-I1";
        add_text(score_instrument, "instrument-name", instrument);
        if (*voicing_.sound != '\0') add_text(score_instrument, "instrument-sound", voicing_.sound);
        auto midi = part.append_child("midi-instrument");
        midi.append_attribute("id") = "P1-I1";
        // The composition plays the melody on the second channel.
        add_number(midi, "midi-channel", 2);
        add_number(midi, "midi-program", program + 1);
    }

    pugi::xml_node start_measure(pugi::xml_node parent, int number, int divisions) {
        auto measure = parent.append_child("measure");
        measure.append_attribute("number") = number;
        if (number != 1) return measure;
        auto attributes = measure.append_child("attributes");
        add_number(attributes, "divisions", divisions);
        auto key = attributes.append_child("key");
        add_number(key, "fifths", 0);
        add_text(key, "mode", "major");
        auto time = attributes.append_child("time");
        add_number(time, "beats", 4);
        add_number(time, "beat-type", 4);
        auto clef = attributes.append_child("clef");
        add_text(clef, "sign", voicing_.clef_sign);
        add_number(clef, "line", voicing_.clef_line);
        if (voicing_.clef_octave_change != 0)
            add_number(clef, "clef-octave-change", voicing_.clef_octave_change);
        if (voicing_.octave_change != 0) {
            auto transpose = attributes.append_child("transpose");
            // An octave: no step and no semitone besides it. Readers take the interval
            // from diatonic and chromatic together (MuseScore reads a 9th without it).
            add_number(transpose, "diatonic", 0);
            add_number(transpose, "chromatic", 0);
            add_number(transpose, "octave-change", voicing_.octave_change);
        }

        // The mode is named by the item whose scale the melody was composed with.
        const int mode_pos = mode_position(melody_.mode);
        if (mode_pos >= 0 && mode_pos < static_cast<int>(mode_items().size())) {
            auto direction = measure.append_child("direction");
            direction.append_attribute("placement") = "above";
            add_text(direction.append_child("direction-type"), "words",
                     "调式: " + mode_items()[static_cast<std::size_t>(mode_pos)]);
        }
        auto loudness = measure.append_child("direction");
        loudness.append_attribute("placement") = "below";
        loudness.append_child("direction-type")
            .append_child("dynamics")
            .append_child(dynamics_mark(kVelocity));
        loudness.append_child("sound").append_attribute("dynamics") =
            sound_dynamics(kVelocity).c_str();

        if (melody_.tempo > 0) {
            auto direction = measure.append_child("direction");
            direction.append_attribute("placement") = "above";
            auto metronome = direction.append_child("direction-type").append_child("metronome");
            add_text(metronome, "beat-unit", "quarter");
            add_number(metronome, "per-minute", melody_.tempo);
            direction.append_child("sound").append_attribute("tempo") = melody_.tempo;
        }
        return measure;
    }

    /// The chord symbols starting in [from, to), before the note written at `from`: an
    /// offset places one that starts inside the note.
    void harmonies(pugi::xml_node measure, std::int64_t from, std::int64_t to, int divisions) {
        while (next_chord_ < chords_.size() && chords_[next_chord_].tick < to) {
            const harmony::ChordChange& change = chords_[next_chord_++];
            if (change.tick < from) continue;  // a chord inside a note already written
            const harmony::Chord chord = change.chord;
            const HarmonyKind kind = harmony_kind(chord.kind);
            auto xh = measure.append_child("harmony");
            auto root = xh.append_child("root");
            const Pitch pitch = pitch_of(60 + chord.root);
            add_text(root, "root-step", pitch.step);
            if (pitch.alter != 0) add_number(root, "root-alter", pitch.alter);
            auto xkind = xh.append_child("kind");
            xkind.text().set(kind.kind);
            xkind.append_attribute("text") = kind.text;
            if (kind.no_fifth) {
                auto degree = xh.append_child("degree");
                add_number(degree, "degree-value", 5);
                add_number(degree, "degree-alter", 0);
                add_text(degree, "degree-type", "subtract");
            }
            if (change.tick > from)
                add_number(xh, "offset",
                           static_cast<int>((change.tick - from) * divisions / kTicksPerBeat));
        }
    }

    static void whole_rest(pugi::xml_node measure, int divisions) {
        auto n = measure.append_child("note");
        n.append_child("rest").append_attribute("measure") = "yes";
        add_number(n, "duration", kBarTicks / kTicksPerBeat * divisions);
        add_number(n, "voice", 1);
    }

    static void final_barline(pugi::xml_node measure) {
        auto barline = measure.append_child("barline");
        barline.append_attribute("location") = "right";
        add_text(barline, "bar-style", "light-heavy");
    }

    void note(pugi::xml_node measure, const Piece& p, const std::vector<const char*>& beams,
              int divisions) {
        const Glyph& g = *p.glyph;
        const bool is_note = g.note >= 0 && static_cast<std::size_t>(g.note) < melody_.notes.size();
        auto n = measure.append_child("note");
        if (is_note) {
            const Pitch pitch = pitch_of(melody_.notes[static_cast<std::size_t>(g.note)] -
                                         12 * voicing_.octave_change);
            auto xp = n.append_child("pitch");
            add_text(xp, "step", pitch.step);
            if (pitch.alter != 0) add_number(xp, "alter", pitch.alter);
            add_number(xp, "octave", pitch.octave);
        } else {
            n.append_child("rest");
        }
        add_number(n, "duration", p.value.ticks * divisions / kTicksPerBeat);
        if (p.tie_stop) n.append_child("tie").append_attribute("type") = "stop";
        if (p.tie_start) n.append_child("tie").append_attribute("type") = "start";
        add_number(n, "voice", 1);
        add_text(n, "type", p.value.type);
        for (int d = 0; d < p.value.dots; ++d) n.append_child("dot");
        for (std::size_t level = 0; level < beams.size(); ++level) {
            auto beam = n.append_child("beam");
            beam.append_attribute("number") = static_cast<int>(level + 1);
            beam.text().set(beams[level]);
        }
        if (!is_note) return;

        const auto index = static_cast<std::size_t>(g.note);
        const notation::Lyric* lyric =
            index < melody_.lyrics.size() ? &melody_.lyrics[index] : nullptr;
        const bool breath = lyric != nullptr && lyric->sentence_end && p.last && !g.tie_to_next;
        if (p.tie_start || p.tie_stop || breath) {
            auto notations = n.append_child("notations");
            if (p.tie_stop) notations.append_child("tied").append_attribute("type") = "stop";
            if (p.tie_start) notations.append_child("tied").append_attribute("type") = "start";
            if (breath) notations.append_child("articulations").append_child("breath-mark");
        }
        if (lyric != nullptr && g.first && p.first) this->lyric(n, index);
    }

    /// The syllable of note `index`, or the extension line of a melisma.
    void lyric(pugi::xml_node n, std::size_t index) {
        const auto& lyrics = melody_.lyrics;
        const bool next_continues = index + 1 < lyrics.size() && lyrics[index + 1].continuation;
        if (lyrics[index].continuation) {
            if (!extending_) return;  // a melisma with no syllable before it draws nothing
            auto xl = n.append_child("lyric");
            xl.append_attribute("number") = 1;
            xl.append_child("extend").append_attribute("type") =
                next_continues ? "continue" : "stop";
            extending_ = next_continues;
            return;
        }
        const std::string text = sung_text(lyrics[index]);
        extending_ = !text.empty() && next_continues;
        if (text.empty()) return;
        auto xl = n.append_child("lyric");
        xl.append_attribute("number") = 1;
        add_text(xl, "syllabic", "single");
        add_text(xl, "text", text);
        if (extending_) xl.append_child("extend").append_attribute("type") = "start";
    }

    const Score& score_;
    const notation::Melody& melody_;
    const Voicing voicing_;
    const std::string date_;
    const std::span<const harmony::ChordChange> chords_;
    std::size_t next_chord_ = 0;  // the first chord symbol not yet written
    bool extending_ = false;      // an extension line runs from an earlier syllable
};

}  // namespace

Voicing voicing_of(int program) {
    for (const ProgramVoicing& v : kVoicings) {
        if (v.program == program) return v.voicing;
    }
    return {"", "G", 2, 0, 0};
}

std::string encoding_date() {
    using namespace std::chrono;
    sys_seconds now = time_point_cast<seconds>(system_clock::now());
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        const std::string_view text(epoch);
        long long seconds_since = 0;
        const auto [end, ec] =
            std::from_chars(text.data(), text.data() + text.size(), seconds_since);
        // Dates up to the year 9999 keep the four-digit year MusicXML's date type needs.
        if (!text.empty() && ec == std::errc() && end == text.data() + text.size() &&
            seconds_since >= 0 && seconds_since < 253402300800LL) {
            now = sys_seconds(seconds(seconds_since));
        }
    }
    const year_month_day day{floor<days>(now)};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(day.year()),
                  static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
    return text;
}

std::string sound_dynamics(int velocity) {
    // In hundredths, rounded half up: 95 -> 10556.
    const long hundredths = (std::clamp(velocity, 0, 127) * 10000L + 45) / 90;
    char text[16];
    std::snprintf(text, sizeof text, "%ld.%02ld", hundredths / 100, hundredths % 100);
    return text;
}

HarmonyKind harmony_kind(harmony::ChordKind kind) {
    switch (kind) {
        case harmony::ChordKind::major:
            return {"major", "", false};
        case harmony::ChordKind::minor:
            return {"minor", "m", false};
        case harmony::ChordKind::sus2:
            return {"suspended-second", "sus2", false};
        case harmony::ChordKind::sus4:
            return {"suspended-fourth", "sus4", false};
        case harmony::ChordKind::minor7_no5:
            return {"minor-seventh", "m7", true};
    }
    return {"major", "", false};
}

std::optional<std::string> musicxml_refusal(const Score& score) {
    const Voicing voicing = voicing_of(score.melody.program);
    const std::vector<int>& notes = score.melody.notes;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const int key = notes[i];
        const int written = key - 12 * voicing.octave_change;
        if (written >= kLowestWritten && written <= kHighestWritten) continue;
        std::string why = "note " + std::to_string(i + 1) + " (MIDI " + std::to_string(key) + ", " +
                          key_name(key) + ")";
        if (written != key) {
            why += " is written " + key_name(written) + " for this instrument (an octave " +
                   (written > key ? "above" : "below") + " its sound),";
        } else {
            why += " lies";
        }
        why += written < kLowestWritten ? " below C0, the lowest pitch MusicXML can write"
                                        : " above B9, the highest pitch MusicXML can write";
        return why;
    }
    return std::nullopt;
}

std::string musicxml_document(const Score& score, std::string_view date,
                              std::span<const harmony::ChordChange> chords) {
    std::string out;
    // About 400 bytes a note: growing the string to that in steps would copy it again and again.
    out.reserve(4096 + 400 * score.melody.notes.size());
    StringWriter writer(out);
    DocumentWriter(score, date, chords).write(writer);
    return out;
}

std::optional<std::string> write_musicxml(const Score& score, files::StagedFile& staged,
                                          std::string_view date,
                                          std::span<const harmony::ChordChange> chords) {
    std::string ext = staged.target().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".mxl") {
        return write_failure(staged.target(),
                             "compressed MusicXML (.mxl) is not written; name the file .musicxml "
                             "or .xml");
    }
    if (auto refused = musicxml_refusal(score)) return write_failure(staged.target(), *refused);
    ExportFile out(staged);
    FileWriter writer(out);
    DocumentWriter(score, date, chords).write(writer);
    return out.finish();
}

std::optional<std::string> write_musicxml(const Score& score, const std::filesystem::path& file,
                                          std::string_view date,
                                          std::span<const harmony::ChordChange> chords) {
    return write_staged(file, [&](files::StagedFile& staged) {
        return write_musicxml(score, staged, date, chords);
    });
}

}  // namespace quavella::exports
