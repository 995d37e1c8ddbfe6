#!/usr/bin/env bash
# Starts the real program under Xvfb, waits for its window, checks its size,
# takes a screenshot, checks that it is not blank, composes from typed lyrics
# with the FluidSynth player rendering to a WAV file, composes again from a
# four-line Chinese lyric pasted through the clipboard, keeps score.png of the
# score window "乐谱" beside the screenshot, presses 修正倒字 (F6) there and keeps
# score-fixed.png, and exits through "退出".
# Usage: window_screenshot.sh PROGRAM SCREENSHOT.png
set -euo pipefail

program=$1
shot=$2
# shellcheck source=../support/xvfb_session.sh
source "$(dirname "$0")/../support/xvfb_session.sh"
export QUAVELLA_AUDIO_FILE="$work/out.wav"

start=$(date +%s%N)
"$program" &
pid=$!

window=
for _ in $(seq 1 2000); do
  window=$(xdotool search --onlyvisible --name Quavella 2>/dev/null | head -n1 || true)
  [[ -n "$window" ]] && break
  kill -0 "$pid" 2>/dev/null || { echo "program ended before its window appeared"; exit 1; }
  sleep 0.01
done
[[ -n "$window" ]] || { echo "no window within 20 s"; exit 1; }
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
message=$(wait_for_window '^(提示|quavella)$') || { echo "no message after composing"; exit 1; }
import -window root "${shot%.png}-composed.png"
[[ "$(xdotool getwindowname "$message")" == "提示" ]] || { echo "compose ended with an error box"; exit 1; }
[[ -s 2.mid && ! -e 1.mid ]] || { echo "2.mid was not written"; exit 1; }
cmp -s temp.mid 2.mid || { echo "2.mid differs from temp.mid"; exit 1; }
grep -qx '0, 0, Header, 1, 2, 120' <<<"$(midicsv 2.mid)" || { echo "2.mid is not a two-track file"; exit 1; }
echo "composed: $(midicsv 2.mid | grep -c Note_on_c) notes"
xdotool windowfocus --sync "$message" key Return
wait_until_gone '^提示$' || { echo "the message did not close"; exit 1; }

# The score window follows the composition. Without a window manager it may cover
# the main window, which is raised before each click on it.
score=$(wait_for_window '^乐谱$') || { echo "no score window after composing"; exit 1; }

# "停止" (suiButton4 at 601,305) lets us compose again; then a Chinese lyric replaces the text.
xdotool windowraise "$window"
# The main window may have moved to make room for the score: where is it now?
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove $((X + 641)) $((Y + 318)) click 1
sleep 2.3
# Pasted, as lyrics often arrive: typing CJK through xdotool remaps a key for each
# character and loses some when the machine is busy.
printf '春眠不觉晓，\n处处闻啼鸟。\n夜来风雨声，\n花落知多少。' | xclip -selection clipboard -i
xdotool mousemove $((X + 200)) $((Y + 300)) click 1 key ctrl+a Delete ctrl+v
sleep 0.3
xdotool mousemove $((X + 641)) $((Y + 186)) click 1
message=$(wait_for_window '^(提示|quavella)$') ||
  { echo "no message after composing the Chinese lyric"; exit 1; }
[[ "$(xdotool getwindowname "$message")" == "提示" ]] || { echo "compose ended with an error box"; exit 1; }
xdotool windowfocus --sync "$message" key Return
wait_until_gone '^提示$' || { echo "the message did not close"; exit 1; }
# Twenty characters, twenty notes: the lyric arrived whole.
notes=$(midicsv 1.mid | grep -c Note_on_c)
[[ "$notes" == 20 ]] || { echo "the Chinese lyric gave $notes notes, not 20"; exit 1; }
score=$(xdotool search --onlyvisible --name '^乐谱$' 2>/dev/null | head -n1 || true)
[[ -n "$score" ]] || { echo "no score window after the Chinese lyric"; exit 1; }
xdotool windowraise "$score"
sleep 0.5  # let the score paint
score_shot="$(dirname "$shot")/score.png"
import -window "$score" "$score_shot"
score_spread=$(convert "$score_shot" -format '%[fx:standard_deviation]' info:)
dark=$(convert "$score_shot" -colorspace Gray -threshold 50% -format '%[fx:1-mean]' info:)
echo "score screenshot $score_shot, standard deviation $score_spread, dark share $dark"
# Ink on white paper: some dark pixels, but far from half of them.
awk -v s="$score_spread" -v d="$dark" 'BEGIN { exit !(s > 0.05 && d > 0.005 && d < 0.3) }' ||
  { echo "score screenshot looks blank"; exit 1; }

# 修正倒字 (F6) in the score window: the melody changes at once, it becomes the one in
# the player (temp.mid copied onto the next play file), and the score shows it.
# On a loaded machine the key can reach the window before its focus does and be lost;
# it is sent again then (a second repair of a repaired melody changes nothing).
cp 1.mid before-fix.mid
for attempt in 1 2 3; do
  xdotool windowfocus --sync "$score" key F6
  for _ in $(seq 1 300); do
    cmp -s temp.mid before-fix.mid || break 2
    sleep 0.01
  done
  echo "修正倒字: no change 3 s after F6 (try $attempt)"
done
cmp -s temp.mid before-fix.mid && { echo "修正倒字 changed nothing"; exit 1; }
cmp -s temp.mid 2.mid || { echo "the repaired melody is not the play file"; exit 1; }
sleep 0.5  # let the score paint
fixed_shot="$(dirname "$shot")/score-fixed.png"
import -window "$score" "$fixed_shot"
changed=$(compare -metric AE "$score_shot" "$fixed_shot" null: 2>&1 || true)
echo "score after 修正倒字 $fixed_shot, $changed pixels differ from $score_shot"
awk -v c="$changed" 'BEGIN { exit !(c > 0) }' || { echo "the score did not change"; exit 1; }

# "退出" (suiButton8 at 601,437, 80x27 in the window) ends the program normally.
xdotool windowraise "$window"
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove $((X + 641)) $((Y + 450)) click 1
for _ in $(seq 1 1000); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.01
done
if kill -0 "$pid" 2>/dev/null; then
  echo "program still running after 退出"
  exit 1
fi
wait "$pid"
echo "program ended with status $?"
