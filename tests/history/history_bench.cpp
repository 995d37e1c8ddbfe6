// Speed of the history: recording one composition (one transaction, on the
// disk of the temporary directory), opening the list of a history of 10,000
// entries (open, count, the first page), as the score window does, and the
// same over a history of best-of presses, whose candidates a page passes over.
#include <benchmark/benchmark.h>

#include <map>
#include <utility>
#include <vector>

#include "history/store.h"
#include "history_fixtures.h"
#include "tests/support/files.h"

namespace quavella::history {
namespace {

void BM_RecordOneComposition(benchmark::State& state) {
    test::ScratchDir dir;
    Store store(dir.path() / "history.sqlite3");
    if (store.open() != Status::ok) state.SkipWithError(store.last_error().c_str());
    std::int64_t n = 0;
    std::int64_t id = 0;
    for (auto _ : state) {
        if (store.record(test::sample_record(n++, 600), id) != Status::ok) {
            state.SkipWithError(store.last_error().c_str());
            break;
        }
    }
}
BENCHMARK(BM_RecordOneComposition)->Unit(benchmark::kMicrosecond);

/// A history of `entries` compositions, filled once in one transaction per
/// 500 entries and kept for every benchmark of this run.
const std::filesystem::path& filled_history(int entries) {
    static test::ScratchDir dir;
    static std::map<int, std::filesystem::path> files;
    auto [it, made] = files.emplace(entries, dir.path() / (std::to_string(entries) + ".sqlite3"));
    if (made) {
        Store store(it->second);
        std::int64_t id = 0;
        for (int n = 0; n < entries; ++n) store.record(test::sample_record(n, 600), id);
    }
    return it->second;
}

void BM_OpenListOf10000(benchmark::State& state) {
    const std::filesystem::path& file = filled_history(10000);
    for (auto _ : state) {
        Store store(file);
        std::int64_t n = 0;
        std::vector<Summary> page;
        if (store.count(n) != Status::ok || store.list(page, 50) != Status::ok || n != 10000) {
            state.SkipWithError("the history could not be listed");
            break;
        }
        benchmark::DoNotOptimize(page.data());
    }
}
BENCHMARK(BM_OpenListOf10000)->Unit(benchmark::kMillisecond);

/// For comparison: every entry listed, page by page, as scrolling to the end does.
void BM_ListAllPagesOf10000(benchmark::State& state) {
    const std::filesystem::path& file = filled_history(10000);
    Store store(file);
    for (auto _ : state) {
        std::vector<Summary> page;
        std::int64_t before = std::numeric_limits<std::int64_t>::max();
        std::size_t listed = 0;
        do {
            store.list(page, 100, before);
            if (!page.empty()) before = page.back().id;
            listed += page.size();
        } while (page.size() == 100);
        if (listed != 10000) state.SkipWithError("not every entry was listed");
    }
}
BENCHMARK(BM_ListAllPagesOf10000)->Unit(benchmark::kMillisecond);

/// A history of `presses` best-of presses of `candidates` each, filled once per run.
const std::filesystem::path& pressed_history(int presses, int candidates) {
    static test::ScratchDir dir;
    static std::map<std::pair<int, int>, std::filesystem::path> files;
    auto [it, made] = files.emplace(
        std::pair{presses, candidates},
        dir.path() / (std::to_string(presses) + "x" + std::to_string(candidates) + ".sqlite3"));
    if (made) {
        Store store(it->second);
        std::vector<Record> press;
        std::vector<std::int64_t> ids;
        for (int p = 0; p < presses; ++p) {
            press.clear();
            for (int c = 0; c < candidates; ++c) press.push_back(test::sample_record(c, 600));
            store.record(press, ids);
        }
    }
    return it->second;
}

/// Opening the list over presses: open, count, the first page of 100 presses, and
/// the candidates of the first press, as opening its row reads them.
void BM_OpenListOfPresses(benchmark::State& state) {
    const int presses = static_cast<int>(state.range(0));
    const int candidates = static_cast<int>(state.range(1));
    const std::filesystem::path& file = pressed_history(presses, candidates);
    for (auto _ : state) {
        Store store(file);
        std::int64_t n = 0;
        std::vector<Summary> page;
        std::vector<Summary> opened;
        if (store.count(n) != Status::ok || store.list(page, 100) != Status::ok ||
            page.size() != 100 || page.front().candidates != candidates ||
            store.list_candidates(page.front().id, opened, 100) != Status::ok) {
            state.SkipWithError("the history could not be listed");
            break;
        }
        benchmark::DoNotOptimize(opened.data());
    }
}
BENCHMARK(BM_OpenListOfPresses)
    ->Args({1000, 200})
    ->Args({10000, 20})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quavella::history

BENCHMARK_MAIN();
