// Where the main window and the score window sit on one screen so that the score never
// hides a control of the main window. Plain rectangles, no Qt: the score window applies
// the result, the tests check it at common screen sizes.
#pragma once

#include <optional>
#include <vector>

namespace quavella::placement {

/// A rectangle in screen pixels (logical, after any scale factor); right() is x + w.
struct Rect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    int right() const { return x + w; }
    int bottom() const { return y + h; }
    bool operator==(const Rect&) const = default;
};

/// What is known of the desk before the score window is placed.
struct Desk {
    Rect area;                    ///< the screen's available geometry
    Rect main;                    ///< the main window's frame, where it is now
    int main_controls_right = 0;  ///< right edge of its rightmost control, from main.x
    int score_w = 0;              ///< the score window's preferred frame size
    int score_h = 0;
    int score_min_w = 0;  ///< its minimum frame size
    int score_min_h = 0;
};

/// Where both windows go, and whether the history list folds away.
struct Placement {
    Rect main;   ///< the main window's frame (moved only when needed)
    Rect score;  ///< the score window's frame
    bool fold_history = false;
};

/// Pixels between the two windows.
inline constexpr int kGap = 8;
/// Below this frame width the score window folds its history list away.
inline constexpr int kFoldBelow = 700;

/// Places the score window beside the main window. Where both fit side by side, nothing
/// of the main window is covered (the pair is centred on the screen, the main window
/// moved only if it must); where the screen is narrower, the main window goes to the
/// left edge and the score takes the area right of its controls. Both stay within the
/// available area whenever the area can hold them.
Placement place_beside(const Desk& desk);

/// Where a further window of a program (a help window) goes: within `area`, covering as
/// little of `windows` (frames already on the screen) as it can. Beside them where the area
/// leaves room, narrowed down to `min_w` if that is what makes room; among places that
/// cover as much, the widest, then the one nearest the last of `windows` (the window it
/// belongs to), beside it before above or below it.
Rect place_aside(const Rect& area, const std::vector<Rect>& windows, int w, int h, int min_w);

/// A remembered frame brought back onto `area`: shrunk to fit, then moved inside.
Rect bring_onto(Rect frame, const Rect& area);

/// Whether two rectangles share at least one pixel.
bool intersects(const Rect& a, const Rect& b);

}  // namespace quavella::placement
