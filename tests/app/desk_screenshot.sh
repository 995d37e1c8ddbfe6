#!/usr/bin/env bash
# The real program under Xvfb at one screen size: composes, then checks that the score
# window "乐谱" lies on the screen and covers none of the main window's controls (its
# lists at y 66-87 and its button column up to x 681), and keeps a screenshot of the
# whole screen with both windows. Then 作品记录 is opened in the score window (Ctrl+H: at these
# sizes it starts folded) and 修正倒字 (F6) pressed there, a screenshot after each, to look at:
# nothing of the score's header, the toolbars or the history's rows is to be cut.
# No window manager: X geometries are the client areas.
# Usage: desk_screenshot.sh PROGRAM SIZE SCREENSHOT.png   (SIZE as 1366x768)
set -euo pipefail

program=$1
export XVFB_SCREEN=$2
shot=$3
# shellcheck source=../support/xvfb_session.sh
source "$(dirname "$0")/../support/xvfb_session.sh"
export QUAVELLA_AUDIO_FILE="$work/out.wav"
screen_w=${XVFB_SCREEN%x*}
screen_h=${XVFB_SCREEN#*x}

"$program" &
pid=$!
window=$(wait_for_window 'Quavella') || { echo "no main window"; exit 1; }
sleep 0.3
eval "$(xdotool getwindowgeometry --shell "$window")"
main_x=$X main_y=$Y
# Pasted, as in window_screenshot.sh: typing CJK through xdotool loses characters when busy.
printf '春眠不觉晓，\n处处闻啼鸟。\n夜来风雨声，\n花落知多少。' | xclip -selection clipboard -i
xdotool mousemove $((main_x + 200)) $((main_y + 300)) click 1 key ctrl+v
sleep 0.3
xdotool mousemove $((main_x + 641)) $((main_y + 186)) click 1
message=$(wait_for_window '^提示$') || { echo "no message after composing"; exit 1; }
xdotool windowfocus --sync "$message" key Return
wait_until_gone '^提示$' || { echo "the message did not close"; exit 1; }
score=$(wait_for_window '^乐谱$') || { echo "no score window after composing"; exit 1; }
sleep 0.5  # let both windows paint
import -window root "$shot"
echo "screenshot $shot"

eval "$(xdotool getwindowgeometry --shell "$window")"
main_x=$X main_y=$Y
eval "$(xdotool getwindowgeometry --shell "$score")"
echo "main window at $main_x,$main_y 729x515; score window at $X,$Y ${WIDTH}x$HEIGHT on $XVFB_SCREEN"
((main_x >= 0 && main_y >= 0 && main_x + 729 <= screen_w && main_y + 515 <= screen_h)) ||
  { echo "the main window is off the screen"; exit 1; }
((X >= 0 && Y >= 0 && X + WIDTH <= screen_w && Y + HEIGHT <= screen_h)) ||
  { echo "the score window is off the screen"; exit 1; }
# The controls: the lists' row, the lyric box and the button column.
overlaps() {  # x y w h
  (($1 < X + WIDTH && X < $1 + $3 && $2 < Y + HEIGHT && Y < $2 + $4))
}
for control in "99 66 454 21" "0 134 545 373" "601 173 80 291"; do
  read -r cx cy cw ch <<<"$control"
  if overlaps $((main_x + cx)) $((main_y + cy)) "$cw" "$ch"; then
    echo "the score window covers the main window's control at $control"
    exit 1
  fi
done

# 作品记录 opened, then 修正倒字, in the score window.
for step in "ctrl+h history" "F6 fixed"; do
  read -r key name <<<"$step"
  xdotool windowraise "$score"
  xdotool windowfocus --sync "$score" key "$key"
  sleep 0.7  # let it lay out and paint
  import -window root "${shot%.png}-$name.png"
  echo "screenshot ${shot%.png}-$name.png"
done

# "退出" ends the program normally; it is never covered.
xdotool mousemove $((main_x + 641)) $((main_y + 450)) click 1
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
