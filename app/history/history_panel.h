// The history list "作品记录", docked in the score window: every recorded
// composition, newest first, filled a page at a time as the list scrolls; a press
// of 择优作曲 is one row that opens on its candidates. Selecting an entry shows its
// generator state and the command line that makes it again; "载入" asks for its
// melody in the player, "删除" deletes it after asking.
#pragma once

#include <QDockWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "app/commands/confirmer.h"
#include "history/store.h"

class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace quavella {

class HistoryPanel : public QDockWidget {
    Q_OBJECT

public:
    /// Rows read from the history at a time.
    static constexpr int kPageSize = 100;
    /// The most candidates a press lists when opened: as many as 择优作曲 composes.
    static constexpr int kMaxCandidatesShown = 1000;

    /// @param store the history; null when there is none (the list stays empty)
    /// @param confirmer asks before deleting; null: a Qt question box
    HistoryPanel(history::Store* store, std::unique_ptr<Confirmer> confirmer,
                 QWidget* parent = nullptr);

    /// Lists `store` from now on (null: an empty list), e.g. once the history is open.
    void setStore(history::Store* store);
    /// Reads the newest page again, keeping the selected entry selected when it is there.
    void refresh();
    /// Reads the list again when the history changed elsewhere, e.g. another window
    /// recorded or deleted an entry. Done whenever the score window is activated.
    void refreshIfChanged();
    /// Enables "载入" (it follows "生成主旋律").
    void setLoadEnabled(bool enabled);
    /// Lists the history again with entry `id` selected and scrolled into view, as the
    /// score shows it (a new composition, the melody chosen by best of N).
    void showEntry(std::int64_t id);
    /// The selected entry, read whole; nothing when none is selected.
    const std::optional<history::Entry>& selected() const { return selected_; }
    /// The rows: one per entry, or per press of 择优作曲 with its candidates as children.
    QTreeWidget* list() const { return list_; }
    QPlainTextEdit* details() const { return details_; }
    /// The width the panel needs to show a row's first line (its time and tone score) whole.
    int rowsWidth() const;

signals:
    /// An entry was selected (its score is to be shown).
    void entrySelected(const quavella::history::Entry& entry);
    /// "载入": the recorded composition is to go to the player.
    void loadRequested(const quavella::history::Record& record);

public slots:
    /// Reads the next page when there is one.
    void fetchMore();
    /// Adds the row of one entry at the end of the list; `under_origin`: a shaped melody
    /// placed right under the entry it was shaped from, and marked as coming from it.
    void addRow(const history::Summary& s, bool under_origin = false);
    /// Lists the candidates of a press under its row, when it is opened.
    void fillCandidates(QTreeWidgetItem* press);
    void loadSelected();
    void deleteSelected();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// The number of entries and the newest id, or nothing when the history cannot be read.
    std::optional<std::pair<std::int64_t, std::int64_t>> extent() const;
    void select(QTreeWidgetItem* item);
    /// The row of entry `id` among those listed (candidates of open presses included).
    QTreeWidgetItem* rowOf(std::int64_t id) const;

    history::Store* store_;
    std::unique_ptr<Confirmer> confirmer_;
    QTreeWidget* list_;
    QPlainTextEdit* details_;
    QPushButton* load_;
    QPushButton* delete_;
    std::optional<history::Entry> selected_;
    bool following_score_ = false;  ///< selecting what the score shows: no entrySelected
    std::int64_t last_id_ = 0;      ///< the oldest id listed so far
    bool at_end_ = true;
    /// extent() when the list was last read
    std::optional<std::pair<std::int64_t, std::int64_t>> listed_extent_;
    bool load_allowed_ = false;
    std::set<std::int64_t> open_presses_;  ///< presses shown opened, kept over a refresh
};

}  // namespace quavella
