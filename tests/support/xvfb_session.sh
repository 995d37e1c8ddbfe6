# Sourced by the scripts that run the real window under Xvfb. It makes a scratch
# folder and enters it, starts a virtual X server on a free display, sets what the
# window needs, and ends both (and the program, once its id is in $pid) when the
# script exits. Afterwards: $work, $xvfb, DISPLAY, and the window waits below.
# XVFB_SCREEN sets the screen size (1024x768 unless set).
export QT_QPA_PLATFORM=xcb
# xdotool matches window names (Chinese captions) as UTF-8 only in a UTF-8 locale;
# a fresh machine may start with none set.
export LC_ALL=C.UTF-8
export QUAVELLA_AUDIO_DRIVER=file

support=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
pid=
xvfb=
trap 'kill $pid $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"
# The window records its compositions: in this run's folder, never the user's history.
export XDG_DATA_HOME="$work/data"
# Its settings (where the score window was left) too.
export XDG_CONFIG_HOME="$work/config"

# shellcheck source=start_xvfb.sh
source "$support/start_xvfb.sh"
start_xvfb "${XVFB_SCREEN:-1024x768}" xvfb.log || exit 1

# Prints the id of the first visible window whose name matches the pattern, waiting up
# to 15 s for one; fails when none appears.
wait_for_window() {
  local found
  for _ in $(seq 1 1500); do
    found=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1 || true)
    [[ -n "$found" ]] && { echo "$found"; return 0; }
    sleep 0.01
  done
  return 1
}

# Waits up to 10 s until no visible window's name matches the pattern; fails otherwise.
wait_until_gone() {
  for _ in $(seq 1 1000); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.01
  done
  return 1
}
