// The compose request shared by the main window and the command-line tool.
#include "composer/compose_request.h"

#include "composer/song.h"
#include "composer/style_tables.h"

namespace quavella {

std::optional<std::string> lyric_refusal(std::string_view gbk_text) {
    if (gbk_text.empty()) return std::string("请输入歌词！");
    if (gbk_text.size() < 10) return std::string("歌词太短，没感觉！");
    return std::nullopt;
}

ComposeOutcome compose_lyrics(std::string_view gbk_text, int speed_pos, int mode_pos, int timbre_pos,
                              DrawSource& draws, MessageSink& messages, const std::string& midi_file) {
    (void)gbk_text;
    (void)midi_file;
    Song song(draws, messages);
    const int tempo = speed_base(speed_pos) + draws.random(20);
    const int mode = mode_number(mode_pos);
    const int program = program_number(timbre_pos);
    song.set_program(program);
    song.set_tempo(tempo);
    song.set_mode(mode);
    return ComposeOutcome{tempo, mode, program, 0, "lyrics analysis is not built yet"};
}

}  // namespace quavella
