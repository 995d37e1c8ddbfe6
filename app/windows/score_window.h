// The score window "乐谱": the composition just made in numbered notation with
// its lyrics, beside the main window. It follows each composition (the compose
// command tells it once "作曲完成" is acknowledged), marks the note the player is
// sounding, and exports the drawing as PDF or PNG.
//
//   toolbar "导出"      export actions; more exports join it as further actions
//   toolbar "作曲"      "择优作曲" with its number of candidates and "按句择优"; the main
//                      window composes (it owns the commands) and enables it with "生成主旋律"
//   toolbar "修改"      shaping the melody in the player: "修正倒字", "全部契合",
//                      "重新生成本句" (the chosen note's sentence), "试听" and "停止";
//                      menu "编辑" holds them, undo and redo (a view of the song
//                      document's history) and "换词保留旋律" (the lyric box's words for the
//                      melody's, sentences of unchanged syllable count keeping their notes).
//                      Chord names stand over the notes; a click on one (or C on the chosen
//                      note) opens its menu: the chords that fit there, best first, 锁定/解锁
//                      and 重新配和弦, each an edit of the song. Notes are chosen by click or
//                      ←/→, moved by ↑/↓ (Shift a semitone, Ctrl an octave), made shorter or
//                      longer by [/] and given or spared a rest after it by ./Backspace (menu
//                      "节奏"); each edit goes to the song document, whose listeners (this
//                      window, the player) follow it
//   central            ScoreView (scrolls; lays out once per width): the window's keyboard
//                      focus after a composition, a shaping command or an export's questions,
//                      so that the arrow keys act on the notes at once
//   menu "伴奏"         只听旋律 (the player plays the melody without its accompaniment),
//                      the accompaniment's pattern and instrument, chord names as letters
//                      or scale degrees, 重新配和弦
//   left dock          HistoryPanel "作品记录": earlier works, their scores on selection
//   status bar         the last export's outcome
//   "正在导出音频…"     the progress of an audio export, which renders on a thread of its
//                      own (with 取消); only the exports wait for it
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/commands/background_job.h"
#include "app/commands/composition_listener.h"
#include "app/commands/confirmer.h"
#include "app/commands/export_dialogs.h"
#include "app/commands/hearing.h"
#include "app/commands/media_player.h"
#include "app/score/score_sheet.h"
#include "edit/editable_melody.h"
#include "history/store.h"
#include "song/document.h"

class QAction;
class QProgressDialog;
class QSettings;
class QSpinBox;
class QTimer;
class QToolBar;

namespace quavella {

class HistoryPanel;
class ScoreView;

class ScoreWindow : public QMainWindow, public CompositionListener, private song::Listener {
    Q_OBJECT

public:
    /// @param player read for the position being heard; outlives the window
    /// @param dialogs export questions and reports; null: Qt dialogs over this window
    /// @param anchor the main window, beside which the score first appears
    /// @param document the song this window shapes, which outlives it; null: one of its own
    ScoreWindow(MediaPlayer& player, std::unique_ptr<ExportDialogs> dialogs,
                QWidget* anchor = nullptr, song::Document* document = nullptr);
    ~ScoreWindow() override;

    /// Shows the score of `composition`, bringing the window back if it was closed; the
    /// song document starts from it unless it already did.
    void composed(const CompositionPtr& composition) override;
    /// Docks the history list "作品记录": selecting an entry shows its score and enables
    /// the exports for it.
    /// @param store the history; null when there is none
    /// @param confirmer asks before an entry is deleted; null: a Qt question box
    HistoryPanel* attachHistory(history::Store* store, std::unique_ptr<Confirmer> confirmer);
    /// The history list, or null before attachHistory.
    HistoryPanel* historyPanel() const { return history_; }
    /// Shows `sheet`, from its top, with no note marked.
    void showSheet(ScoreSheet sheet);
    /// Shows the window again and brings it to the front (the main window's Ctrl+M).
    void showInFront();

    /// The sheet shown, or null before the first composition.
    const ScoreSheet* sheet() const { return sheet_.get(); }
    ScoreView* view() const { return view_; }
    /// The toolbar holding the export actions.
    QToolBar* exportBar() const { return export_bar_; }

    /// The melody being shaped (the one in the player), or null before the first
    /// composition.
    const edit::EditableMelody* editing() const {
        return document_->started() ? &document_->melody() : nullptr;
    }
    /// The song this window shapes.
    song::Document& document() const { return *document_; }
    /// Whether the score shown is that melody (not an entry of the history).
    bool showingCurrent() const { return showing_current_; }
    /// Applies an edit to the song, as the keys, the buttons and the tone marks' menu
    /// do: the score and the tone marks follow at once, the song's listeners put the
    /// melody in the player, and the edit can be undone.
    /// @return false when it was refused or changed nothing (the status bar says so)
    bool applyEdit(const edit::Edit& edit);

    /// Where "换词保留旋律" reads the new words: the lyric box's lines as typed, UTF-8.
    /// Without it (a window shown alone) the action stays disabled.
    void setLyricLines(std::function<std::vector<std::string>()> lines);
    /// What the player is to play: the arrangement on the song's chords in the pattern and
    /// instrument of menu 伴奏, or with 只听旋律 the melody alone. The karaoke and audio
    /// exports take the accompaniment as heard.
    const Hearing& hearing() const { return hearing_; }
    /// Whether the chords are named by scale degree (menu 伴奏, 和弦记为级数).
    bool chordDegrees() const;

    /// Enables "择优作曲" while composing is possible (with "生成主旋律").
    void setComposeEnabled(bool enabled);
    /// The number of candidates "择优作曲" composes.
    int bestOfCount() const;

    /// Candidates of "择优作曲" unless the user chooses another number.
    static constexpr int kDefaultBestOf = 20;

    /// The smallest frame the window allows: a bar and its syllables, beside the main
    /// window's controls on a 1024 pixel wide screen.
    static constexpr int kMinimumWidth = 320;
    static constexpr int kMinimumHeight = 240;
    /// Narrower than this, the score would share the window with the history list
    /// only by squeezing under a bar: the list folds away.
    static constexpr int kMinimumScoreWidth = 300;
    /// Where the window's geometry and the history list's state are remembered.
    static QSettings settings();

    /// Polling interval of the player's position while following it, in milliseconds.
    static constexpr int kFollowMs = 40;
    /// A pause in editing this long (milliseconds) records the shaped melody.
    static constexpr int kSettleMs = 1500;
    /// Polls that find the position unchanged (paused) before following stops.
    static constexpr int kStillPolls = 25;

    /// The melody may be playing now (播放, 暂停 or 停止 was pressed): the mark follows
    /// the player while the window is shown, until the melody stops, ends, or holds
    /// still for kStillPolls polls. Nothing polls the player otherwise.
    void follow();
    /// The melody was stopped: the mark goes at once, whatever the player still reports.
    void stopped();
    /// Whether the player's position is being polled.
    bool following() const;

signals:
    /// "择优作曲" was chosen: compose `count` melodies and keep the one that suits
    /// the tones of the words best.
    void composeBestOfRequested(int count);
    /// "择优作曲" with "按句择优": compose `count` melodies and take each sentence from
    /// the one whose sentence suits the tones best.
    void composeBySentenceRequested(int count);
    /// "停止" stopped the player: the main window's next 播放 starts from the start.
    void playingStopped();
    /// hearing() changed: the player is to play the song so.
    void hearingChanged();

public slots:
    /// Marks the note at the player's position; clears the mark when it is not
    /// playing or paused.
    void followPlayer();
    /// Shows the help window (F1): the score, its signs and the keys, in Chinese.
    void showHelp();
    /// "修正倒字": the fewest pitch changes that leave no contrary pair.
    void fixTones();
    /// "全部契合": the fewest pitch changes that make every pair good or fair.
    void suitTones();
    /// 对齐节拍: every line end on a strong beat, a beat long.
    void fixRhythm();
    /// "重新生成本句": the chosen note's sentence from the best of the spin box's
    /// number of candidates.
    void regenerateSentence();
    /// "换词保留旋律": the lyric box's words for the melody's, as one word edit: each
    /// sentence whose syllable count is unchanged keeps its notes, the others are
    /// composed anew. Refused words are reported in the status bar.
    void reviseWords();
    /// "试听": plays the melody from the chosen note, or from its start.
    void audition();
    /// "停止": stops whatever plays.
    void stopPlaying();
    /// Settles the song (its listeners record a shaped melody not in the history yet):
    /// called after a pause, and before the melody is replaced or the program ends.
    void settleEdits();
    /// Asks for a file and writes the score as PDF.
    void exportPdf();
    /// Asks for a file and writes the score as PNG.
    void exportPng();
    /// Asks for a file and writes the melody with its lyrics as MusicXML.
    void exportMusicXml();
    /// Asks for a file and writes the melody as MIDI with a lyric event per sung note.
    void exportLyricsMidi();
    /// Asks for a file and writes the melody as a Soft Karaoke file (.kar).
    void exportKaraoke();
    /// Asks for a file and renders the melody as audio, in the format its extension
    /// names (WAV unless it ends in another the renderer writes). The rendering runs on a
    /// thread of its own behind a progress dialog with 取消; the window stays usable, with
    /// the exports disabled until it ends.
    void exportAudio();
    /// Stops the audio export under way, if any: nothing is written, an existing file
    /// keeps its content. Closing the window does the same.
    void cancelAudioExport();

public:
    /// Whether an audio export runs now.
    bool exportingAudio() const { return audio_job_ != nullptr; }
    /// How often the progress of an audio export is read, in milliseconds.
    static constexpr int kExportPollMs = 50;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    /// Asks for the file (the first extension is the default) and writes it with
    /// `write`, which returns the reason of a failure.
    template <typename Writer>
    void exportTo(const std::vector<std::string>& extensions, const std::string& filter,
                  Writer write);
    /// The history list opened beside the score gives way to it: narrower where the score
    /// needs the room, under the score where both cannot be side by side.
    void fitHistoryBeside();
    /// Puts the window where it was left, else beside the main window without covering
    /// any of its controls (see placement.h).
    void placeBesideAnchor();
    /// Tab order following the layout: toolbars, the history list, the score.
    void orderTabs();
    /// Adds the action's shortcut to its tooltip: "导出PDF（Ctrl+Shift+P）".
    static void withShortcutInTip(QAction* action);
    /// Enables "择优作曲" while composing is possible and the box shows a count it accepts.
    void updateBestOf();
    /// Writes the geometry and the history list's state to settings().
    void remember();
    std::vector<QAction*> exportActions() const;
    /// Shows the audio export's progress; once it has ended, reports how.
    void pollAudioExport();
    void buildEditing();
    /// Says in the status bar what an applied step did.
    void report(const edit::Applied& applied, const QString& name);
    /// The song changed: an edit, an undo or a redo redraws it in place.
    void changed(const song::Document& document, song::Event event) override;
    /// Redraws the song in place.
    void showEdited();
    /// The menu of a tone mark: pitches that make its pair good or fair.
    void offerPitches(int pair, const QPoint& global);
    /// The menu of the chord at `slot`: the chords that fit there, best first, its lock
    /// and 重新配和弦.
    void offerChords(int slot, const QPoint& global);
    /// Menu 伴奏: what is heard, the accompaniment, how chords are named.
    void buildAccompaniment();
    /// The sheet of a composition with the chords named as menu 伴奏 says.
    ScoreSheet sheetFor(const Composition& composition) const;
    /// Enables what shapes the melody while it is the one shown.
    void updateEditActions();
    /// The undo and redo actions name what they would do, enabled while they can.
    void updateUndoActions();
    /// Gives the score view the keyboard focus (the window's focus, while it is not
    /// active): after a composition, a shaping command or an export's questions the
    /// arrow keys act on the notes again.
    void focusScore();

    MediaPlayer& player_;
    std::unique_ptr<ExportDialogs> dialogs_;
    QPointer<QWidget> anchor_;
    std::shared_ptr<const ScoreSheet> sheet_;
    std::optional<int> last_tick_;  ///< the position the last poll found
    int still_polls_ = 0;           ///< polls in a row that found it unchanged
    ScoreView* view_;
    QToolBar* export_bar_;
    QAction* pdf_action_;
    QAction* png_action_;
    QAction* musicxml_action_;
    QAction* lyrics_midi_action_;
    QAction* karaoke_action_;
    QAction* audio_action_;
    std::shared_ptr<BackgroundJob> audio_job_;  ///< the audio export under way, if any
    std::string audio_target_;                  ///< the file it writes
    QProgressDialog* audio_progress_ = nullptr;
    QTimer* audio_poll_;
    QToolBar* compose_bar_;
    QSpinBox* best_of_count_;
    QAction* best_of_action_;
    QToolBar* help_bar_;
    QAction* help_action_;
    QPointer<QWidget> help_;
    QTimer* follow_;
    HistoryPanel* history_ = nullptr;
    bool placed_ = false;
    bool compose_enabled_ = true;

    std::unique_ptr<song::Document> own_document_;  ///< when no document was given
    song::Document* document_;
    bool showing_current_ = false;
    QAction* undo_action_;
    QAction* redo_action_;
    QToolBar* edit_bar_;
    QAction* fix_action_;
    QAction* suit_action_;
    QAction* rhythm_action_;
    QAction* regenerate_action_;
    QAction* audition_action_;
    QAction* stop_action_;
    QAction* by_sentence_action_;
    std::vector<QAction*> rhythm_actions_;  ///< 节奏: shorter, longer, rest, no rest
    QAction* words_action_;
    std::function<std::vector<std::string>()> lyric_lines_;  ///< the lyric box's lines
    QTimer* settle_;  ///< a pause in editing: the song is settled

    Hearing hearing_;
    QAction* melody_alone_action_;
    QAction* chord_degrees_action_;
    QAction* rechord_action_;
};

}  // namespace quavella
