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
mkdir -p "$data"
if [ ! -f "$data/photo.png" ]; then
  echo "making the test photo (once)"
  convert -size 6000x4000 -seed 7 plasma:fractal -blur 0x2 -depth 8 "ppm:$data/photo.ppm"
  cjpeg -quality 90 -outfile "$data/photo.jpg" "$data/photo.ppm"
  convert "$data/photo.ppm" "$data/photo.png"
fi
QT_QPA_PLATFORM=offscreen "$build/bench/imageio/imageio_bench" "$data/photo.jpg" "$data/photo.png" \
    "$data/photo.ppm" "$data" "$runs"
