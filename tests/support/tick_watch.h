// How well the window's thread answers while slow work runs: a timer on that thread,
// and the bound past which it counts as blocked.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

namespace quavella::test {

/// The window counts as blocked when a tick comes this much later than due. The faults
/// the responsiveness tests look for block for seconds (a held history's busy wait, a
/// render or a soundfont load on the window's thread), so this bound finds them on any
/// machine, however loaded. How promptly the window answers on a quiet machine (within
/// 100 ms) is a measured figure: scripts/measure-responsiveness.sh reads it from these
/// tests' reports.
constexpr qint64 kBlockedMs = 1000;

/// A timer every few milliseconds on the window's thread, keeping how late its ticks came.
class TickWatch {
public:
    static constexpr int kIntervalMs = 5;
    TickWatch() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kIntervalMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            worst_ = std::max(worst_, now - last_ - kIntervalMs);
            last_ = now;
            ++ticks_;
        });
        clock_.start();
        timer_.start();
    }
    /// Forgets what came before: lateness counts from now.
    void restart() {
        last_ = clock_.elapsed();
        worst_ = 0;
        ticks_ = 0;
    }
    /// The longest a tick came after it was due, in milliseconds.
    qint64 worstLateMs() const { return worst_; }
    int ticks() const { return ticks_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 worst_ = 0;
    int ticks_ = 0;
};

}  // namespace quavella::test
