#!/usr/bin/env bash
# gdpack build of 8 and of 32 photos of 12 MP (4000 x 3000 JPEG, quality 90) against djpeg
# decoding the 32 in turn: peak memory 32 / 8 and time 32 / djpeg, min / median / max.
# The photos are made once (kept in the build directory).
#   bench/gdpack/run.sh [build-dir] [runs] [label=other-gdpack]...
# e.g. bench/gdpack/run.sh build/release 5 old=/path/to/an/older/gdpack
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/release}
runs=${2:-5}
shift $(( $# > 2 ? 2 : $# ))
for t in djpeg cjpeg; do
  command -v $t >/dev/null || { echo "$t not installed"; exit 1; }
done
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target GlimmerdeckScreenSaver gdpack gdpack_bench >/dev/null
data=$build/bench-data/gdpack
mkdir -p "$data"
photos=()
for seed in $(seq 1 32); do
  f=$data/photo-$seed.jpg
  if [ ! -f "$f" ]; then
    "$build/bench/gdpack/gdpack_bench" --make-photo 4000 3000 "$seed" "$data/tmp.ppm"
    cjpeg -quality 90 -outfile "$f" "$data/tmp.ppm"
    rm -f "$data/tmp.ppm"
  fi
  photos+=("$f")
done
# A build checks on every core, so the time ratio holds only on a machine that has them free.
echo "$(nproc) cores, load average before: $(cut -d' ' -f1-3 /proc/loadavg); photos: 32 x 4000 x 3000," \
  "$(du -cm "${photos[@]}" | tail -1 | cut -f1) MB in all"
"$build/bench/gdpack/gdpack_bench" "$build/saver/GlimmerdeckScreenSaver" "$data" "$runs" \
  "gdpack=$build/tools/gdpack" "$@" -- "${photos[@]}"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
rm -f "$data"/bench-*.exe
