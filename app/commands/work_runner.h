// Slow work of the window's commands (best of N, the history's first try at a press) run
// away from the window's thread. Qt-free, so the commands run in tests with fakes.
#pragma once

#include <functional>

namespace quavella {

/// Runs a piece of work on another thread and returns once it has returned. The window
/// keeps painting and its timers and queued calls run meanwhile, but it takes no input
/// until the work is done: a command still runs to its end before the next one starts.
class WorkRunner {
public:
    virtual ~WorkRunner() = default;
    /// Runs `work`, returning when it has returned; what it throws is thrown here.
    virtual void run(const std::function<void()>& work) = 0;
};

/// Runs the work in place, on the calling thread: for the command line and tests.
class InPlaceRunner : public WorkRunner {
public:
    void run(const std::function<void()>& work) override { work(); }
};

}  // namespace quavella
