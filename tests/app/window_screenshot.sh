#!/usr/bin/env bash
# Starts the real program under Xvfb, waits for its window, checks its size,
# takes a screenshot, checks that it is not blank, composes from typed lyrics
# with the FluidSynth player rendering to a WAV file, and exits through "退出".
# Usage: window_screenshot.sh PROGRAM SCREENSHOT.png
set -euo pipefail

program=$1
shot=$2
export QT_QPA_PLATFORM=xcb
# xdotool matches window names (Chinese captions) as UTF-8 only in a UTF-8 locale;
# a fresh machine may start with none set.
export LC_ALL=C.UTF-8
export QUAVELLA_AUDIO_DRIVER=file

work=$(mktemp -d)
pid=
xvfb=
trap 'kill $pid $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"

# A virtual X server on a free display. Xvfb writes the display number to the
# given descriptor only once it accepts connections, so the program never races it.
mkfifo display.fifo
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>display.fifo 2>xvfb.log &
xvfb=$!
read -r -t 20 number <display.fifo || { echo "Xvfb did not start"; cat xvfb.log; exit 1; }
export DISPLAY=":$number"
export QUAVELLA_AUDIO_FILE="$work/out.wav"

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

# Type lyrics into the lyric box and press "生成主旋律" (suiButton1 at 601,173).
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove $((X + 200)) $((Y + 300)) click 1
xdotool type --delay 2 "Spring sleep, no dawn. Birds sing everywhere. Night wind, rain. Flowers fall."
xdotool mousemove $((X + 641)) $((Y + 186)) click 1
message=
for _ in $(seq 1 1000); do
  message=$(xdotool search --onlyvisible --name '^(提示|quavella)$' 2>/dev/null | head -n1 || true)
  [[ -n "$message" ]] && break
  sleep 0.01
done
[[ -n "$message" ]] || { echo "no message after composing"; exit 1; }
import -window root "${shot%.png}-composed.png"
[[ "$(xdotool getwindowname "$message")" == "提示" ]] || { echo "compose ended with an error box"; exit 1; }
[[ -s 2.mid && ! -e 1.mid ]] || { echo "2.mid was not written"; exit 1; }
cmp -s temp.mid 2.mid || { echo "2.mid differs from temp.mid"; exit 1; }
midicsv 2.mid | grep -q '^0, 0, Header, 1, 2, 120$' || { echo "2.mid is not a two-track file"; exit 1; }
echo "composed: $(midicsv 2.mid | grep -c Note_on_c) notes"
xdotool windowfocus --sync "$message" key Return
for _ in $(seq 1 300); do
  xdotool search --onlyvisible --name '^提示$' >/dev/null 2>&1 || break
  sleep 0.01
done

# "退出" (suiButton8 at 601,437, 80x27 in the window) ends the program normally.
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
