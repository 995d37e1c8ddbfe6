#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (in build-fuzz/) and runs them.
#   scripts/fuzz.sh TARGET SECONDS   run one target for as long as asked
#   scripts/fuzz.sh --smoke          run every target a fixed number of times over its corpus
#   scripts/fuzz.sh --list           name the targets
# Seeds come from fuzz/corpus/TARGET; what a run finds new stays in
# build-fuzz/corpus/TARGET, and an input that breaks a property is written to
# build-fuzz/findings/ (keep it in fuzz/corpus/TARGET once the fault is mended).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=build-fuzz

# Targets and their smoke runs: each takes well under 20 s on one core.
declare -A smoke_runs=([lyrics]=60000 [compose]=4000 [midi_writer]=20000 [musicxml]=4000 [history]=600
  [tones]=8000 [edits]=3000)

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$root
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUAVELLA_FUZZ=ON \
  -DQUAVELLA_BUILD_BENCHMARKS=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

run() {  # run TARGET LIBFUZZER-OPTIONS...
  local target=$1; shift
  local work="$build/corpus/$target"
  mkdir -p "$work" "$build/findings"
  "$build/fuzz/${target}_fuzz" -artifact_prefix="$build/findings/${target}-" -print_final_stats=1 \
    "$@" "$work" "fuzz/corpus/$target"
}

case "${1:-}" in
  --list)
    printf '%s\n' "${!smoke_runs[@]}" | sort
    ;;
  --smoke)
    for target in $(printf '%s\n' "${!smoke_runs[@]}" | sort); do
      echo "fuzz smoke: $target, ${smoke_runs[$target]} runs"
      run "$target" -runs="${smoke_runs[$target]}" 2>"$build/$target-smoke.log" ||
        { tail -n 30 "$build/$target-smoke.log"; exit 1; }
      grep -E 'stat::number_of_executed_units|DONE' "$build/$target-smoke.log" | tail -n 2
    done
    ;;
  "")
    echo "usage: scripts/fuzz.sh TARGET SECONDS | --smoke | --list" >&2
    exit 2
    ;;
  *)
    target=$1
    seconds=${2:?"usage: scripts/fuzz.sh TARGET SECONDS"}
    [[ -n "${smoke_runs[$target]+x}" ]] || { echo "unknown target $target" >&2; exit 2; }
    run "$target" -max_total_time="$seconds"
    ;;
esac
