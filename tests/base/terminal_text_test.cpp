// What a terminal would act on is shown, never sent: controls, bidi overrides and
// broken UTF-8 become visible escapes; ordinary text, Chinese included, is untouched.
#include "base/terminal_text.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/row_name.h"

namespace quavella {
namespace {

struct Row {
    const char* name;
    std::string in;
    bool keep_newlines;
    std::string out;
};

class TerminalText : public ::testing::TestWithParam<Row> {};

TEST_P(TerminalText, ShowsWhatATerminalWouldActOn) {
    EXPECT_EQ(terminal_text(GetParam().in, GetParam().keep_newlines), GetParam().out);
}

const Row kRows[] = {
    {"PlainChineseAndLatin", "春眠不觉晓，Amazing grace! \\ 'q' \"d\"", false,
     "春眠不觉晓，Amazing grace! \\ 'q' \"d\""},
    {"ClearScreen", "a\x1b[2Jb", false, "a\\x1B[2Jb"},
    {"CursorBackOverAPastedCommand", "X'\x1b[3D; touch x #", false, "X'\\x1B[3D; touch x #"},
    {"EveryC0ControlAndDel", std::string("\x00\x01\x07\x08\x09\x0a\x0d\x1f\x7f", 9), false,
     "\\x00\\x01\\x07\\x08\\x09\\x0A\\x0D\\x1F\\x7F"},
    {"NewlinesKeptWhenAsked", "a\nb\r\n", true, "a\nb\\x0D\n"},
    {"C1Controls",
     "a\xc2\x85"
     "b\xc2\x9b"
     "c",
     false, "a<U+0085>b<U+009B>c"},
    {"BidiOverridesIsolatesAndMarks",
     "\xe2\x80\xae"
     "abc\xe2\x80\xac\xe2\x81\xa6"
     "d\xe2\x81\xa9\xe2\x80\x8f\xd8\x9c",
     false, "<U+202E>abc<U+202C><U+2066>d<U+2069><U+200F><U+061C>"},
    {"BrokenUtf8",
     "a\xff"
     "b\xe6\x98"
     "c\xc0\xaf"
     "d\xed\xa0\x80",
     false, "a\\xFFb\\xE6\\x98c\\xC0\\xAFd\\xED\\xA0\\x80"},
    {"CutShortAtTheEnd", "ab\xe6", false, "ab\\xE6"},
    {"EmojiAndFullWidthSpace", "\xf0\x9f\x98\x80\xe3\x80\x80", false,
     "\xf0\x9f\x98\x80\xe3\x80\x80"},
};

INSTANTIATE_TEST_SUITE_P(Rows, TerminalText, ::testing::ValuesIn(kRows), test::RowName());

}  // namespace
}  // namespace quavella
