#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a while (FUZZ_SECONDS, default 60),
# seeded with the fixtures of its format. Usage: run.sh [target ...]
# FUZZ_RUNS=N runs each target N inputs with a fixed seed instead.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
build=${FUZZ_BUILD:-$root/build-fuzz}
secs=${FUZZ_SECONDS:-60}
command -v clang++ >/dev/null || { echo "clang++ not installed: fuzzing skipped"; exit 0; }
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja >/dev/null
cmake --build "$build"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$here"/*_fuzz.cpp; do targets+=("$(basename "${f%.cpp}")"); done
fi
for t in "${targets[@]}"; do
  fmt=${t%_fuzz}
  corpus="$build/corpus-$fmt"
  mkdir -p "$corpus"
  seeds=()
  [ -d "$root/tests/imagelib/fixtures/$fmt" ] && seeds+=("$root/tests/imagelib/fixtures/$fmt")
  echo "== $t for ${secs}s"
  # FUZZ_RUNS gives a fixed, seeded run (as ctest uses it), so a result can be replayed.
  if [ -n "${FUZZ_RUNS:-}" ]; then limit=(-runs="$FUZZ_RUNS" -seed=1); else limit=(-max_total_time="$secs"); fi
  QT_QPA_PLATFORM=offscreen "$build/$t" "${limit[@]}" -rss_limit_mb=2048 \
      -max_len=65536 "$corpus" "${seeds[@]}"
done
