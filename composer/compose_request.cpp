// The compose request shared by the main window and the command-line tool.
#include "composer/compose_request.h"

#include <optional>

#include "composer/song.h"
#include "composer/style_tables.h"
#include "lyrics/paragraph.h"

namespace quavella {

std::optional<std::string> lyric_refusal(std::string_view gbk_text) {
    if (gbk_text.empty()) return std::string("请输入歌词！");
    if (gbk_text.size() < 10) return std::string("歌词太短，没感觉！");
    return std::nullopt;
}

namespace {

/// The pipeline of one request; writes `midi_file` unless it is null.
ComposeOutcome compose(std::string_view gbk_text, int speed_pos, int mode_pos, int timbre_pos,
                       DrawSource& draws, MessageSink& messages, const std::string* midi_file) {
    // The Paragraph is built first and destroyed before the Song.
    std::optional<Paragraph> paragraph;
    paragraph.emplace(gbk_text);
    Song song(draws, messages);
    const int tempo = speed_base(speed_pos) + draws.random(20);
    const int mode = mode_number(mode_pos);
    const int program = program_number(timbre_pos);
    song.set_program(program);
    song.set_tempo(tempo);
    song.set_mode(mode);
    if (midi_file != nullptr) {
        song.compose(paragraph->get_layout(), *midi_file);
    } else {
        song.compose_melody(paragraph->get_layout());
    }
    paragraph.reset();
    return ComposeOutcome{tempo,
                          mode,
                          program,
                          song.get_nt_cnt(),
                          song.midi_error(),
                          song.get_nt_seq_now(),
                          song.get_tm_seq_now()};
}

}  // namespace

ComposeOutcome compose_lyrics(std::string_view gbk_text, int speed_pos, int mode_pos,
                              int timbre_pos, DrawSource& draws, MessageSink& messages,
                              const std::string& midi_file) {
    return compose(gbk_text, speed_pos, mode_pos, timbre_pos, draws, messages, &midi_file);
}

ComposeOutcome compose_melody(std::string_view gbk_text, int speed_pos, int mode_pos,
                              int timbre_pos, DrawSource& draws, MessageSink& messages) {
    return compose(gbk_text, speed_pos, mode_pos, timbre_pos, draws, messages, nullptr);
}

}  // namespace quavella
