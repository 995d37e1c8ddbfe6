// The instructions window: caption, size, the manual's 30 lines, edits that last
// while the window is hidden and shown again, closing that only hides.
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QtTest>

#include "app/windows/instructions_window.h"
#include "qt_typing.h"

using quavella::TForm2;

class TForm2Test : public QObject {
    Q_OBJECT

private slots:
    void captionSizeAndMemo() {
        TForm2 form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Quavella使用说明"));
        QCOMPARE(form.size(), QSize(600, 434));
        QVERIFY(form.isHidden());
        QVERIFY(!form.isModal());
        auto* memo = form.findChild<QPlainTextEdit*>(QStringLiteral("suiMemo1"));
        QVERIFY(memo);
        QVERIFY(!memo->isReadOnly());
        QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(memo->geometry().top(), 29);
        QCOMPARE(memo->size(), QSize(600, 405));
        form.resize(800, 500);  // the memo follows the window
        QTRY_COMPARE(memo->size(), QSize(800, 471));
    }

    void manualLines_data() {
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("text");
        QTest::newRow("1 empty") << 1 << QString();
        QTest::newRow("2 opening") << 2
                                   << QStringLiteral(
                                          "    "
                                          "本软件完全不同于其他的音乐软件，它的理论依据是现代的序列"
                                          "主义作曲法。本软件是经过作者潜心研究，历");
        QTest::newRow("3 second line") << 3
                                       << QStringLiteral(
                                              "时三年开发而成。最大的特点是可以根据歌词生成曲子，具"
                                              "有上手快、简单易用、风格多变的特点。可以用于作");
        QTest::newRow("4 wrapped tail") << 4 << QStringLiteral("曲者培养乐感及辅助作曲。");
        QTest::newRow("5 four blanks") << 5 << QStringLiteral("    ");
        QTest::newRow("6 heading") << 6 << QStringLiteral("    使用说明：");
        QTest::newRow("7 style settings") << 7 << QStringLiteral("    一、歌曲整体风格设置");
        QTest::newRow("8 speed") << 8 << QStringLiteral("    1、速度：分为慢、中、快。");
        QTest::newRow("9 modes") << 9
                                 << QStringLiteral(
                                        "    "
                                        "2、调式：七声调式、五声调式最为常用。六声调式1和六声调式2"
                                        "分别对应民族七声调式中的变宫和变徵，不");
        QTest::newRow("10 wrapped tail") << 10 << QStringLiteral("是很常用。");
        QTest::newRow("11 timbres") << 11
                                    << QStringLiteral(
                                           "    "
                                           "3、音色：分别包括钢琴、八音盒、风琴、吉他、贝司、小提琴"
                                           "、弦乐组、小号、萨克斯、短笛。以钢琴和吉");
        QTest::newRow("12 wrapped tail") << 12 << QStringLiteral("他最为常用。");
        QTest::newRow("13 empty") << 13 << QString();
        QTest::newRow("14 lyrics heading") << 14 << QStringLiteral("    二、输入乐段歌词");
        QTest::newRow("15 lyrics") << 15
                                   << QStringLiteral(
                                          "    "
                                          "输入是最好一段一段输入，乐段歌词一般四句或八句为一段。标"
                                          "点符号必须要添加，作为区分乐句的需要。如");
        QTest::newRow("16 lyrics cont.") << 16
                                         << QStringLiteral(
                                                "果乐段合适，可将乐段保存在别处，另输入下一乐段重新"
                                                "作曲，最后将各个乐段进行合并修改。即可完成一首完");
        QTest::newRow("17 wrapped tail") << 17 << QStringLiteral("整的曲子了。");
        QTest::newRow("18 empty") << 18 << QString();
        QTest::newRow("19 buttons heading") << 19 << QStringLiteral("    三、各种按钮");
        QTest::newRow("20 compose") << 20
                                    << QStringLiteral(
                                           "    "
                                           "1、生成主旋律：输入乐段后，点击即可生成词的旋律。生成后"
                                           "即可播放，点击停止才可再次生成主旋律。每");
        QTest::newRow("21 wrapped tail") << 21 << QStringLiteral("次点击生成的主旋律都不相同。");
        QTest::newRow("22 playback")
            << 22 << QStringLiteral("    2、播放、暂停、停止：试听时对曲子进行控制。");
        QTest::newRow("23 save as")
            << 23
            << QStringLiteral(
                   "    3、主旋律另存为：将生成的乐曲另外存在一个地方，一般是你自设的工作目录。");
        QTest::newRow("24 empty") << 24 << QString();
        QTest::newRow("25 free software")
            << 25
            << QStringLiteral(
                   "    "
                   "本软件是免费软件，欢迎大家使用，同时提出宝贵意见和建议。作者将继续完善，不断推"
                   "出新版本，以满足大");
        QTest::newRow("26 closing") << 26 << QStringLiteral("家的需要。");
        QTest::newRow("27 web") << 27 << QStringLiteral("    网站：https://quavella.example.org");
        QTest::newRow("28 mail") << 28
                                 << QStringLiteral(
                                        "    软件作者email：author@quavella.example.org");
        QTest::newRow("29 four blanks") << 29 << QStringLiteral("    ");
        QTest::newRow("30 empty") << 30 << QString();
    }

    void manualLines() {
        QFETCH(int, line);
        QFETCH(QString, text);
        TForm2 form;
        const QTextDocument* doc =
            form.findChild<QPlainTextEdit*>(QStringLiteral("suiMemo1"))->document();
        QCOMPARE(doc->blockCount(), 30);
        QCOMPARE(doc->findBlockByNumber(line - 1).text(), text);
    }

    void escapeHidesTheWindow() {
        TForm2 form;
        form.showInFront();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* memo = form.findChild<QPlainTextEdit*>(QStringLiteral("suiMemo1"));
        memo->setFocus();
        QTest::keyClick(memo, Qt::Key_Escape);
        QVERIFY(form.isHidden());
        QCOMPARE(memo->document()->blockCount(), 30);  // the memo took no key
    }

    void closingHidesAndEditsLast() {
        TForm2 form;
        auto* memo = form.findChild<QPlainTextEdit*>(QStringLiteral("suiMemo1"));
        form.showInFront();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QPoint place = form.pos();
        memo->moveCursor(QTextCursor::Start);
        quavella::test::typeText(memo, QStringLiteral("我的笔记"));
        QVERIFY(form.close());
        QVERIFY(form.isHidden());

        form.showInFront();
        QVERIFY(form.isVisible());
        QCOMPARE(form.pos(), place);  // centred only the first time
        QCOMPARE(memo->document()->firstBlock().text(), QStringLiteral("我的笔记"));
        QCOMPARE(memo->document()->blockCount(), 30);
    }
};

QTEST_MAIN(TForm2Test)
#include "tform2_test.moc"
