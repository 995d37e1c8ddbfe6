# Sourced by the scripts that run the real window under Xvfb.
# start_xvfb SIZE LOG: starts a virtual X server of SIZE (e.g. 1024x768) on a free display
# and returns once it accepts connections, with its process in $xvfb and DISPLAY set; its
# messages go to LOG.
start_xvfb() {
  local size=$1 log=$2 fifo number
  fifo=$(mktemp -u) && mkfifo "$fifo"
  # Xvfb writes the display number to the descriptor only once it accepts connections,
  # so the program never races it. -noreset: by default the server starts itself afresh
  # whenever its last client leaves, and a program connecting meanwhile can be turned away
  # ("could not connect to display"): with several windows tested at once, about one
  # run in ten lost its program that way.
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$fifo" 2>>"$log" &
  xvfb=$!
  if ! read -r -t 20 number <"$fifo"; then
    rm -f "$fifo"
    echo "Xvfb did not start"
    cat "$log"
    return 1
  fi
  rm -f "$fifo"
  export DISPLAY=":$number"
}
