#!/usr/bin/env bash
# Builds the watcher and starts it in the current folder with the given option
# (default -m). Capturing needs root or cap_net_raw,cap_net_admin.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target quorvale_mon
exec "$root/build/quorvale_mon" "${@:--m}"
