// The score window.
#include "app/windows/score_window.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressDialog>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QWidgetAction>
#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <utility>

#include "app/commands/export_target.h"
#include "app/commands/placement.h"
#include "app/history/history_panel.h"
#include "app/score/score_export.h"
#include "app/score/score_view.h"
#include "app/windows/qt_platform.h"
#include "app/windows/score_help.h"
#include "composer/song.h"
#include "composer/style_tables.h"
#include "composition/best_of.h"
#include "export/audio_render.h"
#include "export/karaoke.h"
#include "export/lyrics_midi.h"
#include "export/musicxml.h"
#include "harmony/accompaniment.h"

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

/// "G4", "F#5": a MIDI note by its letter name.
QString note_label(int midi) {
    static const char* const kNames[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                           "F#", "G",  "G#", "A",  "A#", "B"};
    return QStringLiteral("%1%2").arg(QLatin1String(kNames[midi % 12])).arg(midi / 12 - 1);
}

/// The name an edit has in the undo menu.
QString edit_name(const edit::Edit& e) {
    const bool up = e.amount > 0;
    switch (e.kind) {
        case edit::EditKind::step:
            return up ? QStringLiteral("上移一级") : QStringLiteral("下移一级");
        case edit::EditKind::semitone:
            return up ? QStringLiteral("升半音") : QStringLiteral("降半音");
        case edit::EditKind::octave:
            return up ? QStringLiteral("升八度") : QStringLiteral("降八度");
        case edit::EditKind::pitch:
            return QStringLiteral("改为 %1").arg(note_label(e.amount));
        case edit::EditKind::sentence:
            return QStringLiteral("重新生成第 %1 句").arg(e.sentence + 1);
        case edit::EditKind::fix_tones:
            return QStringLiteral("修正倒字");
        case edit::EditKind::suit_tones:
            return QStringLiteral("全部契合");
        case edit::EditKind::lengthen:
            return QStringLiteral("延长第 %1 个音").arg(e.note + 1);
        case edit::EditKind::shorten:
            return QStringLiteral("缩短第 %1 个音").arg(e.note + 1);
        case edit::EditKind::add_rest:
            return QStringLiteral("第 %1 个音后加休止").arg(e.note + 1);
        case edit::EditKind::remove_rest:
            return QStringLiteral("第 %1 个音后去休止").arg(e.note + 1);
        case edit::EditKind::fix_rhythm:
            return QStringLiteral("对齐节拍");
        case edit::EditKind::words:
            return QStringLiteral("换词");
        case edit::EditKind::lock_chord:
            return QStringLiteral("锁定和弦");
        case edit::EditKind::unlock_chord:
            return QStringLiteral("解锁和弦");
        case edit::EditKind::set_chord:
            return QStringLiteral("和弦改为 %1")
                .arg(QString::fromStdString(harmony::chord_name(e.chord)));
        case edit::EditKind::regenerate_chords:
            return QStringLiteral("重新配和弦");
    }
    return {};
}

/// "1.5 拍": a length in ticks, in beats.
QString beats_label(int ticks) {
    return QStringLiteral("%1 拍").arg(static_cast<double>(ticks) / notation::kTicksPerBeat);
}

/// Whether an edit changes lengths or rests only.
bool rhythm_edit(edit::EditKind kind) {
    return kind == edit::EditKind::lengthen || kind == edit::EditKind::shorten ||
           kind == edit::EditKind::add_rest || kind == edit::EditKind::remove_rest;
}

/// What a word edit did: the sentences that kept their notes and those composed anew.
QString words_report(const edit::Step& step, int percent) {
    if (!step.words) return QStringLiteral("换词保留旋律：歌词没有变化");
    std::array<int, 4> before{};
    std::array<int, 4> after{};
    for (const notation::Lyric& lyric : step.words->from.lyrics) {
        if (lyric.sentence >= 0 && lyric.sentence <= 3)
            ++before[static_cast<std::size_t>(lyric.sentence)];
    }
    for (const notation::Lyric& lyric : step.words->to.lyrics) {
        if (lyric.sentence >= 0 && lyric.sentence <= 3)
            ++after[static_cast<std::size_t>(lyric.sentence)];
    }
    int kept = 0;
    int composed = 0;
    for (std::size_t s = 0; s < 4; ++s) {
        if (after[s] == 0) continue;
        ++(after[s] == before[s] ? kept : composed);
    }
    return QStringLiteral("换词保留旋律：%1 句保留原来的音，%2 句重新生成，字调契合 %3%")
        .arg(kept)
        .arg(composed)
        .arg(percent);
}

/// "第 3 小节第 1 拍": where a chord slot (half a bar) starts.
QString slot_place(int slot) {
    return QStringLiteral("第 %1 小节第 %2 拍").arg(slot / 2 + 1).arg(slot % 2 == 0 ? 1 : 3);
}

/// "春眠": the two syllables of a graded pair.
QString pair_syllables(const notation::Melody& melody, const TonePair& pair) {
    auto text = [&melody](std::size_t note) {
        return note < melody.lyrics.size() ? QString::fromStdString(melody.lyrics[note].text)
                                           : QString();
    };
    return text(pair.first) + text(pair.second);
}

}  // namespace

QSettings ScoreWindow::settings() {
    return QSettings(QStringLiteral("quavella"), QStringLiteral("quavella"));
}

ScoreWindow::ScoreWindow(MediaPlayer& player, std::unique_ptr<ExportDialogs> dialogs,
                         QWidget* anchor, song::Document* document)
    : player_(player),
      dialogs_(std::move(dialogs)),
      anchor_(anchor),
      own_document_(document ? nullptr : std::make_unique<song::Document>()),
      document_(document ? document : own_document_.get()) {
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
    karaoke_action_ =
        export_bar_->addAction(QStringLiteral("导出卡拉OK…"), this, &ScoreWindow::exportKaraoke);
    karaoke_action_->setObjectName(QStringLiteral("exportKaraoke"));
    audio_action_ =
        export_bar_->addAction(QStringLiteral("导出音频…"), this, &ScoreWindow::exportAudio);
    audio_action_->setObjectName(QStringLiteral("exportAudio"));
    for (QAction* action : exportActions()) action->setEnabled(false);
    // Every export from the keyboard too, where a narrow window folds the bar's last
    // buttons behind its arrow (Tab does not reach them there): menu 导出, Alt+X.
    QMenu* export_menu = menuBar()->addMenu(QStringLiteral("导出(&X)"));
    export_menu->setObjectName(QStringLiteral("exportMenu"));
    for (QAction* action : exportActions()) export_menu->addAction(action);

    compose_bar_ = addToolBar(QStringLiteral("作曲"));
    compose_bar_->setObjectName(QStringLiteral("composeBar"));
    compose_bar_->setMovable(false);
    best_of_action_ = compose_bar_->addAction(QStringLiteral("择优作曲"), this, [this] {
        // Only the count the box shows: "0 首" or an empty box runs nothing.
        if (!best_of_count_->hasAcceptableInput()) return;
        best_of_count_->interpretText();
        if (by_sentence_action_->isChecked()) {
            emit composeBySentenceRequested(best_of_count_->value());
        } else {
            emit composeBestOfRequested(best_of_count_->value());
        }
    });
    best_of_action_->setObjectName(QStringLiteral("composeBestOf"));
    best_of_action_->setToolTip(QStringLiteral("作曲若干首，选出旋律起伏最贴合歌词字调的一首"));
    best_of_count_ = new QSpinBox(compose_bar_);
    best_of_count_->setObjectName(QStringLiteral("bestOfCount"));
    best_of_count_->setRange(1, quavella::kMaxBestOf);
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
        {karaoke_action_, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K)},
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
    buildEditing();

    follow_ = new QTimer(this);
    follow_->setInterval(kFollowMs);
    connect(follow_, &QTimer::timeout, this, &ScoreWindow::followPlayer);

    audio_poll_ = new QTimer(this);
    audio_poll_->setInterval(kExportPollMs);
    connect(audio_poll_, &QTimer::timeout, this, &ScoreWindow::pollAudioExport);
}

ScoreWindow::~ScoreWindow() {
    document_->remove_listener(*this);
    if (isVisible()) remember();
    if (audio_job_) {
        // The export stops at its next block and removes its temporary; a render stuck in
        // the system (a hung soundfont) is left to its own thread, which holds the job.
        audio_job_->cancel();
        audio_job_->wait_for(std::chrono::seconds(2));
    }
}

void ScoreWindow::closeEvent(QCloseEvent* event) {
    cancelAudioExport();
    QMainWindow::closeEvent(event);
}

void ScoreWindow::remember() {
    QSettings store = settings();
    store.setValue(kGeometryKey, saveGeometry());
    store.setValue(kStateKey, saveState());
}

void ScoreWindow::buildEditing() {
    // Undo and redo are a view of the song's one history: they name its next step.
    document_->add_listener(*this);
    QMenu* edit_menu = menuBar()->addMenu(QStringLiteral("编辑(&E)"));
    undo_action_ = new QAction(QStringLiteral("撤销"), this);
    undo_action_->setObjectName(QStringLiteral("undoEdit"));
    undo_action_->setShortcut(QKeySequence::Undo);
    connect(undo_action_, &QAction::triggered, this, [this] { document_->undo(); });
    redo_action_ = new QAction(QStringLiteral("重做"), this);
    redo_action_->setObjectName(QStringLiteral("redoEdit"));
    redo_action_->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    connect(redo_action_, &QAction::triggered, this, [this] { document_->redo(); });
    edit_menu->addAction(undo_action_);
    edit_menu->addAction(redo_action_);

    // On a row of its own: beside the exports it would be folded away on a laptop screen.
    addToolBarBreak();
    edit_bar_ = addToolBar(QStringLiteral("修改"));
    edit_bar_->setObjectName(QStringLiteral("editBar"));
    edit_bar_->setMovable(false);
    auto add = [this, edit_menu](const QString& text, const char* name, const QKeySequence& key,
                                 const QString& tip, auto slot) {
        QAction* action = edit_bar_->addAction(text, this, slot);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(key);
        action->setToolTip(
            QStringLiteral("%1（%2）").arg(tip, key.toString(QKeySequence::NativeText)));
        edit_menu->addAction(action);
        return action;
    };
    edit_menu->addSeparator();
    fix_action_ = add(QStringLiteral("修正倒字"), "fixTones", QKeySequence(Qt::Key_F6),
                      QStringLiteral("改动最少的音，使没有一处倒字"), &ScoreWindow::fixTones);
    suit_action_ =
        add(QStringLiteral("全部契合"), "suitTones", QKeySequence(Qt::SHIFT | Qt::Key_F6),
            QStringLiteral("改动最少的音，使每一处字调都契合或较契合"), &ScoreWindow::suitTones);
    // In the menu only: the bar keeps its width on a laptop screen.
    rhythm_action_ = new QAction(QStringLiteral("对齐节拍"), this);
    rhythm_action_->setObjectName(QStringLiteral("fixRhythm"));
    rhythm_action_->setShortcut(QKeySequence(Qt::Key_F9));
    rhythm_action_->setToolTip(
        QStringLiteral("改动最少的时值，使每一句的句末字落在强拍上并至少唱满一拍"));
    withShortcutInTip(rhythm_action_);
    connect(rhythm_action_, &QAction::triggered, this, &ScoreWindow::fixRhythm);
    edit_menu->addAction(rhythm_action_);
    addAction(rhythm_action_);
    regenerate_action_ =
        add(QStringLiteral("重新生成本句"), "regenerateSentence", QKeySequence(Qt::Key_F7),
            QStringLiteral("从若干首（择优作曲的数目）中选出所选音符这一句最贴合字调的旋律"),
            &ScoreWindow::regenerateSentence);
    audition_action_ =
        add(QStringLiteral("试听"), "audition", QKeySequence(Qt::Key_F5),
            QStringLiteral("从所选音符（未选时从头）播放当前旋律"), &ScoreWindow::audition);
    stop_action_ = add(QStringLiteral("停止"), "stopPlaying", QKeySequence(Qt::Key_F8),
                       QStringLiteral("停止播放"), &ScoreWindow::stopPlaying);

    // Lengths and rests of the chosen note, each key an item of a menu of their own.
    QMenu* rhythm_menu = menuBar()->addMenu(QStringLiteral("节奏(&R)"));
    const auto rhythm = [this, rhythm_menu](const QString& text, const char* name,
                                            const QKeySequence& key, edit::EditKind kind) {
        auto* action = new QAction(text, this);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(key);
        // Keys of the score, as the arrows are: a spin box or a list keeps its own.
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        view_->addAction(action);
        connect(action, &QAction::triggered, this, [this, kind] {
            if (view_->selected() >= 0) applyEdit(edit::Edit(kind, view_->selected()));
        });
        rhythm_menu->addAction(action);
        rhythm_actions_.push_back(action);
    };
    rhythm(QStringLiteral("缩短一个单位"), "shortenNote", QKeySequence(Qt::Key_BracketLeft),
           edit::EditKind::shorten);
    rhythm(QStringLiteral("延长一个单位"), "lengthenNote", QKeySequence(Qt::Key_BracketRight),
           edit::EditKind::lengthen);
    rhythm(QStringLiteral("后加休止"), "addRest", QKeySequence(Qt::Key_Period),
           edit::EditKind::add_rest);
    rhythm(QStringLiteral("后去休止"), "removeRest", QKeySequence(Qt::Key_Backspace),
           edit::EditKind::remove_rest);
    // In the menu only: the toolbar keeps its width.
    words_action_ = new QAction(QStringLiteral("换词保留旋律"), this);
    words_action_->setObjectName(QStringLiteral("reviseWords"));
    words_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W));
    words_action_->setToolTip(QStringLiteral(
        "用歌词框中的歌词替换旋律的歌词：音节数不变的句子保留原来的音，其余句子重新生成"));
    withShortcutInTip(words_action_);
    connect(words_action_, &QAction::triggered, this, &ScoreWindow::reviseWords);
    edit_menu->addAction(words_action_);

    by_sentence_action_ = new QAction(QStringLiteral("按句择优"), this);
    by_sentence_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B));
    by_sentence_action_->setShortcutContext(Qt::WindowShortcut);
    by_sentence_action_->setObjectName(QStringLiteral("bySentence"));
    by_sentence_action_->setCheckable(true);
    by_sentence_action_->setToolTip(
        QStringLiteral("择优作曲时逐句比较，每一句取最贴合字调的一首中的那一句"));
    withShortcutInTip(by_sentence_action_);
    compose_bar_->addAction(by_sentence_action_);

    settle_ = new QTimer(this);
    settle_->setSingleShot(true);
    settle_->setInterval(kSettleMs);
    connect(settle_, &QTimer::timeout, this, &ScoreWindow::settleEdits);

    view_->setEditable(false);
    connect(view_, &ScoreView::noteChosen, this, [this](int note) {
        if (!document_->started()) return;
        const notation::Melody& m = document_->melody().melody();
        const auto k = static_cast<std::size_t>(note);
        statusBar()->showMessage(
            QStringLiteral("第 %1 个音：%2 %3（第 %4 句）")
                .arg(note + 1)
                .arg(QString::fromStdString(m.lyrics[k].text), note_label(m.notes[k]))
                .arg(m.lyrics[k].sentence + 1));
        updateEditActions();
    });
    connect(view_, &ScoreView::moveRequested, this, [this](edit::EditKind kind, int direction) {
        if (view_->selected() >= 0) applyEdit(edit::Edit(kind, view_->selected(), direction));
    });
    connect(view_, &ScoreView::toneMarkMenuRequested, this, &ScoreWindow::offerPitches);
    connect(view_, &ScoreView::chordMenuRequested, this, &ScoreWindow::offerChords);
    buildAccompaniment();
    updateEditActions();
    updateUndoActions();
}

void ScoreWindow::updateUndoActions() {
    const edit::Step* undo = document_->undo_step();
    const edit::Step* redo = document_->redo_step();
    undo_action_->setEnabled(undo != nullptr);
    undo_action_->setText(undo ? QStringLiteral("撤销 %1").arg(edit_name(undo->edit))
                               : QStringLiteral("撤销"));
    redo_action_->setEnabled(redo != nullptr);
    redo_action_->setText(redo ? QStringLiteral("重做 %1").arg(edit_name(redo->edit))
                               : QStringLiteral("重做"));
}

void ScoreWindow::updateEditActions() {
    const bool on = document_->started() && showing_current_;
    view_->setEditable(on);
    fix_action_->setEnabled(on);
    suit_action_->setEnabled(on);
    rhythm_action_->setEnabled(on);
    regenerate_action_->setEnabled(on && view_->selected() >= 0);
    for (QAction* action : rhythm_actions_) action->setEnabled(on && view_->selected() >= 0);
    words_action_->setEnabled(on && lyric_lines_ != nullptr);
    audition_action_->setEnabled(on);
    stop_action_->setEnabled(document_->started());
    rechord_action_->setEnabled(on);
}

void ScoreWindow::settleEdits() {
    settle_->stop();
    document_->settle();
}

void ScoreWindow::composed(const CompositionPtr& composition) {
    // The main window's commands start the song before telling; shown alone, the window
    // starts it here (settling what was shaped from the melody this one replaces).
    if (document_->origin() != composition) document_->start(composition);
    showing_current_ = true;
    showSheet(sheetFor(*composition));
    updateEditActions();
    focusScore();
}

bool ScoreWindow::applyEdit(const edit::Edit& e) {
    if (!document_->started() || !showing_current_) return false;
    const edit::Applied applied = document_->apply(e);
    if (applied.error) {
        statusBar()->showMessage(
            QStringLiteral("没有修改：%1").arg(QString::fromStdString(*applied.error)));
        return false;
    }
    report(applied, edit_name(e));
    return applied.step.changed();
}

void ScoreWindow::report(const edit::Applied& applied, const QString& name) {
    const edit::Step& step = applied.step;
    if (step.edit.kind == edit::EditKind::words) {
        statusBar()->showMessage(words_report(step, document_->melody().grading().percent()));
        return;
    }
    const edit::EditKind kind = step.edit.kind;
    if (kind == edit::EditKind::lock_chord || kind == edit::EditKind::unlock_chord ||
        kind == edit::EditKind::set_chord || kind == edit::EditKind::regenerate_chords) {
        const auto changed =
            std::count_if(step.chord_slots.begin(), step.chord_slots.end(),
                          [](const edit::SlotChange& c) { return c.from != c.to; });
        statusBar()->showMessage(!step.changed() ? QStringLiteral("和弦没有变化")
                                 : changed == 0
                                     ? name
                                     : QStringLiteral("%1：改动 %2 个和弦").arg(name).arg(changed));
        return;
    }
    QString message;
    const bool repair =
        step.edit.kind == edit::EditKind::fix_tones || step.edit.kind == edit::EditKind::suit_tones;
    if (repair) {
        message = QStringLiteral("%1：改动 %2 个音").arg(name).arg(step.changes.size());
        if (!step.changes.empty()) {
            QStringList notes;
            for (const edit::Change& change : step.changes)
                notes << QString::number(change.note + 1);
            message += QStringLiteral("（第 %1 个）").arg(notes.join(QStringLiteral("、")));
        }
        // The new tone score where it is read first, whatever part of the score is in view.
        message += QStringLiteral("，字调契合 %1%").arg(document_->melody().grading().percent());
        if (!step.left.empty()) {
            QStringList pairs;
            for (const TonePair& pair : step.left)
                pairs << pair_syllables(document_->melody().melody(), pair);
            message += QStringLiteral("；在音域和跳进的限制内无法修正：%1")
                           .arg(pairs.join(QStringLiteral("、")));
        }
    } else if (rhythm_edit(step.edit.kind) && step.changes.size() == 1) {
        const edit::Change& c = step.changes[0];
        message = c.from_rest != c.to_rest
                      ? QStringLiteral("第 %1 个音后的休止：%2 → %3")
                            .arg(c.note + 1)
                            .arg(beats_label(c.from_rest), beats_label(c.to_rest))
                      : QStringLiteral("第 %1 个音：%2 → %3")
                            .arg(c.note + 1)
                            .arg(beats_label(c.from_ticks), beats_label(c.to_ticks));
    } else if (step.edit.kind == edit::EditKind::fix_rhythm) {
        message = QStringLiteral("%1：改动 %2 个音的时值").arg(name).arg(step.changes.size());
        if (!step.changes.empty()) {
            QStringList notes;
            for (const edit::Change& change : step.changes)
                notes << QString::number(change.note + 1);
            message += QStringLiteral("（第 %1 个）").arg(notes.join(QStringLiteral("、")));
        }
        message += QStringLiteral("，节拍契合 %1%")
                       .arg(edit::check_beats(document_->melody().melody()).percent());
        if (step.changes.empty()) {
            statusBar()->showMessage(message);
            return;
        }
    } else if (step.changes.size() == 1 && step.changes[0].from_ticks == step.changes[0].to_ticks) {
        const edit::Change& c = step.changes[0];
        message = QStringLiteral("第 %1 个音：%2 → %3")
                      .arg(c.note + 1)
                      .arg(note_label(c.from_pitch), note_label(c.to_pitch));
    } else {
        message = QStringLiteral("%1：改动 %2 个音，字调契合 %3%")
                      .arg(name)
                      .arg(step.changes.size())
                      .arg(document_->melody().grading().percent());
    }
    if (step.changes.empty()) {
        statusBar()->showMessage(repair ? message : QStringLiteral("没有需要修改的音"));
        return;
    }
    statusBar()->showMessage(message);
}

void ScoreWindow::changed(const song::Document& document, song::Event event) {
    (void)document;
    switch (event) {
        case song::Event::started:  // shown by composed, once "作曲完成" is acknowledged
            settle_->stop();
            break;
        case song::Event::edited:
        case song::Event::undone:
        case song::Event::redone:
            showEdited();
            settle_->start();  // recorded once editing pauses
            break;
        case song::Event::settled:
            settle_->stop();
            break;
    }
    updateUndoActions();
}

void ScoreWindow::showEdited() {
    if (!document_->started()) return;
    sheet_ = std::make_shared<const ScoreSheet>(sheetFor(*document_->current()));
    if (showing_current_) {
        view_->updateSheet(sheet_);
    } else {
        // Undone or redone while an entry of the history was shown: back to the melody.
        showing_current_ = true;
        view_->setSheet(sheet_);
        updateEditActions();
    }
}

void ScoreWindow::fixTones() {
    applyEdit(edit::Edit(edit::EditKind::fix_tones));
    focusScore();
}

void ScoreWindow::suitTones() {
    applyEdit(edit::Edit(edit::EditKind::suit_tones));
    focusScore();
}

void ScoreWindow::fixRhythm() {
    applyEdit(edit::Edit(edit::EditKind::fix_rhythm));
    focusScore();
}

void ScoreWindow::focusScore() {
    // Without the focus a window remembers where it goes once the window is activated.
    view_->setFocus(Qt::OtherFocusReason);
}

void ScoreWindow::setLyricLines(std::function<std::vector<std::string>()> lines) {
    lyric_lines_ = std::move(lines);
    updateEditActions();
}

void ScoreWindow::reviseWords() {
    if (!document_->started() || !showing_current_ || !lyric_lines_) return;
    edit::Edit words(edit::EditKind::words);
    // The lines as a word edit carries them: joined by line feeds.
    const std::vector<std::string> lines = lyric_lines_();
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (k > 0) words.words += '\n';
        words.words += lines[k];
    }
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    applyEdit(words);
    QGuiApplication::restoreOverrideCursor();
    focusScore();
}

void ScoreWindow::regenerateSentence() {
    if (!document_->started() || !showing_current_ || view_->selected() < 0) return;
    const int sentence =
        document_->melody().melody().lyrics[static_cast<std::size_t>(view_->selected())].sentence;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const edit::Applied applied = document_->regenerate_sentence(sentence, best_of_count_->value());
    QGuiApplication::restoreOverrideCursor();
    focusScore();
    if (applied.error) {
        statusBar()->showMessage(
            QStringLiteral("没有修改：%1").arg(QString::fromStdString(*applied.error)));
        return;
    }
    report(applied, edit_name(applied.step.edit));
}

void ScoreWindow::audition() {
    if (!document_->started() || !showing_current_) return;
    const int note = view_->selected();
    const auto& starts = sheet_->score.note_start;
    const int tick = note >= 0 && static_cast<std::size_t>(note) < starts.size()
                         ? static_cast<int>(starts[static_cast<std::size_t>(note)])
                         : 0;
    try {
        player_.play_from(tick);
    } catch (const CommandError& e) {
        dialogs_->tell_failure(std::string("无法试听：") + e.what());
        return;
    }
    follow();
}

void ScoreWindow::stopPlaying() {
    try {
        player_.stop();
    } catch (const CommandError&) {
        // Nothing open: nothing plays.
    }
    follow();
    emit playingStopped();
}

void ScoreWindow::offerPitches(int pair, const QPoint& global) {
    if (!document_->started() || !showing_current_) return;
    // Held while the menu is open: a pitch chosen replaces the song's current melody.
    const CompositionPtr shown = document_->current();
    const ToneGrading& grading = shown->tones;
    if (pair < 0 || pair >= grading.graded()) return;
    const TonePair& tp = grading.pairs[static_cast<std::size_t>(pair)];
    const notation::Melody& m = shown->melody;
    const auto second = static_cast<int>(tp.second);
    const int before = m.notes[static_cast<std::size_t>(second - 1)];
    const int now = m.notes[static_cast<std::size_t>(second)];
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("pitchMenu"));
    // The pair named whole above the pitches: a section's title would be cut to the width
    // of the entries below it.
    auto* header = new QWidgetAction(&menu);
    auto* label = new QLabel(tone_pair_tip(*sheet_, pair));
    label->setObjectName(QStringLiteral("pitchMenuHeader"));
    label->setContentsMargins(8, 4, 8, 4);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    // Not an entry to choose (disabled), but in the colour of one.
    QPalette palette = label->palette();
    palette.setColor(QPalette::Disabled, QPalette::WindowText,
                     palette.color(QPalette::Active, QPalette::WindowText));
    label->setPalette(palette);
    header->setDefaultWidget(label);
    header->setEnabled(false);
    menu.addAction(header);
    menu.addSeparator();
    const qsizetype fixed = menu.actions().size();
    // Scale notes within an octave of the second syllable's note, nearest first.
    std::vector<int> pitches;
    for (const std::int32_t scale_note : mode_scale(m.mode)) {
        for (int octave = -1; octave <= 1; ++octave) {
            const int p = scale_note % 12 + (now / 12 + octave) * 12;
            if (p != now && p >= 0 && p <= 127 && std::abs(p - now) <= 12) pitches.push_back(p);
        }
    }
    std::sort(pitches.begin(), pitches.end());
    pitches.erase(std::unique(pitches.begin(), pitches.end()), pitches.end());
    std::stable_sort(pitches.begin(), pitches.end(),
                     [now](int a, int b) { return std::abs(a - now) < std::abs(b - now); });
    const QString syllable =
        QString::fromStdString(m.lyrics[static_cast<std::size_t>(second)].text);
    for (const int p : pitches) {
        const ToneGrade grade = grade_interval(tp.first_tone, tp.second_tone, p - before);
        if (grade != ToneGrade::good && grade != ToneGrade::fair) continue;
        QAction* action = menu.addAction(
            QStringLiteral("把「%1」改为 %2 %3").arg(syllable, note_label(p), tone_mark(grade)));
        connect(action, &QAction::triggered, this,
                [this, second, p] { applyEdit(edit::Edit(edit::EditKind::pitch, second, p)); });
    }
    if (menu.actions().size() <= fixed) {
        menu.addAction(QStringLiteral("一个八度内没有能使它契合的音"))->setEnabled(false);
    }
    menu.exec(global);
}

void ScoreWindow::offerChords(int slot, const QPoint& global) {
    if (!document_->started() || !showing_current_) return;
    const edit::EditableMelody& song = document_->melody();
    const std::vector<harmony::Chord>& chords = song.chords().chords;
    if (slot < 0 || slot >= static_cast<int>(chords.size())) return;
    const auto k = static_cast<std::size_t>(slot);
    const harmony::Chord current = chords[k];
    const bool locked = song.locked()[k];
    const bool degrees = chordDegrees();
    const auto label = [degrees](harmony::Chord chord) {
        return QString::fromStdString(chord_label(chord, degrees));
    };
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("chordMenu"));
    auto* header = new QWidgetAction(&menu);
    auto* title = new QLabel(QStringLiteral("%1：%2%3")
                                 .arg(slot_place(slot), label(current),
                                      locked ? QStringLiteral("（已锁定）") : QString()));
    title->setObjectName(QStringLiteral("chordMenuHeader"));
    title->setContentsMargins(8, 4, 8, 4);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    header->setDefaultWidget(title);
    header->setEnabled(false);
    menu.addAction(header);
    menu.addSeparator();
    // The chords that fit here with the neighbours kept, best first; one chosen is locked.
    const std::vector<harmony::Lock> locks = song.locks();
    for (const harmony::Chord chord :
         harmony::chord_choices(song.chord_request(locks), song.chords(), slot)) {
        QAction* action = menu.addAction(label(chord));
        action->setObjectName(QStringLiteral("chordChoice"));
        action->setCheckable(true);
        action->setChecked(chord == current);
        connect(action, &QAction::triggered, this, [this, slot, chord] {
            edit::Edit e{edit::EditKind::set_chord};
            e.slot = slot;
            e.chord = chord;
            applyEdit(e);
        });
    }
    menu.addSeparator();
    QAction* lock = menu.addAction(locked ? QStringLiteral("解锁") : QStringLiteral("锁定"));
    lock->setObjectName(QStringLiteral("chordLock"));
    lock->setToolTip(QStringLiteral("锁定的和弦在改音和重新配和弦时保持不变"));
    connect(lock, &QAction::triggered, this, [this, slot, locked] {
        edit::Edit e{locked ? edit::EditKind::unlock_chord : edit::EditKind::lock_chord};
        e.slot = slot;
        applyEdit(e);
    });
    menu.addAction(rechord_action_);
    menu.exec(global);
    focusScore();
}

void ScoreWindow::buildAccompaniment() {
    QMenu* menu = menuBar()->addMenu(QStringLiteral("伴奏(&A)"));
    menu->setObjectName(QStringLiteral("accompanimentMenu"));
    melody_alone_action_ = menu->addAction(QStringLiteral("只听旋律"));
    melody_alone_action_->setObjectName(QStringLiteral("melodyAlone"));
    melody_alone_action_->setCheckable(true);
    melody_alone_action_->setToolTip(
        QStringLiteral("播放时只听主旋律，不听和弦伴奏（卡拉OK和音频导出也不带伴奏）"));
    connect(melody_alone_action_, &QAction::toggled, this, [this](bool alone) {
        hearing_.melody_alone = alone;
        emit hearingChanged();
    });
    menu->addSeparator();

    QMenu* patterns = menu->addMenu(QStringLiteral("伴奏型"));
    patterns->setObjectName(QStringLiteral("patternMenu"));
    auto* pattern_group = new QActionGroup(this);
    const std::pair<harmony::Pattern, const char*> kinds[] = {
        {harmony::Pattern::block, "柱式和弦"},
        {harmony::Pattern::broken, "分解和弦"},
        {harmony::Pattern::pad, "长音铺底"},
    };
    for (const auto& [pattern, text] : kinds) {
        QAction* action = patterns->addAction(QString::fromUtf8(text));
        action->setObjectName(
            QStringLiteral("pattern-%1").arg(QLatin1String(harmony::pattern_name(pattern))));
        action->setCheckable(true);
        action->setChecked(pattern == hearing_.arrangement.pattern);
        pattern_group->addAction(action);
        connect(action, &QAction::triggered, this, [this, pattern] {
            hearing_.arrangement.pattern = pattern;
            emit hearingChanged();
        });
    }

    QMenu* instruments = menu->addMenu(QStringLiteral("伴奏乐器"));
    instruments->setObjectName(QStringLiteral("instrumentMenu"));
    auto* instrument_group = new QActionGroup(this);
    const std::vector<std::string>& timbres = timbre_items();
    for (std::size_t i = 0; i < timbres.size(); ++i) {
        const int program = program_number(static_cast<int>(i));
        QAction* action = instruments->addAction(QString::fromStdString(timbres[i]));
        action->setObjectName(QStringLiteral("instrument-%1").arg(program));
        action->setCheckable(true);
        action->setChecked(program == hearing_.arrangement.program);
        instrument_group->addAction(action);
        connect(action, &QAction::triggered, this, [this, program] {
            hearing_.arrangement.program = program;
            emit hearingChanged();
        });
    }
    menu->addSeparator();

    chord_degrees_action_ = menu->addAction(QStringLiteral("和弦记为级数"));
    chord_degrees_action_->setObjectName(QStringLiteral("chordDegrees"));
    chord_degrees_action_->setCheckable(true);
    chord_degrees_action_->setToolTip(
        QStringLiteral("和弦名写成简谱的级数（如 6m），而不是字母（如 Am）"));
    connect(chord_degrees_action_, &QAction::toggled, this, [this] {
        if (!sheet_) return;
        ScoreSheet named = *sheet_;
        named.chord_degrees = chordDegrees();
        sheet_ = std::make_shared<const ScoreSheet>(std::move(named));
        view_->updateSheet(sheet_);
    });
    rechord_action_ = menu->addAction(QStringLiteral("重新配和弦"));
    rechord_action_->setObjectName(QStringLiteral("regenerateChords"));
    rechord_action_->setToolTip(QStringLiteral("重新选择所有未锁定的和弦，锁定的保持不变"));
    connect(rechord_action_, &QAction::triggered, this, [this] {
        applyEdit(edit::Edit{edit::EditKind::regenerate_chords});
        focusScore();
    });
}

bool ScoreWindow::chordDegrees() const { return chord_degrees_action_->isChecked(); }

ScoreSheet ScoreWindow::sheetFor(const Composition& composition) const {
    ScoreSheet sheet = sheet_of(composition);
    sheet.chord_degrees = chordDegrees();
    return sheet;
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
    // Opened again: the word that it was folded away goes.
    connect(toggle, &QAction::triggered, this, [this](bool shown) {
        if (!shown) return;
        statusBar()->clearMessage();
        fitHistoryBeside();
    });
    connect(history_, &QDockWidget::visibilityChanged, toggle,
            [toggle, dock = history_] { toggle->setChecked(!dock->isHidden()); });
    help_bar_->insertAction(help_action_, toggle);
    connect(history_, &HistoryPanel::entrySelected, this, [this](const history::Entry& entry) {
        // An entry of the history is shown, not shaped: edits go to the melody in the player.
        showing_current_ = false;
        showSheet(sheetFor(*history::composition_of(entry.record)));
        updateEditActions();
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
    for (QAction* action : exportActions()) action->setEnabled(!audio_job_);
    if (!audio_job_) statusBar()->clearMessage();
    if (isVisible()) {
        followPlayer();
    } else {
        show();  // starts following
    }
    updateEditActions();
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
    // A spin box takes the focus through its editor: the chain names the editor.
    for (QWidget*& widget : chain) {
        if (widget->focusProxy()) widget = widget->focusProxy();
    }
    for (std::size_t i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);
}

void ScoreWindow::showHelp() {
    if (!help_) {
        help_ = new ScoreHelp(this);
        // Beside the score and the main window where the screen leaves room, narrowed if
        // that makes room, else over as little of them as it can: never over the score
        // it explains, as a window of its own would open (centred on its parent).
        if (const QScreen* screen = this->screen()) {
            std::vector<placement::Rect> windows;
            if (anchor_ && anchor_->isVisible())
                windows.push_back(rectOf(anchor_->frameGeometry()));
            if (isVisible()) windows.push_back(rectOf(frameGeometry()));
            const QSize decoration = frameGeometry().size() - size();
            const placement::Rect frame = placement::place_aside(
                rectOf(screen->availableGeometry()), windows,
                ScoreHelp::kWidth + decoration.width(), ScoreHelp::kHeight + decoration.height(),
                ScoreHelp::kMinimumWidth + decoration.width());
            help_->resize(frame.w - decoration.width(), frame.h - decoration.height());
            help_->move(frame.x, frame.y);
        }
    }
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
    // The bars may have moved: Tab follows where they are now.
    QTimer::singleShot(0, this, [this] { orderTabs(); });
    // Made narrow: the history list folds away before it squeezes the score under a bar.
    if (history_ && history_->isVisible() && !history_->isFloating() &&
        dockWidgetArea(history_) != Qt::BottomDockWidgetArea &&
        width() - history_->width() < kMinimumScoreWidth) {
        history_->hide();
        statusBar()->showMessage(QStringLiteral("作品记录已收起，按 Ctrl+H 展开"));
    }
}

void ScoreWindow::fitHistoryBeside() {
    if (!history_ || history_->isHidden() || history_->isFloating()) return;
    // The score's narrowest (its widest bar or header part), with its frame and scroll bar.
    const int frame = 2 * view_->frameWidth() + view_->verticalScrollBar()->sizeHint().width();
    const ScoreLayout* layout = view_->layout();
    const int score_needs =
        (layout ? static_cast<int>(std::ceil(layout->narrowest_width())) : kMinimumScoreWidth) +
        frame;
    const int room = width() - score_needs;
    const int list_needs = history_->rowsWidth();
    if (room >= list_needs) {
        // Beside the score again, where it went under it in a narrower window.
        if (dockWidgetArea(history_) != Qt::LeftDockWidgetArea) {
            addDockWidget(Qt::LeftDockWidgetArea, history_);
        }
        const int now = history_->width() > 0 ? history_->width() : list_needs;
        resizeDocks({history_}, {std::clamp(now, list_needs, room)}, Qt::Horizontal);
        return;
    }
    // Too narrow for both side by side: the list goes under the score, inside the window
    // (floating, it would cover the main window's controls).
    addDockWidget(Qt::BottomDockWidgetArea, history_);
    resizeDocks({history_}, {height() / 2}, Qt::Vertical);
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
    return {pdf_action_,         png_action_,     musicxml_action_,
            lyrics_midi_action_, karaoke_action_, audio_action_};
}

template <typename Writer>
void ScoreWindow::exportTo(const std::vector<std::string>& extensions, const std::string& filter,
                           Writer write) {
    if (!sheet_) return;
    const std::string suggested = file_name_from_title(sheet_->title, "乐谱") + extensions.front();
    const auto target = choose_export_file(*dialogs_, suggested, extensions, filter);
    // However the export was asked for, the keys go back to the notes.
    focusScore();
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
        return reason(exports::write_musicxml(sheet_->score, fs_path(path), {}, sheet_->chords));
    });
}

void ScoreWindow::exportLyricsMidi() {
    exportTo({".mid", ".midi"}, "MIDI（含歌词） (*.mid *.midi)", [this](const QString& path) {
        return reason(exports::write_lyrics_midi(sheet_->score, fs_path(path)));
    });
}

void ScoreWindow::exportKaraoke() {
    exportTo({".kar"}, "卡拉OK (*.kar)", [this](const QString& path) {
        // The accompaniment as it is heard: none with 只听旋律.
        if (hearing_.melody_alone || sheet_->harmony.chords.empty())
            return reason(exports::write_karaoke(sheet_->score, fs_path(path)));
        const exports::KaraokeAccompaniment accompaniment{
            harmony::accompany(sheet_->score.melody, sheet_->harmony, hearing_.arrangement.pattern),
            hearing_.arrangement.program};
        return reason(exports::write_karaoke(sheet_->score, fs_path(path), &accompaniment));
    });
}

void ScoreWindow::exportAudio() {
    if (!sheet_ || audio_job_) return;
    const std::vector<std::string> extensions = audio_extensions_wav_first();
    std::string filter = "音频 (";
    for (std::size_t i = 0; i < extensions.size(); ++i) {
        filter += (i == 0 ? "*" : " *") + extensions[i];
    }
    filter += ")";
    const std::string suggested = file_name_from_title(sheet_->title, "乐谱") + extensions.front();
    const auto target = choose_export_file(*dialogs_, suggested, extensions, filter);
    focusScore();
    if (!target) return;

    // The job holds the sheet it renders: the window may show another one meanwhile.
    const std::filesystem::path file = fs_path(QString::fromStdString(*target));
    std::string failure;
    audio_job_ = BackgroundJob::start(
        [sheet = sheet_, file, hearing = hearing_](const BackgroundJob::GoOn& go_on) {
            exports::AudioSettings settings;
            settings.progress = go_on;
            // The whole arrangement as it is heard; the melody alone with 只听旋律.
            if (!hearing.melody_alone && !sheet->harmony.chords.empty()) {
                settings.accompaniment = harmony::accompany(sheet->score.melody, sheet->harmony,
                                                            hearing.arrangement.pattern);
                settings.accompaniment_program = hearing.arrangement.program;
            }
            return exports::render_audio(sheet->score, file, settings);
        },
        &failure);
    if (!audio_job_) {
        dialogs_->tell_failure("乐谱没有导出到 " + *target + "：无法启动导出线程（" + failure +
                               "）");
        return;
    }
    audio_target_ = *target;
    for (QAction* action : exportActions()) action->setEnabled(false);

    // Not modal: the score stays readable and scrollable while the audio renders. It shows
    // itself only for an export that takes a while.
    audio_progress_ =
        new QProgressDialog(QStringLiteral("正在导出音频…"), QStringLiteral("取消"), 0, 1000, this);
    audio_progress_->setObjectName(QStringLiteral("audioExportProgress"));
    audio_progress_->setWindowTitle(QStringLiteral("导出音频"));
    audio_progress_->setWindowModality(Qt::NonModal);
    audio_progress_->setMinimumDuration(400);
    audio_progress_->setAutoClose(false);
    audio_progress_->setAutoReset(false);
    audio_progress_->setValue(0);
    connect(audio_progress_, &QProgressDialog::canceled, this, &ScoreWindow::cancelAudioExport);
    statusBar()->showMessage(
        QStringLiteral("正在导出音频：%1").arg(QString::fromStdString(*target)));
    audio_poll_->start();
}

void ScoreWindow::cancelAudioExport() {
    if (!audio_job_) return;
    audio_job_->cancel();
    if (audio_progress_) audio_progress_->hide();
    statusBar()->showMessage(QStringLiteral("正在取消音频导出…"));
}

void ScoreWindow::pollAudioExport() {
    if (!audio_job_) {
        audio_poll_->stop();
        return;
    }
    if (!audio_job_->done()) {
        // Short of the maximum until the file is in place.
        if (audio_progress_ && !audio_job_->cancelled()) {
            audio_progress_->setValue(
                std::clamp(static_cast<int>(audio_job_->progress() * 1000), 0, 999));
        }
        return;
    }
    audio_poll_->stop();
    const std::shared_ptr<BackgroundJob> job = std::move(audio_job_);
    audio_job_.reset();
    const std::optional<std::string> failure = job->result();
    if (audio_progress_) {
        if (!failure) audio_progress_->setValue(audio_progress_->maximum());
        // Gone now, not later: a dialog still waiting to show itself would come up over
        // the error box below, whose own event loop runs the deferred deletion only after.
        delete std::exchange(audio_progress_, nullptr);
    }
    for (QAction* action : exportActions()) action->setEnabled(sheet_ != nullptr);
    const QString path = QString::fromStdString(audio_target_);
    if (!failure) {
        // Done just as the user asked to stop: the file is complete and in place.
        statusBar()->showMessage(
            QStringLiteral("已导出：%1").arg(QFileInfo(path).absoluteFilePath()));
    } else if (job->cancelled()) {
        statusBar()->showMessage(QStringLiteral("音频导出已取消：%1 没有写入").arg(path));
    } else {
        statusBar()->clearMessage();
        dialogs_->tell_failure("乐谱没有导出到 " + audio_target_ + "：" + *failure);
    }
}

}  // namespace quavella
