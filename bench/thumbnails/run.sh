#!/usr/bin/env bash
# Fills a thumbnail view with 500 JPEG photos of 12 megapixels (scaled decode, resampling,
# store, first paint) in a fresh process, beside what a user would run for the same
# thumbnails: djpeg -scale 1/8 of every file (Debian package libjpeg-turbo-progs). Both run
# alternately, RUNS times each after one warm-up; wall time min / median / max and the ratio
# pair by pair.
#   bench/thumbnails/run.sh [build-dir]      (RUNS=5 COUNT=500 by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/release}
runs=${RUNS:-5}
count=${COUNT:-500}
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target thumbnails_bench -j 4
command -v djpeg >/dev/null || { echo "djpeg not installed (libjpeg-turbo-progs)"; exit 1; }
bench=$build/bench/thumbnails/thumbnails_bench
data=$build/bench-data/thumbnails
if [ "$(ls "$data"/*.jpg 2>/dev/null | wc -l)" -ne "$count" ]; then
  rm -rf "$data"
  echo "writing $count photos of 4000 x 3000 to $data"
  QT_QPA_PLATFORM=offscreen "$bench" make "$data" "$count"
fi
export QT_QPA_PLATFORM=offscreen
view() { "$bench" fill "$data"; }
djpeg_all() { for f in "$data"/*.jpg; do djpeg -scale 1/8 -ppm "$f" >/dev/null; done; }
ms() { local a b; a=$(date +%s%N); "$@"; b=$(date +%s%N); echo $(((b - a) / 1000000)); }
view; djpeg_all   # warm-up: the files in the page cache for both
va=() da=()
for ((i = 0; i < runs; i++)); do
  va+=("$(ms view)")
  da+=("$(ms djpeg_all)")
done
python3 - "${va[*]}" "${da[*]}" "$count" <<'PY'
import statistics, sys
v = [int(x) for x in sys.argv[1].split()]
d = [int(x) for x in sys.argv[2].split()]
r = [a / b for a, b in zip(v, d)]
def row(name, xs, fmt):
    print(f"{name:<34} " + "  ".join(fmt.format(x) for x in (min(xs), statistics.median(xs), max(xs))))
print(f"{sys.argv[3]} photos of 12 MP, wall time over {len(v)} runs: min  median  max")
row("thumbnail view fill + paint (ms)", v, "{:6.0f}")
row("djpeg -scale 1/8, each file (ms)", d, "{:6.0f}")
row("ratio view / djpeg", r, "{:6.2f}")
PY
