// Text cleaning for the exports: every row is damaged or awkward lyric text and
// what the MusicXML and MIDI exports write for it.
#include "export/export_text.h"

#include <gtest/gtest.h>

#include <string>

namespace quavella::exports {
namespace {

struct TextRow {
    const char* name;
    std::string in;
    std::string out;
};

void PrintTo(const TextRow& row, std::ostream* out) { *out << row.name; }

class ExportText : public testing::TestWithParam<TextRow> {};

TEST_P(ExportText, CleansToPrintableUtf8) { EXPECT_EQ(export_text(GetParam().in), GetParam().out); }

const TextRow kRows[] = {
    {"Chinese", "\xE6\x98\xA5", "\xE6\x98\xA5"},
    {"XmlSpecialsKept", "&<>\"'", "&<>\"'"},
    {"ControlBytesDropped", std::string("a\x01\tb\x1F\x7F", 6) + std::string(1, '\0') + "c", "abc"},
    {"C1ControlDropped", "a\xC2\x85z", "az"},
    {"LoneHighByteReplaced", "a\xB4z", "a\xEF\xBF\xBDz"},
    {"TruncatedSequenceReplaced", "\xE6\x98", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"OverlongSlashReplaced", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"SurrogateReplaced", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"AboveUnicodeReplaced", "\xF4\x90\x80\x80",
     "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"NonCharacterFFFEDropped", "x\xEF\xBF\xBEy", "xy"},
    {"FourByteKept", "\xF0\x9F\x8E\xB5", "\xF0\x9F\x8E\xB5"},
    {"BlanksTrimmed", " \xE3\x80\x80 la \xE3\x80\x80", "la"},
    {"OnlyControlsEmpty", "\x01\x02", ""},
};

INSTANTIATE_TEST_SUITE_P(Rows, ExportText, testing::ValuesIn(kRows),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(SungText, ContinuationsCarryNoSyllable) {
    notation::Lyric melisma{"\xE6\x98\xA5", true};
    EXPECT_EQ(sung_text(melisma), "");
    notation::Lyric sung{"\x01\xE6\x98\xA5", false};
    EXPECT_EQ(sung_text(sung), "\xE6\x98\xA5");
}

}  // namespace
}  // namespace quavella::exports
