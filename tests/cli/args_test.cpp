// The command line parsed without running anything: each command's settings from
// its arguments, the exact refusal texts, and the walk itself with option kinds
// no command uses yet.
#include "cli/args.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

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

    // The last of a repeated option wins; positions outside the lists are kept as given.
    const ComposeSettings again =
        accepted(parse_compose(Args{"--speed", "1", "--speed", "-7", "--mode", "99999999999"}));
    EXPECT_EQ(again.speed, -7);
    EXPECT_EQ(again.mode, -1);  // too large for any list
}

TEST(ParseCompose, AfterDoubleDashEverythingIsAFile) {
    EXPECT_EQ(accepted(parse_compose(Args{"--", "-o"})).source.file, "-o");
    EXPECT_EQ(accepted(parse_compose(Args{"-"})).source.file, "-");
    EXPECT_TRUE(accepted(parse_compose(Args{"-"})).source.file_given);
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

const RefusalRow kRefusalRows[] = {
    {"NegativeSeed", {"--seed", "-1"}, "invalid seed '-1' (0 to 18446744073709551615)"},
    {"SeedTooLarge",
     {"--seed=18446744073709551616"},
     "invalid seed '18446744073709551616' (0 to 18446744073709551615)"},
    {"SeedWithTail", {"--seed", "12x"}, "invalid seed '12x' (0 to 18446744073709551615)"},
    {"SeedMissing", {"--seed"}, "--seed needs a value"},
    {"SpeedUnknownText", {"--speed", "fast"}, "invalid value 'fast' for --speed"},
    {"ModeEmpty", {"--mode", ""}, "invalid value '' for --mode"},
    {"TimbreMissing", {"--timbre"}, "--timbre needs a value"},
    {"OutMissing", {"-o"}, "-o needs a file name"},
    {"OutEmpty", {"-o="}, "-o needs a file name"},
    {"EncodingMissing", {"--encoding"}, "--encoding needs a value"},
    {"EncodingUnknown", {"--encoding=latin1"}, "unknown encoding 'latin1'"},
    {"UnknownOption", {"--bogus"}, "unknown option '--bogus' for compose"},
    {"PrefixIsNotTheOption", {"--speedy", "1"}, "unknown option '--speedy' for compose"},
    {"TwoFiles", {"a.txt", "--", "b.txt"}, "more than one FILE: 'b.txt'"},
    {"FirstRefusalWins", {"a.txt", "b.txt", "--bogus"}, "more than one FILE: 'b.txt'"},
};

INSTANTIATE_TEST_SUITE_P(Rows, ParseComposeRefusal, ::testing::ValuesIn(kRefusalRows),
                         test::RowName{});

TEST(ParseAnalyze, TakesTheEncodingAndOneFileOnly) {
    const AnalyzeSettings s = accepted(parse_analyze(Args{"--encoding=cp936", "lyrics.txt"}));
    EXPECT_EQ(s.source.encoding, LyricEncoding::gbk);
    EXPECT_EQ(s.source.file, "lyrics.txt");
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
