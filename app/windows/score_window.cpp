// The score window.
#include "app/windows/score_window.h"

#include <QAction>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QUndoCommand>
#include <QUndoStack>
#include <algorithm>
#include <filesystem>

#include "app/commands/export_target.h"
#include "app/history/history_panel.h"
#include "app/score/score_export.h"
#include "app/score/score_view.h"
#include "app/windows/qt_platform.h"
#include "composer/song.h"
#include "export/audio_render.h"
#include "export/karaoke.h"
#include "export/lyrics_midi.h"
#include "export/musicxml.h"

namespace quavella {

namespace {

constexpr int kGap = 8;  // between the main window and the score

/// One applied edit on the undo stack. It is pushed after the edit was made, so
/// its first redo does nothing; later ones redo and undo through the window.
class EditCommand final : public QUndoCommand {
public:
    EditCommand(const QString& text, std::function<void()> undo, std::function<void()> redo)
        : QUndoCommand(text), undo_(std::move(undo)), redo_(std::move(redo)) {}
    void undo() override { undo_(); }
    void redo() override {
        if (pushed_) {
            pushed_ = false;
            return;
        }
        redo_();
    }

private:
    std::function<void()> undo_;
    std::function<void()> redo_;
    bool pushed_ = true;
};

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
    }
    return {};
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
    best_of_count_->setRange(1, kMaxBestOf);
    best_of_count_->setValue(kDefaultBestOf);
    best_of_count_->setSuffix(QStringLiteral(" 首"));
    best_of_count_->setToolTip(QStringLiteral("择优作曲比较的旋律数"));
    compose_bar_->addWidget(best_of_count_);
    statusBar();
    buildEditing();

    follow_ = new QTimer(this);
    follow_->setInterval(kFollowMs);
    connect(follow_, &QTimer::timeout, this, &ScoreWindow::followPlayer);
}

ScoreWindow::~ScoreWindow() = default;

void ScoreWindow::buildEditing() {
    undo_ = new QUndoStack(this);
    QMenu* edit_menu = menuBar()->addMenu(QStringLiteral("编辑(&E)"));
    QAction* undo = undo_->createUndoAction(this, QStringLiteral("撤销"));
    undo->setObjectName(QStringLiteral("undoEdit"));
    undo->setShortcut(QKeySequence::Undo);
    QAction* redo = undo_->createRedoAction(this, QStringLiteral("重做"));
    redo->setObjectName(QStringLiteral("redoEdit"));
    redo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    edit_menu->addAction(undo);
    edit_menu->addAction(redo);

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
    regenerate_action_ =
        add(QStringLiteral("重新生成本句"), "regenerateSentence", QKeySequence(Qt::Key_F7),
            QStringLiteral("从若干首（择优作曲的数目）中选出所选音符这一句最贴合字调的旋律"),
            &ScoreWindow::regenerateSentence);
    audition_action_ =
        add(QStringLiteral("试听"), "audition", QKeySequence(Qt::Key_F5),
            QStringLiteral("从所选音符（未选时从头）播放当前旋律"), &ScoreWindow::audition);
    stop_action_ = add(QStringLiteral("停止"), "stopPlaying", QKeySequence(Qt::Key_F8),
                       QStringLiteral("停止播放"), &ScoreWindow::stopPlaying);

    by_sentence_action_ = new QAction(QStringLiteral("按句择优"), this);
    by_sentence_action_->setObjectName(QStringLiteral("bySentence"));
    by_sentence_action_->setCheckable(true);
    by_sentence_action_->setToolTip(
        QStringLiteral("择优作曲时逐句比较，每一句取最贴合字调的一首中的那一句"));
    compose_bar_->addAction(by_sentence_action_);

    view_->setEditable(false);
    connect(view_, &ScoreView::noteChosen, this, [this](int note) {
        if (!editing_) return;
        const notation::Melody& m = editing_->melody();
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
    updateEditActions();
}

void ScoreWindow::updateEditActions() {
    const bool on = editing_ && showing_current_;
    view_->setEditable(on);
    fix_action_->setEnabled(on);
    suit_action_->setEnabled(on);
    regenerate_action_->setEnabled(on && view_->selected() >= 0);
    audition_action_->setEnabled(on);
    stop_action_->setEnabled(editing_ != nullptr);
}

void ScoreWindow::composed(const FinishedComposition& composition) {
    current_ = composition;
    const edit::Source source{composition.gbk_text, composition.speed_pos, composition.mode_pos,
                              composition.timbre_pos, composition.state};
    if (composition.edits.empty()) {
        editing_ = std::make_unique<edit::EditableMelody>(
            source, notation::melody_from(composition.gbk_text, composition.outcome));
    } else {
        // Made by edits (best of N by sentence): the composition, then its edits, which
        // are part of it rather than steps to undo.
        editing_ = std::make_unique<edit::EditableMelody>(source);
        editing_->apply_all(edit::parse_edits(composition.edits).edits);
    }
    undo_->clear();
    showing_current_ = true;
    showSheet(sheet_of(composition));
    updateEditActions();
}

bool ScoreWindow::applyEdit(const edit::Edit& e) {
    if (!editing_ || !showing_current_) return false;
    const edit::Applied applied = editing_->apply(e);
    if (applied.error) {
        statusBar()->showMessage(
            QStringLiteral("没有修改：%1").arg(QString::fromStdString(*applied.error)));
        return false;
    }
    commit(applied, edit_name(e));
    return !applied.step.changes.empty();
}

void ScoreWindow::commit(const edit::Applied& applied, const QString& name) {
    const edit::Step& step = applied.step;
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
        if (!step.left.empty()) {
            QStringList pairs;
            for (const TonePair& pair : step.left)
                pairs << pair_syllables(editing_->melody(), pair);
            message += QStringLiteral("；在音域和跳进的限制内无法修正：%1")
                           .arg(pairs.join(QStringLiteral("、")));
        }
    } else if (step.changes.size() == 1 && step.changes[0].from_ticks == step.changes[0].to_ticks) {
        const edit::Change& c = step.changes[0];
        message = QStringLiteral("第 %1 个音：%2 → %3")
                      .arg(c.note + 1)
                      .arg(note_label(c.from_pitch), note_label(c.to_pitch));
    } else {
        message = QStringLiteral("%1：改动 %2 个音").arg(name).arg(step.changes.size());
    }
    if (step.changes.empty()) {
        statusBar()->showMessage(repair ? message : QStringLiteral("没有需要修改的音"));
        return;
    }
    undo_->push(new EditCommand(
        name,
        [this] {
            editing_->undo();
            showEdited();
        },
        [this] {
            editing_->redo();
            showEdited();
        }));
    showEdited();
    statusBar()->showMessage(message);
}

void ScoreWindow::showEdited() {
    if (!editing_) return;
    ScoreSheet sheet = make_sheet(notation::build_score(editing_->melody()), current_.speed_pos,
                                  current_.mode_pos, current_.timbre_pos);
    sheet.tones = editing_->grading();
    sheet_ = std::make_shared<const ScoreSheet>(std::move(sheet));
    if (showing_current_) {
        view_->updateSheet(sheet_);
    } else {
        // Undone or redone while an entry of the history was shown: back to the melody.
        showing_current_ = true;
        view_->setSheet(sheet_);
        updateEditActions();
    }
    emit melodyEdited(editing_->file().bytes);
}

void ScoreWindow::fixTones() { applyEdit(edit::Edit(edit::EditKind::fix_tones)); }

void ScoreWindow::suitTones() { applyEdit(edit::Edit(edit::EditKind::suit_tones)); }

void ScoreWindow::regenerateSentence() {
    if (!editing_ || !showing_current_ || view_->selected() < 0) return;
    const int sentence =
        editing_->melody().lyrics[static_cast<std::size_t>(view_->selected())].sentence;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const edit::Applied applied = editing_->regenerate_sentence(sentence, best_of_count_->value());
    QGuiApplication::restoreOverrideCursor();
    if (applied.error) {
        statusBar()->showMessage(
            QStringLiteral("没有修改：%1").arg(QString::fromStdString(*applied.error)));
        return;
    }
    commit(applied, edit_name(applied.step.edit));
}

void ScoreWindow::audition() {
    if (!editing_ || !showing_current_) return;
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
}

void ScoreWindow::offerPitches(int pair, const QPoint& global) {
    if (!editing_ || !showing_current_) return;
    const ToneGrading& grading = editing_->grading();
    if (pair < 0 || pair >= grading.graded()) return;
    const TonePair& tp = grading.pairs[static_cast<std::size_t>(pair)];
    const notation::Melody& m = editing_->melody();
    const auto second = static_cast<int>(tp.second);
    const int before = m.notes[static_cast<std::size_t>(second - 1)];
    const int now = m.notes[static_cast<std::size_t>(second)];
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("pitchMenu"));
    menu.addSection(tone_pair_tip(*sheet_, pair));
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
    if (menu.actions().size() <= 1) {
        menu.addAction(QStringLiteral("一个八度内没有能使它契合的音"))->setEnabled(false);
    }
    menu.exec(global);
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
        // An entry of the history is shown, not shaped: edits go to the melody in the player.
        showing_current_ = false;
        showSheet(std::move(sheet));
        updateEditActions();
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
