// The random generators and the setting tables of the compose command.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <limits>
#include <set>
#include <utility>
#include <vector>

#include "composer/draws.h"
#include "composer/song.h"
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
        {-1, 140, 3, 0}, {0, 100, 3, 0},  {1, 140, 2, 10},   {2, 180, 1, 16}, {3, 140, 0, 24},
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

TEST(StyleTables, EachModeComposesWithTheScaleItsNameDescribes) {
    // The pitch classes (C = 0) each item's name describes: 七声 all seven, 六声调式1
    // the five with 变宫 (B), 六声调式2 the five with 变徵 (F here), 五声 the five.
    const std::pair<const char*, std::set<int>> names[] = {
        {"七声调式", {0, 2, 4, 5, 7, 9, 11}},
        {"六声调式1", {0, 2, 4, 7, 9, 11}},
        {"六声调式2", {0, 2, 4, 5, 7, 9}},
        {"五声调式", {0, 2, 4, 7, 9}},
    };
    ASSERT_EQ(mode_items().size(), std::size(names));
    for (int position = 0; position < 4; ++position) {
        const auto& [name, classes] = names[position];
        EXPECT_EQ(mode_items()[static_cast<std::size_t>(position)], name);
        std::set<int> scale;
        for (const std::int32_t note : mode_scale(mode_number(position))) scale.insert(note % 12);
        EXPECT_EQ(scale, classes) << name;
        EXPECT_EQ(mode_position(mode_number(position)), position) << name;
    }
    EXPECT_EQ(mode_position(-1), -1);
    EXPECT_EQ(mode_position(4), -1);
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
