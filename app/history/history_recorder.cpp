// Recording the window's compositions in the history, on a worker thread.
#include "app/history/history_recorder.h"

#include <algorithm>
#include <utility>

#include "app/commands/window_commands.h"

namespace quavella {

namespace {

constexpr const char* kUnaffected = "作曲、播放和保存照常进行，";
/// How many chosen compositions keep their entry numbers for the melodies shaped from them.
constexpr std::size_t kChosenKept = 16;
/// The newest entries read when the history is opened, so that damage there is found
/// (and the file moved aside) before anything is recorded or listed.
constexpr int kFirstPage = 100;

std::string damaged_notice(const std::filesystem::path& moved_to) {
    return "作品记录文件已损坏，已移到 " + moved_to.string() + "（没有删除），并新建了作品记录。";
}

}  // namespace

ListenerFanOut::ListenerFanOut(std::initializer_list<CompositionListener*> listeners) {
    for (CompositionListener* listener : listeners) {
        if (listener != nullptr) listeners_.push_back(listener);
    }
}

void ListenerFanOut::made(const Press& press) {
    for (CompositionListener* listener : listeners_) listener->made(press);
}

void ListenerFanOut::composed(const CompositionPtr& composition) {
    for (CompositionListener* listener : listeners_) listener->composed(composition);
}

HistoryRecorder::HistoryRecorder(std::optional<std::filesystem::path> file, MessageBox& box,
                                 Poster& poster, std::function<std::int64_t()> now_ms,
                                 std::function<void(std::int64_t)> recorded,
                                 std::function<void(const HistoryOpened&)> opened,
                                 RecorderTimes times)
    : file_(std::move(file)),
      box_(box),
      poster_(poster),
      now_ms_(std::move(now_ms)),
      recorded_(std::move(recorded)),
      opened_(std::move(opened)),
      times_(times) {
    if (!file_) return;
    // The schema is set up (and a damaged file moved aside) by the worker, first.
    push(Job{});
    worker_ = std::thread([this] { run(); });
}

HistoryRecorder::~HistoryRecorder() { finish(); }

std::uint64_t HistoryRecorder::push(Job job) {
    std::uint64_t number = 0;
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(std::move(job));
        number = pushed_++;
    }
    wake_.notify_all();
    return number;
}

void HistoryRecorder::made(const Press& press) {
    if (press.count == 0 || !press.make) return;
    if (!file_) {
        const std::string text = "作品记录无处保存（没有设置 XDG_DATA_HOME 或 HOME）。" +
                                 std::string(kUnaffected) + "但这次运行中的作品不会被记录。";
        post([this, text] { tell_once(text); });
        return;
    }
    Job job;
    job.kind = Job::Kind::press;
    job.press = press;
    job.press.chosen = std::min(press.chosen, press.count - 1);
    job.time_ms = now_ms_();
    std::unique_lock lock(mutex_);
    if (finished_run_) return;
    const std::uint64_t busy_before = busy_answers_;
    queue_.push_back(std::move(job));
    const std::uint64_t number = pushed_++;
    wake_.notify_all();
    // The caller writes the composition's files next. Waiting for the worker's first
    // try means that a program killed after the files are written has its composition
    // in the history too. That try never waits on another program's lock (a busy
    // history answers at once and the job stays queued), and a slow disk costs the
    // window first_try_ms at most.
    progress_.wait_for(lock, std::chrono::milliseconds(times_.first_try_ms),
                       [&] { return finished_ > number || busy_answers_ != busy_before; });
}

void HistoryRecorder::record_shaped(const CompositionPtr& origin, const CompositionPtr& shaped) {
    if (!shaped) return;
    if (!file_) {
        tell_once("作品记录无处保存（没有设置 XDG_DATA_HOME 或 HOME）。" +
                  std::string(kUnaffected) + "但这次运行中的作品不会被记录。");
        return;
    }
    Job job;
    job.kind = Job::Kind::shaped;
    job.press = Press::of(shaped);
    job.origin = origin;
    job.time_ms = now_ms_();
    {
        const std::lock_guard lock(mutex_);
        if (finished_run_) return;
    }
    push(std::move(job));
}

bool HistoryRecorder::wait_idle(int ms) {
    std::unique_lock lock(mutex_);
    return progress_.wait_for(lock, std::chrono::milliseconds(ms), [&] {
        return queue_.empty() || finished_run_;
    }) && queue_.empty();
}

void HistoryRecorder::finish() {
    {
        const std::lock_guard lock(mutex_);
        if (finished_run_ || stopping_) return;
        stopping_ = true;
        final_deadline_ =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(times_.final_try_ms);
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
    std::size_t never = 0;
    {
        const std::lock_guard lock(mutex_);
        finished_run_ = true;
        for (const Job& job : queue_) never += job.press.count;
    }
    progress_.notify_all();
    if (never > 0) {
        box_.show("作品记录一直被另一个程序占用，这次运行中有 " + std::to_string(never) +
                      " 首作品没有记录。",
                  kHintCaption);
    }
}

void HistoryRecorder::run() {
    history::Store store(*file_);
    // Never waits on another program's lock: a busy history answers at once, and the
    // job is tried again after a pause that grows while the history stays busy.
    store.set_busy_ms(0);
    auto pause = std::chrono::milliseconds(times_.retry_first_ms);
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return !queue_.empty() || stopping_; });
        if (queue_.empty()) return;
        const Job job = queue_.front();
        lock.unlock();
        const Outcome outcome = attempt(store, job);
        lock.lock();
        if (outcome == Outcome::done) {
            queue_.pop_front();
            ++finished_;
            pause = std::chrono::milliseconds(times_.retry_first_ms);
            progress_.notify_all();
            continue;
        }
        ++busy_answers_;
        progress_.notify_all();
        const auto now = std::chrono::steady_clock::now();
        if (stopping_ && now >= final_deadline_) return;
        // Tried again after the pause, at once when a job comes (its window waits for
        // an answer) or when the end begins.
        const std::uint64_t seen = pushed_;
        const bool was_stopping = stopping_;
        auto until = now + pause;
        if (stopping_) until = std::min(until, final_deadline_);
        wake_.wait_until(lock, until, [&] { return pushed_ != seen || stopping_ != was_stopping; });
        pause = std::min(pause * 2, std::chrono::milliseconds(times_.retry_max_ms));
    }
}

HistoryRecorder::Outcome HistoryRecorder::attempt(history::Store& store, const Job& job) {
    return job.kind == Job::Kind::open ? open(store) : record(store, job);
}

HistoryRecorder::Outcome HistoryRecorder::open(history::Store& store) {
    HistoryOpened opened;
    opened.status = store.open();
    if (opened.status == history::Status::failed && store.busy()) return Outcome::busy;
    if (opened.status == history::Status::ok) {
        // The newest page, as the history panel first shows it: damage there is found
        // now, and the file moved aside before anything is recorded.
        std::vector<history::Summary> page;
        const history::Status listed = store.list(page, kFirstPage);
        if (listed == history::Status::failed && store.busy()) return Outcome::busy;
        if (listed == history::Status::ok &&
            store.notice().find(" is damaged") != std::string::npos)
            opened.status = store.recover();
    }
    opened.error = store.last_error();
    opened.moved_to = store.moved_to();
    if (opened.status == history::Status::recovered) {
        const std::string text = damaged_notice(store.moved_to());
        post([this, text] { tell_once(text); });
    }
    if (opened_) post([this, opened] { opened_(opened); });
    return Outcome::done;
}

HistoryRecorder::Outcome HistoryRecorder::record(history::Store& store, const Job& job) {
    std::optional<std::int64_t> origin;
    if (job.kind == Job::Kind::shaped && job.origin) {
        for (const auto& [kept, id] : chosen_ids_) {
            if (kept.lock() == job.origin) origin = id;
        }
    }
    // The compositions and their records are made one at a time as the history writes
    // them, so a press is never held whole, as compositions or as records. A press whose
    // chosen melody was shaped (按句择优) names the candidate it was shaped from: the one
    // composed from the same state, as composed. That one is written before the chosen
    // one, so its entry number is known by then.
    const std::size_t count = job.press.count;
    const CompositionPtr chosen =
        job.kind == Job::Kind::press && count > 1 ? job.press.make(job.press.chosen) : nullptr;
    const bool shaped_press = chosen && !chosen->edits.empty();
    std::optional<std::size_t> origin_at;
    history::Record made;
    std::vector<std::int64_t> ids;
    const auto record_at = [&](std::size_t k) -> const history::Record* {
        const CompositionPtr composition =
            job.press.make(history::press_order(k, count, job.press.chosen));
        if (!composition) return nullptr;
        made = history::record_of(*composition, job.time_ms);
        if (k + 1 == count) {
            made.origin = origin;
            if (origin_at && *origin_at < ids.size()) made.origin = ids[*origin_at];
        } else if (shaped_press && !origin_at && composition->edits.empty() &&
                   composition->state == chosen->state) {
            origin_at = k;
        }
        return &made;
    };
    const history::Status status = store.record(count, record_at, ids);
    if (status == history::Status::failed) {
        if (store.busy()) return Outcome::busy;
        const std::string text = "作品记录无法保存：" + store.last_error() + "。" + kUnaffected +
                                 "但这次运行中的作品可能不会被记录。";
        post([this, text] { tell_once(text); });
        return Outcome::done;
    }
    if (status == history::Status::recovered) {
        const std::string text = damaged_notice(store.moved_to());
        post([this, text] { tell_once(text); });
    }
    if (job.kind == Job::Kind::press) {
        chosen_ids_.emplace_back(job.press.make(job.press.chosen), ids.back());
        if (chosen_ids_.size() > kChosenKept) chosen_ids_.erase(chosen_ids_.begin());
    }
    if (recorded_) {
        const std::int64_t id = ids.back();
        post([this, id] { recorded_(id); });
    }
    return Outcome::done;
}

void HistoryRecorder::post(std::function<void()> call) {
    // The call carries the recorder's lifeline: run after the recorder has gone (the
    // window's event loop goes on a while after it), it does nothing.
    poster_.post(lifeline_.guard(std::move(call)));
}

void HistoryRecorder::tell_once(const std::string& text) {
    if (told_) return;
    told_ = true;
    box_.show(text, kHintCaption);
}

std::int64_t system_time_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace quavella
