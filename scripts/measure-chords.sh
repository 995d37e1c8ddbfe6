#!/usr/bin/env bash
# Measures the chords the model chooses under composed melodies: the sample lyrics and
# the classical quatrains the tests use, every mode, several seeds each.
#   bash scripts/measure-chords.sh [BUILD_DIR] [SEEDS]
# BUILD_DIR (default build) must hold tests/harmony/chord_figures; SEEDS defaults to 5.
# Targets: strong-beat chord tones >= 0.90, clash <= 2 % (0 % with five tones),
# CTnCTR >= 0.90, PCS >= 0.50, entropy 1.2-2.0, 0.7-1.5 changes a bar, no chord over
# four bars, the final chord on the final note and every lock kept.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
seeds=${2:-5}
figures=$build/tests/harmony/chord_figures
[[ -x $figures ]] || { echo "measure-chords: build $figures first (--target chord_figures)" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# shellcheck source=scripts/measured-lyrics.sh
source "$root/scripts/measured-lyrics.sh"
measured_lyrics "$root" "$scratch"
echo "lyrics: ${#measured[@]} (${measured_quatrains} quatrains of the tests besides the samples), seeds: $seeds"
"$figures" "$seeds" "${measured[@]}"
