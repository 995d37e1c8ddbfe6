// Chord tones, names and the chords of a scale.
#include "harmony/chords.h"

#include <bit>

#include "composer/song.h"

namespace quavella::harmony {

namespace {

int pc_of(int value) { return ((value % 12) + 12) % 12; }

/// The intervals above the root of each kind, root first.
std::array<int, 3> intervals(ChordKind kind) {
    switch (kind) {
        case ChordKind::major:
            return {0, 4, 7};
        case ChordKind::minor:
            return {0, 3, 7};
        case ChordKind::sus2:
            return {0, 2, 7};
        case ChordKind::sus4:
            return {0, 5, 7};
        case ChordKind::minor7_no5:
            return {0, 3, 10};
    }
    return {0, 4, 7};
}

bool fits(Scale scale, Chord chord) {
    for (int pc : chord_tones(chord))
        if (!scale.contains(pc)) return false;
    return true;
}

}  // namespace

std::array<int, 3> chord_tones(Chord chord) {
    std::array<int, 3> tones = intervals(chord.kind);
    for (int& t : tones) t = pc_of(chord.root + t);
    return tones;
}

bool is_chord_tone(Chord chord, int pc) {
    for (int t : chord_tones(chord))
        if (t == pc_of(pc)) return true;
    return false;
}

int clash_class(Chord chord, int pc) {
    const int p = pc_of(pc);
    int result = 2;
    for (int t : chord_tones(chord)) {
        if (t == p) return 0;
        if (pc_of(t - p) == 1 || pc_of(p - t) == 1) result = 1;
    }
    return result;
}

const char* root_name(int pc) {
    static constexpr const char* names[] = {"C",  "C#", "D",  "D#", "E",  "F",
                                            "F#", "G",  "G#", "A",  "A#", "B"};
    return names[pc_of(pc)];
}

const char* kind_name(ChordKind kind) {
    switch (kind) {
        case ChordKind::major:
            return "major";
        case ChordKind::minor:
            return "minor";
        case ChordKind::sus2:
            return "sus2";
        case ChordKind::sus4:
            return "sus4";
        case ChordKind::minor7_no5:
            return "minor7-no5";
    }
    return "major";
}

std::string chord_name(Chord chord) {
    std::string name = root_name(chord.root);
    switch (chord.kind) {
        case ChordKind::major:
            break;
        case ChordKind::minor:
            name += "m";
            break;
        case ChordKind::sus2:
            name += "sus2";
            break;
        case ChordKind::sus4:
            name += "sus4";
            break;
        case ChordKind::minor7_no5:
            name += "m7(no5)";
            break;
    }
    return name;
}

int degree_of(Chord chord) {
    static constexpr int degrees[] = {1, 0, 2, 0, 3, 4, 0, 5, 0, 6, 0, 7};
    return degrees[pc_of(chord.root)];
}

int Scale::size() const { return std::popcount(pcs); }

Scale Scale::of_notes(std::span<const std::int32_t> notes) {
    Scale scale;
    for (std::int32_t n : notes) scale.pcs |= static_cast<std::uint16_t>(1u << pc_of(n));
    return scale;
}

Scale mode_pitch_classes(int mode) { return Scale::of_notes(mode_scale(mode)); }

std::vector<Chord> chords_on(Scale scale, int pc) {
    std::vector<Chord> chords;
    const int root = pc_of(pc);
    if (!scale.contains(root)) return chords;
    for (ChordKind kind : {ChordKind::major, ChordKind::minor})
        if (fits(scale, {root, kind})) chords.push_back({root, kind});
    if (!chords.empty()) return chords;
    for (ChordKind kind : {ChordKind::sus2, ChordKind::sus4})
        if (fits(scale, {root, kind})) chords.push_back({root, kind});
    if (!chords.empty()) return chords;
    if (fits(scale, {root, ChordKind::minor7_no5})) chords.push_back({root, ChordKind::minor7_no5});
    return chords;
}

std::vector<Chord> chord_vocabulary(Scale scale) {
    std::vector<Chord> chords;
    for (int pc = 0; pc < 12; ++pc) {
        const std::vector<Chord> on = chords_on(scale, pc);
        chords.insert(chords.end(), on.begin(), on.end());
    }
    return chords;
}

}  // namespace quavella::harmony
