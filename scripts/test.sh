#!/usr/bin/env bash
# Installs what is missing, builds Quavella and runs every test: once in a
# normal build (then builds and checks the Debian package from it), once under
# AddressSanitizer and UndefinedBehaviorSanitizer; the player's tests (the soundfont
# loads on a background thread) also under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/check-format.sh

bash scripts/build.sh build -DQUAVELLA_BUILD_BENCHMARKS=ON
ctest --test-dir build --output-on-failure -j2
bash scripts/check-package.sh build

bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DQUAVELLA_SANITIZE=ON -DQUAVELLA_BUILD_BENCHMARKS=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j2

cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUAVELLA_SANITIZE_THREAD=ON \
  -DQUAVELLA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-tsan -j"$(nproc)" --target fluid_player_test
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/player/tsan.supp" \
  ctest --test-dir build-tsan -R '^(Rows/)?FluidPlayer' --output-on-failure -j2

# The fuzz targets, built with clang, each run a fixed number of times over its corpus.
bash scripts/fuzz.sh --smoke
