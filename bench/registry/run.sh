#!/usr/bin/env bash
# The player's start with a large settings store beside the same start with an empty one:
# whole processes, cold, alternated, timed from exec to exit; then the settings dialog's save
# with a 64 MB store beside a small one (in the build folder, on the disk).
#   bench/registry/run.sh [build-dir] [runs] [store-MB]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/release}
runs=${2:-7}
mb=${3:-20}
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target GlimmerdeckScreenSaver gdpack settings_save_bench >/dev/null
python3 "$root/bench/registry/store_start.py" "$build" "$runs" "$mb"
cd "$build" && exec ./bench/registry/settings_save_bench "" "$runs" 64
