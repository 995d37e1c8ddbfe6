#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (in build-fuzz/) and runs them.
#   scripts/fuzz.sh TARGET SECONDS   run one target for as long as asked
#   scripts/fuzz.sh --smoke          run every target a fixed number of times over its corpus,
#                                    then the lyric and compose targets on inputs up to 1 MB
#   scripts/fuzz.sh --list           name the targets
#   scripts/fuzz.sh --help           this text (builds nothing)
# Seeds come from fuzz/corpus/TARGET; what a run finds new stays in
# build-fuzz/corpus/TARGET, and an input that breaks a property is written to
# build-fuzz/findings/ (keep it in fuzz/corpus/TARGET once the fault is mended).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=build-fuzz

# Targets and their smoke runs: each takes well under 20 s on one core.
declare -A smoke_runs=([lyrics]=60000 [compose]=4000 [midi_writer]=20000 [musicxml]=4000 [history]=600
  [tones]=8000 [edits]=3000 [cli_args]=20000 [user_dirs]=20000 [smf_check]=20000 [score]=2000)
# Large inputs, up to a megabyte, where size could matter: runs of each, from a seed of
# this size (compose's is the longest lyric the program composes, after the request's
# 11 bytes of settings and seed).
declare -A large_runs=([lyrics]=60 [compose]=20)
declare -A large_seed=([lyrics]=1048576 [compose]=$((11 + 65536)))

usage() { sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; }

case "${1:-}" in
  --help | -h)
    usage
    exit 0
    ;;
  --list)
    printf '%s\n' "${!smoke_runs[@]}" | sort
    exit 0
    ;;
  "")
    usage >&2
    exit 2
    ;;
esac

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

case "$1" in
  --smoke)
    for target in $(printf '%s\n' "${!smoke_runs[@]}" | sort); do
      echo "fuzz smoke: $target, ${smoke_runs[$target]} runs"
      # A fixed seed: from a clean checkout the test command makes the same inputs each
      # time (a run of one target, below, draws its own).
      run "$target" -seed=1 -runs="${smoke_runs[$target]}" 2>"$build/$target-smoke.log" ||
        { tail -n 30 "$build/$target-smoke.log"; exit 1; }
      grep -E 'stat::number_of_executed_units|DONE' "$build/$target-smoke.log" | tail -n 2
    done
    for target in $(printf '%s\n' "${!large_runs[@]}" | sort); do
      echo "fuzz smoke: $target, ${large_runs[$target]} runs of up to 1 MB"
      # The large seed: the target's seeds one after another.
      large="$build/large/$target"
      mkdir -p "$large"
      { while cat fuzz/corpus/"$target"/*; do :; done | head -c "${large_seed[$target]}" \
          >"$large/seed"; } || true
      run "$target" -seed=1 -runs="${large_runs[$target]}" -max_len=1048576 -len_control=0 "$large" \
        2>"$build/$target-large.log" || { tail -n 30 "$build/$target-large.log"; exit 1; }
      grep -E 'stat::number_of_executed_units|DONE' "$build/$target-large.log" | tail -n 2
    done
    ;;
  *)
    target=$1
    seconds=${2:?"usage: scripts/fuzz.sh TARGET SECONDS"}
    [[ -n "${smoke_runs[$target]+x}" ]] || { echo "unknown target $target" >&2; exit 2; }
    run "$target" -max_total_time="$seconds"
    ;;
esac
