// The history list of the score window.
#include "app/history/history_panel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>
#include <map>
#include <set>
#include <vector>

#include "tones/tone_grading.h"

namespace quavella {

namespace {

constexpr int kIdRole = Qt::UserRole;
/// On the row of a press (and of its chosen candidate): how many candidates it has.
constexpr int kCandidatesRole = Qt::UserRole + 1;

/// Asks with a Qt question box.
class QtConfirmer : public Confirmer {
public:
    explicit QtConfirmer(QWidget* parent) : parent_(parent) {}
    bool confirm(const std::string& question, const std::string& caption) override {
        // The question quotes a history row: plain text, never markup.
        QMessageBox box(QMessageBox::Question, QString::fromStdString(caption),
                        QString::fromStdString(question), QMessageBox::Yes | QMessageBox::No,
                        parent_);
        box.setTextFormat(Qt::PlainText);
        return box.exec() == QMessageBox::Yes;
    }

private:
    QWidget* parent_;
};

/// The first line of the lyrics' start, with "…" when more follows.
QString firstWords(const std::string& lyrics_start) {
    QString text = QString::fromStdString(lyrics_start);
    const qsizetype end = text.indexOf(QLatin1Char('\n'));
    if (end >= 0) return text.left(end) + QStringLiteral("…");
    return text;
}

/// Three short lines that fit a narrow list: when and how well the tones are
/// sung, the first words, the settings (and, for a press of 择优作曲, of how many
/// it was chosen). A shaped melody listed right under its origin is marked and indented
/// as coming from it; one listed anywhere else is marked without the arrow.
QString rowText(const history::Summary& s, bool under_origin = false) {
    // The tone score only where some pair of syllables was graded.
    const QString tones = s.tone_score
                              ? QStringLiteral("  字调契合 %1%").arg(score_percent(*s.tone_score))
                              : QString();
    // The press's mark ends the settings' line, the shortest, so that it stays in sight.
    // A press of 按句择优 keeps its candidates and, chosen, the melody shaped from them.
    const bool by_sentence = s.candidates >= 2 && s.edited;
    QString press;
    if (by_sentence) {
        press = QStringLiteral(" · 按句择优 %1 首").arg(s.candidates - 1);
    } else if (s.candidates >= 2) {
        press = QStringLiteral(" · 择优 %1 首之一").arg(s.candidates);
    }
    const QString row =
        QStringLiteral("%1%2\n%3\n%4 · %5 · %6%7")
            .arg(QString::fromStdString(history::local_time_text(s.time_ms)), tones,
                 firstWords(s.lyrics_start), QString::fromStdString(s.speed_item),
                 QString::fromStdString(s.mode_item), QString::fromStdString(s.timbre_item), press);
    // Its melody is shaped from a candidate of its own press: a row of its own lyrics.
    if (!s.edited || by_sentence) return row;
    // A melody shaped by edits stands under the composition it came from; the row above
    // any other is not its origin, so nothing there points at it.
    if (under_origin && s.origin) {
        return QStringLiteral("↳ 修改自第 %1 条  ").arg(*s.origin) +
               QString(row).replace(QLatin1Char('\n'), QStringLiteral("\n      "));
    }
    return (s.origin ? QStringLiteral("修改自第 %1 条  ").arg(*s.origin)
                     : QStringLiteral("修改  ")) +
           row;
}

std::int64_t idOf(const QTreeWidgetItem* item) { return item->data(0, kIdRole).toLongLong(); }

}  // namespace

HistoryPanel::HistoryPanel(history::Store* store, std::unique_ptr<Confirmer> confirmer,
                           QWidget* parent)
    : QDockWidget(QStringLiteral("作品记录"), parent),
      store_(store),
      confirmer_(std::move(confirmer)) {
    setObjectName(QStringLiteral("historyPanel"));
    setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    if (!confirmer_) confirmer_ = std::make_unique<QtConfirmer>(this);

    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    list_ = new QTreeWidget(body);
    list_->setObjectName(QStringLiteral("historyList"));
    list_->setHeaderHidden(true);
    list_->setColumnCount(1);
    list_->setUniformRowHeights(true);
    list_->setIndentation(list_->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 3 / 2);
    list_->setTextElideMode(Qt::ElideRight);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(list_, 1);

    auto* buttons = new QHBoxLayout;
    load_ = new QPushButton(QStringLiteral("载入"), body);
    load_->setObjectName(QStringLiteral("historyLoad"));
    delete_ = new QPushButton(QStringLiteral("删除"), body);
    delete_->setObjectName(QStringLiteral("historyDelete"));
    buttons->addWidget(load_);
    buttons->addWidget(delete_);
    buttons->addStretch();
    layout->addLayout(buttons);

    // The state and the command line, selectable and copyable.
    details_ = new QPlainTextEdit(body);
    details_->setObjectName(QStringLiteral("historyDetails"));
    details_->setReadOnly(true);
    details_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    details_->setMaximumHeight(110);
    layout->addWidget(details_);
    setWidget(body);

    load_->setEnabled(false);
    delete_->setEnabled(false);
    connect(list_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { select(item); });
    // A press lists its candidates when it is opened, by the arrow or the keyboard.
    connect(list_, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* press) {
        open_presses_.insert(idOf(press));
        fillCandidates(press);
    });
    connect(list_, &QTreeWidget::itemCollapsed, this,
            [this](QTreeWidgetItem* press) { open_presses_.erase(idOf(press)); });
    connect(list_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (value >= list_->verticalScrollBar()->maximum()) fetchMore();
    });
    connect(load_, &QPushButton::clicked, this, &HistoryPanel::loadSelected);
    connect(delete_, &QPushButton::clicked, this, &HistoryPanel::deleteSelected);
    if (parent != nullptr) parent->installEventFilter(this);
    refresh();
}

int HistoryPanel::rowsWidth() const {
    const QString widest =
        QString::fromStdString(history::local_time_text(0)) + QStringLiteral("  字调契合 100%");
    const QMargins margins = widget()->layout()->contentsMargins();
    return list_->fontMetrics().horizontalAdvance(widest) + list_->indentation() +
           2 * list_->frameWidth() + list_->verticalScrollBar()->sizeHint().width() +
           margins.left() + margins.right() + 8;
}

bool HistoryPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::WindowActivate) refreshIfChanged();
    return QDockWidget::eventFilter(watched, event);
}

std::optional<std::pair<std::int64_t, std::int64_t>> HistoryPanel::extent() const {
    if (store_ == nullptr) return std::nullopt;
    std::int64_t count = 0;
    std::vector<history::Summary> newest;
    if (store_->count(count) != history::Status::ok ||
        store_->list(newest, 1) != history::Status::ok) {
        return std::nullopt;
    }
    return std::pair{count, newest.empty() ? std::int64_t{0} : newest.front().id};
}

void HistoryPanel::setStore(history::Store* store) {
    store_ = store;
    refresh();
}

void HistoryPanel::refreshIfChanged() {
    if (store_ != nullptr && extent() != listed_extent_) refresh();
}

void HistoryPanel::refresh() {
    const std::optional<std::int64_t> keep =
        selected_ ? std::optional<std::int64_t>(selected_->id) : std::nullopt;
    {
        const QSignalBlocker quiet(list_);
        list_->clear();
    }
    last_id_ = std::numeric_limits<std::int64_t>::max();
    at_end_ = store_ == nullptr;
    listed_extent_ = extent();
    fetchMore();
    QTreeWidgetItem* row = keep ? rowOf(*keep) : nullptr;
    {
        const QSignalBlocker quiet(list_);
        list_->setCurrentItem(row);
    }
    if (row == nullptr) select(nullptr);
}

QTreeWidgetItem* HistoryPanel::rowOf(std::int64_t id) const {
    for (int k = 0; k < list_->topLevelItemCount(); ++k) {
        QTreeWidgetItem* item = list_->topLevelItem(k);
        if (idOf(item) == id) return item;
    }
    // A candidate passed over is listed only under its opened press.
    for (int k = 0; k < list_->topLevelItemCount(); ++k) {
        QTreeWidgetItem* press = list_->topLevelItem(k);
        for (int c = 0; c < press->childCount(); ++c) {
            if (press->child(c)->data(0, kIdRole).isValid() && idOf(press->child(c)) == id)
                return press->child(c);
        }
    }
    return nullptr;
}

void HistoryPanel::fetchMore() {
    if (at_end_) return;
    std::vector<history::Summary> page;
    if (store_->list(page, kPageSize, last_id_) == history::Status::failed) {
        at_end_ = true;
        return;  // the recorder tells the user once; the list shows what it has
    }
    at_end_ = static_cast<int>(page.size()) < kPageSize;
    // Newest first, but a shaped melody goes right under its origin when that is on the
    // same page (it usually is: shaping follows composing), its own newest first.
    std::vector<const history::Summary*> order;
    std::map<std::int64_t, std::vector<const history::Summary*>> shaped_from;
    std::set<std::int64_t> on_page;
    for (const history::Summary& s : page) on_page.insert(s.id);
    for (const history::Summary& s : page) {
        if (s.edited && s.origin && on_page.count(*s.origin) != 0) {
            shaped_from[*s.origin].push_back(&s);
        } else {
            order.push_back(&s);
        }
    }
    for (const history::Summary* s : order) {
        addRow(*s);
        for (const history::Summary* shaped : shaped_from[s->id]) addRow(*shaped, true);
    }
    if (!page.empty()) last_id_ = page.back().id;
}

void HistoryPanel::addRow(const history::Summary& s, bool under_origin) {
    auto* item = new QTreeWidgetItem(list_, QStringList{rowText(s, under_origin)});
    item->setSizeHint(0, QSize(0, 3 * list_->fontMetrics().lineSpacing() + 8));
    item->setToolTip(0, QString::fromStdString(s.lyrics_start));
    item->setData(0, kIdRole, QVariant::fromValue<qlonglong>(s.id));
    if (s.candidates < 2) return;
    // A press: its candidates are read when it is opened.
    item->setData(0, kCandidatesRole, QVariant::fromValue<qlonglong>(s.candidates));
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    if (open_presses_.count(s.id) != 0) item->setExpanded(true);
}

void HistoryPanel::fillCandidates(QTreeWidgetItem* press) {
    if (press->childCount() > 0 || store_ == nullptr) return;
    const std::int64_t chosen = idOf(press);
    std::int64_t before = std::numeric_limits<std::int64_t>::max();
    int shown = 0;
    const QSignalBlocker quiet(list_);
    while (shown < kMaxCandidatesShown) {
        std::vector<history::Summary> page;
        const int want = std::min(kPageSize, kMaxCandidatesShown - shown);
        if (store_->list_candidates(chosen, page, want, before) == history::Status::failed) {
            break;  // what could be read is shown
        }
        for (const history::Summary& s : page) {
            QString text = rowText(s);
            if (s.id == chosen) text = QStringLiteral("✓ 选中  ") + text;
            auto* item = new QTreeWidgetItem(press, QStringList{text});
            item->setSizeHint(0, QSize(0, 3 * list_->fontMetrics().lineSpacing() + 8));
            item->setToolTip(0, QString::fromStdString(s.lyrics_start));
            item->setData(0, kIdRole, QVariant::fromValue<qlonglong>(s.id));
            if (s.id == chosen) item->setData(0, kCandidatesRole, press->data(0, kCandidatesRole));
            ++shown;
        }
        if (static_cast<int>(page.size()) < want) break;
        before = page.back().id;
    }
    const std::int64_t candidates = press->data(0, kCandidatesRole).toLongLong();
    if (shown < candidates) {
        // More than 择优作曲 ever makes (another program wrote them): said, not listed.
        auto* more = new QTreeWidgetItem(
            press, QStringList{QStringLiteral("另有 %1 首未列出").arg(candidates - shown)});
        more->setFlags(Qt::ItemIsEnabled);
    }
    if (press->childCount() == 0)
        press->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
}

void HistoryPanel::showEntry(std::int64_t id) {
    refresh();
    // Older entries come page by page: fetch until the entry is listed or none is left.
    for (;;) {
        if (QTreeWidgetItem* item = rowOf(id)) {
            // The score shows this melody already: its details follow, the score is left.
            {
                const QSignalBlocker quiet(list_);
                list_->setCurrentItem(item);
            }
            following_score_ = true;
            select(item);
            following_score_ = false;
            list_->scrollToItem(item);
            return;
        }
        if (at_end_) return;
        fetchMore();
    }
}

void HistoryPanel::setLoadEnabled(bool enabled) {
    load_allowed_ = enabled;
    load_->setEnabled(load_allowed_ && selected_.has_value());
}

void HistoryPanel::select(QTreeWidgetItem* item) {
    selected_.reset();
    details_->clear();
    if (item != nullptr && item->data(0, kIdRole).isValid() && store_ != nullptr) {
        history::Entry entry;
        if (store_->get(idOf(item), entry) == history::Status::ok) {
            selected_ = std::move(entry);
        } else {
            details_->setPlainText(QString::fromStdString(store_->last_error()));
        }
    }
    load_->setEnabled(load_allowed_ && selected_.has_value());
    delete_->setEnabled(selected_.has_value());
    if (!selected_) return;
    const history::Record& r = selected_->record;
    details_->setPlainText(QStringLiteral("生成器状态：%1\n重新生成：\n%2")
                               .arg(QString::fromStdString(history::state_text(r.state)),
                                    QString::fromStdString(history::reproduce_command(r))));
    if (!following_score_) emit entrySelected(*selected_);
}

void HistoryPanel::loadSelected() {
    if (!selected_ || !load_allowed_) return;
    emit loadRequested(selected_->record);
    // 载入 is disabled now (it follows 生成主旋律): the focus stays in the list, where the
    // entry is, rather than slip on to 删除.
    list_->setFocus(Qt::OtherFocusReason);
}

void HistoryPanel::deleteSelected() {
    if (!selected_ || store_ == nullptr) return;
    // The melody chosen by 择优作曲 goes with its candidates; the question says so.
    const QTreeWidgetItem* item = list_->currentItem();
    const std::int64_t candidates =
        item != nullptr ? item->data(0, kCandidatesRole).toLongLong() : 0;
    const std::string with =
        candidates >= 2 ? "这次择优作曲的另外 " + std::to_string(candidates - 1) + " 首会一并删除。"
                        : std::string();
    const std::string question = "删除作品记录 " +
                                 history::local_time_text(selected_->record.time_ms) + " 吗？" +
                                 with + "删除后无法恢复。";
    if (!confirmer_->confirm(question, "作品记录")) return;
    if (store_->remove(selected_->id) == history::Status::failed) {
        details_->setPlainText(QString::fromStdString("没有删除：" + store_->last_error()));
        return;
    }
    selected_.reset();
    refresh();
    // 删除 is disabled with nothing selected: the focus goes back to the list.
    list_->setFocus(Qt::OtherFocusReason);
}

}  // namespace quavella
