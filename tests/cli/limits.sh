#!/usr/bin/env bash
# quavella-cli under the resource limits a shell (ulimit) or a service may set: the longest
# lyrics with a thousand candidates in a small address space (ulimit -v), and compose with
# its exports, audio and the history with few open files (ulimit -n). Each run ends with
# status 0 and its outputs, or with status 1 or 2 and a message that names the cause, and
# leaves no temporary; never with a signal (an abort on std::bad_alloc). A run whose
# program the loader could not even start (its libraries need files and memory too) is
# skipped. Under a sanitizer, which reserves terabytes of address space and needs files of
# its own, only the roomier file limits run.
# Usage: tests/cli/limits.sh QUAVELLA-CLI
set -uo pipefail
cli=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0 skipped=0

# ldd's list is read whole before it is searched: grep -q leaving early would end ldd by
# SIGPIPE, and under pipefail a sanitized build would then pass for a plain one.
sanitized=false
libraries=$(ldd "$cli" 2>/dev/null || true)
if [[ $libraries =~ lib(a|t|ub)san ]]; then sanitized=true; fi

# The longest lyrics quavella-cli takes: 65536 bytes of GBK in lines of seven syllables.
/usr/bin/python3 - "$work/longest.gbk" <<'PY'
import random, sys
rng = random.Random(7)
text = b""
while True:
    line = ("".join(chr(0x4E00 + rng.randrange(3000)) for _ in range(7)) + "，\n").encode("gbk")
    if len(text) + len(line) > 65536:
        break
    text += line
open(sys.argv[1], "wb").write(text + b"a" * (65536 - len(text)))
PY
printf '春眠不觉晓，处处闻啼鸟。\n夜来风雨声，花落知多少。\n' >"$work/spring.txt"
# A history with one entry, for the commands that read or add to it.
mkdir -p "$work/history"
XDG_DATA_HOME="$work/history" "$cli" compose --seed 1 -o "$work/history/first.mid" --record \
  "$work/spring.txt" >/dev/null || { echo "limits: cannot make the history"; exit 1; }

# check NAME LIMIT CAUSE OUTPUTS -- ARGS...: runs quavella-cli under prlimit's LIMIT in a
# folder of its own (the history's copy as its XDG_DATA_HOME) and judges the outcome. On
# success every file of OUTPUTS (space-separated) exists; on failure the message holds CAUSE.
check() {
  local name=$1 limit=$2 cause=$3 outputs=$4
  shift 5
  local dir="$work/run-$name"
  mkdir -p "$dir" && cp -r "$work/history" "$dir/data"
  (cd "$dir" && XDG_DATA_HOME="$dir/data" prlimit "$limit" "$cli" "$@" >out.txt 2>err.txt)
  local status=$? verdict=""
  local message
  message=$(tail -n 3 "$dir/err.txt" | tr '\n' ' ')
  if ((status == 127)) && grep -q 'error while loading shared libraries' "$dir/err.txt"; then
    echo "SKIP $name: the loader could not start the program ($message)"
    skipped=$((skipped + 1))
    return
  elif ((status >= 128)); then
    verdict="killed by signal $((status - 128)): $message"
  elif ((status == 0)); then
    for file in $outputs; do
      [[ -s $dir/$file ]] || verdict="status 0 but $file is missing or empty"
    done
  elif ((status == 1 || status == 2)); then
    grep -q -- "$cause" "$dir/err.txt" || verdict="status $status without naming '$cause': $message"
  else
    verdict="status $status: $message"
  fi
  local temporaries
  temporaries=$(find "$dir" -name '.*.tmp' -o -name '*.tmp' | head -n 3)
  [[ -z $temporaries ]] || verdict="${verdict:+$verdict; }temporaries left: $temporaries"
  if [[ -n $verdict ]]; then
    echo "FAIL $name: $verdict"
    failed=$((failed + 1))
  else
    echo "ok   $name (status $status${message:+: ${message:0:120}})"
    passed=$((passed + 1))
  fi
}

if $sanitized; then
  echo "SKIP address-space limits: $cli is built with a sanitizer, which reserves more address" \
    "space than any limit leaves (scripts/test.sh runs them on the release build)"
  skipped=$((skipped + 1))
else
  # Ample (512 MB) and tight: near the low end the program runs out of memory part way.
  for mb in 512 64 44 40 36; do
    for mode in "" --by-sentence; do
      check "as-${mb}M${mode}" --as=$((mb * 1024 * 1024)) "out of memory" "big.mid" -- \
        compose --seed 1 --encoding gbk --best-of 1000 $mode -o big.mid "$work/longest.gbk"
    done
  done
fi

files=(4 5 6 8 16)
$sanitized && files=(16 24)
for n in "${files[@]}"; do
  check "nofile-$n-exports" --nofile="$n" "Too many open files" \
    "a.mid a.musicxml a.kar a.wav" -- compose --seed 2 -o a.mid --musicxml a.musicxml \
    --karaoke a.kar --audio a.wav "$work/spring.txt"
  check "nofile-$n-record" --nofile="$n" "Too many open files" "b.mid" -- \
    compose --seed 3 -o b.mid --record "$work/spring.txt"
  check "nofile-$n-history" --nofile="$n" "Too many open files" "" -- history list
  check "nofile-$n-history-export" --nofile="$n" "Too many open files" "h.mid h.wav" -- \
    history export 1 -o h.mid --audio h.wav
done

echo "limits: $passed passed, $failed failed, $skipped skipped"
((failed == 0))
