// Speed of the score window, offscreen: one paint of the view for a four-line lyric
// (target under 5 ms) and for 5,000 characters scrolled half-way with a note marked
// (the rows in sight only, under 10 ms); a new width laid out for 5,000 characters;
// the time from the composition's arrival ("作曲完成" acknowledged) until the
// window is shown and painted (under 50 ms); and opening the history list
// 作品记录 on 10,000 entries (under 100 ms).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QScrollBar>
#include <QTreeWidget>
#include <QWindow>
#include <filesystem>
#include <string>

#include "app/history/history_panel.h"
#include "app/score/score_view.h"
#include "app/windows/score_window.h"
#include "composer/draws.h"
#include "composer/message_sink.h"
#include "composition/composition.h"
#include "history/store.h"
#include "lyrics/gbk_text.h"
#include "tests/history/history_fixtures.h"
#include "tests/support/files.h"

namespace {

using namespace quavella;

class IdlePlayer final : public MediaPlayer {
public:
    void open(const std::string&) override {}
    void open_melody(const std::string&, std::string_view) override {}
    void play() override {}
    void play_from(int) override {}
    void pause() override {}
    void stop() override {}
    void close() override {}
    std::optional<int> position_ticks() const override { return std::nullopt; }
};

const char* const kFourLines = "春眠不觉晓，处处闻啼鸟。夜来风雨声，花落知多少。";

/// The four lines repeated up to `chars` characters (punctuation included), in GBK.
std::string lyrics_of(std::size_t chars) {
    const std::string one = utf8_to_gbk(kFourLines).gbk;  // 24 characters, 48 bytes
    std::string s;
    while (s.size() < chars * 2) s += one;
    s.resize(chars * 2);
    return s;
}

/// A composition of `chars` characters, as the compose command makes it.
CompositionPtr composition(std::size_t chars) {
    auto source = std::make_shared<CompositionSource>();
    source->gbk_text = lyrics_of(chars);
    Generators draws(42);
    QuietSink sink;
    return compose(source, draws, sink).composition;
}

/// Repaints the view now, as a window system's expose would.
void run_paint(benchmark::State& state, std::size_t chars) {
    ScoreView view;
    view.resize(780, 560);
    view.setSheet(std::make_shared<const ScoreSheet>(sheet_of(*composition(chars))));
    view.show();
    QApplication::processEvents();
    QScrollBar* bar = view.verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    const auto [first, end] =
        view.layout()->rows_between(bar->value(), bar->value() + view.viewport()->height());
    // A note in sight is marked, as while playing.
    const auto notes = static_cast<int>(view.layout()->sheet().score.melody.notes.size());
    for (int n = 0; n < notes; ++n) {
        if (view.layout()->row_of_note(n) == first + 1) {
            view.setHighlight(n);
            break;
        }
    }
    for (auto _ : state) {
        view.viewport()->repaint();
    }
    state.counters["rows"] = static_cast<double>(view.layout()->rows().size());
    state.counters["rows_painted"] = static_cast<double>(end - first);
}

void BM_PaintFourLines(benchmark::State& state) { run_paint(state, 24); }
void BM_Paint5000Chars(benchmark::State& state) { run_paint(state, 5000); }

void BM_Relayout5000Chars(benchmark::State& state) {
    ScoreLayout layout(std::make_shared<const ScoreSheet>(sheet_of(*composition(5000))));
    double width = 780;
    for (auto _ : state) {
        layout.set_width(width);
        width = width == 780 ? 781 : 780;
        benchmark::DoNotOptimize(layout.rows().data());
    }
}

/// From the listener's call to the window shown and painted, hidden again between runs.
void run_shown(benchmark::State& state, std::size_t chars) {
    IdlePlayer player;
    ScoreWindow window(player, nullptr);
    const CompositionPtr done = composition(chars);
    for (auto _ : state) {
        window.composed(done);
        QApplication::processEvents();
        if (!window.windowHandle() || !window.windowHandle()->isExposed()) {
            state.SkipWithError("the score window was not exposed");
            break;
        }
        window.view()->viewport()->repaint();
        state.PauseTiming();
        window.hide();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}

void BM_ComposedToShownFourLines(benchmark::State& state) { run_shown(state, 24); }
void BM_ComposedToShown5000Chars(benchmark::State& state) { run_shown(state, 5000); }

/// One edit in the score window (a note a semitone up, then down again): the edit
/// applied, the melody graded again, the score laid out again and painted.
void run_edit(benchmark::State& state, std::size_t chars) {
    IdlePlayer player;
    ScoreWindow window(player, nullptr);
    window.composed(composition(chars));
    QApplication::processEvents();
    const int middle = static_cast<int>(window.editing()->melody().notes.size() / 2);
    int direction = 1;
    for (auto _ : state) {
        if (!window.applyEdit(edit::Edit(edit::EditKind::semitone, middle, direction))) {
            state.SkipWithError("the edit was refused");
            break;
        }
        direction = -direction;
        window.view()->viewport()->repaint();
    }
}

void BM_EditFourLines(benchmark::State& state) { run_edit(state, 24); }
void BM_Edit5000Chars(benchmark::State& state) { run_edit(state, 5000); }

/// A history of 10,000 compositions, filled once for the run.
const std::filesystem::path& history_of_10000() {
    static const test::ScratchDir dir;
    static const std::filesystem::path file = [] {
        const std::filesystem::path path = dir.path() / "history.sqlite3";
        history::Store store(path);
        std::int64_t id = 0;
        for (int n = 0; n < 10000; ++n) store.record(test::sample_record(n, 600), id);
        return path;
    }();
    return file;
}

/// Opening 作品记录 on a history of 10,000 entries: the history opened, the score
/// window made with its list filled (the first page) and shown.
void BM_HistoryListOf10000(benchmark::State& state) {
    const std::filesystem::path& file = history_of_10000();
    IdlePlayer player;
    for (auto _ : state) {
        history::Store store(file);
        ScoreWindow window(player, nullptr);
        HistoryPanel* panel = window.attachHistory(&store, nullptr);
        window.show();
        QApplication::processEvents();
        if (panel->list()->topLevelItemCount() != HistoryPanel::kPageSize) {
            state.SkipWithError("the list's first page was not filled");
            break;
        }
        state.PauseTiming();
        window.hide();
        state.ResumeTiming();
    }
}

BENCHMARK(BM_PaintFourLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Paint5000Chars)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EditFourLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Edit5000Chars)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Relayout5000Chars)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComposedToShownFourLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComposedToShown5000Chars)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistoryListOf10000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
