#include "midi/midiio.h"

#include <benchmark/benchmark.h>

BENCHMARK_MAIN();
