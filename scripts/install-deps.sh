#!/usr/bin/env bash
# Installs every Debian package Quavella needs to build, run and test.
# Runs as root on Debian 12; does nothing when all packages are present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang-format ccache
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libfluidsynth-dev fluidsynth libsndfile1-dev libpugixml-dev
  libsqlite3-dev
  fonts-wqy-microhei
  midicsv python3-mido poppler-utils
  python3 unicode-data
  xvfb xdotool imagemagick sox
  musescore3 poppler-utils
  desktop-file-utils appstream lintian librsvg2-bin
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # With its recommendations, FluidSynth brings Debian's default General MIDI
  # soundfont and registers it as the system default.
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
