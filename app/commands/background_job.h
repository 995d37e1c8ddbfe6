// A slow piece of work (an audio export) on a thread of its own, with its progress and a
// cancel the caller polls and sets: the window's thread never waits for it. Qt-free; the
// score window runs its audio export through it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace quavella {

/// One run of a piece of work on a thread of its own, which no caller joins: the thread
/// holds the job, so a caller that lets go of it (a window closing) never waits for a
/// work stuck in the system (a hung network file system); it tells the work to stop.
/// The process owns the thread (base/owned_threads.h) and joins it once done.
class BackgroundJob {
public:
    /// Told the fraction done (0 to 1); returns false when the work must stop.
    using GoOn = std::function<bool(double done)>;
    /// The work: reports through the callback, returns the reason of a failure.
    using Work = std::function<std::optional<std::string>(const GoOn& go_on)>;

    /// Starts `work` on a new thread.
    /// @return the job, or the system's reason when no thread could be started
    static std::shared_ptr<BackgroundJob> start(Work work, std::string* failure = nullptr);

    /// The fraction done that the work last told (0 to 1).
    double progress() const;
    /// Asks the work to stop: its next report gets false.
    void cancel();
    /// Whether cancel() was called.
    bool cancelled() const;
    /// Whether the work has returned.
    bool done() const;
    /// Waits until the work has returned or `timeout` has passed; true when it has.
    bool wait_for(std::chrono::milliseconds timeout) const;
    /// What the work returned: nothing on success, else its reason. Only once done().
    std::optional<std::string> result() const;

    /// Use start().
    explicit BackgroundJob(Work work) : work_(std::move(work)) {}

private:
    void run();

    Work work_;
    mutable std::mutex mutex_;
    mutable std::condition_variable done_cv_;
    double progress_ = 0.0;
    bool cancelled_ = false;
    bool done_ = false;
    std::optional<std::string> result_;
};

}  // namespace quavella
