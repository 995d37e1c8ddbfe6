// Placement of the score window beside the main window.
#include "app/commands/placement.h"

#include <algorithm>

namespace quavella::placement {

namespace {

/// `start` moved so that a span of `length` lies within [lo, hi), or at lo if it cannot.
int clamp_span(int start, int length, int lo, int hi) {
    return std::max(lo, std::min(start, hi - length));
}

}  // namespace

bool intersects(const Rect& a, const Rect& b) {
    return a.x < b.right() && b.x < a.right() && a.y < b.bottom() && b.y < a.bottom();
}

Rect bring_onto(Rect frame, const Rect& area) {
    frame.w = std::min(frame.w, area.w);
    frame.h = std::min(frame.h, area.h);
    frame.x = clamp_span(frame.x, frame.w, area.x, area.right());
    frame.y = clamp_span(frame.y, frame.h, area.y, area.bottom());
    return frame;
}

Placement place_beside(const Desk& desk) {
    const Rect& area = desk.area;
    Placement out;
    out.main = desk.main;
    out.main.y = clamp_span(desk.main.y, desk.main.h, area.y, area.bottom());
    const int score_h = std::clamp(desk.score_h, std::min(desk.score_min_h, area.h), area.h);

    const int both = desk.main.w + kGap + desk.score_w;
    if (area.w >= both) {
        // Side by side at full size: keep the main window if the score fits right or
        // left of it, else centre the pair.
        int main_x = desk.main.x;
        int score_x = main_x + desk.main.w + kGap;
        if (main_x < area.x || score_x + desk.score_w > area.right()) {
            const int left_x = main_x - kGap - desk.score_w;
            if (main_x >= area.x && left_x >= area.x && main_x + desk.main.w <= area.right()) {
                score_x = left_x;
            } else {
                main_x = area.x + (area.w - both) / 2;
                score_x = main_x + desk.main.w + kGap;
            }
        }
        out.main.x = main_x;
        out.score = {score_x, 0, desk.score_w, score_h};
    } else {
        // Narrower: the main window at the left edge, the score in the rest. Where the
        // rest is narrower than the score's minimum, it may cover the main window's
        // empty right margin but none of its controls.
        out.main.x = area.x;
        int score_x = out.main.x + desk.main.w + kGap;
        if (area.right() - score_x < desk.score_min_w) {
            score_x = std::max(out.main.x + desk.main_controls_right + kGap,
                               area.right() - desk.score_min_w);
        }
        const int width = std::max(area.right() - score_x, std::min(desk.score_min_w, area.w));
        out.score = {std::min(score_x, area.right() - width), 0, width, score_h};
    }
    out.score.y = clamp_span(out.main.y, out.score.h, area.y, area.bottom());
    out.fold_history = out.score.w < kFoldBelow;
    return out;
}

Rect place_aside(const Rect& area, const std::vector<Rect>& windows, int w, int h, int min_w) {
    const auto overlap = [](const Rect& a, const Rect& b) -> long long {
        const int across = std::min(a.right(), b.right()) - std::max(a.x, b.x);
        const int down = std::min(a.bottom(), b.bottom()) - std::max(a.y, b.y);
        return across > 0 && down > 0 ? static_cast<long long>(across) * down : 0;
    };
    const Rect* anchor = windows.empty() ? nullptr : &windows.back();
    const auto distance = [anchor](const Rect& r) -> long long {
        if (anchor == nullptr) return 0;
        const long long dx = (r.x + r.w / 2) - (anchor->x + anchor->w / 2);
        const long long dy = (r.y + r.h / 2) - (anchor->y + anchor->h / 2);
        // Beside rather than above or below: reading both, the eyes move across.
        return dx * dx + 4 * dy * dy;
    };
    const int height = std::min(h, area.h);
    Rect best;
    bool found = false;
    long long best_cover = 0;
    long long best_distance = 0;
    for (const int width : {std::min(w, area.w), std::min(std::min(min_w, w), area.w)}) {
        // Flush with the area's edges, or just beside, above or below a window.
        std::vector<int> xs{area.x, area.right() - width};
        std::vector<int> ys{area.y, area.bottom() - height};
        for (const Rect& window : windows) {
            xs.insert(xs.end(), {window.right() + kGap, window.x - kGap - width, window.x});
            ys.insert(ys.end(), {window.y, window.bottom() + kGap, window.y - kGap - height});
        }
        for (const int x : xs) {
            for (const int y : ys) {
                const Rect r{clamp_span(x, width, area.x, area.right()),
                             clamp_span(y, height, area.y, area.bottom()), width, height};
                long long cover = 0;
                for (const Rect& window : windows) cover += overlap(r, window);
                const long long d = distance(r);
                // Least covered first; the wider size is tried first and kept on a tie.
                if (!found || cover < best_cover ||
                    (cover == best_cover && r.w == best.w && d < best_distance)) {
                    best = r;
                    best_cover = cover;
                    best_distance = d;
                    found = true;
                }
            }
        }
    }
    return best;
}

}  // namespace quavella::placement
