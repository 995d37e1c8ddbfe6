// The main window driven like a user: its start-up state and layout, composing
// from typed lyrics, the button states through stop, compose again and save as,
// refusals, failures, the link label, the instructions and exit. The platform
// services are fakes; the composer and the files are real.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/windows/instructions_window.h"
#include "app/windows/main_window.h"
#include "app/windows/qt_platform.h"
#include "app/windows/url_label.h"
#include "app_fakes.h"
#include "qt_typing.h"
#include "window_fakes.h"

using namespace quavella;
using namespace quavella::test;
namespace fs = std::filesystem;

namespace {

/// Enabled states of suiButton1..5, then 7 and 8.
using ButtonStates = QList<bool>;
const ButtonStates kFresh{true, false, false, false, false, true, true};
const ButtonStates kLoaded{false, true, true, true, true, true, true};
const ButtonStates kStopped{true, false, false, true, true, true, true};

}  // namespace

class TForm1Test : public QObject {
    Q_OBJECT

private slots:
    void init() {
        dir = std::make_unique<ScratchDir>(ScratchDir::Current::enter);
        log.clear();
        WindowFakes fakes;
        WindowServices services = fake_window_services(log, fakes);
        player = fakes.player;
        dialog = fakes.save_dialog;
        form = std::make_unique<TForm1>(std::move(services));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }

    void cleanup() {
        form.reset();
        dir.reset();
    }

    void startUpState() {
        QCOMPARE(form->windowTitle(), QStringLiteral("Quavella单机版V2.0"));
        QCOMPARE(form->size(), QSize(729, 515));
        QCOMPARE(form->minimumSize(), QSize(729, 515));
        QCOMPARE(form->maximumSize(), QSize(729, 515));
        QVERIFY(!(form->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(buttonStates(), kFresh);
        QCOMPARE(combo("ComboBox1")->currentText(), QStringLiteral("慢"));
        QCOMPARE(combo("ComboBox2")->currentText(), QStringLiteral("七声调式"));
        QCOMPARE(combo("ComboBox3")->currentText(), QStringLiteral("钢琴"));
        QVERIFY(lyricBox()->document()->isEmpty());
        QCOMPARE(lyricBox()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(lyricBox()->font().pixelSize(), 19);
        QCOMPARE(form->commands().play_file(), std::string("1.mid"));
        QCOMPARE(form->commands().start_dir(), dir->path().string());
        QVERIFY(form->instructions() && form->instructions()->isHidden());
        auto* media = form->findChild<QWidget*>(QStringLiteral("MediaPlayer1"));
        QVERIFY(media && !media->isVisible() && !media->isEnabled());
        QCOMPARE(media->geometry(), QRect(520, 168, 85, 30));
        QVERIFY(log.empty());
    }

    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        const QString frame = QStringLiteral("suiForm1");
        const QString row = QStringLiteral("suiImagePanel1");
        auto add = [](const char* name, const QString& parent, QRect geometry, const char* text,
                      bool enabled) {
            QTest::newRow(name) << QString::fromLatin1(name) << parent << geometry
                                << QString::fromUtf8(text) << enabled;
        };
        add("suiPanel1", frame, {0, 20, 729, 21}, "歌曲整体风格设置", true);
        add("suiImagePanel1", frame, {0, 41, 729, 72}, "", true);
        add("suiImageButton1", row, {24, 26, 65, 21}, "速度", false);
        add("ComboBox1", row, {99, 25, 89, 21}, "慢", true);
        add("suiImageButton2", row, {206, 26, 65, 21}, "调式", false);
        add("ComboBox2", row, {281, 25, 89, 21}, "七声调式", true);
        add("suiImageButton3", row, {388, 26, 65, 21}, "音色", false);
        add("ComboBox3", row, {464, 25, 89, 21}, "钢琴", true);
        add("suiURLLabel1", row, {616, 32, 57, 13}, "拜访作者", true);
        add("suiPanel2", frame, {0, 113, 729, 21}, "请输入乐段歌词：    ", true);
        add("RichEdit1", frame, {0, 134, 545, 373}, "", true);
        add("suiButton1", frame, {601, 173, 80, 27}, "生成主旋律", true);
        add("suiButton2", frame, {601, 217, 80, 27}, "播放", false);
        add("suiButton3", frame, {601, 261, 80, 27}, "暂停", false);
        add("suiButton4", frame, {601, 305, 80, 27}, "停止", false);
        add("suiButton5", frame, {601, 349, 80, 27}, "主旋律另存为", false);
        add("suiButton7", frame, {601, 393, 80, 27}, "软件使用说明", true);
        add("suiButton8", frame, {601, 437, 80, 27}, "退出", true);
        add("HeaderControl1", frame, {0, 507, 729, 8}, "", true);
    }

    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(bool, enabled);
        auto* widget = form->findChild<QWidget*>(name);
        QVERIFY(widget);
        QCOMPARE(widget->parentWidget()->objectName(), parent);
        QCOMPARE(widget->geometry(), geometry);
        QCOMPARE(widget->isEnabled(), enabled);
        QVERIFY(widget->isVisible());
        QCOMPARE(textOf(widget), text);
        // The frame covers the client area, so its positions are the window's.
        QCOMPARE(form->findChild<QWidget*>(QStringLiteral("suiForm1"))->geometry(),
                 QRect(0, 0, 729, 515));
    }

    void listsAreSelectOnlyAndTheFirstTwoSkipTab() {
        const QStringList speeds{"慢", "中", "快"};
        const QStringList modes{"七声调式", "六声调式1", "六声调式2", "五声调式"};
        const QStringList timbres{"钢琴",   "八音盒", "风琴", "吉他",   "贝司",
                                  "小提琴", "弦乐组", "小号", "萨克斯", "短笛"};
        const std::pair<const char*, QStringList> lists[] = {
            {"ComboBox1", speeds}, {"ComboBox2", modes}, {"ComboBox3", timbres}};
        for (const auto& [name, items] : lists) {
            QComboBox* box = combo(name);
            QVERIFY(!box->isEditable());
            QStringList shown;
            for (int i = 0; i < box->count(); ++i) {
                shown << box->itemText(i);
            }
            QCOMPARE(shown, items);
        }
        QVERIFY(!(combo("ComboBox1")->focusPolicy() & Qt::TabFocus));
        QVERIFY(!(combo("ComboBox2")->focusPolicy() & Qt::TabFocus));
        QVERIFY(combo("ComboBox3")->focusPolicy() & Qt::TabFocus);
        QVERIFY(lyricBox()->tabChangesFocus());
    }

    void composeStopComposeAgainAndSave() {
        typeLyrics({"春眠不觉晓，处处闻啼鸟。", "夜来风雨声，花落知多少。"});
        combo("ComboBox1")->setCurrentIndex(2);  // 快: 180..199 bpm
        combo("ComboBox3")->setCurrentIndex(9);  // 短笛: program 72
        click("suiButton1");

        QCOMPARE(log, (EventLog{"write:temp.mid", "write:2.mid", "sleep:2000", "open:2.mid",
                                "show:提示:作曲完成"}));
        QCOMPARE(buttonStates(), kLoaded);
        const std::string missing = missing_midicsv();
        QVERIFY2(missing.empty(), missing.c_str());
        MidiSummary midi = summarise_midi("2.mid");
        QVERIFY(midi.header_ok);
        QCOMPARE(midi.program, 72);
        QVERIFY(midi.tempo_us > 60000000 / 200 && midi.tempo_us <= 60000000 / 180);
        QVERIFY(midi.note_ons >= 20);
        QCOMPARE(midi.note_ons, midi.note_offs);

        // Lists changed after a composition change nothing until the next one.
        combo("ComboBox3")->setCurrentIndex(0);
        click("suiButton2");
        click("suiButton3");
        click("suiButton3");
        QCOMPARE(buttonStates(), kLoaded);

        log.clear();
        click("suiButton4");
        QCOMPARE(log, (EventLog{"stop", "sleep:2000"}));
        QCOMPARE(buttonStates(), kStopped);

        log.clear();
        click("suiButton1");
        QCOMPARE(log.back(), std::string("show:提示:作曲完成"));
        QCOMPARE(form->commands().play_file(), std::string("1.mid"));
        QCOMPARE(summarise_midi("1.mid").program, 0);
        QCOMPARE(summarise_midi("2.mid").program, 72);  // the earlier melody stays
        QCOMPARE(buttonStates(), kLoaded);

        click("suiButton4");
        log.clear();
        dialog->answers = {(dir->path() / "saved").string()};
        click("suiButton5");
        QCOMPARE(log.size(), std::size_t(1));  // copied, nothing to say
        QCOMPARE(summarise_midi(dir->path() / "saved.mid").program, 0);
        QCOMPARE(buttonStates(), kStopped);
    }

    void refusals_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << QStringList{} << QStringLiteral("请输入歌词！");
        QTest::newRow("empty lines") << QStringList{"", "", ""} << QStringLiteral("请输入歌词！");
        QTest::newRow("five letters on two lines")
            << QStringList{"ab", "cde"} << QStringLiteral("歌词太短，没感觉！");
        QTest::newRow("nine bytes")
            << QStringList{"春眠不觉a"} << QStringLiteral("歌词太短，没感觉！");
        QTest::newRow("only characters GBK lacks")
            << QStringList{"\U0001F600\U0001F600"}
            << QStringLiteral("歌词中没有可用于作曲的字符（无法使用：\U0001F600）");
    }

    void refusals() {
        QFETCH(QStringList, lines);
        QFETCH(QString, message);
        typeLyrics(lines);
        click("suiButton1");
        QCOMPARE(log, EventLog{"show:提示:" + message.toStdString()});
        QCOMPARE(buttonStates(), kFresh);
        QCOMPARE(form->commands().play_file(), std::string("1.mid"));
        QVERIFY(!fs::exists("temp.mid"));
    }

    void droppedCharactersAreNamedOnceAndTheRestComposed() {
        typeLyrics({"春眠不觉晓，处处闻啼鸟。\U0001F3B5", "夜来风雨声，\U0001F3B5花落知多少。"});
        click("suiButton1");
        QCOMPARE(log,
                 (EventLog{"show:提示:歌词中有无法使用的字符，已略去：\U0001F3B5", "write:temp.mid",
                           "write:2.mid", "sleep:2000", "open:2.mid", "show:提示:作曲完成"}));
        QCOMPARE(buttonStates(), kLoaded);
    }

    void focusGoesToTheNextLikelyButton() {
        typeLyrics({"春眠不觉晓，处处闻啼鸟。"});
        activate();
        QPushButton* compose = button("suiButton1");
        compose->setFocus();
        QTest::keyClick(compose, Qt::Key_Space);
        QCOMPARE(log.back(), std::string("show:提示:作曲完成"));
        QCOMPARE(QApplication::focusWidget(), button("suiButton2"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);  // listen at once
        QCOMPARE(log.back(), std::string("play"));

        button("suiButton4")->setFocus();
        QTest::keyClick(button("suiButton4"), Qt::Key_Space);
        QCOMPARE(log.back(), std::string("sleep:2000"));
        QCOMPARE(QApplication::focusWidget(), compose);
    }

    void returnPressesTheFocusedButton_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("effect");
        QTest::newRow("生成主旋律") << "suiButton1" << int(Qt::Key_Return) << "show:提示:作曲完成";
        QTest::newRow("播放") << "suiButton2" << int(Qt::Key_Return) << "play";
        QTest::newRow("暂停, keypad Enter") << "suiButton3" << int(Qt::Key_Enter) << "pause";
        QTest::newRow("停止") << "suiButton4" << int(Qt::Key_Return) << "sleep:2000";
        QTest::newRow("主旋律另存为") << "suiButton5" << int(Qt::Key_Return) << "asked";
        QTest::newRow("软件使用说明") << "suiButton7" << int(Qt::Key_Return) << "manual";
        QTest::newRow("退出") << "suiButton8" << int(Qt::Key_Return) << "closed";
    }

    void returnPressesTheFocusedButton() {
        QFETCH(QString, name);
        QFETCH(int, key);
        QFETCH(QString, effect);
        typeLyrics({"春眠不觉晓，处处闻啼鸟。"});
        if (name != QStringLiteral("suiButton1")) {
            click("suiButton1");  // Loaded: every button is enabled but 生成主旋律
        }
        dialog->answers = {std::nullopt};
        activate();
        QPushButton* target = button(name.toLatin1().constData());
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));
        if (effect == QStringLiteral("asked")) {
            QVERIFY(dialog->answers.empty());
        } else if (effect == QStringLiteral("manual")) {
            QVERIFY(form->instructions()->isVisible());
        } else if (effect == QStringLiteral("closed")) {
            QVERIFY(!form->isVisible());
        } else {
            QCOMPARE(QString::fromStdString(log.back()), effect);
        }
    }

    void windowsStayOnTheScreen() {
        const QRect area = form->screen()->availableGeometry();
        QCOMPARE(form->pos(), centredPosition(form->frameGeometry().size(), area));
        QVERIFY(area.contains(form->pos()));
        click("suiButton7");
        TForm2* manual = form->instructions();
        QVERIFY(QTest::qWaitForWindowExposed(manual));
        QCOMPARE(manual->pos(), centredPosition(manual->frameGeometry().size(), area));
        QVERIFY(area.contains(manual->pos()));
    }

    void failedOpenShowsTheErrorBoxAndKeepsTheButtons() {
        player->fail_open = true;
        typeLyrics({"春眠不觉晓，处处闻啼鸟。"});
        click("suiButton1");
        const std::string title = QCoreApplication::applicationName().toStdString();
        QCOMPARE(log.back(), "error:" + title + ":cannot open 2.mid");
        QCOMPARE(buttonStates(), kFresh);
        QVERIFY(form->isVisible());
    }

    void unwritableWorkingFilesAreReported() {
        fs::create_directory("temp.mid");
        typeLyrics({"春眠不觉晓，处处闻啼鸟。"});
        click("suiButton1");
        QCOMPARE(log.size(), std::size_t(2));
        QCOMPARE(log[0], std::string("write:temp.mid"));
        QVERIFY(QString::fromStdString(log[1]).startsWith(
            QStringLiteral("show:提示:无法保存旋律文件 temp.mid：")));
        QCOMPARE(buttonStates(), kFresh);
        QCOMPARE(form->commands().play_file(), std::string("1.mid"));
    }

    void linkLabelOpensTheWebPage() {
        auto* link = form->findChild<QWidget*>(QStringLiteral("suiURLLabel1"));
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(log, EventLog{"url:" + std::string(kWebAddress)});
    }

    void instructionsShowOneWindowInFront() {
        click("suiButton7");
        click("suiButton7");
        int manuals = 0;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            manuals += qobject_cast<TForm2*>(window) != nullptr;
        }
        QCOMPARE(manuals, 1);
        QVERIFY(form->instructions()->isVisible());
        form->instructions()->close();
        QVERIFY(form->instructions()->isHidden());
        QVERIFY(form->isVisible());
        QCOMPARE(buttonStates(), kFresh);
    }

    void exitClosesTheWindowAndThePlayerLetsGo() {
        click("suiButton7");
        click("suiButton8");
        QVERIFY(!form->isVisible());
        QVERIFY(form->instructions()->isHidden());
        form.reset();
        QCOMPARE(log.back(), std::string("close"));
    }

private:
    QComboBox* combo(const char* name) const {
        return form->findChild<QComboBox*>(QString::fromLatin1(name));
    }
    QPlainTextEdit* lyricBox() const {
        return form->findChild<QPlainTextEdit*>(QStringLiteral("RichEdit1"));
    }
    QPushButton* button(const char* name) const {
        return form->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    void activate() const {
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }
    void click(const char* name) const {
        auto* button = form->findChild<QPushButton*>(QString::fromLatin1(name));
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
    }
    void typeLyrics(const QStringList& lines) const {
        QPlainTextEdit* box = lyricBox();
        box->setFocus();
        for (int i = 0; i < lines.size(); ++i) {
            if (i > 0) {
                QTest::keyClick(box, Qt::Key_Return);
            }
            typeText(box, lines[i]);
        }
        QCOMPARE(box->document()->blockCount(), std::max(1, int(lines.size())));
    }
    ButtonStates buttonStates() const {
        ButtonStates states;
        for (const char* name : {"suiButton1", "suiButton2", "suiButton3", "suiButton4",
                                 "suiButton5", "suiButton7", "suiButton8"}) {
            states << form->findChild<QPushButton*>(QString::fromLatin1(name))->isEnabled();
        }
        return states;
    }
    static QString textOf(QWidget* widget) {
        if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
        if (auto* button = qobject_cast<QPushButton*>(widget)) return button->text();
        if (auto* box = qobject_cast<QComboBox*>(widget)) return box->currentText();
        if (auto* link = qobject_cast<UrlLabel*>(widget)) return link->text();
        if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) return edit->toPlainText();
        return QString();
    }

    std::unique_ptr<ScratchDir> dir;
    EventLog log;
    FakePlayer* player = nullptr;
    FakeSaveDialog* dialog = nullptr;
    std::unique_ptr<TForm1> form;
};

QTEST_MAIN(TForm1Test)
#include "tform1_test.moc"
