#!/usr/bin/env bash
# Builds the view benchmarks (Release) and runs the transition benchmark: one frame of each
# of the 30 effects at 1920 x 1080, the quarter turn of a 24-megapixel picture, and ffmpeg's
# xfade on the same two pictures for the transitions it shares (Debian package ffmpeg); then
# the view's repaint and its selection drawing beside QPainter; one cross-dissolve frame
# beside memcpy; the quarter turn beside ImageMagick and Pillow.
#   bench/views/run.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/release}
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target transitions_bench
data=$build/bench-data/views
mkdir -p "$data"
command -v ffmpeg >/dev/null || echo "ffmpeg not installed: its column stays empty"
# One core for the engine and for ffmpeg (its child inherits the affinity).
pin=()
command -v taskset >/dev/null && pin=(taskset -c "${BENCH_CORE:-0}")
QT_QPA_PLATFORM=offscreen "${pin[@]}" "$build/bench/views/transitions_bench" "$data"
# The image view's full repaint at 1920 x 1080 beside QPainter::drawImage.
cmake --build "$build" --target views_bench
QT_QPA_PLATFORM=offscreen "${pin[@]}" "$build/bench/views/views_bench"
# The selection's outline while dragging and animating, beside QPainter's dashed pen.
cmake --build "$build" --target selection_bench
QT_QPA_PLATFORM=offscreen "${pin[@]}" "$build/bench/views/selection_bench"
# One cross-dissolve frame built and put on the surface, beside a memcpy of its bytes.
cmake --build "$build" --target frame_bench
QT_QPA_PLATFORM=offscreen "${pin[@]}" "$build/bench/views/frame_bench"
# The quarter turn through the processing component, beside the bare routine, ImageMagick
# and Pillow.
cmake --build "$build" --target rotate_bench
QT_QPA_PLATFORM=offscreen "$build/bench/views/rotate_bench" "$data"
