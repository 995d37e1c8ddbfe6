// Test helper: records compositions into the history given as the first
// argument until it is killed, numbering them from the second argument on.
// After each record call that succeeded it prints "N ID" and flushes, so every
// line the test reads names a composition the store reported as recorded.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "history/store.h"
#include "history_fixtures.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: history_crash_writer DB FIRST\n");
        return 2;
    }
    quavella::history::Store store(argv[1]);
    for (long long n = std::atoll(argv[2]);; ++n) {
        const auto record = quavella::test::sample_record(n, 4096 + (n % 5) * 4096);
        std::int64_t id = 0;
        const auto status = store.record(record, id);
        if (status != quavella::history::Status::ok) {
            std::fprintf(stderr, "record %lld: %s\n", n, store.last_error().c_str());
            return 1;
        }
        std::printf("%lld %lld\n", n, static_cast<long long>(id));
        std::fflush(stdout);
    }
}
