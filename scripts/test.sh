#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the main
# build's tests first, then each further check in scripts/checks/ in name order
# (each is a script that exits non-zero on failure).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/install-deps.sh"

cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" -j"$jobs"
(cd "$root/build" && ctest --output-on-failure --timeout 900 </dev/null)

for check in "$root"/scripts/checks/*.sh; do
  [ -e "$check" ] || continue
  echo "== $(basename "$check")"
  bash "$check" </dev/null
done
