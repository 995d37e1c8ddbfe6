#!/usr/bin/env bash
# Installs what is missing, builds Quavella and starts the composer window.
# The working files (temp.mid, 1.mid, 2.mid) go to the directory it is started from.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
here=$(pwd)
cd "$root"
bash scripts/install-deps.sh
bash scripts/build.sh build -DBUILD_TESTING=OFF -- --target quavella quavella-cli
cd "$here"
if [[ -x "$root/build/app/quavella" ]]; then
  exec "$root/build/app/quavella"
fi
exec "$root/build/cli/quavella-cli" analyze "$root/samples/chunxiao.txt"
