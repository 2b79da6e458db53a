#!/usr/bin/env bash
# The real player under Xvfb (1920 x 1080) with packs of 2, 24 and 50-megapixel JPEG photos:
# tick to first transition frame and frames per second as the X server sees them, peak RSS,
# beside djpeg of the same photos. The photos are made once (kept in the build directory).
#   bench/show/run.sh [build-dir] [ticks] [player]
# A player built elsewhere (an older one, say) can be given as the third argument.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/release}
ticks=${2:-10}
for t in djpeg cjpeg xvfb-run; do
  command -v $t >/dev/null || { echo "$t not installed"; exit 1; }
done
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target GlimmerdeckScreenSaver gdpack player_bench >/dev/null
player=${3:-$build/saver/GlimmerdeckScreenSaver}
data=$build/bench-data/show
mkdir -p "$data"
packs=()
for pack in 2MP:1800x1200 24MP:6000x4000 50MP:8660x5774; do
  label=${pack%%:*} size=${pack#*:}
  files=()
  for seed in 1 2 3 4; do
    f=$data/$label-$seed.jpg
    if [ ! -f "$f" ]; then
      "$build/bench/show/player_bench" --make-photo "${size%x*}" "${size#*x}" "$seed" "$data/tmp.ppm"
      cjpeg -quality 90 -outfile "$f" "$data/tmp.ppm"
      rm -f "$data/tmp.ppm"
    fi
    files+=("$f")
  done
  packs+=("$label=$(IFS=,; echo "${files[*]}")")
done
xvfb-run -a -s "-screen 0 1920x1080x24" \
  "$build/bench/show/player_bench" "$player" "$build/tools/gdpack" "$data" "$ticks" "${packs[@]}"
