#!/usr/bin/env bash
# Zandolib beside ImageMagick's -auto-level on the same 24 MP picture.
# usage: run_bench.sh [AUTOFIX_BENCH] (default: ./build/release/bench/autofix/autofix_bench)
# ImageMagick's time is that of the operator alone: a plain read + write of
# the same file is timed too and subtracted. CONVERT overrides the command.
set -euo pipefail
bench=${1:-./build/release/bench/autofix/autofix_bench}
convert=${CONVERT:-convert}
command -v "$convert" >/dev/null || { echo "ImageMagick '$convert' not found (apt-get install imagemagick)" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$bench" --write-ppm "$tmp/in.ppm" | tee "$tmp/zandolib.txt"
ours=$(awk '/^rgb_job_seconds/ {print $2}' "$tmp/zandolib.txt")
mp=$(awk '/^megapixels/ {print $2}' "$tmp/zandolib.txt")

# Best of three wall-clock runs of a command, in seconds.
best() {
  local b="" t0 t1 d
  for _ in 1 2 3; do
    t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N)
    d=$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')
    b=$(awk -v a="$b" -v d="$d" 'BEGIN {print (a == "" || d < a) ? d : a}')
  done
  echo "$b"
}

echo
echo "ImageMagick ($("$convert" -version | head -1 | awk '{print $3}')) -auto-level on the same picture:"
for threads in default 1; do
  limit=()
  [ "$threads" = 1 ] && limit=(-limit thread 1)
  io=$(best "$convert" "${limit[@]}" "$tmp/in.ppm" "$tmp/out.ppm")
  full=$(best "$convert" "${limit[@]}" "$tmp/in.ppm" -auto-level "$tmp/out.ppm")
  awk -v io="$io" -v full="$full" -v ours="$ours" -v th="$threads" -v mp="$mp" 'BEGIN {
    op = full - io; if (op < 1e-6) op = 1e-6
    printf "  threads %-7s read+write %.3f s, with -auto-level %.3f s: operator %.3f s (%.0f MP/s)\n", th, io, full, op, mp / op
    printf "  Zandolib whole job (RGB: reset, analyse, complete, apply), one thread: %.3f s\n", ours
    printf "  ratio: Zandolib is %.1fx as fast as -auto-level alone, %.1fx the whole convert run\n", op / ours, full / ours
  }'
done
