#!/usr/bin/env bash
# Measures where composed melodies end their lines: the sample lyrics and the classical
# quatrains the tests use, several seeds each (every speed and mode in turn).
#   bash scripts/measure-rhythm.sh [BUILD_DIR] [SEEDS]
# BUILD_DIR (default build, configured with -DQUAVELLA_BUILD_BENCHMARKS=ON) must hold
# tests/edit/rhythm_figures; SEEDS defaults to 10.
# Prints 节拍契合 (line ends on beat 1 or 3, a beat long) of single compositions, after
# 对齐节拍, after 对齐节拍 then 修正倒字 and the other way round, the notes 对齐节拍 changed
# as a share of the notes, and the ✗ it added (beat is 对齐节拍, fix 修正倒字, in the order
# applied). Targets: 100 % after the repair, no ✗ added.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
seeds=${2:-10}
figures=$build/tests/edit/rhythm_figures
[[ -x $figures ]] || { echo "measure-rhythm: build $figures first (--target rhythm_figures)" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# shellcheck source=scripts/measured-lyrics.sh
source "$root/scripts/measured-lyrics.sh"
measured_lyrics "$root" "$scratch"
echo "lyrics: ${#measured[@]} (${measured_quatrains} quatrains of the tests besides the samples), seeds: $seeds"
"$figures" "$seeds" "${measured[@]}"
