#!/usr/bin/env bash
# Peak memory of the whole player with a 1 GiB music block beside the same player with a
# small one (176 KiB): each started as a slideshow against a private PulseAudio server, ended
# by a timeout once the music has started, peak RSS from /usr/bin/time -f %M. The large WAV is
# a header and 1 GiB of silence, written sparsely at run time.
#   bench/music/run.sh [build-dir] [runs] [player]
# A player built elsewhere (an older one, say) can be given as the third argument.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/release}
runs=${2:-5}
[ -x /usr/bin/time ] || { echo "/usr/bin/time not installed"; exit 1; }
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target GlimmerdeckScreenSaver gdpack >/dev/null
player=${3:-$build/saver/GlimmerdeckScreenSaver}
gdpack=$build/tools/gdpack
photo=$root/tests/imagelib/fixtures/jpeg/baseline.jpg
work=$(mktemp -d)
cleanup() { stop_private_pulse; rm -rf "$work"; }
trap cleanup EXIT
. "$root/tests/saver/music_env.sh"   # private server, TMPDIR=$work/tmp, $work/tune.wav

python3 - "$work/big.wav" <<'PY'
import struct, sys
size = 1 << 30
with open(sys.argv[1], "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 36 + size) + b"WAVE")
    f.write(b"fmt " + struct.pack("<IHHIIHH", 16, 1, 2, 44100, 44100 * 4, 4, 16))
    f.write(b"data" + struct.pack("<I", size))
    f.truncate(44 + size)
PY
for kind in small big; do
  wav=$work/tune.wav
  [ $kind = big ] && wav=$work/big.wav
  "$gdpack" build -o "$work/$kind.exe" --base "$player" --music "$wav" \
    --set Duration=30 --photo one "" "$photo" >/dev/null
done
rm -f "$work/big.wav"

# One run: the peak RSS in kB; fails unless the music started and was not dropped.
run() {
  local log=$work/$1.log
  rm -f "$log"
  GLIMMERDECK_TEST_LOG=$log QT_QPA_PLATFORM=offscreen \
    /usr/bin/time -f %M -o "$work/rss" timeout -s TERM 8 "$work/$1.exe" x >/dev/null 2>"$work/err" || true
  grep -q '^music /' "$log" && ! grep -q '^music dropped' "$log" ||
    { echo "$1: the music did not start" >&2; cat "$log" "$work/err" >&2; exit 1; }
  tail -n1 "$work/rss"
}
small=() big=()
for _ in $(seq "$runs"); do
  small+=("$(run small)")
  big+=("$(run big)")
done
python3 - "$runs" "${small[*]}" "${big[*]}" <<'PY'
import statistics, sys
runs = int(sys.argv[1])
s = [int(v) / 1024 for v in sys.argv[2].split()]
b = [int(v) / 1024 for v in sys.argv[3].split()]
print(f"Player peak RSS, {runs} runs each (MB: min / median / max), music started, ended by a timeout")
for name, v in (("176 KiB music", s), ("1 GiB music", b)):
    print(f"{name:14} {min(v):8.1f} / {statistics.median(v):8.1f} / {max(v):8.1f}")
d = statistics.median(b) - statistics.median(s)
print(f"1 GiB above the small one, by median: {d:.1f} MB (ratio {statistics.median(b) / statistics.median(s):.2f}x)")
PY
