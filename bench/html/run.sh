#!/usr/bin/env bash
# Builds and runs the HTML label benchmark: the player's help page repainted by the label and
# by a QLabel showing the same page as Qt rich text, then the bare-prefix pages (8000 "&a",
# 16 and 64 KB) beside the help page, in one process, on one core.
#   bench/html/run.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/release}
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target html_bench
pin=()
command -v taskset >/dev/null && pin=(taskset -c "${BENCH_CORE:-0}")
QT_QPA_PLATFORM=offscreen "${pin[@]}" "$build/bench/html/html_bench" "$@"
