#!/usr/bin/env bash
# After `apt-get install ./build/quavella_*.deb`: starts the installed program the way the
# desktop menu does (the menu entry's command, from the home folder, under a virtual X
# server), and checks that its window appears with its icon, that it works in its own
# folder, and that a second start from the menu brings it forward instead of opening
# another window. Keeps a screenshot. Not part of the test command: it needs the package
# installed. Usage: scripts/check-installed.sh [SCREENSHOT.png]   (default build/installed.png)
set -euo pipefail
shot=$(realpath -m "${1:-build/installed.png}")
entry=/usr/share/applications/org.example.quavella.desktop
[[ -f $entry ]] || { echo "not installed: $entry missing"; exit 1; }
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool"; exit 1; }
done

work=$(mktemp -d)
xvfb=
pid=
trap 'kill $pid $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" LC_ALL=C.UTF-8
unset XDG_CONFIG_HOME XDG_DATA_HOME QT_QPA_PLATFORM
mkdir -p "$HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export QUAVELLA_AUDIO_DRIVER=file QUAVELLA_AUDIO_FILE="$work/out.wav"

# shellcheck source=../tests/support/start_xvfb.sh
source "$(dirname "$0")/../tests/support/start_xvfb.sh"
start_xvfb 1024x768 "$work/xvfb.log" || exit 1

# The menu entry's command, as a desktop runs it: gtk-launch reads the entry itself.
command=$(sed -n '/^\[Desktop Entry\]/,/^\[/{s/^Exec=//p}' "$entry")
echo "menu entry runs: $command"
launch() {
  if command -v gtk-launch >/dev/null; then
    (cd "$HOME" && gtk-launch org.example.quavella)
  else
    (cd "$HOME" && eval "$command" &)
  fi
}
launch
window=
for _ in $(seq 1 1000); do
  window=$(xdotool search --onlyvisible --name Quavella 2>/dev/null | head -n1 || true)
  [[ -n $window ]] && break
  sleep 0.01
done
[[ -n $window ]] || { echo "FAIL: no window within 10 s"; exit 1; }
pid=$(xdotool getwindowpid "$window")
echo "window $window of process $pid: $(xdotool getwindowname "$window")"
cwd=$(readlink "/proc/$pid/cwd")
[[ $cwd == "$HOME/.local/share/quavella/work" ]] || { echo "FAIL: works in $cwd"; exit 1; }
echo "working folder: $cwd"
if command -v xprop >/dev/null; then
  grep -q 'Icon (' <<<"$(xprop -id "$window" _NET_WM_ICON)" || { echo "FAIL: window has no icon"; exit 1; }
  echo "window icon: set from the installed theme"
fi

launch
sleep 2
count=$(xdotool search --onlyvisible --name Quavella | wc -l)
((count == 1)) || { echo "FAIL: $count windows after a second start"; exit 1; }
kill -0 "$pid" || { echo "FAIL: the first window ended"; exit 1; }
echo "second start from the menu: still one window"

sleep 0.5
import -window root "$shot"
echo "screenshot: $shot"
echo "installed program OK"
