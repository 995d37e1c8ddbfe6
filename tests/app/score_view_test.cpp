// The score's drawing, recorded as drawn: digits, marks and syllables of a score
// made by hand, rows broken at bar lines, only the rows in sight painted, the
// heard note kept in sight; and the PDF and PNG exports read back by poppler's
// pdftotext and by an image reader.
#include "app/score/score_view.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>

#include "app/score/score_export.h"
#include "app/score/score_layout.h"
#include "app/score/score_metrics.h"
#include "app/score/score_painter.h"
#include "score_fixture.h"

using namespace quavella;
using namespace quavella::test;

namespace {

std::shared_ptr<const ScoreSheet> sheetOf(notation::Score score) {
    return std::make_shared<const ScoreSheet>(make_sheet(std::move(score), 0, 0, 0));
}

/// The whole layout painted onto a recorder.
Drawn drawAll(const ScoreLayout& layout) {
    RecordingDevice device(static_cast<int>(layout.width()), static_cast<int>(layout.height()));
    QPainter painter(&device);
    ScorePainter(layout).visible(painter, QRectF(0, 0, layout.width(), layout.height()), -1);
    return device.drawn;
}

/// The syllables of a sheet, joined.
QString syllablesOf(const ScoreSheet& sheet) {
    QString all;
    for (const auto& lyric : sheet.score.melody.lyrics) all += QString::fromStdString(lyric.text);
    return all;
}

/// pdftotext's layout text of a PDF, or a null string when the tool is missing.
QString pdfText(const QString& pdf) {
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()) return {};
    QProcess run;
    run.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    run.waitForFinished(20000);
    return QString::fromUtf8(run.readAllStandardOutput());
}

/// The Chinese characters of the text below the key line, in reading order.
QString chineseBelowKeyLine(const QString& text) {
    const qsizetype key = text.indexOf(QStringLiteral("1=C"));
    QString out;
    for (const QChar c : text.mid(key < 0 ? 0 : key)) {
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) out += c;
    }
    return out;
}

}  // namespace

class ScoreViewTest : public QObject {
    Q_OBJECT

private slots:
    void marksEachGradedPairBetweenItsSyllablesWithALegendAndTheScore() {
        ScoreSheet sheet = make_sheet(hand_score(), 0, 0, 0);
        const auto pair = [](std::size_t a, std::size_t b, ToneGrade grade) {
            TonePair p;
            p.first = a;
            p.second = b;
            p.grade = grade;
            return p;
        };
        // Across a sentence end (晓 处) no pair; over the continuation (闻 ~ 鸟) one.
        sheet.tones.pairs = {pair(0, 1, ToneGrade::good), pair(1, 2, ToneGrade::contrary),
                             pair(5, 6, ToneGrade::fair), pair(7, 9, ToneGrade::acceptable)};
        sheet.tones.counts = {1, 1, 1, 1};
        ScoreLayout layout(std::make_shared<const ScoreSheet>(std::move(sheet)));
        layout.set_width(800);
        const Drawn drawn = drawAll(layout);

        const auto xOf = [&](const QString& text, int nth = 0) {
            for (const Drawn::Text& t : drawn.texts) {
                if (t.text == text && t.pixel_size == layout.lyric_font.pixelSize() && nth-- == 0)
                    return t.at.x();
            }
            return -1.0;
        };
        const auto marks = [&] {
            std::vector<Drawn::Text> out;
            for (const Drawn::Text& t : drawn.texts) {
                if (t.pixel_size == layout.small_font.pixelSize() &&
                    QStringLiteral("✓○△✗").contains(t.text)) {
                    out.push_back(t);
                }
            }
            return out;
        }();
        struct Expected {
            QString mark;
            double left, right;  // x of the two syllables
        };
        const Expected expected[] = {
            {QStringLiteral("✓"), xOf(QStringLiteral("春")), xOf(QStringLiteral("眠"))},
            {QStringLiteral("✗"), xOf(QStringLiteral("眠")), xOf(QStringLiteral("不"))},
            {QStringLiteral("○"), xOf(QStringLiteral("处")), xOf(QStringLiteral("处"), 1)},
            {QStringLiteral("△"), xOf(QStringLiteral("闻")), xOf(QStringLiteral("鸟"))},
        };
        QCOMPARE(marks.size(), std::size(expected));
        for (std::size_t i = 0; i < marks.size(); ++i) {
            QCOMPARE(marks[i].text, expected[i].mark);
            QVERIFY2(marks[i].at.x() > expected[i].left && marks[i].at.x() < expected[i].right,
                     qPrintable(expected[i].mark));
        }

        // The header: the score and the legend, each symbol with its name.
        const QString header = drawn.sized(layout.text_font.pixelSize());
        QVERIFY2(header.contains(QStringLiteral("字调契合 50%")), qPrintable(header));
        QVERIFY2(header.contains(QStringLiteral("✓契合○较契合△尚可✗倒字")), qPrintable(header));

        // A sheet without graded pairs shows neither.
        ScoreLayout plain(sheetOf(hand_score()));
        plain.set_width(800);
        QVERIFY(
            !drawAll(plain).sized(plain.text_font.pixelSize()).contains(QStringLiteral("字调")));
    }

    void marksTheLineEndsOffTheBeatWithTheirShareInTheHeader() {
        // Twelve quarter notes, three to a line: the line ends start at ticks 240 (beat 3),
        // 600 (beat 2), 960 (beat 1) and 1320 (beat 4).
        ScoreSheet sheet = make_sheet(long_score(12), 0, 0, 0);
        sheet.beats = edit::check_beats(sheet.score.melody);
        ScoreLayout layout(std::make_shared<const ScoreSheet>(std::move(sheet)));
        layout.set_width(800);
        const Drawn drawn = drawAll(layout);
        std::vector<double> marks;
        for (const Drawn::Text& t : drawn.texts) {
            if (t.text == off_beat_mark()) marks.push_back(t.at.x());
        }
        QCOMPARE(marks.size(), std::size_t(2));
        for (std::size_t k = 0; k < marks.size(); ++k) {
            const QRectF note = layout.note_rect(k == 0 ? 5 : 11);
            QVERIFY2(marks[k] < note.center().x() && marks[k] > note.left() - 20,
                     qPrintable(QString::number(marks[k])));
        }
        // The share under the key line; no tone score or legend without graded pairs.
        const QString header = drawn.sized(layout.text_font.pixelSize());
        QVERIFY2(header.endsWith(QStringLiteral("1=C 4/4 ♩=120节拍契合 50%")), qPrintable(header));
        QVERIFY(!header.contains(QStringLiteral("字调")));
        // The rows start a line lower than without it.
        ScoreSheet without = make_sheet(long_score(12), 0, 0, 0);
        ScoreLayout plain(std::make_shared<const ScoreSheet>(std::move(without)));
        plain.set_width(800);
        QCOMPARE(layout.header_height() - plain.header_height(), score_metrics::kHeaderLine);
    }

    void drawsTheHeaderEveryDigitMarkAndSyllable() {
        ScoreLayout layout(sheetOf(hand_score()));
        layout.set_width(800);
        QCOMPARE(layout.rows().size(), std::size_t(1));
        const Drawn drawn = drawAll(layout);

        QCOMPARE(drawn.sized(layout.title_font.pixelSize()), QStringLiteral("春眠不觉晓"));
        QCOMPARE(drawn.sized(layout.text_font.pixelSize()),
                 QStringLiteral("速度：慢（112 bpm）    调式：七声调式    音色：钢琴") +
                     QStringLiteral("1=C 4/4 ♩=112"));
        // Tied pieces are digits of their own; the rest is a 0.
        QCOMPARE(drawn.sized(layout.digit_font.pixelSize()), QStringLiteral("123451566710"));
        QCOMPARE(drawn.sized(layout.small_font.pixelSize()), QStringLiteral("12"));
        QCOMPARE(drawn.sized(layout.lyric_font.pixelSize()), QStringLiteral("春眠不觉晓处处闻鸟"));
        // Octave dots: one above 1^, one below 5, and 6, (twice, tied) and 7,; the
        // augmentation dot of 4.; the two sentence numbers are circled.
        QCOMPARE(drawn.dots(), 6);
        QCOMPARE(static_cast<int>(drawn.ellipses.size()), 8);
        // One tie.
        QCOMPARE(drawn.paths, 1);
    }

    void sharpsStandBeforeTheirDigitsAsTheTerminalScoreSpellsThem() {
        // C4, C#4, D#3 and D#4, one beat each: the terminal writes 1 #1 #2, #2.
        notation::Melody m;
        m.notes = {60, 61, 51, 63};
        m.ticks = {120, 120, 120, 120};
        for (const char* text : {"春", "眠", "不", "觉"}) {
            notation::Lyric lyric;
            lyric.text = text;
            m.lyrics.push_back(lyric);
        }
        m.lyrics.back().sentence_end = true;
        m.tempo = 100;
        const notation::Score score = notation::build_score(m);
        const std::string terminal = notation::score_text(score);
        for (const char* symbol : {" 1 ", " #1 ", " #2, ", " #2 "}) {
            QVERIFY2(terminal.find(symbol) != std::string::npos, symbol);
        }

        const auto sheet = sheetOf(score);
        ScoreLayout layout(sheet);
        layout.set_width(380);
        const auto& placed = layout.placed();
        QCOMPARE(placed.size(), std::size_t(4));
        const double digit_half =
            QFontMetricsF(layout.digit_font).horizontalAdvance(QLatin1Char('5')) / 2;
        const double sharp_half =
            QFontMetricsF(layout.accidental_font).horizontalAdvance(kSharpSign) / 2;
        QVERIFY(placed[0].accidental_x < 0);
        for (std::size_t g = 1; g < placed.size(); ++g) {
            // Between the digit before and its own digit, touching neither.
            QVERIFY2(placed[g].accidental_x + sharp_half < placed[g].x - digit_half,
                     qPrintable(QString::number(g)));
            QVERIFY2(placed[g].accidental_x - sharp_half > placed[g - 1].end_x,
                     qPrintable(QString::number(g)));
            QVERIFY(layout.note_rect(static_cast<int>(g)).left() <
                    placed[g].accidental_x - sharp_half);
        }

        // Drawn: each sign just before its digit, the low note's dot below.
        const Drawn drawn = drawAll(layout);
        QString signs_and_digits;
        double last_x = 0;
        for (const Drawn::Text& t : drawn.texts) {
            if (t.pixel_size != layout.digit_font.pixelSize() &&
                t.pixel_size != layout.accidental_font.pixelSize())
                continue;
            QVERIFY(t.at.x() > last_x);
            last_x = t.at.x();
            signs_and_digits += t.text;
        }
        QCOMPARE(signs_and_digits, QStringLiteral("1♯1♯2♯2"));
        QCOMPARE(drawn.dots(), 1);

        // The PDF export draws the same, and its text holds the signs.
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("sharps.pdf"));
        QVERIFY(!write_score_pdf(sheet, pdf));
        const QString text = pdfText(pdf);
        if (text.isNull()) QSKIP("pdftotext (poppler-utils) is not installed");
        QCOMPARE(text.count(kSharpSign), 3);
    }

    void syllablesSitCentredUnderTheirNotes() {
        ScoreLayout layout(sheetOf(hand_score()));
        layout.set_width(640);
        const Drawn drawn = drawAll(layout);
        QFontMetricsF metrics(layout.lyric_font);
        const int lyric_size = layout.lyric_font.pixelSize();
        const int notes[] = {0, 1, 2, 3, 4, 5, 6, 7, 9};
        int k = 0;
        for (const Drawn::Text& text : drawn.texts) {
            if (text.pixel_size != lyric_size) continue;
            const QRectF note = layout.note_rect(notes[k++]);
            const double centre = text.at.x() + metrics.horizontalAdvance(text.text) / 2;
            const auto& placed = layout.placed();
            const auto digit = std::find_if(placed.begin(), placed.end(), [&](const auto& p) {
                const auto& g = layout.sheet().score.bars[p.bar].glyphs[p.index];
                return g.first && g.note == notes[k - 1];
            });
            QVERIFY(digit != placed.end());
            QVERIFY2(std::abs(centre - digit->x) < 1.0, qPrintable(text.text));
            QVERIFY(note.contains(QPointF(centre, text.at.y() - 2)));
        }
        QCOMPARE(k, 9);
    }

    void rowsBreakAtBarLinesAndFitTheWidth_data() {
        QTest::addColumn<int>("width");
        QTest::newRow("narrow") << 380;
        QTest::newRow("window") << 780;
        QTest::newRow("wide") << 1900;
    }
    void rowsBreakAtBarLinesAndFitTheWidth() {
        QFETCH(int, width);
        ScoreLayout layout(sheetOf(long_score(301)));
        layout.set_width(width);
        const auto& rows = layout.rows();
        const auto& placed = layout.placed();
        QVERIFY(rows.size() > 1);
        QCOMPARE(rows.front().first, 0);
        QCOMPARE(rows.back().end, static_cast<int>(placed.size()));
        for (std::size_t r = 0; r < rows.size(); ++r) {
            if (r > 0) QCOMPARE(rows[r].first, rows[r - 1].end);
            // A row starts with a bar's first glyph and ends at a bar line inside the margins.
            QCOMPARE(placed[static_cast<std::size_t>(rows[r].first)].index, 0);
            QVERIFY(rows[r].bar_lines.back() <= width - kScoreMargin + 0.01);
            for (int g = rows[r].first; g < rows[r].end; ++g) {
                QCOMPARE(placed[static_cast<std::size_t>(g)].row, static_cast<int>(r));
                QVERIFY(placed[static_cast<std::size_t>(g)].x > kScoreMargin);
            }
        }
        // Rows but the last are justified to the full width.
        QCOMPARE(qRound(rows.front().bar_lines.back()), qRound(width - kScoreMargin));
    }

    void aLongScorePaintsOnlyTheRowsInSight() {
        ScoreView view;
        view.resize(800, 600);
        view.setSheet(sheetOf(long_score(5000)));
        const ScoreLayout& layout = *view.layout();
        QVERIFY(layout.rows().size() > 100);
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum() / 2);

        const int top = view.verticalScrollBar()->value();
        const int height = view.viewport()->height();
        RecordingDevice device(view.viewport()->width(), height);
        QPainter painter(&device);
        painter.translate(0, -top);
        view.paintScore(painter, QRectF(0, top, view.viewport()->width(), height));

        const auto [first, end] = layout.rows_between(top, top + height);
        QVERIFY(end - first <= height / layout.row_height() + 2);
        const int glyphs = layout.rows()[static_cast<std::size_t>(end - 1)].end -
                           layout.rows()[static_cast<std::size_t>(first)].first;
        QCOMPARE(device.drawn.sized(layout.digit_font.pixelSize()).size(), glyphs);
        for (const Drawn::Text& text : device.drawn.texts) {
            QVERIFY(text.at.y() > -layout.row_height() &&
                    text.at.y() < height + layout.row_height());
        }
    }

    void aLongMelodyIsLaidOutOnAWorkerAndDrawnWhenItArrives() {
        ScoreView view;
        view.resize(800, 600);
        QSignalSpy laid(&view, &ScoreView::laidOut);
        const int notes = static_cast<int>(ScoreView::kLayOutAtOnce) + 400;
        const auto sheet = sheetOf(long_score(notes));
        view.setSheet(sheet);
        // Until it arrives the view says so, and keeps the note marked meanwhile.
        QVERIFY(view.layingOut());
        QVERIFY(view.layout() == nullptr);
        view.setHighlight(notes - 1);
        RecordingDevice waiting(view.viewport()->width(), view.viewport()->height());
        view.viewport()->render(&waiting);
        QString said;
        for (const Drawn::Text& text : waiting.drawn.texts) said += text.text;
        QCOMPARE(said, ScoreView::layingOutText());

        QVERIFY(laid.wait(60000));
        QVERIFY(!view.layingOut());
        const ScoreLayout& layout = *view.layout();
        QCOMPARE(&layout.sheet(), sheet.get());
        QCOMPARE(qRound(layout.width()), view.viewport()->width());
        // Laid out whole, and the marked note (the last) brought into sight.
        QCOMPARE(layout.rows().back().end, static_cast<int>(layout.placed().size()));
        const int top = view.verticalScrollBar()->value();
        const QRectF mark = layout.note_rect(notes - 1);
        QVERIFY(top > 0 && mark.top() >= top && mark.bottom() <= top + view.viewport()->height());
        RecordingDevice shown(view.viewport()->width(), view.viewport()->height());
        view.viewport()->render(&shown);
        const auto [first, end] = layout.rows_between(top, top + view.viewport()->height());
        QCOMPARE(shown.drawn.sized(layout.digit_font.pixelSize()).size(),
                 layout.rows()[static_cast<std::size_t>(end - 1)].end -
                     layout.rows()[static_cast<std::size_t>(first)].first);
    }

    void aLayoutOfASheetReplacedMeanwhileIsDropped() {
        ScoreView view;
        view.resize(800, 600);
        const int notes = static_cast<int>(ScoreView::kLayOutAtOnce) + 400;
        view.setSheet(sheetOf(long_score(notes)));
        QTRY_VERIFY_WITH_TIMEOUT(!view.layingOut(), 60000);
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum() / 2);
        const int scroll = view.verticalScrollBar()->value();
        const ScoreLayout* before = view.layout();

        // Two edits in a row: the first's layout is posted, but the second's sheet comes
        // before the window's thread takes it.
        const auto edited = sheetOf(long_score(notes + 4));
        const auto again = sheetOf(long_score(notes + 8));
        QElapsedTimer took;
        took.start();
        { const ScoreLayout probe(edited); }
        const auto posted_ms = static_cast<int>(3 * took.elapsed() + 200);
        QSignalSpy laid(&view, &ScoreView::laidOut);
        view.updateSheet(edited);
        QVERIFY(view.layingOut());
        QCOMPARE(view.layout(), before);  // the score before the edit, where it was
        QTest::qSleep(posted_ms);
        view.updateSheet(again);
        QVERIFY(laid.wait(60000));
        QTest::qWait(50);
        QCOMPARE(laid.count(), 1);
        QCOMPARE(&view.layout()->sheet(), again.get());
        QCOMPARE(view.verticalScrollBar()->value(), scroll);
    }

    void theHeardNoteIsMarkedAndKeptInSight_data() {
        QTest::addColumn<int>("note");
        QTest::newRow("far down") << 4200;
        QTest::newRow("back at the start") << 3;
        QTest::newRow("the last") << 4999;
    }
    void theHeardNoteIsMarkedAndKeptInSight() {
        QFETCH(int, note);
        ScoreView view;
        view.resize(800, 600);
        view.setSheet(sheetOf(long_score(5000)));
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum() / 2);
        view.setHighlight(note);
        QCOMPARE(view.highlight(), note);

        const ScoreLayout& layout = *view.layout();
        const QRectF mark = layout.note_rect(note);
        const int top = view.verticalScrollBar()->value();
        QVERIFY2(mark.top() >= top && mark.bottom() <= top + view.viewport()->height(),
                 qPrintable(QStringLiteral("mark %1..%2, view from %3")
                                .arg(mark.top())
                                .arg(mark.bottom())
                                .arg(top)));

        // The mark is painted behind the note, and only then.
        const auto paintedRects = [&] {
            RecordingDevice device(view.viewport()->width(), view.viewport()->height());
            QPainter painter(&device);
            painter.translate(0, -top);
            view.paintScore(painter, QRectF(0, top, 800, view.viewport()->height()));
            return device.drawn.paths;
        };
        const int with_mark = paintedRects();
        view.setHighlight(-1);
        QCOMPARE(view.verticalScrollBar()->value(), top);
        QCOMPARE(paintedRects(), with_mark - 1);
    }

    void pdfHoldsEverySyllableInOrder_data() {
        QTest::addColumn<int>("notes");
        QTest::addColumn<int>("pages");
        QTest::newRow("one page") << 0 << 1;
        QTest::newRow("several pages") << 700 << 6;
    }
    void pdfHoldsEverySyllableInOrder() {
        QFETCH(int, notes);
        QFETCH(int, pages);
        const auto sheet = sheetOf(notes == 0 ? hand_score() : long_score(notes));
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("乐谱.pdf"));
        const auto failure = write_score_pdf(sheet, pdf);
        QVERIFY2(!failure, qPrintable(failure.value_or(QString())));

        const QString text = pdfText(pdf);
        if (text.isNull()) QSKIP("pdftotext (poppler-utils) is not installed");
        QVERIFY(text.contains(QStringLiteral("1=C 4/4")));
        // The title, cut when it is longer than the page is wide.
        QVERIFY(text.contains(QString::fromStdString(sheet->title).left(8)));
        QCOMPARE(chineseBelowKeyLine(text), syllablesOf(*sheet));
        QCOMPARE(text.count(QLatin1Char('\f')), pages);

        QFile file(pdf);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("%PDF-"));
        // A4 pages: 595 x 842 points.
        QVERIFY(bytes.contains("/MediaBox [0 0 595") || bytes.contains("/MediaBox [0 0 594"));
    }

    void pngShowsTheScoreAtTwiceTheResolution() {
        const auto sheet = sheetOf(hand_score());
        QTemporaryDir dir;
        const QString png = dir.filePath(QStringLiteral("score.png"));
        QVERIFY(!write_score_png(sheet, 700, png));
        QImage image(png);
        QVERIFY(!image.isNull());
        ScoreLayout layout(sheet);
        layout.set_width(700);
        QCOMPARE(image.width(), 1400);
        QCOMPARE(image.height(), 2 * static_cast<int>(std::ceil(layout.height())));
        int ink = 0;
        for (int y = 0; y < image.height(); y += 2) {
            for (int x = 0; x < image.width(); x += 2) ink += qGray(image.pixel(x, y)) < 128;
        }
        QVERIFY2(ink > 1000, qPrintable(QString::number(ink)));
    }

    void aWriteFailingPastASizeLimitKeepsTheOldFile() {
        // In a child process whose files may not grow past 1000 bytes (SIGXFSZ
        // ignored: writes fail with "File too large" as on a full disk), each export
        // fails; the good file it would replace stays, and no temporary is left.
        const auto sheet = sheetOf(hand_score());
        for (const QString& name : {QStringLiteral("score.pdf"), QStringLiteral("score.png")}) {
            QTemporaryDir dir;
            const QString target = dir.filePath(name);
            {
                QFile good(target);
                QVERIFY(good.open(QIODevice::WriteOnly));
                good.write("good old content");
            }
            int fds[2];
            QVERIFY(::pipe(fds) == 0);
            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                ::close(fds[0]);
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit small{1000, 1000};
                ::setrlimit(RLIMIT_FSIZE, &small);
                const auto failure = name.endsWith(QStringLiteral(".pdf"))
                                         ? write_score_pdf(sheet, target)
                                         : write_score_png(sheet, 700, target);
                const QByteArray text = failure ? failure->toUtf8() : QByteArray();
                const bool sent = ::write(fds[1], text.constData(), size_t(text.size())) >= 0;
                ::_exit(sent ? 0 : 1);
            }
            ::close(fds[1]);
            QByteArray message;
            char chunk[256];
            ssize_t got;
            while ((got = ::read(fds[0], chunk, sizeof chunk)) > 0) message.append(chunk, got);
            ::close(fds[0]);
            int status = 0;
            ::waitpid(child, &status, 0);
            QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            // The system's reason, as a full disk's "No space left on device" would be.
            QVERIFY2(message.contains("File too large"), message.constData());
            QFile kept(target);
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), QByteArray("good old content"));
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
        }
    }

    // A symbolic link in the target's place is never written through: the file it leads
    // to stays as it was, the export is refused and says why, and the link stays a link.
    void aLinkInTheTargetsPlaceIsNotFollowed() {
        const auto sheet = sheetOf(hand_score());
        for (const QString& name : {QStringLiteral("exp.pdf"), QStringLiteral("exp.png")}) {
            QTemporaryDir dir;
            const QString victim = dir.filePath(QStringLiteral("victim"));
            {
                QFile file(victim);
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write("not to be touched");
            }
            const QString target = dir.filePath(name);
            QVERIFY(QFile::link(victim, target));
            const auto failure = name.endsWith(QStringLiteral(".pdf"))
                                     ? write_score_pdf(sheet, target)
                                     : write_score_png(sheet, 700, target);
            QVERIFY2(failure && failure->contains(QStringLiteral("symbolic link")),
                     qPrintable(name));
            QFile kept(victim);
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), QByteArray("not to be touched"));
            QVERIFY(QFileInfo(target).isSymLink());
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                     (QStringList{name, QStringLiteral("victim")}));
        }
    }

    void failedExportsKeepTheExistingFileAndSayWhy() {
        const auto sheet = sheetOf(hand_score());
        QTemporaryDir dir;
        // A folder in the way cannot be replaced by either export.
        const QString folder = dir.filePath(QStringLiteral("taken"));
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(write_score_pdf(sheet, folder).has_value());
        QVERIFY(write_score_png(sheet, 700, folder).has_value());
        QVERIFY(QFileInfo(folder).isDir());
        // A missing folder.
        const auto missing = write_score_pdf(sheet, dir.filePath(QStringLiteral("no/such.pdf")));
        QVERIFY(missing && !missing->isEmpty());
        // Too long for one image.
        const auto tall = write_score_png(sheetOf(long_score(5000)), 400, dir.filePath("tall.png"));
        QVERIFY(tall && tall->contains(QStringLiteral("PDF")));
        QVERIFY(!QFileInfo::exists(dir.filePath("tall.png")));
    }
};

QTEST_MAIN(ScoreViewTest)
#include "score_view_test.moc"
