// The score window with the main window, driven like a user: it shows the
// composition just made once "作曲完成" is acknowledged, follows the next one,
// hides on close and comes back with the next composition or Ctrl+M, marks the
// note at the player's position, and exports without replacing files unasked.
// The platform services are fakes; the composer, the notation and the files are real.
#include "app/windows/score_window.h"

#include <QComboBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/score/score_layout.h"
#include "app/score/score_painter.h"
#include "app/score/score_view.h"
#include "app/windows/main_window.h"
#include "app_fakes.h"
#include "qt_typing.h"
#include "score_fixture.h"
#include "window_fakes.h"

using namespace quavella;
using namespace quavella::test;
namespace fs = std::filesystem;

namespace {

const QStringList kSpring{"春眠不觉晓，", "处处闻啼鸟。", "夜来风雨声，", "花落知多少。"};
const QStringList kRiver{"白日依山尽，", "黄河入海流。", "欲穷千里目，", "更上一层楼。"};

QString chineseOf(const QStringList& lines) {
    QString out;
    for (const QString& line : lines) {
        for (const QChar c : line) {
            if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) out += c;
        }
    }
    return out;
}

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// Undoes midicsv's quoting of a string: the quotes, \\ for a backslash, and
/// \ooo for bytes beyond ASCII.
std::string midicsvString(const std::string& quoted) {
    std::string out;
    for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
        if (quoted[i] == '\\' && quoted[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (quoted[i] == '\\' && i + 3 < quoted.size()) {
            out += static_cast<char>(std::stoi(quoted.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += quoted[i];
        }
    }
    return out;
}

}  // namespace

class ScoreWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        dir = std::make_unique<ScratchDir>(ScratchDir::Current::enter);
        ScoreWindow::settings().clear();  // placed afresh, not where the last test left it
        log.clear();
        WindowFakes fakes;
        WindowServices services = fake_window_services(log, fakes);
        player = fakes.player;
        dialogs = fakes.export_dialogs;
        form = std::make_unique<TForm1>(std::move(services));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        score = form->scoreWindow();
    }

    void cleanup() {
        form.reset();
        dir.reset();
    }

    void appearsWithTheCompositionJustMade() {
        QVERIFY(score && !score->isVisible());
        QCOMPARE(score->windowTitle(), QStringLiteral("乐谱"));
        combo("ComboBox1")->setCurrentIndex(2);  // 快
        combo("ComboBox2")->setCurrentIndex(3);  // 五声调式
        combo("ComboBox3")->setCurrentIndex(3);  // 吉他
        compose(kSpring);

        QVERIFY(score->isVisible());
        QVERIFY(score->isWindow() && !form->isAncestorOf(score));
        const ScoreSheet& sheet = *score->sheet();
        const MidiSummary midi = summarise_midi("2.mid");
        const int tempo = static_cast<int>(60000000 / midi.tempo_us);
        QCOMPARE(sheet.score.melody.tempo, tempo);

        const ScoreLayout& layout = *score->view()->layout();
        const Drawn drawn = drawAll(layout);
        QCOMPARE(drawn.sized(layout.title_font.pixelSize()), QStringLiteral("春眠不觉晓"));
        // Four pairs graded in each five-syllable line; their score and legend in the header,
        // the share of line ends on the beat under the key.
        QCOMPARE(sheet.tones.graded(), 16);
        QCOMPARE(drawn.sized(layout.text_font.pixelSize()),
                 QStringLiteral("速度：快（%1 bpm）    调式：五声调式    音色：吉他1=C 4/4 ♩=%1"
                                "节拍契合 %3%字调契合 %2%✓契合○较契合△尚可✗倒字")
                     .arg(tempo)
                     .arg(sheet.tones.percent())
                     .arg(sheet.beats.percent()));
        // Every note of the file is drawn once, with its syllable under it in order.
        int glyphs = 0;
        int first_pieces = 0;
        for (const auto& bar : sheet.score.bars) {
            for (const auto& glyph : bar.glyphs) {
                ++glyphs;
                first_pieces += glyph.first ? 1 : 0;
            }
        }
        QCOMPARE(first_pieces, midi.note_ons);
        QCOMPARE(drawn.sized(layout.digit_font.pixelSize()).size(), glyphs);
        QCOMPARE(drawn.sized(layout.lyric_font.pixelSize()), chineseOf(kSpring));
    }

    void followsEveryNewComposition() {
        compose(kSpring);
        click("suiButton4");
        compose(kRiver);
        QVERIFY(score->isVisible());
        QCOMPARE(score->sheet()->title, std::string("白日依山尽"));
        const ScoreLayout& layout = *score->view()->layout();
        QCOMPARE(drawAll(layout).sized(layout.lyric_font.pixelSize()), chineseOf(kRiver));
        QCOMPARE(score->sheet()->score.melody.notes.size(),
                 static_cast<std::size_t>(summarise_midi("1.mid").note_ons));
    }

    void closingHidesItUntilTheNextCompositionOrCtrlM() {
        // Before any composition, Ctrl+M shows the empty window.
        QTest::keyClick(form.get(), Qt::Key_M, Qt::ControlModifier);
        QVERIFY(score->isVisible());
        QVERIFY(!score->sheet());
        QVERIFY(!score->findChild<QAction*>(QStringLiteral("exportPdf"))->isEnabled());
        score->close();

        compose(kSpring);
        QVERIFY(score->isVisible());
        QVERIFY(score->close());
        QVERIFY(!score->isVisible());
        QVERIFY(form->isVisible());
        QVERIFY(score->sheet());  // hidden, not gone

        QTest::keyClick(form.get(), Qt::Key_M, Qt::ControlModifier);
        QVERIFY(score->isVisible());
        QCOMPARE(score->sheet()->title, std::string("春眠不觉晓"));

        score->close();
        click("suiButton4");
        compose(kRiver);
        QVERIFY(score->isVisible());
        QCOMPARE(score->sheet()->title, std::string("白日依山尽"));

        // Closing the main window takes the score with it.
        form->close();
        QVERIFY(!score->isVisible());
    }

    void marksTheNoteAtThePlayersPosition() {
        compose(kSpring);
        const auto& starts = score->sheet()->score.note_start;
        QVERIFY(starts.size() > 10);
        ScoreView* view = score->view();
        QCOMPARE(view->highlight(), -1);

        // Nothing plays: nothing polls the player.
        QVERIFY(!score->following());

        // Playing: from 播放 on, the timer reads the player's position.
        player->position = starts[7] + 5;
        click("suiButton2");
        QVERIFY(score->following());
        QTRY_COMPARE_WITH_TIMEOUT(view->highlight(), 7, 5000);
        player->position = starts[8];
        QTRY_COMPARE_WITH_TIMEOUT(view->highlight(), 8, 5000);
        // The last tick of a note still belongs to it.
        player->position = starts[9] - 1;
        score->followPlayer();
        QCOMPARE(view->highlight(), 8);
        // Paused: the position holds, and so does the mark; polling ends soon after.
        QTest::qWait(3 * ScoreWindow::kFollowMs);
        QCOMPARE(view->highlight(), 8);
        QTRY_VERIFY_WITH_TIMEOUT(!score->following(),
                                 4 * ScoreWindow::kStillPolls * ScoreWindow::kFollowMs);
        QCOMPARE(view->highlight(), 8);
        // Resumed (暂停 again): followed again.
        player->position = starts[9];
        click("suiButton3");
        QTRY_COMPARE_WITH_TIMEOUT(view->highlight(), 9, 5000);
        // Stopped: no position, no mark, no polling.
        player->position.reset();
        click("suiButton4");
        QCOMPARE(view->highlight(), -1);
        QVERIFY(!score->following());
        // Past the last note (the closing rest): no mark.
        player->position = 1 << 20;
        score->followPlayer();
        QCOMPARE(view->highlight(), -1);
    }

    void exportsNeverReplaceAFileUnasked() {
        compose(kSpring);
        const fs::path pdf = dir->path() / "春眠不觉晓.pdf";
        std::ofstream(pdf) << "keep me";

        // Declining the replacement leaves the file as it was.
        dialogs->files = {pdf.string()};
        dialogs->replace = false;
        log.clear();
        score->exportPdf();
        QCOMPARE(log, (EventLog{"file:春眠不觉晓.pdf", "replace?:" + pdf.string()}));
        QCOMPARE(readBytes(pdf), std::string("keep me"));

        // Agreeing replaces it with the score; a name without extension gets one.
        dialogs->files = {(dir->path() / "春眠不觉晓").string()};
        dialogs->replace = true;
        log.clear();
        score->exportPdf();
        QCOMPARE(log.size(), std::size_t(2));
        QVERIFY(readBytes(pdf).starts_with("%PDF-"));
        QVERIFY(score->statusBar()->currentMessage().contains(QStringLiteral("春眠不觉晓.pdf")));

        // A new PNG is written without a question.
        dialogs->files = {(dir->path() / "score.png").string()};
        log.clear();
        score->exportPng();
        QCOMPARE(log, (EventLog{"file:春眠不觉晓.png"}));
        QVERIFY(!QImage(QString::fromStdString((dir->path() / "score.png").string())).isNull());
    }

    void aFailedExportNamesTheFileAndTheReason() {
        compose(kSpring);
        const std::pair<void (ScoreWindow::*)(), const char*> exports[] = {
            {&ScoreWindow::exportPdf, "score.pdf"},
            {&ScoreWindow::exportMusicXml, "score.musicxml"},
            {&ScoreWindow::exportLyricsMidi, "score.mid"},
            {&ScoreWindow::exportKaraoke, "score.kar"},
            {&ScoreWindow::exportAudio, "score.flac"},
        };
        for (const auto& [action, name] : exports) {
            const fs::path target = dir->path() / "missing" / name;
            dialogs->files = {target.string()};
            log.clear();
            (score->*action)();
            // The audio export renders on a thread of its own and reports when it ends.
            QTRY_VERIFY_WITH_TIMEOUT(!score->exportingAudio(), 30000);
            QCOMPARE(log.size(), std::size_t(2));
            const std::string prefix = "failure:乐谱没有导出到 " + target.string() + "：";
            QVERIFY2(log[1].starts_with(prefix) && log[1].size() > prefix.size(), log[1].c_str());
            QVERIFY(!fs::exists(target));
        }
    }

    void exportsTheMelodyAsMusicXmlLyricMidiAndAudio() {
        compose(kSpring);
        const int syllables = static_cast<int>(chineseOf(kSpring).size());
        struct Case {
            void (ScoreWindow::*action)();
            std::string chosen;     // the name given in the dialog
            std::string suggested;  // the name the dialog proposed
            std::string written;    // the file expected
            std::string magic;      // its first bytes
        };
        const std::string d = dir->path().string() + "/";
        const Case cases[] = {
            {&ScoreWindow::exportMusicXml, d + "a", "春眠不觉晓.musicxml", d + "a.musicxml",
             "<?xml"},
            {&ScoreWindow::exportLyricsMidi, d + "b", "春眠不觉晓.mid", d + "b.mid", "MThd"},
            {&ScoreWindow::exportKaraoke, d + "k", "春眠不觉晓.kar", d + "k.kar", "MThd"},
            {&ScoreWindow::exportAudio, d + "c", "春眠不觉晓.wav", d + "c.wav", "RIFF"},
            {&ScoreWindow::exportAudio, d + "c.FLAC", "春眠不觉晓.wav", d + "c.FLAC", "fLaC"},
            {&ScoreWindow::exportAudio, d + "c.ogg", "春眠不觉晓.wav", d + "c.ogg", "OggS"},
        };
        for (const Case& c : cases) {
            dialogs->files = {c.chosen};
            log.clear();
            (score->*c.action)();
            QTRY_VERIFY_WITH_TIMEOUT(!score->exportingAudio(), 30000);
            QCOMPARE(log, EventLog{"file:" + c.suggested});
            QVERIFY2(readBytes(c.written).starts_with(c.magic), c.written.c_str());
        }

        // Every syllable reaches the MusicXML and the lyric MIDI, in order.
        const std::string xml = readBytes(d + "a.musicxml");
        QString xml_lyrics;
        for (std::size_t at = xml.find("<text>"); at != std::string::npos;
             at = xml.find("<text>", at + 1)) {
            const std::size_t end = xml.find("</text>", at);
            xml_lyrics += QString::fromStdString(xml.substr(at + 6, end - at - 6));
        }
        QCOMPARE(xml_lyrics, chineseOf(kSpring));
        QString midi_lyrics;
        for (const CsvRecord& r : midicsv_records(d + "b.mid")) {
            if (r.size() == 4 && r[2] == "Lyric_t") {
                midi_lyrics += QString::fromStdString(midicsvString(r[3]));
            }
        }
        // Each sentence ends with a line mark (a carriage return or a line feed).
        QCOMPARE(midi_lyrics.count(QChar('\r')) + midi_lyrics.count(QChar('\n')), 4);
        midi_lyrics.remove(QChar('\r')).remove(QChar('\n'));
        QCOMPARE(midi_lyrics.size(), syllables);
        QCOMPARE(midi_lyrics, chineseOf(kSpring));
        // The karaoke words track holds the same syllables after its line marks.
        QString kar_words;
        for (const CsvRecord& r : midicsv_records(d + "k.kar")) {
            if (r.size() == 4 && r[0] == "3" && r[2] == "Text_t") {
                const QString text = QString::fromStdString(midicsvString(r[3]));
                if (!text.startsWith('@')) kar_words += text;
            }
        }
        QCOMPARE(kar_words,
                 "\\" + chineseOf(kSpring).insert(10, '\\').insert(5, '/').insert(17, '/'));

        // The song's chords: chord symbols in the MusicXML, the accompaniment as heard (the
        // arrangement) on the karaoke file's fifth track.
        const std::vector<harmony::ChordChange> chords = score->sheet()->chords;
        QVERIFY(!chords.empty());
        std::size_t symbols = 0;
        for (std::size_t at = xml.find("<harmony"); at != std::string::npos;
             at = xml.find("<harmony", at + 1))
            ++symbols;
        QCOMPARE(symbols, chords.size());
        bool accompanied = false;
        for (const CsvRecord& r : midicsv_records(d + "k.kar"))
            accompanied = accompanied || (r.size() > 2 && r[0] == "5" && r[2] == "Note_on_c");
        QVERIFY(accompanied);
    }

    void composesTheBestOfNWhileComposingIsPossible() {
        auto* best = score->findChild<QAction*>(QStringLiteral("composeBestOf"));
        auto* count = score->findChild<QSpinBox*>(QStringLiteral("bestOfCount"));
        auto* compose_button = form->findChild<QPushButton*>(QStringLiteral("suiButton1"));
        QVERIFY(best && count);
        QCOMPARE(count->value(), 20);
        QVERIFY(best->isEnabled());

        compose(kSpring);
        QVERIFY(!compose_button->isEnabled());
        QVERIFY(!best->isEnabled());
        click("suiButton4");
        QVERIFY(best->isEnabled());

        count->setValue(3);
        log.clear();
        best->trigger();
        QCOMPARE(log, (EventLog{"write:temp.mid", "write:1.mid", "sleep:2000", "open:1.mid",
                                "show:提示:作曲完成"}));
        QVERIFY(!best->isEnabled());
        QCOMPARE(readBytes(dir->path() / "1.mid"), readBytes(dir->path() / "temp.mid"));
    }

    void placedBesideTheMainWindow() {
        compose(kSpring);
        const QRect main = form->frameGeometry();
        const QRect beside = score->frameGeometry();
        // Never on top of the main window when the screen has room on either side.
        const QRect screen = form->screen()->availableGeometry();
        if (screen.width() >= main.width() + beside.width() + 16) {
            QVERIFY2(!beside.intersects(main),
                     qPrintable(
                         QStringLiteral("the score %1,%2 %3x%4 covers the main window %5,%6 %7x%8")
                             .arg(beside.x())
                             .arg(beside.y())
                             .arg(beside.width())
                             .arg(beside.height())
                             .arg(main.x())
                             .arg(main.y())
                             .arg(main.width())
                             .arg(main.height())));
        }
        QVERIFY(screen.contains(beside.topLeft()));
    }

private:
    QComboBox* combo(const char* name) const {
        return form->findChild<QComboBox*>(QString::fromLatin1(name));
    }
    void click(const char* name) const {
        auto* button = form->findChild<QPushButton*>(QString::fromLatin1(name));
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
    }
    void compose(const QStringList& lines) {
        auto* box = form->findChild<QPlainTextEdit*>(QStringLiteral("RichEdit1"));
        box->clear();
        box->setFocus();
        for (int i = 0; i < lines.size(); ++i) {
            if (i > 0) QTest::keyClick(box, Qt::Key_Return);
            typeText(box, lines[i]);
        }
        click("suiButton1");
        QCOMPARE(log.back(), std::string("show:提示:作曲完成"));
    }
    static Drawn drawAll(const ScoreLayout& layout) {
        RecordingDevice device(static_cast<int>(layout.width()), static_cast<int>(layout.height()));
        QPainter painter(&device);
        ScorePainter(layout).visible(painter, QRectF(0, 0, layout.width(), layout.height()), -1);
        return device.drawn;
    }

    std::unique_ptr<ScratchDir> dir;
    EventLog log;
    FakePlayer* player = nullptr;
    FakeExportDialogs* dialogs = nullptr;
    std::unique_ptr<TForm1> form;
    ScoreWindow* score = nullptr;
};

QTEST_MAIN(ScoreWindowTest)
#include "score_window_test.moc"
