// The score window.
#include "app/score_window.h"

#include <QAction>
#include <QFileInfo>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "app/export_target.h"
#include "app/qt_platform.h"
#include "app/score_export.h"
#include "app/score_view.h"

namespace quavella {

namespace {

constexpr int kGap = 8;  // between the main window and the score

}  // namespace

ScoreWindow::ScoreWindow(MediaPlayer& player, std::unique_ptr<ExportDialogs> dialogs,
                         QWidget* anchor)
    : player_(player), dialogs_(std::move(dialogs)), anchor_(anchor) {
    setObjectName(QStringLiteral("scoreWindow"));
    setWindowTitle(QStringLiteral("乐谱"));
    if (!dialogs_) dialogs_ = std::make_unique<QtExportDialogs>(this);
    resize(780, 600);
    setMinimumSize(360, 240);

    view_ = new ScoreView(this);
    setCentralWidget(view_);

    export_bar_ = addToolBar(QStringLiteral("导出"));
    export_bar_->setObjectName(QStringLiteral("exportBar"));
    export_bar_->setMovable(false);
    pdf_action_ = export_bar_->addAction(QStringLiteral("导出PDF…"), this, &ScoreWindow::exportPdf);
    pdf_action_->setObjectName(QStringLiteral("exportPdf"));
    png_action_ = export_bar_->addAction(QStringLiteral("导出PNG…"), this, &ScoreWindow::exportPng);
    png_action_->setObjectName(QStringLiteral("exportPng"));
    pdf_action_->setEnabled(false);
    png_action_->setEnabled(false);
    statusBar();

    follow_ = new QTimer(this);
    follow_->setInterval(kFollowMs);
    connect(follow_, &QTimer::timeout, this, &ScoreWindow::followPlayer);
}

ScoreWindow::~ScoreWindow() = default;

void ScoreWindow::composed(const FinishedComposition& composition) {
    showSheet(sheet_of(composition));
}

void ScoreWindow::showSheet(ScoreSheet sheet) {
    sheet_ = std::make_shared<const ScoreSheet>(std::move(sheet));
    view_->setSheet(sheet_);
    pdf_action_->setEnabled(true);
    png_action_->setEnabled(true);
    statusBar()->clearMessage();
    if (isVisible()) {
        followPlayer();
    } else {
        show();  // starts following
    }
}

void ScoreWindow::showInFront() {
    show();
    raise();
    activateWindow();
}

void ScoreWindow::followPlayer() {
    if (!sheet_) return;
    const std::optional<int> tick = player_.position_ticks();
    view_->setHighlight(tick ? notation::note_at_tick(sheet_->score, *tick) : -1);
}

void ScoreWindow::showEvent(QShowEvent* event) {
    if (!placed_) {
        placed_ = true;
        placeBesideAnchor();
    }
    QMainWindow::showEvent(event);
    follow_->start();
    followPlayer();
}

void ScoreWindow::hideEvent(QHideEvent* event) {
    follow_->stop();
    QMainWindow::hideEvent(event);
}

void ScoreWindow::placeBesideAnchor() {
    // To the right of the main window, else to its left, else at the screen's right edge.
    const QScreen* screen = anchor_ ? anchor_->screen() : this->screen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    QRect frame = frameGeometry();
    if (frame.height() > area.height())
        resize(width(), area.height() - (frame.height() - height()));
    frame = frameGeometry();
    const QRect main = anchor_ ? anchor_->frameGeometry() : QRect(area.topLeft(), QSize(0, 0));
    int x = main.right() + 1 + kGap;
    if (x + frame.width() > area.right() + 1) {
        x = main.left() - kGap - frame.width() >= area.left() ? main.left() - kGap - frame.width()
                                                              : area.right() + 1 - frame.width();
    }
    const int y = std::clamp(main.top(), area.top(),
                             std::max(area.top(), area.bottom() + 1 - frame.height()));
    move(std::max(x, area.left()), y);
}

template <typename Writer>
void ScoreWindow::exportTo(const char* extension, const char* filter, Writer write) {
    if (!sheet_) return;
    const std::string suggested = file_name_from_title(sheet_->title, "乐谱") + extension;
    const auto target = choose_export_file(*dialogs_, suggested, extension, filter);
    if (!target) return;
    const QString path = QString::fromStdString(*target);
    if (const auto failure = write(path)) {
        dialogs_->tell_failure("乐谱没有导出到 " + *target + "：" + failure->toStdString());
        return;
    }
    statusBar()->showMessage(QStringLiteral("已导出：%1").arg(QFileInfo(path).absoluteFilePath()));
}

void ScoreWindow::exportPdf() {
    exportTo(".pdf", "PDF (*.pdf)",
             [this](const QString& path) { return write_score_pdf(sheet_, path); });
}

void ScoreWindow::exportPng() {
    exportTo(".png", "PNG (*.png)", [this](const QString& path) {
        return write_score_png(sheet_, std::clamp(view_->viewport()->width(), 480, 2400), path);
    });
}

}  // namespace quavella
