// The score window.
#include "app/windows/score_window.h"

#include <QAction>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <algorithm>
#include <filesystem>

#include "app/commands/export_target.h"
#include "app/history/history_panel.h"
#include "app/score/score_export.h"
#include "app/score/score_view.h"
#include "app/windows/qt_platform.h"
#include "export/audio_render.h"
#include "export/karaoke.h"
#include "export/lyrics_midi.h"
#include "export/musicxml.h"

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
    musicxml_action_ =
        export_bar_->addAction(QStringLiteral("导出MusicXML…"), this, &ScoreWindow::exportMusicXml);
    musicxml_action_->setObjectName(QStringLiteral("exportMusicXml"));
    lyrics_midi_action_ = export_bar_->addAction(QStringLiteral("导出MIDI（含歌词）…"), this,
                                                 &ScoreWindow::exportLyricsMidi);
    lyrics_midi_action_->setObjectName(QStringLiteral("exportLyricsMidi"));
    karaoke_action_ =
        export_bar_->addAction(QStringLiteral("导出卡拉OK…"), this, &ScoreWindow::exportKaraoke);
    karaoke_action_->setObjectName(QStringLiteral("exportKaraoke"));
    audio_action_ =
        export_bar_->addAction(QStringLiteral("导出音频…"), this, &ScoreWindow::exportAudio);
    audio_action_->setObjectName(QStringLiteral("exportAudio"));
    for (QAction* action : exportActions()) action->setEnabled(false);

    compose_bar_ = addToolBar(QStringLiteral("作曲"));
    compose_bar_->setObjectName(QStringLiteral("composeBar"));
    compose_bar_->setMovable(false);
    best_of_action_ = compose_bar_->addAction(QStringLiteral("择优作曲"), this, [this] {
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
    statusBar();

    follow_ = new QTimer(this);
    follow_->setInterval(kFollowMs);
    connect(follow_, &QTimer::timeout, this, &ScoreWindow::followPlayer);
}

ScoreWindow::~ScoreWindow() = default;

void ScoreWindow::composed(const FinishedComposition& composition) {
    showSheet(sheet_of(composition));
}

HistoryPanel* ScoreWindow::attachHistory(history::Store* store,
                                         std::unique_ptr<Confirmer> confirmer) {
    history_ = new HistoryPanel(store, std::move(confirmer), this);
    addDockWidget(Qt::LeftDockWidgetArea, history_);
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
    best_of_action_->setEnabled(enabled);
    best_of_count_->setEnabled(enabled);
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
    follow();
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

std::vector<QAction*> ScoreWindow::exportActions() const {
    return {pdf_action_,         png_action_,     musicxml_action_,
            lyrics_midi_action_, karaoke_action_, audio_action_};
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

void ScoreWindow::exportKaraoke() {
    exportTo({".kar"}, "卡拉OK (*.kar)", [this](const QString& path) {
        return reason(exports::write_karaoke(sheet_->score, fs_path(path)));
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
