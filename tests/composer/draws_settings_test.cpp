// The random generators and the setting tables of the compose command.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "composer/draws.h"
#include "composer/style_tables.h"

namespace quavella {
namespace {

TEST(Generators, MainAndShuffleSequencesFromSeed) {
    Generators g(12345);
    // bits 32..62 of the successive main states
    const std::vector<int> main_values{4271370, 1382990846, 2021515706, 1387358403, 189252802};
    for (int expected : main_values) EXPECT_EQ(g.random(std::numeric_limits<int>::max()), expected);
    const std::vector<std::uint32_t> shuffle_values{15301, 24996, 10921, 23577, 19316};
    for (std::uint32_t expected : shuffle_values) EXPECT_EQ(g.shuffle(), expected);
}

TEST(Generators, SeedUsesAllSixtyFourBitsForMainAndLowHalfForShuffle) {
    Generators g;
    g.seed(std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(g.random(std::numeric_limits<int>::max()), 2147483301);
    EXPECT_EQ(g.shuffle(), 32421u);

    // Reseeding restarts both generators.
    Generators a(7), b(99);
    b.seed(7);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(a.random(1000), b.random(1000));
        EXPECT_EQ(a.shuffle(), b.shuffle());
    }
}

TEST(Generators, RandomOfZeroOrLessIsZeroAndDoesNotStep) {
    Generators a(5), b(5);
    EXPECT_EQ(a.random(0), 0);
    EXPECT_EQ(a.random(-3), 0);
    EXPECT_EQ(a.random(100), b.random(100));
}

TEST(Generators, RandomStaysBelowItsBound) {
    Generators g(1);
    bool saw_top = false;
    for (int i = 0; i < 2000; ++i) {
        const int v = g.random(20);
        ASSERT_GE(v, 0);
        ASSERT_LT(v, 20);
        saw_top = saw_top || v == 19;
        ASSERT_LE(g.shuffle(), 32767u);
    }
    EXPECT_TRUE(saw_top);
}

struct TableRow {
    int position;
    int speed;
    int mode;
    int program;
};

TEST(StyleTables, PositionsMapToSettingsAndOthersToDefaults) {
    const std::vector<TableRow> rows{
        {-1, 140, 3, 0}, {0, 100, 0, 0},  {1, 140, 1, 10},   {2, 180, 2, 16}, {3, 140, 3, 24},
        {4, 140, 3, 32}, {5, 140, 3, 40}, {6, 140, 3, 48},   {7, 140, 3, 56}, {8, 140, 3, 64},
        {9, 140, 3, 72}, {10, 140, 3, 0}, {1000, 140, 3, 0},
    };
    for (const TableRow& row : rows) {
        SCOPED_TRACE(row.position);
        EXPECT_EQ(speed_base(row.position), row.speed);
        EXPECT_EQ(mode_number(row.position), row.mode);
        EXPECT_EQ(program_number(row.position), row.program);
    }
}

TEST(StyleTables, ListItems) {
    EXPECT_EQ(speed_items(), (std::vector<std::string>{"慢", "中", "快"}));
    EXPECT_EQ(mode_items(),
              (std::vector<std::string>{"七声调式", "六声调式1", "六声调式2", "五声调式"}));
    EXPECT_EQ(timbre_items(),
              (std::vector<std::string>{"钢琴", "八音盒", "风琴", "吉他", "贝司", "小提琴",
                                        "弦乐组", "小号", "萨克斯", "短笛"}));
}

}  // namespace
}  // namespace quavella
