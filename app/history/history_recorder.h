// Records every composition made in the window in the history, without ever
// standing in the way of composing: a worker thread owns the history's connection,
// a history another program holds is retried until it is free, and a history that
// cannot be opened or written is reported once per run. Qt-free.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/commands/composition_listener.h"
#include "app/commands/message_box.h"
#include "history/record.h"
#include "history/store.h"

namespace quavella {

/// Tells several listeners of each composition, in the order given.
class ListenerFanOut : public CompositionListener {
public:
    ListenerFanOut(std::initializer_list<CompositionListener*> listeners);
    void made(const Press& press) override;
    void composed(const CompositionPtr& composition) override;

private:
    std::vector<CompositionListener*> listeners_;
};

/// Hands calls to the window's thread: the recorder's worker sends its notices and
/// callbacks through it. The window queues them on its event loop; tests run them in
/// place or collect them. A call may run after its sender is gone: each sender guards
/// its own calls (the recorder with its Lifeline).
class Poster {
public:
    virtual ~Poster() = default;
    /// Runs `call` on the window's thread, later or at once.
    virtual void post(std::function<void()> call) = 0;
};

/// Runs each call at once on the thread that posts it.
class InPlacePoster : public Poster {
public:
    void post(std::function<void()> call) override { call(); }
};

/// What opening the history found, for the window's start-up notices.
struct HistoryOpened {
    history::Status status = history::Status::ok;  ///< ok, recovered or failed
    std::string error;                             ///< why it failed
    std::filesystem::path moved_to;                ///< the damaged file's new name, if recovered
};

/// How long the recorder waits, in milliseconds.
struct RecorderTimes {
    /// made() waits this long at most for the worker's first attempt at its job.
    int first_try_ms = 200;
    /// At the end, compositions still queued are tried for this long.
    int final_try_ms = 2000;
    /// The pause after a busy history, doubled after each busy answer up to retry_max_ms.
    int retry_first_ms = 20;
    int retry_max_ms = 1000;
};

/// Whether an object still exists, for the calls it posts to another thread: each call
/// carries a watch on it and does nothing once the object has gone. Made, ended and read
/// on the thread the calls run on (the window's).
class Lifeline {
public:
    Lifeline() = default;
    Lifeline(const Lifeline&) = delete;
    Lifeline& operator=(const Lifeline&) = delete;
    /// Ends it: calls that carry it do nothing from now on.
    ~Lifeline() { end(); }
    void end() { alive_->store(false); }
    /// `call` made to run only while this lifeline lasts.
    std::function<void()> guard(std::function<void()> call) const {
        return [alive = alive_, call = std::move(call)] {
            if (alive->load()) call();
        };
    }

private:
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
};

/// Records each composition as it is made, from the value in memory: a best-of
/// composition's candidates in the order composed (made again one at a time as they
/// are written), the chosen one last, all in one transaction. Recording runs on a worker thread
/// with its own connection, in the order the jobs came; the window waits only for the worker's
/// first attempt, which never waits on another program's lock.
class HistoryRecorder : public CompositionListener {
public:
    /// Starts the worker, which opens the history first (setting up its schema).
    /// @param file the history file; nothing when there is no place for one (told on
    /// the first composition)
    /// @param box where the notices go, on the window's thread
    /// @param poster carries the worker's notices and callbacks to the window's thread
    /// @param now_ms the wall clock in milliseconds since 1970-01-01 UTC
    /// @param recorded told of each entry recorded (e.g. to refresh a list); may be empty
    /// @param opened told once what opening the history found (after the recorder's own
    /// notice of a damaged file moved aside); may be empty
    HistoryRecorder(std::optional<std::filesystem::path> file, MessageBox& box, Poster& poster,
                    std::function<std::int64_t()> now_ms,
                    std::function<void(std::int64_t)> recorded = {},
                    std::function<void(const HistoryOpened&)> opened = {},
                    RecorderTimes times = {});
    /// Ends as finish() does.
    ~HistoryRecorder() override;
    HistoryRecorder(const HistoryRecorder&) = delete;
    HistoryRecorder& operator=(const HistoryRecorder&) = delete;

    /// Queues the compositions of one command as one job and waits for the worker's
    /// first attempt at it, at most first_try_ms. Safe on any thread.
    void made(const Press& press) override;

    /// Queues a melody shaped from `origin` by edits, as an entry of its own linked to
    /// the entry of `origin` (when that was recorded in this run, however late).
    void record_shaped(const CompositionPtr& origin, const CompositionPtr& shaped);

    /// Waits until every queued job is done, `ms` passed or the recorder finished.
    /// @return true when everything queued was done
    bool wait_idle(int ms);

    /// Ends the worker: what is still queued is tried for final_try_ms, and the number
    /// of compositions never recorded is told once, on the calling thread. Idempotent.
    void finish();

private:
    struct Job {
        enum class Kind { open, press, shaped } kind = Kind::open;
        Press press;            ///< press: the candidates; shaped: the shaped melody
        CompositionPtr origin;  ///< shaped: the melody it came from
        std::int64_t time_ms = 0;
    };
    enum class Outcome { done, busy };

    void run();
    Outcome attempt(history::Store& store, const Job& job);
    Outcome open(history::Store& store);
    Outcome record(history::Store& store, const Job& job);
    /// Queues a job; returns its number.
    std::uint64_t push(Job job);
    /// Runs `call` on the window's thread while the recorder exists.
    void post(std::function<void()> call);
    /// Tells `text` unless something was told already; on the window's thread.
    void tell_once(const std::string& text);

    std::optional<std::filesystem::path> file_;
    MessageBox& box_;
    Poster& poster_;
    std::function<std::int64_t()> now_ms_;
    std::function<void(std::int64_t)> recorded_;
    std::function<void(const HistoryOpened&)> opened_;
    RecorderTimes times_;
    bool told_ = false;  ///< touched only by posted calls, on the window's thread
    /// Ends with the recorder: a call it posted that runs later does nothing.
    Lifeline lifeline_;

    std::mutex mutex_;
    std::condition_variable wake_;      ///< the worker waits for jobs and the end
    std::condition_variable progress_;  ///< made() and wait_idle() wait for the worker
    std::deque<Job> queue_;
    std::uint64_t pushed_ = 0;        ///< jobs ever queued
    std::uint64_t finished_ = 0;      ///< jobs done (recorded, or failed and told)
    std::uint64_t busy_answers_ = 0;  ///< attempts the busy history turned away
    bool stopping_ = false;
    bool finished_run_ = false;
    std::chrono::steady_clock::time_point final_deadline_;

    /// Worker only: the entries of the latest chosen compositions, so that a melody
    /// shaped from one finds its origin however many compositions came since.
    std::vector<std::pair<std::weak_ptr<const Composition>, std::int64_t>> chosen_ids_;
    std::thread worker_;
};

/// The wall clock in milliseconds since 1970-01-01 UTC.
std::int64_t system_time_ms();

}  // namespace quavella
