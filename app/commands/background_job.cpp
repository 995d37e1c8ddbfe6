// A piece of work on a thread of its own (see background_job.h).
#include "app/commands/background_job.h"

#include <exception>
#include <system_error>

#include "base/owned_threads.h"

namespace quavella {

std::shared_ptr<BackgroundJob> BackgroundJob::start(Work work, std::string* failure) {
    auto job = std::make_shared<BackgroundJob>(std::move(work));
    try {
        // The thread holds the job: it outlives every caller that let go of it, owned by
        // the process, which joins it once done.
        start_owned_thread([job] { job->run(); });
    } catch (const std::system_error& e) {
        if (failure != nullptr) *failure = e.what();
        return nullptr;
    }
    return job;
}

void BackgroundJob::run() {
    const GoOn go_on = [this](double done) {
        std::lock_guard lock(mutex_);
        progress_ = done;
        return !cancelled_;
    };
    std::optional<std::string> result;
    try {
        result = work_(go_on);
    } catch (const std::exception& e) {
        result = e.what();  // memory ran out, or a broken contract: said, never lost
    }
    // The work's captures (a score, a name) go on this thread, before anyone hears of it.
    work_ = nullptr;
    {
        std::lock_guard lock(mutex_);
        result_ = std::move(result);
        done_ = true;
    }
    done_cv_.notify_all();
}

double BackgroundJob::progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
}

void BackgroundJob::cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
}

bool BackgroundJob::cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

bool BackgroundJob::done() const {
    std::lock_guard lock(mutex_);
    return done_;
}

bool BackgroundJob::wait_for(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return done_cv_.wait_for(lock, timeout, [this] { return done_; });
}

std::optional<std::string> BackgroundJob::result() const {
    std::lock_guard lock(mutex_);
    return result_;
}

}  // namespace quavella
