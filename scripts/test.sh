#!/usr/bin/env bash
# Installs what is missing, builds Quavella and runs every test once, in one build
# under AddressSanitizer and UndefinedBehaviorSanitizer with warnings as errors.
# The release build compiles the shipped programs only, for the package check and
# quavella-cli's runs under resource limits; the
# player's tests (the soundfont loads on a background thread) run again under
# ThreadSanitizer, and each fuzz target runs over its corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
# Each step says how long it took, so a slow run shows where its time went.
step_start=$SECONDS
step() {
  echo "== $1 ($((SECONDS - step_start)) s since the start)"
}
step "installing what is missing"
bash scripts/install-deps.sh
bash scripts/check-format.sh
python3 scripts/check-layers.py
python3 scripts/check-readme-names.py

step "building under the sanitizers"
# -O1 keeps the sanitised tests quick without hiding the line numbers of a report.
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
  -DQUAVELLA_SANITIZE=ON -DQUAVELLA_WERROR=ON -DQUAVELLA_BUILD_BENCHMARKS=OFF
step "running every test"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j2

step "building the release programs and checking the package"
bash scripts/build.sh build -DBUILD_TESTING=OFF -DQUAVELLA_WERROR=ON
bash scripts/check-package.sh build
step "quavella-cli under resource limits"
# quavella-cli under resource limits, the address space included (no sanitizer here).
bash tests/cli/limits.sh build/cli/quavella-cli

step "the player under ThreadSanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUAVELLA_SANITIZE_THREAD=ON \
  -DQUAVELLA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-tsan -j"$(nproc)" --target fluid_player_test
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/player/tsan.supp" \
  ctest --test-dir build-tsan -R '^(Rows/)?FluidPlayer' --output-on-failure -j2

step "the fuzz targets"
# The fuzz targets, built with clang, each run a fixed number of times over its corpus.
bash scripts/fuzz.sh --smoke
step "done"
