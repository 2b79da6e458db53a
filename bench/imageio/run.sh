#!/usr/bin/env bash
# Builds the codec benchmark (Release) and runs it on a 6000 x 4000 photo made once with
# ImageMagick (kept in the build directory, not in the repository).
#   bench/imageio/run.sh [build-dir] [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/release}
runs=${2:-5}
for t in djpeg cjpeg convert; do
  command -v $t >/dev/null || { echo "$t not installed"; exit 1; }
done
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target imageio_bench
data=$build/bench-data
. "$root/bench/imageio/photo.sh"
bench_photo "$data"
QT_QPA_PLATFORM=offscreen "$build/bench/imageio/imageio_bench" "$data/photo.jpg" "$data/photo.png" \
    "$data/photo.ppm" "$data" "$runs"
