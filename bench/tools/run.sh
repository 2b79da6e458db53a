#!/usr/bin/env bash
# Builds and runs the music-check benchmark of gdpack: hostile music files beside a small WAV,
# fresh processes; a second gdpack (an earlier build) may be given to run side by side.
#   bench/tools/run.sh [build-dir] [RUNS] [OTHER_GDPACK]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/release}
shift || true
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target gdpack_music_bench
"$build/bench/tools/gdpack_music_bench" "$@"
