#!/usr/bin/env bash
# Installs every Debian package Quavella needs to build, run and test.
# Runs as root on Debian 12; does nothing when all packages are present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang-format ccache
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-translations-l10n libfluidsynth-dev fluidsynth fluid-soundfont-gm libsndfile1-dev libpugixml-dev
  libsqlite3-dev
  fonts-wqy-microhei
  midicsv python3-mido poppler-utils timidity
  python3 unicode-data rime-data-terra-pinyin opencc fortunes-zh man-db
  xvfb xdotool xclip imagemagick sox xdg-utils
  dash zsh fish
  musescore3
  desktop-file-utils appstream lintian librsvg2-bin
)

missing=()
for p in "${packages[@]}"; do
  if [[ $(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) != *"install ok installed"* ]]; then
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

# MuseScore's package registers its own General MIDI soundfont as an alternative of
# the same priority as FluidR3_GM, so which one becomes the default depended on the
# order of installation. Keep FluidR3_GM, which loads in a tenth of the time, while the
# choice is still automatic.
for alt in default-GM.sf2 default-GM.sf3; do
  if [[ -e /usr/share/sounds/sf2/FluidR3_GM.sf2 ]] &&
     grep -qx 'Status: auto' <<<"$(update-alternatives --query "$alt" 2>/dev/null)"; then
    update-alternatives --set "$alt" /usr/share/sounds/sf2/FluidR3_GM.sf2 >/dev/null
  fi
done
