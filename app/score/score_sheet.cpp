// The score window's sheet: settings named by their list items, the title, the key line.
#include "app/score/score_sheet.h"

#include <cctype>
#include <utility>
#include <vector>

#include "composer/style_tables.h"

namespace quavella {

namespace {

std::string item_at(const std::vector<std::string>& items, int position) {
    if (position < 0 || position >= static_cast<int>(items.size())) return {};
    return items[static_cast<std::size_t>(position)];
}

bool ascii_word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

/// The syllables of the first sentence joined; Latin words keep a space between them.
std::string first_sentence(const notation::Melody& melody) {
    std::string title;
    for (const notation::Lyric& lyric : melody.lyrics) {
        if (lyric.sentence != 0) break;
        if (lyric.continuation || lyric.text.empty()) continue;
        if (!title.empty() && ascii_word_char(title.back()) &&
            ascii_word_char(lyric.text.front())) {
            title += ' ';
        }
        title += lyric.text;
    }
    return title;
}

}  // namespace

ScoreSheet make_sheet(notation::Score score, int speed_pos, int mode_pos, int timbre_pos) {
    ScoreSheet sheet;
    sheet.title =
        notation::print_title(score.title.empty() ? first_sentence(score.melody) : score.title);
    sheet.speed = item_at(speed_items(), speed_pos);
    sheet.mode = item_at(mode_items(), mode_pos);
    sheet.timbre = item_at(timbre_items(), timbre_pos);
    sheet.score = std::move(score);
    return sheet;
}

ScoreSheet sheet_of(const Composition& composition) {
    const CompositionSource& source = *composition.source;
    ScoreSheet sheet = make_sheet(notation::build_score(composition.melody), source.speed_pos,
                                  source.mode_pos, source.timbre_pos);
    sheet.tones = composition.tones;
    sheet.beats = edit::check_beats(composition.melody);
    sheet.chords = harmony::chord_changes(composition.chords);
    sheet.harmony = composition.chords;
    return sheet;
}

std::string chord_label(harmony::Chord chord, bool degrees) {
    const std::string name = harmony::chord_name(chord);
    const int degree = harmony::degree_of(chord);
    if (!degrees || degree == 0) return name;
    return std::to_string(degree) + name.substr(std::string(harmony::root_name(chord.root)).size());
}

std::string key_line(const notation::Score& score) {
    return "1=C 4/4 ♩=" + std::to_string(score.melody.tempo);
}

}  // namespace quavella
