// The main window TForm1: three style lists, the lyric box and the button column.
//
// Key to the inherited control names (kept as the design documents them):
//   TForm1            this window                  TForm2          the instructions window
//   suiForm1          the frame with its caption   suiPanel1/2     the two green caption bars
//   suiImagePanel1    the row of style lists       suiImageButtonN the labels 速度, 调式, 音色
//   ComboBox1..3      speed, mode, timbre lists    RichEdit1       the lyric box
//   suiButton1        生成主旋律 (compose)          suiButton2      播放 (play)
//   suiButton3        暂停 (pause)                 suiButton4      停止 (stop)
//   suiButton5        主旋律另存为 (save as)        suiButton7      软件使用说明 (manual)
//   suiButton8        退出 (exit)                  suiURLLabel1    拜访作者 (web page link)
//   HeaderControl1    the strip at the bottom      MediaPlayer1    the player's place holder
// suiButton1..5 are the numbers the commands pass to ButtonPanel (kComposeButton..).
//
//   lyric box + lists --suiButton1Click--> WindowCommands::compose
//       lines -> GBK text -> refusal check -> compose (one Composition, bytes in memory;
//       on a worker, QtWorkRunner) -> HistoryRecorder (queued to its worker) -> "temp.mid"
//       -> "2.mid"/"1.mid" -> wait (QtSleeper: the window paints, input waits)
//       -> MediaPlayer::open_melody (the bytes in memory, never the file read back)
//       -> Loaded
//   播放 / 暂停 / 停止 / 主旋律另存为 -> WindowCommands -> MediaPlayer, FileCopier (save as
//   writes the composition in memory);
//   after 播放 / 暂停 / 停止 the score window follows the player (ScoreWindow::follow)
//   软件使用说明 -> TForm2;  拜访作者 -> LinkOpener;  退出 / close -> quit, the player closes its
//   file
//   "作曲完成" acknowledged -> ScoreWindow (CompositionListener::composed);
//   Ctrl+M shows the score again
//   ScoreWindow "择优作曲" -> WindowCommands::compose_best_of, enabled with suiButton1
//   each melody put in the player starts the song document (song/document.h); its edits,
//   undos and redos (the score window) reach the player through WindowCommands, and a
//   pause in editing reaches the history (HistoryRecorder::record_shaped)
//
// Button states: Fresh (start-up), Loaded (after a composition), Stopped (after 停止).
#pragma once

#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/commands/button_panel.h"
#include "app/commands/composition_listener.h"
#include "app/commands/file_copier.h"
#include "app/commands/link_opener.h"
#include "app/commands/media_player.h"
#include "app/commands/window_commands.h"
#include "app/windows/window_services.h"
#include "history/store.h"
#include "song/document.h"

class QComboBox;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace quavella {

class HistoryPanel;
class HistoryRecorder;
class ListenerFanOut;
class Poster;
struct HistoryOpened;
class ScoreWindow;
class TForm2;
class UrlLabel;

/// The maker's web page, opened by "拜访作者" and listed in the manual.
inline constexpr const char* kWebAddress = "https://quavella.example.org";

/// The main window.
class TForm1 : public QWidget, private ButtonPanel, private song::Listener {
    Q_OBJECT

public:
    /// Builds the controls, runs the start-up steps and creates TForm2 hidden.
    explicit TForm1(WindowServices services, QWidget* parent = nullptr);
    ~TForm1() override;

    /// The commands and their state (play_file, start_dir).
    const WindowCommands& commands() const { return *commands_; }
    /// The instructions window.
    TForm2* instructions() const { return form2_.get(); }
    /// The score window "乐谱" (Ctrl+M shows it again).
    ScoreWindow* scoreWindow() const { return score_.get(); }

public slots:
    void suiButton1Click();
    void suiButton2Click();
    void suiButton3Click();
    void suiButton4Click();
    void suiButton5Click();
    void suiButton7Click();
    void suiButton8Click();
    void suiURLLabel1Click();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void set_enabled(int button, bool enabled) override;
    /// The song changed: an edit goes to the player (through the commands), a settled
    /// melody to the history.
    void changed(const song::Document& document, song::Event event) override;
    void buildControls();
    /// Runs a handler; an escaping error ends it and shows the standard error box.
    void guarded(const std::function<void()>& handler);
    /// A play that waited for the sound system started (the score follows it) or failed
    /// (the standard error box says why, as for a play that fails at once).
    void lateStart(const std::optional<std::string>& failure);
    ComposeInput readInput() const;
    /// Tells what opening the history found and gives the list its connection.
    void historyOpened(const std::filesystem::path& file, const HistoryOpened& opened,
                       HistoryPanel& panel);

    QFrame* suiForm1;
    QLabel* suiPanel1;
    QWidget* suiImagePanel1;
    QPushButton* suiImageButton1;
    QComboBox* ComboBox1;
    QPushButton* suiImageButton2;
    QComboBox* ComboBox2;
    QPushButton* suiImageButton3;
    QComboBox* ComboBox3;
    UrlLabel* suiURLLabel1;
    QLabel* suiPanel2;
    QPlainTextEdit* RichEdit1;
    QPushButton* suiButton1;
    QPushButton* suiButton2;
    QPushButton* suiButton3;
    QPushButton* suiButton4;
    QPushButton* suiButton5;
    QPushButton* suiButton7;
    QPushButton* suiButton8;
    QFrame* HeaderControl1;
    QWidget* MediaPlayer1;

    WindowServices svc_;
    std::string title_;
    /// The melody being shaped; the score window and the commands follow it.
    song::Document document_;
    std::unique_ptr<WindowCommands> commands_;
    std::unique_ptr<TForm2> form2_;
    std::unique_ptr<ScoreWindow> score_;
    /// The list's connection; null until the recorder has opened the history.
    std::unique_ptr<history::Store> store_;
    std::unique_ptr<Poster> poster_;  ///< outlives the recorder, whose calls it carries
    std::unique_ptr<HistoryRecorder> recorder_;
    std::unique_ptr<ListenerFanOut> listeners_;
    bool placed_ = false;
};

}  // namespace quavella
