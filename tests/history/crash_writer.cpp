// Test helper: records compositions into the history given as the first
// argument until it is killed, numbering them from the second argument on (a
// multiple of 4): N, N+1 and N+2 in one call (as a best-of composition records its
// candidates), N+3 alone, and so on. After each record call that succeeded it
// prints "N ID" per composition and flushes, so every line the test reads names
// a composition the store reported as recorded.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "history/store.h"
#include "history_fixtures.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: history_crash_writer DB FIRST\n");
        return 2;
    }
    quavella::history::Store store(argv[1]);
    for (long long n = std::atoll(argv[2]);;) {
        const long long count = n % 4 == 0 ? 3 : 1;
        std::vector<quavella::history::Record> records;
        for (long long k = n; k < n + count; ++k) {
            records.push_back(quavella::test::sample_record(k, 4096 + (k % 5) * 4096));
        }
        std::vector<std::int64_t> ids;
        const auto status = store.record(records, ids);
        if (status != quavella::history::Status::ok) {
            std::fprintf(stderr, "record %lld: %s\n", n, store.last_error().c_str());
            return 1;
        }
        for (const std::int64_t id : ids)
            std::printf("%lld %lld\n", n++, static_cast<long long>(id));
        std::fflush(stdout);
    }
}
