// Records every composition made in the window in the history, without ever
// standing in the way of composing: a history that cannot be opened or written
// is reported once per run and otherwise left alone. Qt-free.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <vector>

#include "app/commands/composition_listener.h"
#include "app/commands/message_box.h"
#include "history/record.h"
#include "history/store.h"

namespace quavella {

/// The history's record of a finished composition.
/// @param midi the composition file's bytes
/// @param time_ms when it was composed, milliseconds since 1970-01-01 UTC
history::Record record_of(const FinishedComposition& composition, std::string midi,
                          std::int64_t time_ms);

/// Tells several listeners of each composition, in the order given.
class ListenerFanOut : public CompositionListener {
public:
    ListenerFanOut(std::initializer_list<CompositionListener*> listeners);
    void composed(const FinishedComposition& composition) override;
    void passed_over(const FinishedComposition& candidate) override;

private:
    std::vector<CompositionListener*> listeners_;
};

/// Records each composition, reading the melody from its play file, and each
/// candidate a best-of composition passed over, made again from its state.
class HistoryRecorder : public CompositionListener {
public:
    /// @param store the history; null when there is no place for one (told on the first
    /// composition)
    /// @param box where the one notice of a run goes
    /// @param now_ms the wall clock in milliseconds since 1970-01-01 UTC
    /// @param recorded told of each entry recorded (e.g. to refresh a list); may be empty
    HistoryRecorder(history::Store* store, MessageBox& box, std::function<std::int64_t()> now_ms,
                    std::function<void(std::int64_t)> recorded = {});

    void composed(const FinishedComposition& composition) override;
    void passed_over(const FinishedComposition& candidate) override;

    /// The number of the last entry recorded in this run.
    std::optional<std::int64_t> last_id() const { return last_id_; }

private:
    /// Records a composition with its file's bytes.
    void keep(const FinishedComposition& composition, const std::string& midi);
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
