// The main window TForm1: three style lists, the lyric box and the button column.
//
//   lyric box + lists --suiButton1Click--> WindowCommands::compose
//       GBK text -> refusal check -> compose_lyrics -> "temp.mid"
//       -> copy onto "2.mid"/"1.mid" -> wait -> MediaPlayer::open -> Loaded
//   播放 / 暂停 / 停止 / 主旋律另存为 -> WindowCommands -> MediaPlayer, FileCopier
//   软件使用说明 -> TForm2;  退出 / close -> quit, the player closes its file
//   "作曲完成" acknowledged -> ScoreWindow (CompositionListener); Ctrl+M shows it again
//
// Button states: Fresh (start-up), Loaded (after a composition), Stopped (after 停止).
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/compose_command.h"
#include "app/platform.h"

class QComboBox;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace quavella {

class ScoreWindow;
class TForm2;

/// The platform services of the main window. Empty members get the real
/// adapters; the player must be given.
struct WindowServices {
    std::unique_ptr<MediaPlayer> player;
    std::unique_ptr<MessageBox> box;
    std::unique_ptr<FileCopier> copier;
    std::unique_ptr<Sleeper> sleeper;
    std::unique_ptr<Clock> clock;
    std::unique_ptr<SaveDialog> save_dialog;
    std::unique_ptr<LinkOpener> link_opener;
    std::unique_ptr<ExportDialogs> export_dialogs;  ///< the score window's export questions
    /// Reads the current directory at start-up.
    std::function<std::optional<std::string>()> current_dir = read_current_dir;
};

/// The link label "拜访作者": blue and underlined, red under the pointer.
class UrlLabel : public QWidget {
    Q_OBJECT

public:
    UrlLabel(const QString& text, QWidget* parent);
    QString text() const { return text_; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QString text_;
    bool hovered_ = false;
};

/// The main window.
class TForm1 : public QWidget, private ButtonPanel {
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
    void buildControls();
    /// Runs a handler; an escaping error ends it and shows the standard error box.
    void guarded(const std::function<void()>& handler);
    ComposeInput readInput() const;

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
    std::unique_ptr<WindowCommands> commands_;
    std::unique_ptr<TForm2> form2_;
    std::unique_ptr<ScoreWindow> score_;
    bool placed_ = false;
};

}  // namespace quavella
