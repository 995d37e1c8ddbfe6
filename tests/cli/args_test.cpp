// The command line parsed without running anything: each command's settings from
// its arguments, the exact refusal texts, and the walk itself with option kinds
// no command uses yet.
#include "cli/args.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "cli/json_out.h"
#include "tests/support/row_name.h"

namespace quavella::cli {
namespace {

using Args = std::vector<std::string>;

/// The settings, or fails the test with the refusal.
template <typename Settings>
Settings accepted(const Parsed<Settings>& parsed) {
    if (const auto* refused = std::get_if<UsageError>(&parsed)) {
        ADD_FAILURE() << "refused: " << refused->message;
        return Settings{};
    }
    return std::get<Settings>(parsed);
}

TEST(ParseCompose, DefaultsAreTheWindowsFirstItemsStdinAndTheWorkingFile) {
    const ComposeSettings s = accepted(parse_compose(Args{}));
    EXPECT_EQ(s.speed, 0);
    EXPECT_EQ(s.mode, 0);
    EXPECT_EQ(s.timbre, 0);
    EXPECT_EQ(s.seed, std::nullopt);
    EXPECT_EQ(s.out_file, "temp.mid");
    EXPECT_FALSE(s.score);
    EXPECT_EQ(s.source.file, "-");
    EXPECT_FALSE(s.source.file_given);
    EXPECT_EQ(s.source.encoding, LyricEncoding::utf8);
    EXPECT_FALSE(s.tones);
    EXPECT_EQ(s.best_of, 1);
}

TEST(ParseCompose, EveryOptionInBothFormsAndAnyOrder) {
    const ComposeSettings s = accepted(parse_compose(
        Args{"poem.txt", "--speed", "快", "--mode=3", "--timbre", "+8",
             "--seed=18446744073709551615", "--encoding", "GBK", "-o=out.mid", "--score"}));
    EXPECT_EQ(s.speed, 2);
    EXPECT_EQ(s.mode, 3);
    EXPECT_EQ(s.timbre, 8);
    EXPECT_EQ(s.seed, std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(s.source.encoding, LyricEncoding::gbk);
    EXPECT_EQ(s.out_file, "out.mid");
    EXPECT_TRUE(s.score);
    EXPECT_EQ(s.source.file, "poem.txt");
    EXPECT_TRUE(s.source.file_given);

    const ComposeSettings best = accepted(parse_compose(Args{"--tones", "--best-of", "20"}));
    EXPECT_TRUE(best.tones);
    EXPECT_EQ(best.best_of, 20);
    EXPECT_EQ(accepted(parse_compose(Args{"--best-of=1000"})).best_of, 1000);

    // The last of a repeated option wins.
    const ComposeSettings again = accepted(parse_compose(Args{"--speed", "1", "--speed", "2"}));
    EXPECT_EQ(again.speed, 2);
}

TEST(ParseCompose, StateTakesBothGeneratorsInFull) {
    const ComposeSettings s =
        accepted(parse_compose(Args{"--state=18446744073709551615:4294967295"}));
    ASSERT_TRUE(s.state);
    EXPECT_EQ(s.state->s, std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(s.state->t, std::numeric_limits<std::uint32_t>::max());
    EXPECT_EQ(s.seed, std::nullopt);
    EXPECT_EQ(accepted(parse_compose(Args{"--state", "0:0"})).state, (Generators::State{0, 0}));
}

TEST(ParseCompose, ExportsAreOptionalFilesBesideOut) {
    const ComposeSettings none = accepted(parse_compose(Args{}));
    EXPECT_EQ(none.musicxml_file, "");
    EXPECT_EQ(none.lyrics_midi_file, "");
    EXPECT_EQ(none.audio_file, "");
    const ComposeSettings all = accepted(parse_compose(Args{
        "--musicxml", "s.musicxml", "--lyrics-midi=s.mid", "--audio", "s.flac", "-o", "t.mid"}));
    EXPECT_EQ(all.musicxml_file, "s.musicxml");
    EXPECT_EQ(all.lyrics_midi_file, "s.mid");
    EXPECT_EQ(all.audio_file, "s.flac");
    EXPECT_EQ(all.out_file, "t.mid");
}

TEST(ParseCompose, AfterDoubleDashEverythingIsAFile) {
    EXPECT_EQ(accepted(parse_compose(Args{"--", "-o"})).source.file, "-o");
    EXPECT_EQ(accepted(parse_compose(Args{"-"})).source.file, "-");
    EXPECT_TRUE(accepted(parse_compose(Args{"-"})).source.file_given);
}

TEST(ParseCompose, LyricsHexIsDecodedAndJoined) {
    // Either case; every byte value, the line feed and NUL included; values follow one
    // another; an empty value is empty lyrics given on the command line.
    const ComposeSettings s =
        accepted(parse_compose(Args{"--lyrics-hex", "00ff0A", "--lyrics-hex=E698A5", "-o", "x"}));
    EXPECT_EQ(s.source.text, std::string("\x00\xff\n\xe6\x98\xa5", 6));
    EXPECT_FALSE(s.source.file_given);
    EXPECT_EQ(accepted(parse_compose(Args{"--lyrics-hex="})).source.text, "");
    EXPECT_EQ(accepted(parse_analyze(Args{"--lyrics-hex", "41"})).source.text, "A");
    EXPECT_FALSE(accepted(parse_compose(Args{})).source.text.has_value());
}

TEST(ParseCompose, EditsGivenAgainAreJoinedInOrder) {
    const ComposeSettings s =
        accepted(parse_compose(Args{"--edits", "1+,2-h", "--edits=fix", "--edits", "3:60"}));
    EXPECT_EQ(edit::edits_text(s.edits), "1+,2-h,fix,3:60");
    // The bound holds for the lists together.
    std::string half = "1+";
    for (std::size_t k = 1; k < edit::kMaxEdits / 2; ++k) half += ",1+";
    EXPECT_EQ(accepted(parse_compose(Args{"--edits", half, "--edits", half})).edits.size(),
              edit::kMaxEdits);
    const auto over = parse_compose(Args{"--edits", half, "--edits", half, "--edits", "fix"});
    ASSERT_TRUE(std::holds_alternative<UsageError>(over));
    EXPECT_EQ(std::get<UsageError>(over).message, "--edits: more than 10000 edits in all");
}

struct RefusalRow {
    const char* name;
    Args args;
    std::string message;
};

class ParseComposeRefusal : public ::testing::TestWithParam<RefusalRow> {};

TEST_P(ParseComposeRefusal, NamesWhatIsWrong) {
    const auto parsed = parse_compose(GetParam().args);
    ASSERT_TRUE(std::holds_alternative<UsageError>(parsed));
    EXPECT_EQ(std::get<UsageError>(parsed).message, GetParam().message);
}

const char* const kBadHex =
    "invalid value for --lyrics-hex (hex digits, two per byte of the lyrics)";

const RefusalRow kRefusalRows[] = {
    {"NegativeSeed", {"--seed", "-1"}, "invalid value '-1' for --seed (0 to 18446744073709551615)"},
    {"SeedTooLarge",
     {"--seed=18446744073709551616"},
     "invalid value '18446744073709551616' for --seed (0 to 18446744073709551615)"},
    {"SeedWithTail",
     {"--seed", "12x"},
     "invalid value '12x' for --seed (0 to 18446744073709551615)"},
    {"SeedMissing", {"--seed"}, "--seed needs a value"},
    {"SpeedUnknownText",
     {"--speed", "fast"},
     "invalid value 'fast' for --speed (0 to 2, or 慢 中 快)"},
    {"ModeEmpty",
     {"--mode", ""},
     "invalid value '' for --mode (0 to 3, or 七声调式 六声调式1 六声调式2 五声调式)"},
    // Settings outside their lists, by name with the allowed values.
    {"SpeedAboveTheList", {"--speed", "5"}, "--speed 5 is out of range (0 to 2, or 慢 中 快)"},
    {"SpeedNegative", {"--speed=-1"}, "--speed -1 is out of range (0 to 2, or 慢 中 快)"},
    {"ModeAboveTheList",
     {"--mode", "99"},
     "--mode 99 is out of range (0 to 3, or 七声调式 六声调式1 六声调式2 五声调式)"},
    {"ModeTooLargeForAnInt",
     {"--mode", "99999999999"},
     "--mode 99999999999 is out of range (0 to 3, or 七声调式 六声调式1 六声调式2 五声调式)"},
    {"TimbreAboveTheList",
     {"--timbre", "99999"},
     "--timbre 99999 is out of range (0 to 9, or 钢琴 八音盒 风琴 吉他 贝司 小提琴 弦乐组 小号 "
     "萨克斯 短笛)"},
    {"TimbreJustPastTheEnd",
     {"--timbre=10"},
     "--timbre 10 is out of range (0 to 9, or 钢琴 八音盒 风琴 吉他 贝司 小提琴 弦乐组 小号 萨克斯 "
     "短笛)"},
    {"TimbreMissing", {"--timbre"}, "--timbre needs a value"},
    {"OutMissing", {"-o"}, "-o needs a file name"},
    {"OutEmpty", {"-o="}, "-o needs a file name"},
    {"EncodingMissing", {"--encoding"}, "--encoding needs a value"},
    {"EncodingUnknown",
     {"--encoding=latin1"},
     "invalid value 'latin1' for --encoding (utf-8 or gbk)"},
    {"StateWithoutColon",
     {"--state", "12"},
     "invalid value '12' for --state (S:T, S from 0 to 18446744073709551615, T from 0 to "
     "4294967295)"},
    {"StateShuffleTooLarge",
     {"--state=1:4294967296"},
     "invalid value '1:4294967296' for --state (S:T, S from 0 to 18446744073709551615, T from 0 "
     "to 4294967295)"},
    {"StateMainEmpty",
     {"--state", ":5"},
     "invalid value ':5' for --state (S:T, S from 0 to 18446744073709551615, T from 0 to "
     "4294967295)"},
    {"SeedAndState",
     {"--state", "1:2", "--seed", "3"},
     "--seed and --state cannot be used together"},
    {"UnknownOption", {"--bogus"}, "unknown option '--bogus' for compose"},
    {"PrefixIsNotTheOption", {"--speedy", "1"}, "unknown option '--speedy' for compose"},
    {"TwoFiles", {"a.txt", "--", "b.txt"}, "more than one FILE: 'b.txt'"},
    {"BestOfZero", {"--best-of", "0"}, "invalid count '0' for --best-of (1 to 1000)"},
    {"BestOfTooMany", {"--best-of=1001"}, "invalid count '1001' for --best-of (1 to 1000)"},
    {"BestOfNotANumber", {"--best-of", "20x"}, "invalid count '20x' for --best-of (1 to 1000)"},
    {"BestOfMissing", {"--best-of"}, "--best-of needs a value"},
    {"TonesTakesNoValue", {"--tones=yes"}, "--tones takes no value"},
    {"FirstRefusalWins", {"a.txt", "b.txt", "--bogus"}, "more than one FILE: 'b.txt'"},
    {"LyricsHexOdd", {"--lyrics-hex", "e69"}, kBadHex},
    {"LyricsHexNotHex", {"--lyrics-hex", "e6 8"}, kBadHex},
    {"LyricsHexSigned", {"--lyrics-hex=+1"}, kBadHex},
    {"LyricsHexMissing", {"--lyrics-hex"}, "--lyrics-hex needs a value"},
    {"LyricsHexAndFile",
     {"a.txt", "--lyrics-hex", "41"},
     "--lyrics-hex and FILE 'a.txt' cannot be used together"},
    {"LyricsHexAndStdin",
     {"--lyrics-hex", "41", "-"},
     "--lyrics-hex and FILE '-' cannot be used together"},
    {"MusicXmlMissing", {"--musicxml"}, "--musicxml needs a file name"},
    {"AudioEmpty", {"--audio="}, "--audio needs a file name"},
    {"ExportOverTheComposition",
     {"-o", "song.mid", "--lyrics-midi", "./song.mid"},
     "-o and --lyrics-midi name the same file './song.mid'"},
    {"ExportOverTheWorkingFile",
     {"--audio", "temp.mid"},
     "-o and --audio name the same file 'temp.mid'"},
    {"KaraokeOverTheComposition",
     {"-o", "a.mid", "--karaoke", "a.mid"},
     "-o and --karaoke name the same file 'a.mid'"},
    {"ExportToStandardOutput",
     {"-o", "-", "--karaoke", "-"},
     "--karaoke - : only -o writes to standard output (name the file ./- for a file called -)"},
    {"JsonWithScore", {"--json", "--score"}, "--json and --score cannot be used together"},
    {"EditsEmpty", {"--edits", ""}, "--edits: no edit given"},
    {"EditsBlank", {"--edits=  "}, "--edits: no edit given"},
    {"TwoExportsOneFile",
     {"--musicxml", "out/a", "--audio=out//a"},
     "--musicxml and --audio name the same file 'out//a'"},
};

INSTANTIATE_TEST_SUITE_P(Rows, ParseComposeRefusal, ::testing::ValuesIn(kRefusalRows),
                         test::RowName{});

TEST(ParseHistory, ActionsTheirOperandsAndOptions) {
    using Action = HistorySettings::Action;
    const HistorySettings list = accepted(parse_history(Args{"list"}));
    EXPECT_EQ(list.action, Action::list);
    EXPECT_EQ(list.limit, 20);
    EXPECT_EQ(accepted(parse_history(Args{"list", "--limit=0"})).limit, 0);
    const HistorySettings show = accepted(parse_history(Args{"show", "9223372036854775807"}));
    EXPECT_EQ(show.action, Action::show);
    EXPECT_EQ(show.id, std::numeric_limits<std::int64_t>::max());
    const HistorySettings exported = accepted(parse_history(Args{"export", "-o", "a.mid", "12"}));
    EXPECT_EQ(exported.action, Action::export_file);
    EXPECT_EQ(exported.id, 12);
    EXPECT_EQ(exported.out_file, "a.mid");
    EXPECT_EQ(accepted(parse_history(Args{"export", "3"})).out_file, "");

    const std::pair<Args, std::string> refusals[] = {
        {{}, "history needs list, show or export"},
        {{"remove", "1"}, "unknown history command 'remove' (list, show or export)"},
        {{"list", "5"}, "unexpected argument '5' for history list"},
        {{"list", "--limit", "-1"}, "invalid value '-1' for --limit (0 for all, or a count)"},
        {{"list", "--limit", "ten"}, "invalid value 'ten' for --limit (0 for all, or a count)"},
        {{"show"}, "history show needs an ID"},
        {{"show", "1", "2"}, "more than one ID: '2'"},
        {{"show", "0"}, "invalid ID '0' (the number history list shows)"},
        {{"show", "--", "-3"}, "invalid ID '-3' (the number history list shows)"},
        {{"show", "1", "-o", "x"}, "unknown option '-o' for history show"},
        {{"export", "-o"}, "-o needs a file name"},
        {{"export", "1", "--limit", "2"}, "unknown option '--limit' for history export"},
        {{"export", "1", "--json"}, "unknown option '--json' for history export"},
        {{"export", "1", "--musicxml", "-"},
         "--musicxml - : only -o writes to standard output (name the file ./- for a file called "
         "-)"},
    };
    for (const auto& [args, message] : refusals) {
        const auto parsed = parse_history(args);
        ASSERT_TRUE(std::holds_alternative<UsageError>(parsed)) << message;
        EXPECT_EQ(std::get<UsageError>(parsed).message, message);
    }
}

TEST(JsonString, EscapesWhatJsonAndTerminalsNeedAndRepairsBrokenUtf8) {
    const std::pair<std::string, std::string> rows[] = {
        {"", R"("")"},
        {"春眠 abc", R"("春眠 abc")"},
        {"a\"b\\c/", R"("a\"b\\c/")"},
        {"\n\t\r", R"("\n\t\r")"},
        {std::string("\0\x01\x1b]0;x\x07", 8), R"("\u0000\u0001\u001B]0;x\u0007")"},
        {"\x7f\xc2\x9b", R"("\u007F\u009B")"},              // DEL, C1 CSI
        {"\xe2\x80\xae\xe2\x81\xa6", R"("\u202E\u2066")"},  // bidi override, isolate
        {"\xe2\x80\xa8", R"("\u2028")"},                    // line separator
        {"a\xb4"
         "b",
         "\"a\xEF\xBF\xBD"
         "b\""},                                                       // a lone GBK byte
        {"\xc0\xaf", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                  // overlong '/'
        {"\xed\xa0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a surrogate
        {"\xf0\x9f\x8e\xb5", "\"\xf0\x9f\x8e\xb5\""},                  // U+1F3B5 kept
    };
    for (const auto& [text, json] : rows) EXPECT_EQ(json_string(text), json) << json;
    EXPECT_EQ(JsonObject()
                  .text("a", "x")
                  .number("n", -3)
                  .number_or_null("none", std::nullopt)
                  .text_or_null("empty", "")
                  .boolean("yes", true)
                  .raw("list", json_numbers({1, 2}))
                  .str(),
              R"({"a":"x","n":-3,"none":null,"empty":null,"yes":true,"list":[1,2]})");
}

TEST(ParseAnalyze, TakesTheEncodingAndOneFileOnly) {
    const AnalyzeSettings s = accepted(parse_analyze(Args{"--encoding=cp936", "lyrics.txt"}));
    EXPECT_EQ(s.source.encoding, LyricEncoding::gbk);
    EXPECT_EQ(s.source.file, "lyrics.txt");
    EXPECT_FALSE(s.tones);
    EXPECT_TRUE(accepted(parse_analyze(Args{"--tones"})).tones);
    EXPECT_EQ(std::get<UsageError>(parse_analyze(Args{"--best-of", "2"})).message,
              "unknown option '--best-of' for analyze");
    EXPECT_EQ(std::get<UsageError>(parse_analyze(Args{"--seed", "1"})).message,
              "unknown option '--seed' for analyze");
}

// The kinds of option later commands bring: a flag and a file option beside an
// operand list, walked by the same code.
TEST(WalkArguments, FlagsFilesAndOperands) {
    bool score = false;
    std::string musicxml;
    std::vector<std::string> operands;
    const Option options[] = {flag("--score", score), file("--musicxml", musicxml)};
    const auto take = [&](const std::string& operand) -> std::optional<std::string> {
        operands.push_back(operand);
        return std::nullopt;
    };
    const auto walk = [&](const Args& args) { return walk_arguments(args, "test", options, take); };

    EXPECT_EQ(walk({"show", "--score", "--musicxml", "a b.xml", "7"}), std::nullopt);
    EXPECT_TRUE(score);
    EXPECT_EQ(musicxml, "a b.xml");
    EXPECT_EQ(operands, (Args{"show", "7"}));

    EXPECT_EQ(walk({"--score=yes"}), "--score takes no value");
    EXPECT_EQ(walk({"--musicxml"}), "--musicxml needs a file name");
    EXPECT_EQ(walk({"--musicxml="}), "--musicxml needs a file name");
    EXPECT_EQ(walk({"-x"}), "unknown option '-x' for test");
}

TEST(AsksForHelp, OnlyBeforeDoubleDash) {
    EXPECT_TRUE(asks_for_help(Args{"--help"}));
    EXPECT_TRUE(asks_for_help(Args{"compose", "--seed", "1", "-h"}));
    EXPECT_FALSE(asks_for_help(Args{"compose", "--", "-h"}));
    EXPECT_FALSE(asks_for_help(Args{"compose", "--helpful"}));
    EXPECT_FALSE(asks_for_help(Args{}));
}

}  // namespace
}  // namespace quavella::cli
