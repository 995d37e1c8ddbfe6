// Recording the window's compositions in the history.
#include "app/history/history_recorder.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "app/commands/window_commands.h"

namespace quavella {

namespace {

constexpr const char* kUnaffected = "作曲、播放和保存照常进行，";

}  // namespace

ListenerFanOut::ListenerFanOut(std::initializer_list<CompositionListener*> listeners) {
    for (CompositionListener* listener : listeners) {
        if (listener != nullptr) listeners_.push_back(listener);
    }
}

void ListenerFanOut::made(std::span<const CompositionPtr> compositions, std::size_t chosen) {
    for (CompositionListener* listener : listeners_) listener->made(compositions, chosen);
}

void ListenerFanOut::composed(const CompositionPtr& composition) {
    for (CompositionListener* listener : listeners_) listener->composed(composition);
}

HistoryRecorder::HistoryRecorder(history::Store* store, MessageBox& box,
                                 std::function<std::int64_t()> now_ms,
                                 std::function<void(std::int64_t)> recorded)
    : store_(store), box_(box), now_ms_(std::move(now_ms)), recorded_(std::move(recorded)) {}

void HistoryRecorder::made(std::span<const CompositionPtr> compositions, std::size_t chosen) {
    if (compositions.empty()) return;
    if (store_ == nullptr) {
        tell_once("作品记录无处保存（没有设置 XDG_DATA_HOME 或 HOME）。" +
                  std::string(kUnaffected) + "但这次运行中的作品不会被记录。");
        return;
    }
    // The candidates passed over first, in order; the chosen one last, so it is the newest.
    const std::int64_t now = now_ms_();
    const std::size_t pick = std::min(chosen, compositions.size() - 1);
    std::vector<history::Record> records;
    records.reserve(compositions.size());
    for (std::size_t k = 0; k < compositions.size(); ++k) {
        if (k != pick) records.push_back(history::record_of(*compositions[k], now));
    }
    records.push_back(history::record_of(*compositions[pick], now));
    std::vector<std::int64_t> ids;
    const history::Status status = store_->record(records, ids);
    if (status == history::Status::failed) {
        tell_once("作品记录无法保存：" + store_->last_error() + "。" + kUnaffected +
                  "但这次运行中的作品可能不会被记录。");
        return;
    }
    if (status == history::Status::recovered) {
        tell_once("作品记录文件已损坏，已移到 " + store_->moved_to().string() +
                  "（没有删除），并新建了作品记录。");
    }
    last_id_ = ids.back();
    if (recorded_) recorded_(ids.back());
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
