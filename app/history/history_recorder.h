// Records every composition made in the window in the history, without ever
// standing in the way of composing: a history that cannot be opened or written
// is reported once per run and otherwise left alone. Qt-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
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
    void made(std::span<const CompositionPtr> compositions, std::size_t chosen) override;
    void composed(const CompositionPtr& composition) override;

private:
    std::vector<CompositionListener*> listeners_;
};

/// Records each composition as it is made, from the value in memory: a best-of
/// composition's candidates in the order composed, the chosen one last, all in one
/// transaction.
class HistoryRecorder : public CompositionListener {
public:
    /// @param store the history; null when there is no place for one (told on the first
    /// composition)
    /// @param box where the one notice of a run goes
    /// @param now_ms the wall clock in milliseconds since 1970-01-01 UTC
    /// @param recorded told of each entry recorded (e.g. to refresh a list); may be empty
    HistoryRecorder(history::Store* store, MessageBox& box, std::function<std::int64_t()> now_ms,
                    std::function<void(std::int64_t)> recorded = {});

    void made(std::span<const CompositionPtr> compositions, std::size_t chosen) override;

    /// The number of the last entry recorded in this run.
    std::optional<std::int64_t> last_id() const { return last_id_; }

private:
    void tell_once(const std::string& text);

    history::Store* store_;
    MessageBox& box_;
    std::function<std::int64_t()> now_ms_;
    std::function<void(std::int64_t)> recorded_;
    std::optional<std::int64_t> last_id_;
    bool told_ = false;
};

/// The wall clock in milliseconds since 1970-01-01 UTC.
std::int64_t system_time_ms();

}  // namespace quavella
