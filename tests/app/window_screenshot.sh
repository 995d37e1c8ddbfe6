#!/usr/bin/env bash
# Starts the real program under Xvfb, waits for its window, checks its size,
# takes a screenshot, checks that it is not blank, and exits through "退出".
# Usage: window_screenshot.sh PROGRAM SCREENSHOT.png
set -euo pipefail

if [[ "${1:-}" != --inner ]]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inner "$@"
fi
program=$2
shot=$3
export QT_QPA_PLATFORM=xcb

work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"

start=$(date +%s%N)
"$program" &
pid=$!

window=
for _ in $(seq 1 500); do
  window=$(xdotool search --onlyvisible --name Quavella 2>/dev/null | head -n1 || true)
  [[ -n "$window" ]] && break
  kill -0 "$pid" 2>/dev/null || { echo "program ended before its window appeared"; exit 1; }
  sleep 0.01
done
[[ -n "$window" ]] || { echo "no window within 5 s"; exit 1; }
echo "window visible after $((($(date +%s%N) - start) / 1000000)) ms"

geometry=$(xdotool getwindowgeometry "$window")
echo "$geometry"
grep -q "Geometry: 729x515" <<<"$geometry" || { echo "window is not 729x515"; exit 1; }
title=$(xdotool getwindowname "$window")
[[ "$title" == "Quavella单机版V2.0" ]] || { echo "unexpected title: $title"; exit 1; }

sleep 0.5  # let the first paint finish
import -window root "$shot"
spread=$(convert "$shot" -format '%[fx:standard_deviation]' info:)
echo "screenshot $shot, standard deviation $spread"
awk -v s="$spread" 'BEGIN { exit !(s > 0.05) }' || { echo "screenshot looks blank"; exit 1; }

# "退出" (suiButton8 at 601,437, 80x27 in the window) ends the program normally.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove $((X + 641)) $((Y + 450)) click 1
for _ in $(seq 1 300); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.01
done
if kill -0 "$pid" 2>/dev/null; then
  echo "program still running after 退出"
  exit 1
fi
wait "$pid"
echo "program ended with status $?"
