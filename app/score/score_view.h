// The scrolling view of a score: lays the sheet out for its width, paints the
// rows in sight and marks the note being heard, keeping it in sight. Framed in the
// desktop's highlight colour while it has the keyboard focus.
//
// A long melody is measured on a worker thread, so that the window's thread never waits
// for it: the view shows the layout it had (an edit's melody before the edit) or
// "排版中…" (a new melody) until the new layout arrives, and a layout of a sheet that
// was replaced meanwhile is dropped.
#pragma once

#include <QAbstractScrollArea>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

#include "app/score/score_layout.h"
#include "edit/edits.h"

namespace quavella {

class ScoreView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit ScoreView(QWidget* parent = nullptr);
    ~ScoreView() override;

    /// Shows `sheet` from its top, with no note marked.
    void setSheet(std::shared_ptr<const ScoreSheet> sheet);
    /// Shows `sheet` in place of the one shown, an edit of it: the scroll position,
    /// the chosen note and the mark stay where they are.
    void updateSheet(std::shared_ptr<const ScoreSheet> sheet);
    /// The layout shown, or null before the first sheet and while a new sheet's is made.
    const ScoreLayout* layout() const { return layout_.get(); }
    /// Whether the layout of the last sheet given is being made on a worker (the view shows
    /// the one before, or "排版中…").
    bool layingOut() const { return pending_ != 0; }
    /// Melodies of up to this many notes are laid out at once on the calling thread, so
    /// that an edit shows at once; longer ones on a worker.
    static constexpr std::size_t kLayOutAtOnce = 6000;

    /// Marks `note` (-1: none) and scrolls its row into sight when it is not.
    void setHighlight(int note);
    int highlight() const { return highlight_; }

    /// Marks `note` (-1: none) as the one being edited and scrolls it into sight.
    void setSelected(int note);
    int selected() const { return selected_; }
    /// Whether clicks and keys choose and move notes (the melody in the player).
    void setEditable(bool editable) { editable_ = editable; }
    bool editable() const { return editable_; }

    /// The graded pair whose mark stands beside `note`: the pair it ends, else the pair
    /// it starts; -1 when it has neither.
    int toneMarkBeside(int note) const;

    /// Paints what meets `clip` (layout coordinates) as the view does.
    void paintScore(QPainter& painter, const QRectF& clip) const;

    /// The text shown before any score.
    static QString emptyText();
    /// The text shown while a new sheet is laid out on a worker: "排版中…".
    static QString layingOutText();
    /// Width in pixels of the frame drawn while the view has the keyboard focus.
    static constexpr int kFocusFrameWidth = 2;

signals:
    /// The layout of the last sheet given is shown: at once, or once it arrived from the
    /// worker.
    void laidOut();
    /// A note was clicked, or ←, →, Home or End chose another.
    void noteChosen(int note);
    /// ↑ or ↓ (direction +1 or -1) on the chosen note: a scale step, with Shift a
    /// semitone, with Ctrl an octave.
    void moveRequested(quavella::edit::EditKind kind, int direction);
    /// The context menu was asked for on the mark of graded pair `pair`: by the mouse
    /// on the mark, or from the keyboard (the Menu key, Shift+F10) for the mark before
    /// the chosen note (after it, for the first note of a sentence).
    void toneMarkMenuRequested(int pair, const QPoint& global);
    /// The menu of the chord at `slot` (half bars, from 0) was asked for: by a click on a
    /// chord's name, or by C for the slot where the chosen note starts.
    void chordMenuRequested(int slot, const QPoint& global);

protected:
    bool viewportEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    /// Shows `sheet`: from its top (a new melody) or in place of the sheet shown (an edit).
    void take(std::shared_ptr<const ScoreSheet> sheet, bool from_top);
    /// Installs `layout`, the one of `generation`, unless a later sheet was given since.
    void arrived(std::uint64_t generation, std::shared_ptr<ScoreLayout> layout, bool from_top);
    /// The width the layout takes in a viewport `viewport_width` wide.
    static int widthFor(const ScoreLayout& layout, int viewport_width);
    void relayout();
    /// Scrolls the row of `note` into sight when it is not.
    void bringIntoView(int note);
    /// The layout point under a point of the viewport.
    QPointF toLayout(const QPoint& point) const;
    /// Asks for the menu of the mark beside the chosen note, below the mark.
    /// @return false when no note is chosen or none of its pairs is graded
    bool requestMenuFromKeys();

    std::shared_ptr<ScoreLayout> layout_;
    std::uint64_t generation_ = 0;  ///< of the last sheet given
    std::uint64_t pending_ = 0;     ///< the generation being laid out on the worker, or 0
    std::jthread worker_;           ///< the worker of the last long sheet; stopped and joined
                                    ///< before another starts and before the view goes
    int highlight_ = -1;
    int selected_ = -1;
    bool editable_ = false;
    bool menu_key_taken_ = false;  ///< the Menu key opened the menu: its context event is not
                                   ///< to open another
};

}  // namespace quavella
