// The compose request shared by the main window and the command-line tool.
#include "composer/compose_request.h"

#include <cstdint>
#include <cstdio>
#include <optional>

#include "composer/song.h"
#include "composer/style_tables.h"
#include "lyrics/lyric_scan.h"
#include "lyrics/paragraph.h"

namespace quavella {
namespace {

bool has_syllable(std::string_view gbk_text) {
    for (const std::int32_t v : scan_lyrics(gbk_text)) {
        if (v > 0) return true;
    }
    return false;
}

}  // namespace

std::optional<std::string> lyric_refusal(std::string_view gbk_text) {
    // A text whose scan finds no syllable (spaces and marks only) is as empty.
    if (gbk_text.empty() || !has_syllable(gbk_text)) return std::string("请输入歌词！");
    if (gbk_text.size() < 10) return std::string("歌词太短，没感觉！");
    return std::nullopt;
}

std::optional<std::string> lyric_size_refusal(std::size_t bytes) {
    if (bytes <= kMaxLyricBytes) return std::nullopt;
    return "歌词太长：最多 " + std::to_string(kMaxLyricBytes) + " 字节（64 KB）。";
}

namespace {

/// How many left-out characters a message names before it only counts the rest.
constexpr std::size_t kNamedCharacters = 10;

/// The code point of one well-formed UTF-8 character.
char32_t code_point(std::string_view utf8) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
    if (utf8.size() == 1) return byte(0);
    char32_t value = byte(0) & (0x7F >> utf8.size());
    for (std::size_t i = 1; i < utf8.size(); ++i) value = (value << 6) | (byte(i) & 0x3F);
    return value;
}

/// Characters that show nothing on screen: format and control characters,
/// joiners, variation selectors, tags, the byte order mark.
bool shows_nothing(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0xAD || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) ||
           (c >= 0xFE00 && c <= 0xFE0F) || c == 0xFEFF || (c >= 0xE0000 && c <= 0xE01EF);
}

/// The left-out characters as a short list, each with its code point so that one the
/// font cannot draw is still identifiable: "😀 (U+1F600)、U+200D" (invisible ones by
/// code point alone), and past ten of them the count of the rest.
std::string character_list(const std::vector<std::string>& characters) {
    std::string list;
    for (std::size_t i = 0; i < characters.size() && i < kNamedCharacters; ++i) {
        if (i > 0) list += "、";
        const char32_t c = code_point(characters[i]);
        char name[16];
        std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(c));
        if (shows_nothing(c)) {
            list += name;
        } else {
            list += characters[i] + " (" + name + ")";
        }
    }
    if (characters.size() > kNamedCharacters) {
        list += " 等 " + std::to_string(characters.size()) + " 个字符";
    }
    return list;
}

}  // namespace

LyricCheck check_lyrics(const GbkConversion& text) {
    LyricCheck check;
    if (!text.dropped.empty()) {
        const std::string list = character_list(text.dropped);
        if (text.gbk.empty()) {
            check.refusal = "歌词中没有可用于作曲的字符（无法使用：" + list + "）";
            return check;
        }
        check.notice = "歌词中有无法使用的字符，已略去：" + list;
    }
    check.refusal = lyric_refusal(text.gbk);
    return check;
}

ComposeOutcome compose_melody(std::string_view gbk_text, int speed_pos, int mode_pos,
                              int timbre_pos, DrawSource& draws, MessageSink& messages) {
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
    song.compose_melody(paragraph->get_layout());
    paragraph.reset();
    return ComposeOutcome{
        tempo, mode, program, song.get_nt_cnt(), song.get_nt_seq_now(), song.get_tm_seq_now()};
}

}  // namespace quavella
