// The main window: its controls in layout order, the handlers and the button states.
#include "app/windows/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTextBlock>
#include <algorithm>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/history/history_panel.h"
#include "app/history/history_recorder.h"
#include "app/windows/instructions_window.h"
#include "app/windows/qt_platform.h"
#include "app/windows/score_window.h"
#include "app/windows/url_label.h"
#include "base/private_dirs.h"
#include "base/terminal_text.h"
#include "composer/style_tables.h"

namespace quavella {

namespace {

QFont windowFont(int pixel_size) {
    // The layout's font first; on systems without it, the installed CJK font.
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("WenQuanYi Micro Hei")});
    font.setPixelSize(pixel_size);
    return font;
}

template <typename Items>
void addItems(QComboBox* box, const Items& items) {
    for (const auto& item : items) {
        box->addItem(QString::fromStdString(std::string(item)));
    }
}

/// Return and Enter press the focused button, as Space does: the buttons of a
/// plain window, unlike a dialog's, do not take them by themselves.
class ReturnPressesButton : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* button = qobject_cast<QPushButton*>(watched);
        const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (button == nullptr || !plain ||
            (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)) {
            return false;
        }
        if (button->isEnabled() && !key->isAutoRepeat()) {
            button->click();
        }
        return true;
    }
};

/// How long the history list's writes (deletions) wait for another program's write.
constexpr int kListBusyMs = 250;

/// Runs the history worker's calls on the window's thread, through its event loop.
/// Calls still queued when it goes are dropped with their context object.
class QueuedPoster : public Poster {
public:
    void post(std::function<void()> call) override {
        QMetaObject::invokeMethod(&context_, std::move(call), Qt::QueuedConnection);
    }

private:
    QObject context_;
};

}  // namespace

namespace {

/// Tells, in one message, the folders of the user's own files that other users can write
/// in: the history's and `others`. They are left as they are (they may be shared on
/// purpose), as the command line leaves the history's and warns.
void tell_open_folders(MessageBox& box, const std::vector<std::filesystem::path>& others,
                       const std::filesystem::path& history_folder) {
    std::vector<std::filesystem::path> folders{history_folder};
    folders.insert(folders.end(), others.begin(), others.end());
    std::vector<std::string> open;
    for (const std::filesystem::path& folder : folders) {
        const std::string name = folder.lexically_normal().string();
        if (files::open_to_others(folder) &&
            std::find(open.begin(), open.end(), name) == open.end())
            open.push_back(name);
    }
    if (open.empty()) return;
    std::string text = "其他用户也可以写入保存你的作品记录或工作文件的文件夹：";
    for (const std::string& name : open) text += "\n" + terminal_text(name);
    text += "\n请用 chmod 700 让它只归你使用。";
    box.show(text, kHintCaption);
}

}  // namespace

TForm1::TForm1(WindowServices services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      svc_(std::move(services)),
      title_(QCoreApplication::applicationName().toStdString()) {
    add_real_adapters(svc_, *this);

    buildControls();

    // The score window follows every composition once "作曲完成" is acknowledged.
    score_ = std::make_unique<ScoreWindow>(*svc_.player, std::move(svc_.export_dialogs), this,
                                           &document_);
    // Every composition is also recorded in the history as soon as it is made, before
    // its files are written and before any message; the history never stops composing.
    // The recorder's worker opens the history; the list reads it once that is done.
    HistoryPanel* history = score_->attachHistory(nullptr, std::move(svc_.confirmer));
    poster_ = std::make_unique<QueuedPoster>();
    const auto file = history::default_path([](const char* name) { return std::getenv(name); });
    // The list follows the score: each recorded composition is selected as it is recorded
    // (best of N records its candidates first, the chosen melody last).
    // The recorder's calls reach the window through the poster, each guarded by the
    // recorder's lifeline; the list is watched as well, for it belongs to the score window.
    recorder_ = std::make_unique<HistoryRecorder>(
        file, *svc_.box, *poster_, system_time_ms,
        [history = QPointer(history)](std::int64_t id) {
            if (history) history->showEntry(id);
        },
        [this, history = QPointer(history), file](const HistoryOpened& opened) {
            if (history) historyOpened(*file, opened, *history);
            tell_open_folders(*svc_.box, svc_.own_folders, file->parent_path());
        });
    listeners_ = std::make_unique<ListenerFanOut>(
        std::initializer_list<CompositionListener*>{score_.get(), recorder_.get()});
    CommandServices command_services{*svc_.box,         *svc_.copier, *svc_.sleeper,
                                     *svc_.save_dialog, *this,        *svc_.player};
    command_services.listener = listeners_.get();
    command_services.document = &document_;
    command_services.runner = svc_.runner.get();
    score_->setComposeEnabled(suiButton1->isEnabled());
    // "换词保留旋律" reads the lyric box as the compose command does.
    score_->setLyricLines([this] { return readInput().lines; });
    connect(score_.get(), &ScoreWindow::composeBestOfRequested, this, [this](int count) {
        score_->settleEdits();
        guarded([this, count] { commands_->compose_best_of(readInput(), count); });
    });
    connect(score_.get(), &ScoreWindow::composeBySentenceRequested, this, [this](int count) {
        score_->settleEdits();
        guarded([this, count] { commands_->compose_by_sentence(readInput(), count); });
    });
    // The score window's 停止: 播放 then starts the melody from its start.
    connect(score_.get(), &ScoreWindow::playingStopped, this,
            [this] { commands_->stopped_elsewhere(); });
    // The score window's menu 伴奏: the player plays the arrangement, or the melody alone.
    connect(score_.get(), &ScoreWindow::hearingChanged, this,
            [this] { guarded([this] { commands_->set_hearing(score_->hearing()); }); });
    commands_ = std::make_unique<WindowCommands>(command_services, title_);
    // After the score window: the score is redrawn, then the melody goes to the player.
    document_.add_listener(*this);
    commands_->start_up(*svc_.clock, svc_.current_dir());
    // 播放 returns at once while the soundfont still loads; the player tells, from a thread
    // of its own, how that play went, and the window hears it on its own thread.
    svc_.player->set_late_start_listener([this](const std::optional<std::string>& failure) {
        QMetaObject::invokeMethod(
            this, [this, failure] { lateStart(failure); }, Qt::QueuedConnection);
    });

    form2_ = std::make_unique<TForm2>();

    // "载入" puts an earlier melody in the player; it follows "生成主旋律".
    history->setLoadEnabled(suiButton1->isEnabled());
    connect(history, &HistoryPanel::loadRequested, this, [this](const history::Record& record) {
        score_->settleEdits();
        guarded([this, &record] { commands_->load(history::composition_of(record)); });
    });

    auto* show_score = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_M), this);
    connect(show_score, &QShortcut::activated, this, [this] { score_->showInFront(); });
}

TForm1::~TForm1() {
    svc_.player->set_late_start_listener(nullptr);  // no late word for a window going away
    score_->settleEdits();  // a shaped melody not yet in the history is recorded now
    document_.remove_listener(*this);
    // What the history could not take yet is tried a last time, and told if it never was.
    recorder_->finish();
    recorder_.reset();
    poster_.reset();
    form2_.reset();
    score_.reset();
    // The working files stay; the player lets go of the file it holds.
    if (svc_.player) {
        svc_.player->close();
    }
}

void TForm1::changed(const song::Document& document, song::Event event) {
    if (event == song::Event::settled) {
        // A shaped melody goes into the history once editing pauses, linked to its origin.
        recorder_->record_shaped(document.origin(), document.current());
        return;
    }
    // An edited melody becomes the one in the player: 播放 plays it, 主旋律另存为 saves it.
    guarded([this, &document, event] { commands_->changed(document, event); });
}

void TForm1::historyOpened(const std::filesystem::path& file, const HistoryOpened& opened,
                           HistoryPanel& panel) {
    // What opening found is told at once: a damaged file moved aside (the recorder
    // names it), or a history that can only be read (read-only media or rights: it is
    // listed, but this run's compositions are not recorded) or not at all.
    if (opened.status != history::Status::failed) {
        store_ = std::make_unique<history::Store>(file);
        // The list's deletions wait briefly for another program's write, never long: the
        // window must keep answering (a held history fails the deletion, which says so).
        store_->set_busy_ms(kListBusyMs);
        panel.setStore(store_.get());
        return;
    }
    auto reader = std::make_unique<history::Store>(file, std::string(), history::Access::read_only);
    std::int64_t count = 0;
    if (reader->count(count) == history::Status::ok) {
        svc_.box->show("作品记录只能读取，不能写入（" + opened.error +
                           "）。可以查看以前的作品，但这次运行中的作品不会被记录。",
                       kHintCaption);
        store_ = std::move(reader);
        panel.setStore(store_.get());
        return;
    }
    svc_.box->show(
        "作品记录无法打开（" + opened.error + "）。作曲不受影响，但这次运行中的作品不会被记录。",
        kHintCaption);
}

void TForm1::buildControls() {
    setObjectName(QStringLiteral("TForm1"));
    setWindowTitle(QStringLiteral("Quavella单机版V2.0"));
    setFont(windowFont(11));
    setFixedSize(729, 515);

    // The frame covers the client area; its top 20 pixels are the caption strip.
    suiForm1 = new QFrame(this);
    suiForm1->setObjectName(QStringLiteral("suiForm1"));
    suiForm1->setGeometry(0, 0, 729, 515);
    suiForm1->setStyleSheet(QStringLiteral("QFrame#suiForm1 { background: #E7E7E7; }"));
    auto* caption = new QLabel(windowTitle(), suiForm1);
    caption->setObjectName(QStringLiteral("captionStrip"));
    caption->setGeometry(0, 0, 729, 20);
    caption->setAlignment(Qt::AlignCenter);
    QFont caption_font = windowFont(13);
    caption_font.setBold(true);
    caption->setFont(caption_font);
    caption->setStyleSheet(
        QStringLiteral("background: #D4D4D4; color: black; border-bottom: 1px solid #7F7F7F;"));

    const QString caption_bar = QStringLiteral("color: #008000; padding-left: 6px;");
    suiPanel1 = new QLabel(QStringLiteral("歌曲整体风格设置"), suiForm1);
    suiPanel1->setObjectName(QStringLiteral("suiPanel1"));
    suiPanel1->setGeometry(0, 20, 729, 21);
    suiPanel1->setStyleSheet(caption_bar);

    suiImagePanel1 = new QWidget(suiForm1);
    suiImagePanel1->setObjectName(QStringLiteral("suiImagePanel1"));
    suiImagePanel1->setGeometry(0, 41, 729, 72);

    auto makeLabelButton = [this](const char* name, const QString& text, int x) {
        auto* button = new QPushButton(text, suiImagePanel1);
        button->setObjectName(QString::fromLatin1(name));
        button->setGeometry(x, 26, 65, 21);
        button->setEnabled(false);
        // A label, not a control: its text stays black although it is disabled.
        QPalette palette = button->palette();
        palette.setColor(QPalette::Disabled, QPalette::ButtonText, Qt::black);
        button->setPalette(palette);
        return button;
    };
    auto makeList = [this](const char* name, int x, Qt::FocusPolicy focus) {
        auto* list = new QComboBox(suiImagePanel1);
        list->setObjectName(QString::fromLatin1(name));
        list->setEditable(false);
        list->setGeometry(x, 25, 89, 21);
        list->setFocusPolicy(focus);
        return list;
    };
    suiImageButton1 = makeLabelButton("suiImageButton1", QStringLiteral("速度"), 24);
    // All three lists take the focus from Tab: speed and mode are chosen by keyboard too.
    ComboBox1 = makeList("ComboBox1", 99, Qt::StrongFocus);
    addItems(ComboBox1, speed_items());
    suiImageButton2 = makeLabelButton("suiImageButton2", QStringLiteral("调式"), 206);
    ComboBox2 = makeList("ComboBox2", 281, Qt::StrongFocus);
    addItems(ComboBox2, mode_items());
    suiImageButton3 = makeLabelButton("suiImageButton3", QStringLiteral("音色"), 388);
    ComboBox3 = makeList("ComboBox3", 464, Qt::StrongFocus);
    addItems(ComboBox3, timbre_items());
    ComboBox1->setCurrentIndex(0);
    ComboBox2->setCurrentIndex(0);
    ComboBox3->setCurrentIndex(0);

    suiURLLabel1 = new UrlLabel(QStringLiteral("拜访作者"), suiImagePanel1);
    suiURLLabel1->setObjectName(QStringLiteral("suiURLLabel1"));
    suiURLLabel1->setGeometry(616, 32, 57, 13);
    connect(suiURLLabel1, &UrlLabel::clicked, this, &TForm1::suiURLLabel1Click);

    suiPanel2 = new QLabel(QStringLiteral("请输入乐段歌词：    "), suiForm1);
    suiPanel2->setObjectName(QStringLiteral("suiPanel2"));
    suiPanel2->setGeometry(0, 113, 729, 21);
    suiPanel2->setStyleSheet(caption_bar);

    RichEdit1 = new QPlainTextEdit(suiForm1);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setGeometry(0, 134, 545, 373);
    RichEdit1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    RichEdit1->setTabChangesFocus(true);
    RichEdit1->setFont(windowFont(19));

    struct ButtonRow {
        const char* name;
        const char* text;
        int top;
        bool enabled;
        void (TForm1::*handler)();
    };
    const ButtonRow rows[] = {
        {"suiButton1", "生成主旋律", 173, true, &TForm1::suiButton1Click},
        {"suiButton2", "播放", 217, false, &TForm1::suiButton2Click},
        {"suiButton3", "暂停", 261, false, &TForm1::suiButton3Click},
        {"suiButton4", "停止", 305, false, &TForm1::suiButton4Click},
        {"suiButton5", "主旋律另存为", 349, false, &TForm1::suiButton5Click},
        {"suiButton7", "软件使用说明", 393, true, &TForm1::suiButton7Click},
        {"suiButton8", "退出", 437, true, &TForm1::suiButton8Click},
    };
    QPushButton** fields[] = {&suiButton1, &suiButton2, &suiButton3, &suiButton4,
                              &suiButton5, &suiButton7, &suiButton8};
    auto* return_presses = new ReturnPressesButton(this);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        auto* button = new QPushButton(QString::fromUtf8(rows[i].text), suiForm1);
        button->setObjectName(QString::fromLatin1(rows[i].name));
        button->setGeometry(601, rows[i].top, 80, 27);
        button->setEnabled(rows[i].enabled);
        connect(button, &QPushButton::clicked, this, rows[i].handler);
        button->installEventFilter(return_presses);
        *fields[i] = button;
    }

    HeaderControl1 = new QFrame(suiForm1);
    HeaderControl1->setObjectName(QStringLiteral("HeaderControl1"));
    HeaderControl1->setGeometry(0, 507, 729, 8);
    HeaderControl1->setFrameShape(QFrame::StyledPanel);

    // Playback goes through the MediaPlayer service; the control is only a place holder.
    MediaPlayer1 = new QWidget(suiForm1);
    MediaPlayer1->setObjectName(QStringLiteral("MediaPlayer1"));
    MediaPlayer1->setGeometry(520, 168, 85, 30);
    MediaPlayer1->setEnabled(false);
    MediaPlayer1->setVisible(false);
}

void TForm1::set_enabled(int button, bool enabled) {
    QPushButton* const buttons[] = {suiButton1, suiButton2, suiButton3, suiButton4, suiButton5};
    if (button >= kComposeButton && button <= kSaveAsButton) {
        buttons[button - kComposeButton]->setEnabled(enabled);
    }
    // "择优作曲" and "载入" in the score window follow "生成主旋律".
    if (button == kComposeButton && score_) {
        score_->setComposeEnabled(enabled);
        if (HistoryPanel* history = score_->historyPanel()) history->setLoadEnabled(enabled);
    }
}

void TForm1::lateStart(const std::optional<std::string>& failure) {
    if (failure) {
        svc_.box->error(*failure, title_);
        score_->stopped();
    } else {
        score_->follow();
    }
}

void TForm1::guarded(const std::function<void()>& handler) {
    const QPointer<QWidget> focused = focusWidget();
    try {
        handler();
    } catch (const std::exception& error) {
        svc_.box->error(error.what(), title_);
    } catch (...) {
        svc_.box->error(std::string(), title_);
    }
    // A command that disabled the focused button hands the focus to the button the
    // user most likely wants next, not to whatever follows in the tab order.
    if (focused != nullptr && !focused->isEnabled()) {
        QWidget* const likely_next[] = {suiButton2, suiButton1, RichEdit1};
        for (QWidget* next : likely_next) {
            if (next != focused && next->isEnabled()) {
                next->setFocus();
                break;
            }
        }
    }
}

ComposeInput TForm1::readInput() const {
    ComposeInput input;
    const QTextDocument* document = RichEdit1->document();
    for (int i = 0; i < document->blockCount(); ++i) {
        input.lines.push_back(document->findBlockByNumber(i).text().toStdString());
    }
    input.speed_pos = ComboBox1->currentIndex();
    input.mode_pos = ComboBox2->currentIndex();
    input.timbre_pos = ComboBox3->currentIndex();
    return input;
}

void TForm1::suiButton1Click() {
    score_->settleEdits();  // the melody shaped so far goes into the history first
    guarded([this] { commands_->compose(readInput()); });
    // Composed: listening comes next.
    if (!suiButton1->isEnabled() && suiButton2->isEnabled()) {
        suiButton2->setFocus();
    }
}

void TForm1::suiButton2Click() {
    guarded([this] { commands_->play(); });
    score_->follow();
}

void TForm1::suiButton3Click() {
    guarded([this] { commands_->pause(); });
    score_->follow();
}

void TForm1::suiButton4Click() {
    guarded([this] { commands_->stop(); });
    score_->stopped();
    // Stopped: composing again comes next.
    if (suiButton1->isEnabled()) {
        suiButton1->setFocus();
    }
}

void TForm1::suiButton5Click() {
    guarded([this] { commands_->save_as(); });
}

void TForm1::suiButton7Click() {
    guarded([this] { form2_->showInFront(); });
}

void TForm1::suiButton8Click() {
    guarded([this] { close(); });
}

void TForm1::suiURLLabel1Click() {
    guarded([this] {
        const QString address = QString::fromUtf8(kWebAddress).trimmed();
        if (!address.isEmpty()) {
            svc_.link_opener->open_url(address.toStdString());
        }
    });
}

void TForm1::showEvent(QShowEvent* event) {
    // Centred on the screen the first time it is shown.
    if (!placed_) {
        placed_ = true;
        centreOnScreen(*this);
    }
    QWidget::showEvent(event);
}

void TForm1::closeEvent(QCloseEvent* event) {
    // The main window's close ends the program, even with the manual still open.
    form2_->hide();
    score_->hide();
    event->accept();
    QCoreApplication::quit();
}

}  // namespace quavella
