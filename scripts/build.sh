#!/usr/bin/env bash
# Configures and builds one build tree: scripts/build.sh DIR [cmake options...] [-- build options]
# (e.g. "-- --target quavella" builds that program only).
# Uses ccache when it is installed; paths are hashed relative to the checkout,
# so two clones of the project share the cache.
set -euo pipefail
dir=$1; shift
configure=()
while (($#)) && [[ $1 != -- ]]; do configure+=("$1"); shift; done
(($#)) && shift
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$(pwd) CCACHE_NOHASHDIR=1
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "${configure[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)" "$@"
