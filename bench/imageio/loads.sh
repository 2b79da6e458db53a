#!/usr/bin/env bash
# Whole-process loads, cold and one process a run, of what a user meets: a large photo, and
# small files whose headers claim a 16384 x 16384 picture (a cut download, a damaged file).
# Ours: imageio_load (the I/O component by file name, as the viewer loads); the tools a user
# would pick instead: djpeg and pngtopam. Prints wall time and peak memory as min / median /
# max over the runs, and the ratio of the medians ours / tool. First the large photo through
# load_bench: in process against libjpeg alone, and as processes against djpeg, pair by pair.
#   bench/imageio/loads.sh [build-dir] [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/release}
runs=${2:-5}
for t in djpeg cjpeg convert pnmtopng pngtopam python3 /usr/bin/time; do
  command -v $t >/dev/null || { echo "$t not installed"; exit 1; }
done
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target imageio_load >/dev/null
load=$build/bench/imageio/imageio_load
data=$build/bench-data
. "$root/bench/imageio/photo.sh"
bench_photo "$data"
# The small files: a 64 x 64 picture coded by the tools, its size fields set to 16384.
convert -size 64x64 -seed 3 plasma:fractal -depth 8 "ppm:$data/small.ppm"
cjpeg -quality 50 -outfile "$data/claim_baseline.jpg" "$data/small.ppm"
cjpeg -quality 50 -progressive -outfile "$data/claim_progressive.jpg" "$data/small.ppm"
pnmtopng "$data/small.ppm" > "$data/claim.png"
python3 - "$data" <<'PY'
import struct, sys, zlib
d = sys.argv[1]
for name in ('claim_baseline.jpg', 'claim_progressive.jpg'):
    f = bytearray(open(f'{d}/{name}', 'rb').read())
    i = 2
    while f[i + 1] not in (0xC0, 0xC2):
        i += 2 + (f[i + 2] << 8 | f[i + 3])
    f[i + 5:i + 9] = struct.pack('>HH', 16384, 16384)
    open(f'{d}/{name}', 'wb').write(f)
f = bytearray(open(f'{d}/claim.png', 'rb').read())
f[16:24] = struct.pack('>II', 16384, 16384)
f[29:33] = struct.pack('>I', zlib.crc32(bytes(f[12:29])))
open(f'{d}/claim.png', 'wb').write(f)
PY

# min / median / max of the numbers on stdin
stats() { sort -g | awk '{v[NR] = $1} END {printf "%s / %s / %s", v[1], v[int((NR + 1) / 2)], v[NR]}'; }
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", (b > 0 ? a / b : 0)}'; }

# timed FILE-PREFIX COMMAND...: one run; its wall time (ms) and peak memory (MB) appended
timed() {
  local out=$1
  shift
  local t0 t1
  t0=$(date +%s%N)
  /usr/bin/time -f '%M' -o "$out.mem.1" "$@" >/dev/null 2>&1 || true
  t1=$(date +%s%N)
  awk -v d=$((t1 - t0)) 'BEGIN {printf "%.1f\n", d / 1e6}' >> "$out.ms"
  grep -v '^Command' "$out.mem.1" | awk '{printf "%.0f\n", $1 / 1024}' >> "$out.mb"
}

# row NAME FILE TOOL-COMMAND...: ours and the tool in turn, run by run
row() {
  local name=$1 file=$2
  shift 2
  local w
  w=$(mktemp -d)
  for _ in $(seq "$runs"); do
    QT_QPA_PLATFORM=offscreen timed "$w/ours" "$load" "$file"
    timed "$w/tool" "$@" "$file"
  done
  printf '%-24s %8d bytes\n' "$name" "$(stat -c %s "$file")"
  printf '  wall ms   ours %-24s %-9s %-24s ratio %s\n' "$(stats < "$w/ours.ms")" "$1" "$(stats < "$w/tool.ms")" \
    "$(ratio "$(median < "$w/ours.ms")" "$(median < "$w/tool.ms")")"
  printf '  peak MB   ours %-24s %-9s %-24s ratio %s\n' "$(stats < "$w/ours.mb")" "$1" "$(stats < "$w/tool.mb")" \
    "$(ratio "$(median < "$w/ours.mb")" "$(median < "$w/tool.mb")")"
  rm -rf "$w"
}

# The large photo through the I/O component beside libjpeg alone (in process) and djpeg.
cmake --build "$build" --target load_bench >/dev/null
QT_QPA_PLATFORM=offscreen "$build/bench/imageio/load_bench" "$data/photo.jpg" "$runs"
echo
echo "whole-process loads, $runs runs each (min / median / max)"
row "6000 x 4000 photo" "$data/photo.jpg" djpeg -outfile /dev/null
row "baseline JPEG claim" "$data/claim_baseline.jpg" djpeg -outfile /dev/null
row "progressive JPEG claim" "$data/claim_progressive.jpg" djpeg -outfile /dev/null
row "PNG claim" "$data/claim.png" pngtopam
