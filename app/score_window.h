// The score window "乐谱": the composition just made in numbered notation with
// its lyrics, beside the main window. It follows each composition (the compose
// command tells it once "作曲完成" is acknowledged), marks the note the player is
// sounding, and exports the drawing as PDF or PNG.
//
//   toolbar "导出"      export actions; more exports join it as further actions
//   central            ScoreView (scrolls; lays out once per width)
//   dock areas         free for side panels, e.g. a list of earlier works
//   status bar         the last export's outcome
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <memory>

#include "app/platform.h"
#include "app/score_sheet.h"

class QAction;
class QTimer;
class QToolBar;

namespace quavella {

class ScoreView;

class ScoreWindow : public QMainWindow, public CompositionListener {
    Q_OBJECT

public:
    /// @param player read for the position being heard; outlives the window
    /// @param dialogs export questions and reports; null: Qt dialogs over this window
    /// @param anchor the main window, beside which the score first appears
    ScoreWindow(MediaPlayer& player, std::unique_ptr<ExportDialogs> dialogs,
                QWidget* anchor = nullptr);
    ~ScoreWindow() override;

    /// Shows the score of `composition`, bringing the window back if it was closed.
    void composed(const FinishedComposition& composition) override;
    /// Shows `sheet`, from its top, with no note marked.
    void showSheet(ScoreSheet sheet);
    /// Shows the window again and brings it to the front (the main window's Ctrl+M).
    void showInFront();

    /// The sheet shown, or null before the first composition.
    const ScoreSheet* sheet() const { return sheet_.get(); }
    ScoreView* view() const { return view_; }
    /// The toolbar holding the export actions.
    QToolBar* exportBar() const { return export_bar_; }

    /// Polling interval of the player's position while visible, in milliseconds.
    static constexpr int kFollowMs = 40;

public slots:
    /// Marks the note at the player's position; clears the mark when it is not
    /// playing or paused.
    void followPlayer();
    /// Asks for a file and writes the score as PDF.
    void exportPdf();
    /// Asks for a file and writes the score as PNG.
    void exportPng();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    template <typename Writer>
    void exportTo(const char* extension, const char* filter, Writer write);
    void placeBesideAnchor();

    MediaPlayer& player_;
    std::unique_ptr<ExportDialogs> dialogs_;
    QPointer<QWidget> anchor_;
    std::shared_ptr<const ScoreSheet> sheet_;
    ScoreView* view_;
    QToolBar* export_bar_;
    QAction* pdf_action_;
    QAction* png_action_;
    QTimer* follow_;
    bool placed_ = false;
};

}  // namespace quavella
