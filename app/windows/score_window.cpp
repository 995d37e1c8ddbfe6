// The score window.
#include "app/windows/score_window.h"

#include <QAction>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <algorithm>
#include <filesystem>

#include "app/commands/export_target.h"
#include "app/commands/placement.h"
#include "app/history/history_panel.h"
#include "app/score/score_export.h"
#include "app/score/score_view.h"
#include "app/windows/qt_platform.h"
#include "app/windows/score_help.h"
#include "export/audio_render.h"
#include "export/lyrics_midi.h"
#include "export/musicxml.h"

namespace quavella {

namespace {

const QString kGeometryKey = QStringLiteral("scoreWindow/geometry");
const QString kStateKey = QStringLiteral("scoreWindow/state");

placement::Rect rectOf(const QRect& r) { return {r.x(), r.y(), r.width(), r.height()}; }

/// Right edge of the rightmost control of `window`, from the left of its frame.
int controlsRight(const QWidget& window) {
    int right = 0;
    for (const QWidget* child : window.findChildren<QWidget*>()) {
        if (child->isHidden() || child->focusPolicy() == Qt::NoFocus) continue;
        const QPoint top_left = child->mapTo(&window, QPoint(0, 0));
        right = std::max(right, top_left.x() + child->width());
    }
    return right + (window.geometry().x() - window.frameGeometry().x());
}

}  // namespace

QSettings ScoreWindow::settings() {
    return QSettings(QStringLiteral("quavella"), QStringLiteral("quavella"));
}

ScoreWindow::ScoreWindow(MediaPlayer& player, std::unique_ptr<ExportDialogs> dialogs,
                         QWidget* anchor)
    : player_(player), dialogs_(std::move(dialogs)), anchor_(anchor) {
    setObjectName(QStringLiteral("scoreWindow"));
    setWindowTitle(QStringLiteral("乐谱"));
    if (!dialogs_) dialogs_ = std::make_unique<QtExportDialogs>(this);
    resize(780, 600);
    setMinimumSize(kMinimumWidth, kMinimumHeight);

    view_ = new ScoreView(this);
    setCentralWidget(view_);

    export_bar_ = addToolBar(QStringLiteral("导出"));
    export_bar_->setObjectName(QStringLiteral("exportBar"));
    export_bar_->setMovable(false);
    pdf_action_ = export_bar_->addAction(QStringLiteral("导出PDF…"), this, &ScoreWindow::exportPdf);
    pdf_action_->setObjectName(QStringLiteral("exportPdf"));
    png_action_ = export_bar_->addAction(QStringLiteral("导出PNG…"), this, &ScoreWindow::exportPng);
    png_action_->setObjectName(QStringLiteral("exportPng"));
    musicxml_action_ =
        export_bar_->addAction(QStringLiteral("导出MusicXML…"), this, &ScoreWindow::exportMusicXml);
    musicxml_action_->setObjectName(QStringLiteral("exportMusicXml"));
    lyrics_midi_action_ = export_bar_->addAction(QStringLiteral("导出MIDI（含歌词）…"), this,
                                                 &ScoreWindow::exportLyricsMidi);
    lyrics_midi_action_->setObjectName(QStringLiteral("exportLyricsMidi"));
    audio_action_ =
        export_bar_->addAction(QStringLiteral("导出音频…"), this, &ScoreWindow::exportAudio);
    audio_action_->setObjectName(QStringLiteral("exportAudio"));
    for (QAction* action : exportActions()) action->setEnabled(false);

    compose_bar_ = addToolBar(QStringLiteral("作曲"));
    compose_bar_->setObjectName(QStringLiteral("composeBar"));
    compose_bar_->setMovable(false);
    best_of_action_ = compose_bar_->addAction(QStringLiteral("择优作曲"), this, [this] {
        // Only the count the box shows: "0 首" or an empty box runs nothing.
        if (!best_of_count_->hasAcceptableInput()) return;
        best_of_count_->interpretText();
        emit composeBestOfRequested(best_of_count_->value());
    });
    best_of_action_->setObjectName(QStringLiteral("composeBestOf"));
    best_of_action_->setToolTip(QStringLiteral("作曲若干首，选出旋律起伏最贴合歌词字调的一首"));
    best_of_count_ = new QSpinBox(compose_bar_);
    best_of_count_->setObjectName(QStringLiteral("bestOfCount"));
    best_of_count_->setRange(1, kMaxBestOf);
    best_of_count_->setValue(kDefaultBestOf);
    best_of_count_->setSuffix(QStringLiteral(" 首"));
    best_of_count_->setToolTip(QStringLiteral("择优作曲比较的旋律数"));
    compose_bar_->addWidget(best_of_count_);
    // A count the box does not accept (0, empty) disables the action until mended.
    // (The box's own textChanged stays silent for a count it does not accept: its editor's.)
    connect(best_of_count_->findChild<QLineEdit*>(), &QLineEdit::textChanged, this,
            [this] { updateBestOf(); });

    // The history list's toggle joins this bar in attachHistory.
    help_bar_ = addToolBar(QStringLiteral("帮助"));
    help_bar_->setObjectName(QStringLiteral("helpBar"));
    help_bar_->setMovable(false);
    help_action_ = help_bar_->addAction(QStringLiteral("帮助"), this, &ScoreWindow::showHelp);
    help_action_->setObjectName(QStringLiteral("help"));
    help_action_->setToolTip(
        QStringLiteral("乐谱、字调符号、择优作曲、作品记录、导出与按键的说明"));
    const std::pair<QAction*, QKeySequence> keys[] = {
        {pdf_action_, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P)},
        {png_action_, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G)},
        {musicxml_action_, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_X)},
        {lyrics_midi_action_, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L)},
        {audio_action_, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A)},
        {best_of_action_, QKeySequence(Qt::CTRL | Qt::Key_B)},
        {help_action_, QKeySequence(Qt::Key_F1)},
    };
    const std::pair<QAction*, const char*> tips[] = {
        {pdf_action_, "把乐谱导出为 PDF 文件（A4 纸）"},
        {png_action_, "把乐谱导出为 PNG 图片"},
        {musicxml_action_, "导出 MusicXML 文件，可在打谱软件中打开"},
        {lyrics_midi_action_, "导出 MIDI 文件，每个音符带一个歌词字"},
        {audio_action_, "把旋律渲染为音频文件（WAV 等）"},
    };
    for (const auto& [action, tip] : tips) action->setToolTip(QString::fromUtf8(tip));
    for (const auto& [action, key] : keys) {
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        withShortcutInTip(action);
    }
    statusBar();

    follow_ = new QTimer(this);
    follow_->setInterval(kFollowMs);
    connect(follow_, &QTimer::timeout, this, &ScoreWindow::followPlayer);
}

ScoreWindow::~ScoreWindow() {
    if (isVisible()) remember();
}

void ScoreWindow::remember() {
    QSettings store = settings();
    store.setValue(kGeometryKey, saveGeometry());
    store.setValue(kStateKey, saveState());
}

void ScoreWindow::composed(const FinishedComposition& composition) {
    showSheet(sheet_of(composition));
}

HistoryPanel* ScoreWindow::attachHistory(history::Store* store,
                                         std::unique_ptr<Confirmer> confirmer) {
    history_ = new HistoryPanel(store, std::move(confirmer), this);
    addDockWidget(Qt::LeftDockWidgetArea, history_);
    // Folds the list away where the screen is narrow, and opens it again. (The dock's own
    // toggle action is disabled: the list cannot be closed by its title bar.)
    auto* toggle = new QAction(QStringLiteral("作品记录"), this);
    toggle->setObjectName(QStringLiteral("toggleHistory"));
    toggle->setCheckable(true);
    toggle->setChecked(true);
    toggle->setToolTip(QStringLiteral("显示或收起作品记录"));
    toggle->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    toggle->setShortcutContext(Qt::WindowShortcut);
    withShortcutInTip(toggle);
    connect(toggle, &QAction::triggered, history_, &QWidget::setVisible);
    connect(history_, &QDockWidget::visibilityChanged, toggle,
            [toggle, dock = history_] { toggle->setChecked(!dock->isHidden()); });
    help_bar_->insertAction(help_action_, toggle);
    connect(history_, &HistoryPanel::entrySelected, this, [this](const history::Entry& entry) {
        const history::Record& r = entry.record;
        ScoreSheet sheet = make_sheet(notation::build_score(history::melody_of(r)), r.speed_pos,
                                      r.mode_pos, r.timbre_pos);
        sheet.tones = grade_melody(r.gbk_text, r.notes);
        showSheet(std::move(sheet));
    });
    return history_;
}

void ScoreWindow::setComposeEnabled(bool enabled) {
    compose_enabled_ = enabled;
    best_of_count_->setEnabled(enabled);
    updateBestOf();
}

void ScoreWindow::updateBestOf() {
    best_of_action_->setEnabled(compose_enabled_ && best_of_count_->hasAcceptableInput());
}

int ScoreWindow::bestOfCount() const { return best_of_count_->value(); }

void ScoreWindow::showSheet(ScoreSheet sheet) {
    sheet_ = std::make_shared<const ScoreSheet>(std::move(sheet));
    view_->setSheet(sheet_);
    for (QAction* action : exportActions()) action->setEnabled(true);
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

void ScoreWindow::follow() {
    if (!isVisible()) return;  // showing the window starts following
    still_polls_ = 0;
    last_tick_.reset();
    follow_->start();
    followPlayer();
}

bool ScoreWindow::following() const { return follow_->isActive(); }

void ScoreWindow::stopped() {
    follow_->stop();
    last_tick_.reset();
    view_->setHighlight(-1);
}

void ScoreWindow::withShortcutInTip(QAction* action) {
    if (action->shortcut().isEmpty()) return;
    action->setToolTip(
        QStringLiteral("%1（%2）")
            .arg(action->toolTip(), action->shortcut().toString(QKeySequence::NativeText)));
}

void ScoreWindow::orderTabs() {
    // Toolbars left to right, then the history list from top to bottom, then the score:
    // the layout's order, with every tool button reachable from the keyboard.
    std::vector<QWidget*> chain;
    for (QToolBar* bar : findChildren<QToolBar*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (bar->isHidden()) continue;
        std::vector<QWidget*> row;
        for (QAction* action : bar->actions()) {
            QWidget* widget = bar->widgetForAction(action);
            if (!widget || !action->isVisible()) continue;
            if (widget->focusPolicy() == Qt::NoFocus) widget->setFocusPolicy(Qt::TabFocus);
            row.push_back(widget);
        }
        chain.insert(chain.end(), row.begin(), row.end());
    }
    std::stable_sort(chain.begin(), chain.end(), [](QWidget* a, QWidget* b) {
        const QPoint pa = a->mapTo(a->window(), QPoint(0, 0));
        const QPoint pb = b->mapTo(b->window(), QPoint(0, 0));
        return std::pair(pa.y() / 8, pa.x()) < std::pair(pb.y() / 8, pb.x());
    });
    if (history_) {
        for (QWidget* child : history_->widget()->findChildren<QWidget*>()) {
            if (child->focusPolicy() & Qt::TabFocus) chain.push_back(child);
        }
    }
    view_->setFocusPolicy(Qt::StrongFocus);
    chain.push_back(view_);
    for (std::size_t i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);
}

void ScoreWindow::showHelp() {
    if (!help_) help_ = new ScoreHelp(this);
    help_->show();
    help_->raise();
    help_->activateWindow();
}

void ScoreWindow::followPlayer() {
    const std::optional<int> tick = player_.position_ticks();
    if (sheet_) view_->setHighlight(tick ? notation::note_at_tick(sheet_->score, *tick) : -1);
    // Stopped, ended, or paused for a while: no more polls until a button is pressed.
    still_polls_ = tick && tick == last_tick_ ? still_polls_ + 1 : 0;
    last_tick_ = tick;
    if (!tick || still_polls_ >= kStillPolls) follow_->stop();
}

void ScoreWindow::showEvent(QShowEvent* event) {
    if (!placed_) {
        placed_ = true;
        placeBesideAnchor();
    }
    QMainWindow::showEvent(event);
    orderTabs();
    follow();
}

void ScoreWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    // Toolbars that do not fit in one line take two, rather than hide buttons.
    const bool broken = toolBarBreak(compose_bar_);
    const int one_line = export_bar_->sizeHint().width() + compose_bar_->sizeHint().width() +
                         help_bar_->sizeHint().width();
    if (!broken && one_line > width()) {
        insertToolBarBreak(compose_bar_);
    } else if (broken && one_line <= width()) {
        removeToolBarBreak(compose_bar_);
    }
    // Made narrow: the history list folds away before it squeezes the score under a bar.
    if (history_ && history_->isVisible() && !history_->isFloating() &&
        width() - history_->width() < kMinimumScoreWidth) {
        history_->hide();
        statusBar()->showMessage(QStringLiteral("作品记录已收起，按 Ctrl+H 展开"));
    }
}

void ScoreWindow::hideEvent(QHideEvent* event) {
    follow_->stop();
    if (placed_) remember();
    QMainWindow::hideEvent(event);
}

void ScoreWindow::placeBesideAnchor() {
    const QScreen* screen = anchor_ ? anchor_->screen() : this->screen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    const QSize decoration = frameGeometry().size() - size();
    const auto apply = [&](QWidget& window, const placement::Rect& frame, bool sized) {
        if (sized) window.resize(frame.w - decoration.width(), frame.h - decoration.height());
        window.move(frame.x, frame.y);
    };
    // Where the user left it, brought back onto this screen if it lies off it.
    const QSettings store = settings();
    if (restoreGeometry(store.value(kGeometryKey).toByteArray())) {
        restoreState(store.value(kStateKey).toByteArray());
        apply(*this, placement::bring_onto(rectOf(frameGeometry()), rectOf(area)), true);
        return;
    }
    // Beside the main window, moving it if it must, folding the history where narrow.
    const QRect main = anchor_ ? anchor_->frameGeometry() : QRect(area.topLeft(), QSize(0, 0));
    const QSize minimum = minimumSize() + decoration;
    const placement::Placement place = placement::place_beside(
        {rectOf(area), rectOf(main), anchor_ ? controlsRight(*anchor_) : 0, frameGeometry().width(),
         frameGeometry().height(), minimum.width(), minimum.height()});
    if (anchor_) apply(*anchor_, place.main, false);
    apply(*this, place.score, true);
    if (history_) history_->setVisible(!place.fold_history);
}

std::vector<QAction*> ScoreWindow::exportActions() const {
    return {pdf_action_, png_action_, musicxml_action_, lyrics_midi_action_, audio_action_};
}

template <typename Writer>
void ScoreWindow::exportTo(const std::vector<std::string>& extensions, const std::string& filter,
                           Writer write) {
    if (!sheet_) return;
    const std::string suggested = file_name_from_title(sheet_->title, "乐谱") + extensions.front();
    const auto target = choose_export_file(*dialogs_, suggested, extensions, filter);
    if (!target) return;
    const QString path = QString::fromStdString(*target);
    if (const auto failure = write(path)) {
        dialogs_->tell_failure("乐谱没有导出到 " + *target + "：" + failure->toStdString());
        return;
    }
    statusBar()->showMessage(QStringLiteral("已导出：%1").arg(QFileInfo(path).absoluteFilePath()));
}

namespace {

/// The reason an export of the core gave, for the window's failure report.
std::optional<QString> reason(const std::optional<std::string>& failure) {
    if (!failure) return std::nullopt;
    return QString::fromStdString(*failure);
}

std::filesystem::path fs_path(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}

/// The audio extensions with WAV first, the default for a name without one.
std::vector<std::string> audio_extensions_wav_first() {
    std::vector<std::string> extensions = exports::audio_extensions();
    const auto wav = std::find(extensions.begin(), extensions.end(), ".wav");
    if (wav != extensions.end()) {
        std::rotate(extensions.begin(), wav, wav + 1);
    } else {
        extensions.insert(extensions.begin(), ".wav");
    }
    return extensions;
}

}  // namespace

void ScoreWindow::exportPdf() {
    exportTo({".pdf"}, "PDF (*.pdf)",
             [this](const QString& path) { return write_score_pdf(sheet_, path); });
}

void ScoreWindow::exportPng() {
    exportTo({".png"}, "PNG (*.png)", [this](const QString& path) {
        return write_score_png(sheet_, std::clamp(view_->viewport()->width(), 480, 2400), path);
    });
}

void ScoreWindow::exportMusicXml() {
    exportTo({".musicxml", ".xml"}, "MusicXML (*.musicxml *.xml)", [this](const QString& path) {
        return reason(exports::write_musicxml(sheet_->score, fs_path(path)));
    });
}

void ScoreWindow::exportLyricsMidi() {
    exportTo({".mid", ".midi"}, "MIDI（含歌词） (*.mid *.midi)", [this](const QString& path) {
        return reason(exports::write_lyrics_midi(sheet_->score, fs_path(path)));
    });
}

void ScoreWindow::exportAudio() {
    const std::vector<std::string> extensions = audio_extensions_wav_first();
    std::string filter = "音频 (";
    for (std::size_t i = 0; i < extensions.size(); ++i) {
        filter += (i == 0 ? "*" : " *") + extensions[i];
    }
    filter += ")";
    exportTo(extensions, filter, [this](const QString& path) {
        // A fraction of a second faster than real time: the window waits, showing so.
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        const auto failure = exports::render_audio(sheet_->score, fs_path(path));
        QGuiApplication::restoreOverrideCursor();
        return reason(failure);
    });
}

}  // namespace quavella
