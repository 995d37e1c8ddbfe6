// The process's owned threads (see owned_threads.h).
#include "base/owned_threads.h"

#include <condition_variable>
#include <cstdlib>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace quavella {

namespace {

struct Owned {
    std::thread thread;
    bool done = false;  ///< its work has returned and its captures are gone
};

struct Registry {
    std::mutex mutex;
    std::condition_variable changed;
    std::list<std::shared_ptr<Owned>> threads;

    /// Joins the threads whose work is done. Called with `mutex` held; a done thread
    /// only returns, so the join is brief.
    void reap() {
        for (auto it = threads.begin(); it != threads.end();) {
            if ((*it)->done) {
                (*it)->thread.join();
                it = threads.erase(it);
            } else {
                ++it;
            }
        }
    }
};

/// Never destroyed: a thread still stuck at the program's end is not joined by a
/// destructor (which would wait for it for good) but ends with the process.
Registry& registry() {
    static Registry* const kept = new Registry;
    return *kept;
}

}  // namespace

void start_owned_thread(std::function<void()> work) {
    Registry& r = registry();
    // At the program's end the threads whose work is done are joined, whoever forgot to:
    // only one stuck in the system is left to end with the process.
    static const bool joined_at_exit =
        std::atexit([] { join_owned_threads(std::chrono::milliseconds(0)); }) == 0;
    (void)joined_at_exit;
    auto owned = std::make_shared<Owned>();
    const std::lock_guard lock(r.mutex);
    r.reap();
    // The thread marks itself done once its work and what the work holds are gone.
    owned->thread = std::thread([&r, owned, work = std::move(work)]() mutable {
        work();
        work = nullptr;
        {
            const std::lock_guard done(r.mutex);
            owned->done = true;
        }
        r.changed.notify_all();
    });
    r.threads.push_back(std::move(owned));
}

bool join_owned_threads(std::chrono::milliseconds deadline) {
    Registry& r = registry();
    std::unique_lock lock(r.mutex);
    r.changed.wait_for(lock, deadline, [&] {
        for (const auto& owned : r.threads) {
            if (!owned->done) return false;
        }
        return true;
    });
    r.reap();
    return r.threads.empty();
}

int owned_threads_running() {
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    int running = 0;
    for (const auto& owned : r.threads) running += owned->done ? 0 : 1;
    return running;
}

}  // namespace quavella
