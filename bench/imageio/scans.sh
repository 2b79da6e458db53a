#!/usr/bin/env bash
# Many-scan JPEGs (bench/imageio/many_scans.py): greyscale progressive 16384 x 16384 pages whose
# scans are end-of-band runs, padded to the decoder's size budget (1.4 MB).
# 1. Whole-process loads, cold, one process a run: ours (imageio_load, the I/O component by
#    file name) beside djpeg with -maxscans 100, the library tool's own bound (plain djpeg of
#    the 1000-scan page takes as long as our old decoder). Wall time and peak memory as
#    min / median / max, and the ratio of the medians. With an older imageio_load given, it
#    runs beside ours on each file as "before".
# 2. Escape to exit: a screen saver (/S) and a slideshow whose first photo is the 100-scan page
#    (the most the decoder takes, decoded ahead in seconds) get Escape while that decode runs,
#    under Xvfb; the time from the key to the end of the process, min / median / max. With an
#    older player given, it runs beside ours ("before").
#   bench/imageio/scans.sh [build-dir] [runs] [old-imageio_load] [old-player]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/release}
runs=${2:-3}
oldload=${3:-}
oldplayer=${4:-}
for t in djpeg python3 xvfb-run /usr/bin/time; do
  command -v $t >/dev/null || { echo "$t not installed"; exit 1; }
done
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target imageio_load GlimmerdeckScreenSaver gdpack x11_warp >/dev/null
load=$build/bench/imageio/imageio_load
data=$build/bench-data/scans
mkdir -p "$data"
for page in first:10 first:100 first:1000 refine:40; do
  f=$data/${page%:*}_${page#*:}.jpg
  [ -f "$f" ] || python3 "$root/bench/imageio/many_scans.py" "$f" 16384 16384 "${page#*:}" "${page%:*}" 1400000
done

stats() { sort -g | awk '{v[NR] = $1} END {printf "%s / %s / %s", v[1], v[int((NR + 1) / 2)], v[NR]}'; }
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", (b > 0 ? a / b : 0)}'; }

# timed FILE-PREFIX COMMAND...: one run; its wall time (ms), peak memory (MB) and exit status
timed() {
  local out=$1
  shift
  local t0 t1 rc=0
  t0=$(date +%s%N)
  /usr/bin/time -f '%M' -o "$out.mem.1" "$@" >/dev/null 2>&1 || rc=$?
  t1=$(date +%s%N)
  awk -v d=$((t1 - t0)) 'BEGIN {printf "%.1f\n", d / 1e6}' >> "$out.ms"
  grep -v '^Command' "$out.mem.1" | awk '{printf "%.0f\n", $1 / 1024}' >> "$out.mb"
  echo "$rc" > "$out.rc"
}

# row NAME FILE: ours, djpeg -maxscans 100 and, when given, the old loader, run by run
row() {
  local name=$1 file=$2 w
  w=$(mktemp -d)
  for _ in $(seq "$runs"); do
    QT_QPA_PLATFORM=offscreen timed "$w/ours" "$load" "$file"
    timed "$w/djpeg" djpeg -maxscans 100 -outfile /dev/null "$file"
    [ -z "$oldload" ] || QT_QPA_PLATFORM=offscreen timed "$w/before" "$oldload" "$file"
  done
  local verdict
  verdict() { [ "$(cat "$1.rc")" = 0 ] && echo decoded || echo refused; }
  printf '%-28s %8d bytes\n' "$name" "$(stat -c %s "$file")"
  for who in ours djpeg before; do
    [ -f "$w/$who.ms" ] || continue
    printf '  %-7s %-8s wall ms %-26s peak MB %-18s ratio to djpeg: time %s, memory %s\n' "$who" "$(verdict "$w/$who")" \
      "$(stats < "$w/$who.ms")" "$(stats < "$w/$who.mb")" \
      "$(ratio "$(median < "$w/$who.ms")" "$(median < "$w/djpeg.ms")")" \
      "$(ratio "$(median < "$w/$who.mb")" "$(median < "$w/djpeg.mb")")"
  done
  rm -rf "$w"
}

echo "whole-process loads of 16384 x 16384 many-scan pages, $runs runs each (min / median / max)"
row "10 first scans" "$data/first_10.jpg"
row "100 first scans" "$data/first_100.jpg"
row "1000 first scans" "$data/first_1000.jpg"
row "40 refinement scans" "$data/refine_40.jpg"

# ---- Escape to exit ----
warp=$build/tests/saver/x11_warp
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$root/tests/saver" "$work/red.bmp" <<'PY'
import struct, sys
w, h = 64, 48
row = w * 3
data = bytes([0, 0, 255]) * w * h
hdr = b'BM' + struct.pack('<IHHI', 54 + len(data), 0, 0, 54)
hdr += struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
open(sys.argv[2], 'wb').write(hdr + data)
PY
# escape_run PLAYER-FILE ARG: ms from the first Escape to the end of the process
escape_run() {
  local exe=$1 arg=$2 log=$work/log
  rm -f "$log"
  mkdir -p "$work/config" "$work/runtime" "$work/tmp"
  chmod 700 "$work/runtime"
  QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime TMPDIR=$work/tmp \
    GLIMMERDECK_TEST_LOG=$log XSCREENSAVER_WINDOW= "$exe" "$arg" >/dev/null 2>&1 &
  local pid=$!
  # The photo's tick has come (the old player then waits in it for the decode).
  for _ in $(seq 600); do grep -q "show tick 3" "$log" 2>/dev/null && break; sleep 0.01; done
  local id
  id=$(sed -n 's/.* id \([0-9]*\).*/\1/p' "$log" | head -1)
  sleep 0.7
  local t0 t1
  t0=$(date +%s%N)
  while kill -0 "$pid" 2>/dev/null; do
    "$warp" key "$id" 9 >/dev/null 2>&1 || true
    for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.01; done
  done
  t1=$(date +%s%N)
  wait "$pid" 2>/dev/null || true
  grep -q "show photo 3" "$log" && echo "  (the slow photo came on screen before the key was answered)" >&2 || true
  awk -v d=$((t1 - t0)) 'BEGIN {printf "%.1f\n", d / 1e6}'
}
escape_all() {
  local players=("ours=$build/saver/GlimmerdeckScreenSaver")
  [ -z "$oldplayer" ] || players+=("before=$oldplayer")
  echo
  echo "Escape while the 100-scan page is decoded ahead, to the end of the process, $runs runs (min / median / max)"
  for p in "${players[@]}"; do
    local who=${p%%=*} base=${p#*=}
    "$build/tools/gdpack" build -o "$work/Slow.scr" --base "$base" --photo Slow "" "$data/first_100.jpg" \
      --photo Red "" "$work/red.bmp" --set Duration=5 --set EffectDuration=0 >/dev/null
    cp "$work/Slow.scr" "$work/Slow.exe"
    for mode in "Slow.scr /S" "Slow.exe x"; do
      local f=$work/esc.ms
      rm -f "$f"
      for _ in $(seq "$runs"); do escape_run "$work/${mode% *}" "${mode#* }" >> "$f"; done
      printf '  %-7s %-10s ms %s\n' "$who" "${mode% *}" "$(stats < "$f")"
    done
  done
}
export -f escape_run stats
export work warp
if [ -n "${DISPLAY:-}" ]; then escape_all; else
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c "$(declare -f escape_run escape_all stats); build='$build' data='$data' runs='$runs' oldplayer='$oldplayer' escape_all"
fi
