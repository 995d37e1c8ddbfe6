// The history as the user meets it in the windows: compositions typed and composed
// in the main window, and the candidates of 择优作曲, become entries of 作品记录
// that the real quavella-cli makes again byte for byte; a press of 择优作曲 is one
// row opening on its candidates; 载入 puts an entry in the player as a composition
// does; 删除 asks first; entries another window records
// appear when the score window is activated. The platform services are fakes; the
// composer, the history and the files are real.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QtTest>
#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <set>

#include "app/history/history_panel.h"
#include "app/windows/main_window.h"
#include "app/windows/score_window.h"
#include "app_fakes.h"
#include "history/store.h"
#include "qt_typing.h"
#include "tests/support/cli_runner.h"
#include "tests/support/env_guard.h"
#include "window_fakes.h"

using namespace quavella;
using namespace quavella::test;
namespace fs = std::filesystem;

namespace {

const QStringList kPoem{QStringLiteral("春眠不觉晓，处处闻啼鸟。"),
                        QStringLiteral("夜来风雨声，花落知多少。")};
const QStringList kRiver{QStringLiteral("白日依山尽，黄河入海流。"),
                         QStringLiteral("欲穷千里目，更上一层楼。")};

/// Answers yes/no questions from a queue (no when it is empty) and records them.
struct FakeConfirmer : Confirmer {
    explicit FakeConfirmer(EventLog& log) : log_(log) {}
    bool confirm(const std::string& question, const std::string& caption) override {
        log_.push_back("confirm:" + caption + ":" + question);
        if (answers.empty()) return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    EventLog& log_;
    std::deque<bool> answers;
};

}  // namespace

class HistoryWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        dir = std::make_unique<ScratchDir>(ScratchDir::Current::enter);
        data_home = std::make_unique<EnvGuard>("XDG_DATA_HOME", dir->file("data"));
        log.clear();
        WindowFakes fakes;
        WindowServices services = fake_window_services(log, fakes);
        auto confirmer_fake = std::make_unique<FakeConfirmer>(log);
        confirmer = confirmer_fake.get();
        services.confirmer = std::move(confirmer_fake);
        form = std::make_unique<TForm1>(std::move(services));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        panel = form->scoreWindow()->historyPanel();
        QVERIFY(panel);
        store = std::make_unique<history::Store>(dir->file("data/quavella/history.sqlite3"));
    }

    void cleanup() {
        store.reset();
        form.reset();
        data_home.reset();
        dir.reset();
    }

    void aDamagedOrUnusableHistoryIsToldAtStartUp() {
        // Each row: a history file made under its own data folder, then a window
        // started over it. What opening finds is told before anything else happens.
        struct Row {
            const char* name;
            std::function<void(const fs::path& file)> make;
            const char* told;  // the start of the message
            bool moved;        // the file was moved aside, named in the message
        };
        const auto some_entries = [](const fs::path& file) {
            history::Store writer(file);
            for (int n = 0; n < 30; ++n) {
                history::Record r;
                r.lyrics = std::string(3000, static_cast<char>('a' + n % 26));
                r.midi = "MThd";
                std::int64_t id = 0;
                QCOMPARE(writer.record(r, id), history::Status::ok);
            }
        };
        const std::vector<Row> rows{
            {"garbage in the middle",
             [&](const fs::path& file) {
                 some_entries(file);
                 const auto size = fs::file_size(file);
                 std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
                 out.seekp(4096);
                 const std::string junk(size - 4096, '\xA5');
                 out.write(junk.data(), static_cast<std::streamsize>(junk.size()));
             },
             "作品记录文件已损坏，已移到 ", true},
            {"a text file",
             [](const fs::path& file) { write_file(file, std::string(5000, 'x') + "\n"); },
             "作品记录文件已损坏，已移到 ", true},
            {"a directory", [](const fs::path& file) { fs::create_directories(file); },
             "作品记录无法打开（", false},
        };
        int n = 0;
        for (const Row& row : rows) {
            const fs::path data = dir->path() / ("start" + std::to_string(++n));
            const fs::path file = data / "quavella" / "history.sqlite3";
            fs::create_directories(file.parent_path());
            row.make(file);
            const EnvGuard home("XDG_DATA_HOME", data.string());
            EventLog told;
            WindowFakes fakes;
            TForm1 window(fake_window_services(told, fakes));
            // Opened by the recorder's worker, told on the window's thread.
            QTRY_VERIFY2(!told.empty(), row.name);
            const std::string first = told.front();
            QVERIFY2(first.rfind(std::string("show:提示:") + row.told, 0) == 0, first.c_str());
            if (row.moved) {
                // The message names the file the history was moved to, and it is there.
                const std::string prefix = "show:提示:作品记录文件已损坏，已移到 ";
                const std::string moved =
                    first.substr(prefix.size(), first.find("（没有删除）") - prefix.size());
                QVERIFY2(fs::exists(moved), moved.c_str());
                QVERIFY(moved.find(".damaged-") != std::string::npos);
            }
        }
    }

    // The folders of the user's own files that other users can write in (made by hand,
    // or by an older start under umask 000) are told in the window once, together, as
    // the command line tells the history's; they are left as they are.
    void foldersOpenToOthersAreToldOnce() {
        const fs::path data = dir->path() / "open-data";
        const fs::path work = dir->path() / "open-work";
        fs::create_directories(data / "quavella");
        fs::create_directories(work);
        ::chmod((data / "quavella").c_str(), 0777);
        ::chmod(work.c_str(), 0770);
        const EnvGuard home("XDG_DATA_HOME", data.string());
        EventLog told;
        WindowFakes fakes;
        WindowServices services = fake_window_services(told, fakes);
        services.own_folders = {work};
        const auto boxes = [&told] {
            return static_cast<int>(
                std::count_if(told.begin(), told.end(),
                              [](const std::string& e) { return e.rfind("show:", 0) == 0; }));
        };
        {
            TForm1 window(std::move(services));
            QTRY_COMPARE(boxes(), 1);
            QTest::qWait(300);
        }
        QCOMPARE(boxes(), 1);
        const std::string& text = told.front();
        QVERIFY2(text.rfind("show:提示:其他用户也可以写入", 0) == 0, text.c_str());
        QVERIFY2(text.find("\n" + (data / "quavella").string() + "\n") != std::string::npos,
                 text.c_str());
        QVERIFY2(text.find("\n" + work.string() + "\n") != std::string::npos, text.c_str());
        QVERIFY2(text.find("chmod 700") != std::string::npos, text.c_str());
        struct stat info {};
        QCOMPARE(::stat(work.c_str(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0770));
    }

    void aReadOnlyHistoryIsListedAndRecordingToldUnavailable() {
        if (::geteuid() != 0) QSKIP("making read-only media needs root");
        const fs::path data = dir->path() / "media";
        const fs::path place = data / "quavella";
        fs::create_directories(place);
        QVERIFY(::mount("tmpfs", place.c_str(), "tmpfs", 0, "size=4m") == 0);
        struct Unmount {
            fs::path dir;
            ~Unmount() { ::umount2(dir.c_str(), MNT_DETACH); }
        } unmount{place};
        {
            history::Store writer(place / "history.sqlite3");
            history::Record r;
            r.lyrics = "春眠不觉晓";
            r.tempo = 90;  // a row the history takes as sound
            r.midi = "MThd";
            std::int64_t id = 0;
            QCOMPARE(writer.record(r, id), history::Status::ok);
        }
        QVERIFY(::mount(nullptr, place.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=4m") == 0);
        const EnvGuard home("XDG_DATA_HOME", data.string());
        EventLog told;
        WindowFakes fakes;
        auto window = std::make_unique<TForm1>(fake_window_services(told, fakes));
        QTRY_VERIFY(!told.empty());
        QVERIFY2(told.front().rfind("show:提示:作品记录只能读取，不能写入", 0) == 0,
                 told.front().c_str());
        auto* list = window->scoreWindow()->historyPanel()->findChild<QTreeWidget*>();
        QVERIFY(list != nullptr);
        QCOMPARE(list->topLevelItemCount(), 1);
        window.reset();
    }

    void threeCompositionsAreThreeEntriesTheCliMakesAgain() {
        typeLyrics(kPoem);
        std::vector<std::string> played;
        for (const auto& [speed, timbre] : {std::pair{0, 0}, std::pair{2, 9}, std::pair{1, 4}}) {
            combo("ComboBox1")->setCurrentIndex(speed);
            combo("ComboBox3")->setCurrentIndex(timbre);
            click("suiButton1");
            played.push_back(read_file(form->commands().play_file()));
            click("suiButton4");
        }
        QTRY_COMPARE(panel->list()->topLevelItemCount(), 3);
        for (int row = 0; row < 3; ++row) {
            QVERIFY2(panel->list()->topLevelItem(row)->text(0).contains(QStringLiteral("字调契合")),
                     qPrintable(panel->list()->topLevelItem(row)->text(0)));
        }

        const std::vector<history::Entry> entries = allEntries();
        QCOMPARE(entries.size(), std::size_t(3));
        write_file(dir->file("lyrics.txt"), (kPoem.join('\n') + '\n').toStdString());
        for (std::size_t k = 0; k < 3; ++k) {
            const history::Record& r = entries[2 - k].record;  // newest first
            QCOMPARE(r.midi, played[k]);
            QVERIFY(r.tone_score.has_value());
            QCOMPARE(remade(r), played[k]);
        }
    }

    void bestOfIsOneRowOpeningOnEveryCandidateEachLoadedAndDeletedAsShown() {
        typeLyrics(kPoem);
        auto* count = form->scoreWindow()->findChild<QSpinBox*>(QStringLiteral("bestOfCount"));
        auto* best_of = form->scoreWindow()->findChild<QAction*>(QStringLiteral("composeBestOf"));
        QVERIFY(count && best_of && best_of->isEnabled());
        count->setValue(5);
        best_of->trigger();
        QCOMPARE(log.back(), std::string("show:提示:作曲完成"));
        QVERIFY(!best_of->isEnabled());

        QTRY_COMPARE(allEntries().size(), std::size_t(5));
        const std::vector<history::Entry> entries = allEntries();
        QCOMPARE(entries.size(), std::size_t(5));
        // The chosen one is told last, so it is the newest; the candidates passed over
        // are kept with the bytes their state makes.
        const history::Entry& chosen = entries.front();
        QCOMPARE(chosen.record.midi, read_file(form->commands().play_file()));
        write_file(dir->file("lyrics.txt"), (kPoem.join('\n') + '\n').toStdString());
        for (const history::Entry& entry : entries) {
            QCOMPARE(entry.chosen, std::optional<std::int64_t>(chosen.id));
            QVERIFY(entry.record.tone_score.has_value());
            QVERIFY(*entry.record.tone_score <= *chosen.record.tone_score);
            QCOMPARE(remade(entry.record), entry.record.midi);
        }

        // One row, the chosen melody's, selected as the score shows it.
        QTreeWidget* list = panel->list();
        QTRY_VERIFY(panel->selected().has_value() && panel->selected()->id == chosen.id);
        QCOMPARE(list->topLevelItemCount(), 1);
        QTreeWidgetItem* press = list->topLevelItem(0);
        QVERIFY2(press->text(0).contains(QStringLiteral("择优 5 首之一")),
                 qPrintable(press->text(0)));
        QCOMPARE(list->currentItem(), press);
        QCOMPARE(panel->selected()->id, chosen.id);
        // Opened from the keyboard: the five, newest first, the chosen one marked.
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Right);
        QVERIFY(press->isExpanded());
        QCOMPARE(press->childCount(), 5);
        for (int k = 0; k < 5; ++k) {
            QCOMPARE(press->child(k)->text(0).startsWith(QStringLiteral("✓ 选中")), k == 0);
        }

        // A candidate selected shows its own score and details, and 载入 plays its bytes.
        click("suiButton4");
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(list->currentItem(), press->child(2));
        // Kept in the build tree, to look at.
        panel->grab().save(QCoreApplication::applicationDirPath() + "/history-press.png");
        const history::Entry& candidate = entries[2];
        QCOMPARE(panel->selected()->id, candidate.id);
        QCOMPARE(form->scoreWindow()->sheet()->score.melody.notes, candidate.record.notes);
        QVERIFY(panel->details()->toPlainText().contains(
            QString::fromStdString(history::reproduce_command(candidate.record))));
        auto* load = panel->findChild<QPushButton*>(QStringLiteral("historyLoad"));
        QVERIFY(load->isEnabled());
        QTest::mouseClick(load, Qt::LeftButton);
        QCOMPARE(read_file(form->commands().play_file()), candidate.record.midi);
        QVERIFY(candidate.record.midi != chosen.record.midi);

        // 删除 on a candidate deletes it alone; on the press, the press with every candidate.
        auto* remove = panel->findChild<QPushButton*>(QStringLiteral("historyDelete"));
        list->setCurrentItem(press->child(2));
        log.clear();
        confirmer->answers = {true};
        QTest::mouseClick(remove, Qt::LeftButton);
        QVERIFY2(log.at(0).find("一并") == std::string::npos, log.at(0).c_str());
        QCOMPARE(allEntries().size(), std::size_t(4));
        press = list->topLevelItem(0);
        QVERIFY(press->text(0).contains(QStringLiteral("择优 4 首之一")));
        QVERIFY(press->isExpanded());
        QCOMPARE(press->childCount(), 4);
        list->setCurrentItem(press);
        log.clear();
        confirmer->answers = {true};
        QTest::mouseClick(remove, Qt::LeftButton);
        QVERIFY2(log.at(0).find("另外 3 首会一并删除") != std::string::npos, log.at(0).c_str());
        QCOMPARE(allEntries().size(), std::size_t(0));
        QCOMPARE(list->topLevelItemCount(), 0);
    }

    void loadPutsAnEntryInThePlayerAsACompositionDoes() {
        typeLyrics(kPoem);
        click("suiButton1");
        const std::string first = read_file(form->commands().play_file());
        click("suiButton4");
        click("suiButton1");
        QVERIFY(read_file(form->commands().play_file()) != first);

        // Loaded: 生成主旋律 waits for 停止, and so does 载入.
        auto* load = panel->findChild<QPushButton*>(QStringLiteral("historyLoad"));
        QVERIFY(load);
        QTRY_COMPARE(panel->list()->topLevelItemCount(), 2);
        panel->list()->setCurrentItem(panel->list()->topLevelItem(1));
        QVERIFY(!load->isEnabled());
        // The line to make it again is the one quavella-cli history show prints.
        const CliRun shown =
            run_cli({"history", "show", std::to_string(panel->selected()->id)}, "", dir->path());
        QCOMPARE(shown.status, 0);
        const std::string head = "make it again:\n  ";
        const std::size_t at = shown.out.find(head);
        QVERIFY2(at != std::string::npos, shown.out.c_str());
        const std::string line = shown.out.substr(
            at + head.size(), shown.out.find('\n', at + head.size()) - at - head.size());
        QVERIFY2(panel->details()->toPlainText().split('\n').contains(QString::fromStdString(line)),
                 qPrintable(panel->details()->toPlainText() + "\n" + QString::fromStdString(line)));
        QCOMPARE(form->scoreWindow()->sheet()->score.melody.notes.size(),
                 panel->selected()->record.notes.size());

        click("suiButton4");
        QVERIFY(load->isEnabled());
        log.clear();
        QTest::mouseClick(load, Qt::LeftButton);
        // The player holds 1.mid (the second composition); the entry goes to 2.mid.
        QCOMPARE(log, (EventLog{"write:temp.mid", "write:2.mid", "sleep:2000", "open:2.mid"}));
        QCOMPARE(read_file("2.mid"), first);
        QCOMPARE(read_file("temp.mid"), first);
        QVERIFY(!button("suiButton1")->isEnabled());
        QVERIFY(button("suiButton2")->isEnabled());
        QVERIFY(!load->isEnabled());
        QCOMPARE(panel->list()->topLevelItemCount(), 2);  // loading records nothing
    }

    void loadAndDeleteLeaveTheFocusInTheList() {
        typeLyrics(kPoem);
        click("suiButton1");
        click("suiButton4");
        click("suiButton1");
        click("suiButton4");
        ScoreWindow* score = form->scoreWindow();
        QTRY_COMPARE(panel->list()->topLevelItemCount(), 2);
        QApplication::setActiveWindow(score);
        QVERIFY(QTest::qWaitForWindowActive(score));
        panel->list()->setFocus();
        QTest::keyClick(panel->list(), Qt::Key_Down);
        QVERIFY(panel->selected().has_value());
        // 载入 pressed from the keyboard: it is disabled then, and the focus is back in the
        // list, not on 删除.
        auto* load = panel->findChild<QPushButton*>(QStringLiteral("historyLoad"));
        load->setFocus(Qt::TabFocusReason);
        QTest::keyClick(load, Qt::Key_Space);
        QVERIFY(!load->isEnabled());
        QCOMPARE(QApplication::focusWidget(), panel->list());
        // So is 删除, once it deleted the entry.
        auto* remove = panel->findChild<QPushButton*>(QStringLiteral("historyDelete"));
        remove->setFocus(Qt::TabFocusReason);
        confirmer->answers = {true};
        QTest::keyClick(remove, Qt::Key_Space);
        QCOMPARE(allEntries().size(), std::size_t(1));
        QCOMPARE(QApplication::focusWidget(), panel->list());
    }

    void bySentenceIsOnePressUnderItsOwnLyrics() {
        // Another song first: the press must not read as a row of it.
        typeLyrics(kRiver);
        click("suiButton1");
        click("suiButton4");
        typeLyrics(kPoem);
        ScoreWindow* score = form->scoreWindow();
        score->findChild<QSpinBox*>(QStringLiteral("bestOfCount"))->setValue(8);
        score->findChild<QAction*>(QStringLiteral("bySentence"))->setChecked(true);
        score->findChild<QAction*>(QStringLiteral("composeBestOf"))->trigger();
        QCOMPARE(log.back(), std::string("show:提示:作曲完成"));

        // The eight candidates and the melody made from them, in one press.
        QTRY_COMPARE(allEntries().size(), std::size_t(1 + 8 + 1));
        const std::vector<history::Entry> entries = allEntries();
        const history::Entry& made = entries.front();
        QCOMPARE(made.record.midi, read_file(form->commands().play_file()));
        QVERIFY(!made.record.edits.empty());
        QCOMPARE(made.chosen, std::optional<std::int64_t>(made.id));
        // Shaped from the first candidate, which is in the press too.
        QVERIFY(made.record.origin.has_value());
        const auto first = std::find_if(entries.begin(), entries.end(),
                                        [&](const auto& e) { return e.id == *made.record.origin; });
        QVERIFY(first != entries.end());
        QCOMPARE(first->chosen, std::optional<std::int64_t>(made.id));
        QVERIFY(first->record.edits.empty());
        QCOMPARE(first->record.state, made.record.state);
        for (std::size_t k = 1; k <= 8; ++k) {
            QCOMPARE(entries[k].chosen, std::optional<std::int64_t>(made.id));
        }
        QVERIFY(!entries.back().chosen.has_value());  // the other song

        // Two rows: the press with its own first words and its mark, then the other song.
        QTreeWidget* list = panel->list();
        QTRY_COMPARE(list->topLevelItemCount(), 2);
        QTreeWidgetItem* press = list->topLevelItem(0);
        const QString text = press->text(0);
        QVERIFY2(!text.startsWith(QStringLiteral("↳")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("春眠不觉晓")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("按句择优 8 首")), qPrintable(text));
        QVERIFY(list->topLevelItem(1)->text(0).contains(QStringLiteral("白日依山尽")));
        // Opened: the melody made, marked, then the eight.
        press->setExpanded(true);
        QCOMPARE(press->childCount(), 9);
        QVERIFY(press->child(0)->text(0).startsWith(QStringLiteral("✓ 选中")));
    }

    void deleteAsksFirst() {
        typeLyrics(kPoem);
        click("suiButton1");
        click("suiButton4");
        click("suiButton1");
        auto* remove = panel->findChild<QPushButton*>(QStringLiteral("historyDelete"));
        QVERIFY(remove);
        QTRY_COMPARE(panel->list()->topLevelItemCount(), 2);
        panel->list()->setCurrentItem(panel->list()->topLevelItem(0));
        const std::int64_t newest = panel->selected()->id;

        log.clear();
        confirmer->answers = {false};
        QTest::mouseClick(remove, Qt::LeftButton);
        QCOMPARE(log.size(), std::size_t(1));
        QVERIFY(log[0].rfind("confirm:作品记录:删除作品记录 ", 0) == 0);
        QCOMPARE(allEntries().size(), std::size_t(2));

        confirmer->answers = {true};
        QTest::mouseClick(remove, Qt::LeftButton);
        const std::vector<history::Entry> left = allEntries();
        QCOMPARE(left.size(), std::size_t(1));
        QVERIFY(left[0].id != newest);
        QCOMPARE(panel->list()->topLevelItemCount(), 1);
    }

    void entriesOfAnotherWindowAppearWhenTheScoreWindowIsActivated() {
        typeLyrics(kPoem);
        click("suiButton1");
        QTRY_COMPARE(panel->list()->topLevelItemCount(), 1);

        // Another window's history connection records an entry.
        history::Entry mine = allEntries().front();
        mine.record.lyrics = "另一个窗口";
        std::int64_t id = 0;
        QCOMPARE(store->record(mine.record, id), history::Status::ok);
        QCOMPARE(panel->list()->topLevelItemCount(), 1);

        QEvent activate(QEvent::WindowActivate);
        QCoreApplication::sendEvent(form->scoreWindow(), &activate);
        QCOMPARE(panel->list()->topLevelItemCount(), 2);
        QVERIFY(panel->list()->topLevelItem(0)->text(0).contains(QStringLiteral("另一个窗口")));
    }

    // A shaped melody points at the row above it only when that row is its origin: one
    // without an origin (compose --edits --record), or naming no earlier entry, is a row
    // of its own; rows whose edit list compose would refuse are left out.
    void shapedRowsPointOnlyAtTheirOrigin() {
        const auto recorded = [this](const char* lyrics, const std::string& edits,
                                     std::optional<std::int64_t> origin) {
            history::Record r;
            r.lyrics = lyrics;
            r.tempo = 100;
            r.midi = "MThd";
            r.edits = edits;
            r.origin = origin;
            std::int64_t id = 0;
            QCOMPARE(store->record(r, id), history::Status::ok);
        };
        recorded("甲", "", std::nullopt);
        recorded("乙", "1+,fix", std::nullopt);
        recorded("丙", "1+", -7);
        recorded("丁", "2-h", 1);
        recorded("戊", "s9:1:1", std::nullopt);
        recorded("己", "fix,", 1);
        QTRY_COMPARE_WITH_TIMEOUT((panel->refresh(), panel->list()->topLevelItemCount()), 4, 5000);
        QStringList rows;
        for (int k = 0; k < 4; ++k) rows << panel->list()->topLevelItem(k)->text(0);
        QVERIFY2(rows[0].startsWith(QStringLiteral("修改  ")) && rows[0].contains("丙"),
                 qPrintable(rows[0]));
        QVERIFY2(rows[1].startsWith(QStringLiteral("修改  ")) && rows[1].contains("乙"),
                 qPrintable(rows[1]));
        QVERIFY2(rows[2].contains("甲") && !rows[2].contains(QStringLiteral("修改")),
                 qPrintable(rows[2]));
        QVERIFY2(rows[3].startsWith(QStringLiteral("↳ 修改自第 1 条")) && rows[3].contains("丁"),
                 qPrintable(rows[3]));
    }

private:
    /// Every entry of the history, the candidates of best-of presses included, newest first.
    std::vector<history::Entry> allEntries() const {
        std::vector<history::Summary> page;
        if (store->list(page, 0) != history::Status::ok) return {};
        std::set<std::int64_t, std::greater<>> ids;
        for (const history::Summary& s : page) {
            ids.insert(s.id);
            std::vector<history::Summary> candidates;
            if (store->list_candidates(s.id, candidates, 0) != history::Status::ok) return {};
            for (const history::Summary& c : candidates) ids.insert(c.id);
        }
        std::vector<history::Entry> entries;
        for (const std::int64_t id : ids) {
            history::Entry entry;
            if (store->get(id, entry) == history::Status::ok) entries.push_back(entry);
        }
        return entries;
    }
    /// The composition file quavella-cli writes from the record's state and settings,
    /// the lyrics in "lyrics.txt".
    std::string remade(const history::Record& r) const {
        const CliRun again =
            run_cli({"compose", "--state", history::state_text(r.state), "--speed",
                     std::to_string(r.speed_pos), "--mode", std::to_string(r.mode_pos), "--timbre",
                     std::to_string(r.timbre_pos), "-o", "again.mid", "lyrics.txt"},
                    "", dir->path());
        if (again.status != 0) return "quavella-cli failed: " + again.err;
        return read_file(dir->file("again.mid"));
    }
    QComboBox* combo(const char* name) const {
        return form->findChild<QComboBox*>(QString::fromLatin1(name));
    }
    QPushButton* button(const char* name) const {
        return form->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    void click(const char* name) const { QTest::mouseClick(button(name), Qt::LeftButton); }
    void typeLyrics(const QStringList& lines) const {
        auto* box = form->findChild<QPlainTextEdit*>(QStringLiteral("RichEdit1"));
        box->clear();
        box->setFocus();
        for (int i = 0; i < lines.size(); ++i) {
            if (i > 0) QTest::keyClick(box, Qt::Key_Return);
            typeText(box, lines[i]);
        }
    }

    std::unique_ptr<ScratchDir> dir;
    std::unique_ptr<EnvGuard> data_home;
    EventLog log;
    FakeConfirmer* confirmer = nullptr;
    std::unique_ptr<TForm1> form;
    HistoryPanel* panel = nullptr;
    std::unique_ptr<history::Store> store;
};

QTEST_MAIN(HistoryWindowTest)
#include "history_window_test.moc"
