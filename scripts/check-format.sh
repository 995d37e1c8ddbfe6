#!/usr/bin/env bash
# Fails when a tracked C++ source differs from what clang-format makes of it.
# scripts/check-format.sh --fix rewrites the files instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h' 2>/dev/null || find . -path ./build\* -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
if [[ "${1:-}" == --fix ]]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  clang-format "$f" | cmp -s - "$f" || bad+=("$f")
done
if ((${#bad[@]})); then
  echo "clang-format would change ${#bad[@]} file(s); run scripts/check-format.sh --fix:" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "format: ${#files[@]} files clean"
