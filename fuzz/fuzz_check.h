// The check of the fuzz targets: a failed property prints what broke and aborts,
// so libFuzzer keeps the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond, ...)                                                                 \
    do {                                                                                      \
        if (!(cond)) {                                                                        \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::fprintf(stderr, __VA_ARGS__);                                                \
            std::fputc('\n', stderr);                                                         \
            std::abort();                                                                     \
        }                                                                                     \
    } while (0)
