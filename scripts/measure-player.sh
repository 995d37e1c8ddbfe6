#!/usr/bin/env bash
# Measures the real window under Xvfb with the headless "file" audio output: resident
# memory (VmRSS of /proc/PID/status) after start-up, after one composition and after a
# composition played in each of the ten timbres; CPU use of the idle window over ten
# seconds; the peak level of each played melody (with sox).
# Usage: scripts/measure-player.sh [PROGRAM]   (default: build/app/quavella)
# Needs xvfb, xdotool and sox (scripts/install-deps.sh installs them).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
program=$(realpath "${1:-$root/build/app/quavella}")
shot="$(dirname "$program")/measure-player.png"  # the screen when something goes wrong
# shellcheck source=../tests/support/xvfb_session.sh
source "$root/tests/support/xvfb_session.sh"
export QUAVELLA_AUDIO_FILE="$work/play.wav"

"$program" 2>program.log &
pid=$!

rss() { awk '/^VmRSS:/ { printf "%.1f MB", $2 / 1024 }' "/proc/$pid/status"; }
# CPU time of the program in clock ticks (user + system).
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
# Clicks at a point of the main window, raised first: on a small screen the score window
# opens over it.
click() {
  xdotool windowraise "$window"
  xdotool mousemove $((X + $1)) $((Y + $2)) click 1
}
# Waits until the recording has stopped growing for a second: the melody has ended and
# rung out, and the output is released.
wait_until_quiet() {
  local last=-1 size
  for _ in $(seq 1 120); do
    size=$(stat -c %s play.wav 2>/dev/null || echo 0)
    [[ "$size" == "$last" && "$size" != 0 ]] && return 0
    last=$size
    sleep 1
  done
  echo "the melody did not end within two minutes (screen: $shot)"
  import -window root "$shot"
  exit 1
}
idle_cpu() {
  local before after
  before=$(cpu_ticks)
  sleep 10
  after=$(cpu_ticks)
  awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.1f %%", 100 * t / hz / 10 }'
}

window=$(wait_for_window Quavella) || { echo "no window"; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$window")"
sleep 2  # the soundfont loads in the background meanwhile
echo "after start-up:              $(rss)"

compose() {
  click 641 186  # 生成主旋律
  local message
  message=$(wait_for_window '^提示$') || { echo "no message after composing"; exit 1; }
  xdotool windowfocus --sync "$message" key Return
  wait_until_gone '^提示$' && return 0
  echo "the message after composing did not close"
  import -window root "$shot"
  exit 1
}

click 200 300
xdotool type --delay 2 "Spring sleep, no dawn. Birds sing everywhere. Night wind, rain. Flowers fall."
compose
sleep 1
echo "after one composition:       $(rss)"
echo "idle after the composition:  $(idle_cpu) of a core over 10 s"

timbre=0
levels=()
while true; do
  click 641 230  # 播放
  wait_until_quiet
  peak=$(sox play.wav -n stat 2>&1 | awk '/Maximum amplitude/ { print $3 }')
  levels+=("timbre $timbre: peak $(awk -v p="$peak" 'BEGIN { printf "%.1f dBFS", 20 * log(p) / log(10) }')")
  ((timbre += 1))
  ((timbre < 10)) || break
  click 641 318  # 停止: waits two seconds, then composing is possible again
  sleep 2.5
  click 508 76   # the timbre list (ComboBox3): the next item
  sleep 0.3
  xdotool key Down Return
  sleep 0.3
  compose
done
echo "after all ten timbres:       $(rss)"
echo "idle after the last melody:  $(idle_cpu) of a core over 10 s"
printf '%s\n' "${levels[@]}"

click 641 450  # 退出
for _ in $(seq 1 300); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.01
done
