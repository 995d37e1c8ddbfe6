#!/usr/bin/env bash
# The real program started as the desktop menu and a terminal start it, offscreen: help and
# version without a display, a refused command line, the menu's working folder created and
# entered, a second start that brings the open window forward and ends, a terminal start in
# another folder with a window of its own, --new-instance beside an open window, a stopped
# window that a later start does not claim to have reached, and SIGTERM removing the socket.
# The menu's folders are made 0700 whatever the umask.
# Usage: desktop_start.sh PROGRAM
set -euo pipefail

program=$(realpath "$1")
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT

export QT_QPA_PLATFORM=offscreen
export QUAVELLA_AUDIO_DRIVER=file QUAVELLA_AUDIO_FILE="$work/out.wav"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
unset XDG_CONFIG_HOME XDG_DATA_HOME
mkdir -p "$HOME/.config" "$work/terminal"
mkdir -m 700 "$XDG_RUNTIME_DIR"
# shellcheck disable=SC2016 # $HOME is for the file's reader, not for this shell
printf '# written by xdg-user-dirs-update\nXDG_MUSIC_DIR="$HOME/音乐"\n' >"$HOME/.config/user-dirs.dirs"

fail() {
  echo "FAIL: $*"
  for log in "$work"/*.log; do [[ -e $log ]] && { echo "--- $log"; cat "$log"; }; done
  exit 1
}
shopt -s nullglob
sockets() {
  local found=("$XDG_RUNTIME_DIR"/*.socket)
  echo ${#found[@]}
}
wait_sockets() {
  local deadline=$((SECONDS + 10))
  until (($(sockets) >= $1)); do
    ((SECONDS < deadline)) || fail "expected $1 window sockets within 10 s, found $(sockets)"
    sleep 0.02
  done
}

# Waits until process $1 works in folder $2 (a slow start, under a sanitizer, takes seconds).
wait_cwd() {
  local deadline=$((SECONDS + 10))
  until [[ $(readlink "/proc/$1/cwd" 2>/dev/null) == "$2" ]]; do
    kill -0 "$1" 2>/dev/null || fail "the window working in $2 ended"
    ((SECONDS < deadline)) || fail "process works in $(readlink "/proc/$1/cwd"), not in $2"
    sleep 0.02
  done
}

# Help and version need no display.
usage=$(env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY "$program" --help)
grep -q -- '--new-instance' <<<"$usage" ||
  fail "--help does not print the usage"
version=$(env -u QT_QPA_PLATFORM -u DISPLAY "$program" --version)
[[ $version =~ ^quavella\ [0-9]+\.[0-9]+ ]] || fail "--version printed '$version'"

# A refused command line: status 2 and the usage on standard error.
status=0
"$program" --from-menu --bogus 2>"$work/bogus.log" || status=$?
[[ $status == 2 ]] || fail "--bogus ended with status $status, expected 2"
grep -q 'unknown option: --bogus' "$work/bogus.log" || fail "no reason given for --bogus"
[[ ! -e "$HOME/音乐" ]] || fail "a refused command line created the working folder"

# From the menu (current directory: the home folder), the window works in a folder of its own,
# made for its user alone even under umask 000.
(cd "$HOME" && umask 000 && exec "$program" --from-menu 2>"$work/menu.log") &
menu=$!
pids+=("$menu")
wait_sockets 1
wait_cwd "$menu" "$HOME/音乐/Quavella"
for made in "$HOME/音乐" "$HOME/音乐/Quavella"; do
  [[ $(stat -c %a "$made") == 700 ]] || fail "$made was made $(stat -c %a "$made"), not 700"
done

# Started again from the menu: the open window is asked to come forward, the start ends.
status=0
(cd "$HOME" && timeout 10 "$program" --from-menu) || status=$?
[[ $status == 0 ]] || fail "second menu start ended with status $status"
kill -0 "$menu" 2>/dev/null || fail "the open window ended"
# The offscreen platform answers a raise() with this notice: the request reached the window.
deadline=$((SECONDS + 10))
until grep -q 'does not support raise' "$work/menu.log" || ((SECONDS >= deadline)); do
  sleep 0.02
done
grep -q 'does not support raise' "$work/menu.log" || fail "the open window was not raised"

# From a terminal in another folder: a window of its own, working where it was started.
(cd "$work/terminal" && exec "$program" 2>"$work/terminal.log") &
terminal=$!
pids+=("$terminal")
wait_sockets 2
[[ $(readlink "/proc/$terminal/cwd") == "$work/terminal" ]] || fail "terminal start moved"

# --new-instance beside the menu window: a second window on the same folder.
(cd "$HOME" && exec "$program" --from-menu --new-instance 2>"$work/second.log") &
second=$!
pids+=("$second")
wait_cwd "$second" "$HOME/音乐/Quavella"
sleep 1
kill -0 "$second" 2>/dev/null || fail "--new-instance did not keep its window"
(($(sockets) == 2)) || fail "--new-instance took over the open window's socket"
# A stopped window cannot answer: the later start says so and fails instead of claiming it.
kill -STOP "$terminal"
status=0
(cd "$work/terminal" && timeout 20 "$program" 2>"$work/stopped.log") || status=$?
kill -CONT "$terminal"
[[ $status == 1 ]] || fail "a start beside a stopped window ended with status $status, expected 1"
grep -q 'does not answer' "$work/stopped.log" || fail "no reason given beside a stopped window"
# Ended by SIGTERM, a window leaves no socket behind, and ends by that signal.
kill -TERM "$terminal"
status=0
wait "$terminal" 2>/dev/null || status=$?
(($(sockets) == 1)) || fail "SIGTERM left the window's socket behind"
((status == 128 + 15)) || fail "the window ended by SIGTERM with status $status"
echo "desktop start OK"
