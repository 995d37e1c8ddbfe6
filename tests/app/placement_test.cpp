// The score window's place beside the main window at common screen sizes, and a
// remembered place brought back onto a smaller screen.
#include "app/commands/placement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace quavella::placement {
namespace {

// The main window's frame as the window makes it (no decoration offscreen and under a bare
// X server; a window manager's title bar adds its height), its controls ending at x = 681.
constexpr int kMainW = 729;
constexpr int kMainH = 515;
constexpr int kControlsRight = 681;
const Rect kControls{0, 0, kControlsRight, kMainH};  // relative to the main window

struct ScreenRow {
    std::string name;
    Rect area;
    bool side_by_side;  // nothing of the main window covered
    bool folded;        // the history list folds away
};

Rect centred(const Rect& area) {
    return {area.x + (area.w - kMainW) / 2, area.y + (area.h - kMainH) / 2, kMainW, kMainH};
}

class PlaceBeside : public testing::TestWithParam<ScreenRow> {};

TEST_P(PlaceBeside, CoversNoControlAndStaysOnTheScreen) {
    const ScreenRow& row = GetParam();
    const Desk desk{row.area, centred(row.area), kControlsRight, 780, 600, 320, 240};
    const Placement p = place_beside(desk);

    const auto inside = [&](const Rect& r) {
        return r.x >= row.area.x && r.y >= row.area.y && r.right() <= row.area.right() &&
               r.bottom() <= row.area.bottom();
    };
    EXPECT_TRUE(inside(p.main));
    EXPECT_TRUE(inside(p.score));
    EXPECT_EQ(p.main.w, kMainW);
    EXPECT_EQ(p.main.h, kMainH);
    EXPECT_GE(p.score.w, 320);
    EXPECT_GE(p.score.h, 240);
    const Rect controls{p.main.x + kControls.x, p.main.y + kControls.y, kControls.w, kControls.h};
    EXPECT_FALSE(intersects(controls, p.score));
    EXPECT_EQ(!intersects(p.main, p.score), row.side_by_side);
    EXPECT_EQ(p.fold_history, row.folded);
}

const ScreenRow kScreens[] = {
    {"s1920x1080", {0, 0, 1920, 1080}, true, false},
    {"s1440x900", {0, 0, 1440, 900}, true, false},
    {"s1366x768", {0, 0, 1366, 768}, true, true},
    {"s1280x800", {0, 0, 1280, 800}, true, true},
    {"s1024x768", {0, 0, 1024, 768}, false, true},
    // QT_SCALE_FACTOR=2 on 2560x1600: the windows see 1280x800.
    {"s2560x1600_scale2", {0, 0, 1280, 800}, true, true},
    // A panel on the left and one on top: the available area does not start at 0.
    {"s1366x768_panels", {48, 27, 1318, 741}, true, true},
    {"s1920x1080_second_screen", {1920, 0, 1920, 1080}, true, false},
};

INSTANTIATE_TEST_SUITE_P(Screens, PlaceBeside, testing::ValuesIn(kScreens),
                         [](const auto& row) { return row.param.name; });

TEST(PlaceBeside, KeepsTheMainWindowWhereTheScoreFitsBesideIt) {
    const Rect area{0, 0, 2560, 1440};
    const Rect main{100, 200, kMainW, kMainH};
    const Placement right = place_beside({area, main, kControlsRight, 780, 600, 320, 240});
    EXPECT_EQ(right.main, main);
    EXPECT_EQ(right.score, (Rect{100 + kMainW + kGap, 200, 780, 600}));
    // Near the right edge: the score goes to its left, the main window stays.
    const Rect near_edge{2560 - kMainW, 200, kMainW, kMainH};
    const Placement left = place_beside({area, near_edge, kControlsRight, 780, 600, 320, 240});
    EXPECT_EQ(left.main, near_edge);
    EXPECT_EQ(left.score.right() + kGap, near_edge.x);
}

TEST(PlaceBeside, ScoreTallerThanTheScreenIsShortened) {
    const Placement p =
        place_beside({{0, 0, 1920, 500}, {0, 0, kMainW, 480}, kControlsRight, 780, 900, 320, 240});
    EXPECT_EQ(p.score.h, 500);
    EXPECT_EQ(p.score.y, 0);
}

// The help window beside both windows as place_beside leaves them, at each screen size:
// on the screen, covering nothing where the screen leaves room beside them, else as
// little as any place would.
TEST_P(PlaceBeside, HelpGoesBesideTheWindowsNotOverThem) {
    const ScreenRow& row = GetParam();
    const Placement p =
        place_beside({row.area, centred(row.area), kControlsRight, 780, 600, 320, 240});
    const Rect help = place_aside(row.area, {p.main, p.score}, 520, 560, 380);
    EXPECT_TRUE(help.x >= row.area.x && help.y >= row.area.y && help.right() <= row.area.right() &&
                help.bottom() <= row.area.bottom());
    EXPECT_GE(help.w, 380);
    // Room for the narrowest help right or left of the pair.
    const int left = std::min(p.main.x, p.score.x) - row.area.x - kGap;
    const int right = row.area.right() - std::max(p.main.right(), p.score.right()) - kGap;
    if (std::max(left, right) >= 380) {
        EXPECT_FALSE(intersects(help, p.main));
        EXPECT_FALSE(intersects(help, p.score));
    }
}

TEST(PlaceAside, PrefersRoomBesideTheWindowItBelongsTo) {
    const Rect area{0, 0, 2560, 1440};
    const Rect main{100, 200, kMainW, kMainH};
    const Rect score{100 + kMainW + kGap, 200, 780, 600};
    // Right of the score, level with it, at full size.
    EXPECT_EQ(place_aside(area, {main, score}, 520, 560, 380),
              (Rect{score.right() + kGap, 200, 520, 560}));
    // Narrowed to its minimum where only that much is free beside them.
    const Rect tight{0, 0, score.right() + kGap + 400, 1000};
    const Rect narrowed = place_aside(tight, {main, score}, 520, 560, 380);
    EXPECT_FALSE(intersects(narrowed, main));
    EXPECT_FALSE(intersects(narrowed, score));
    EXPECT_EQ(narrowed.w, 380);
    // No room anywhere: on the screen, over as little as possible (here the main
    // window's lower part, which is shorter than the score).
    const Rect full{0, 0, 1280, 800};
    const Rect covering = place_aside(full, {{0, 0, 729, 515}, {737, 0, 543, 800}}, 520, 560, 380);
    EXPECT_TRUE(covering.right() <= 1280 && covering.bottom() <= 800);
    EXPECT_FALSE(intersects(covering, {737, 0, 543, 800}));
}

struct RememberedRow {
    std::string name;
    Rect remembered;
    Rect expected;
};

class BringOnto : public testing::TestWithParam<RememberedRow> {};

TEST_P(BringOnto, RememberedFrameReturnsToTheScreen) {
    EXPECT_EQ(bring_onto(GetParam().remembered, {0, 0, 1366, 768}), GetParam().expected);
}

const RememberedRow kRemembered[] = {
    {"inside_unchanged", {700, 100, 600, 500}, {700, 100, 600, 500}},
    {"off_the_right_of_a_smaller_screen", {1930, 100, 780, 600}, {586, 100, 780, 600}},
    {"below_the_bottom", {100, 900, 780, 600}, {100, 168, 780, 600}},
    {"above_and_left", {-500, -40, 780, 600}, {0, 0, 780, 600}},
    {"larger_than_the_screen", {0, 0, 2400, 1500}, {0, 0, 1366, 768}},
};

INSTANTIATE_TEST_SUITE_P(Frames, BringOnto, testing::ValuesIn(kRemembered),
                         [](const auto& row) { return row.param.name; });

}  // namespace
}  // namespace quavella::placement
