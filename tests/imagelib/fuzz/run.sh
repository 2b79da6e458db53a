#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each, seeded with the fixtures of its format.
# Usage: run.sh [target ...]
# - FUZZ_RUNS=N (what CI does): replays the committed inputs under regressions/<format>/, then
#   a fixed seeded run of N inputs that gives the same result on every clone.
# - otherwise open-ended fuzzing for FUZZ_SECONDS (default 60) per target into a corpus
#   folder kept in the build folder; crashes land in the current folder as crash-*.
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
export QT_QPA_PLATFORM=offscreen
# One target's run: its flags and seeds, then the seeded run (FUZZ_RUNS) or open-ended fuzzing.
fuzz_one() {
  local t=$1 fmt=${1%_fuzz}
  local flags=(-rss_limit_mb=2048 -max_len=65536)
  # A longer limit where a committed regression input is longer: libFuzzer cuts every input,
  # replayed ones too, to it.
  case $t in emf_fuzz) flags=(-rss_limit_mb=2048 -max_len=131072) ;; esac
  local seeds=()
  [ -d "$root/tests/imagelib/fixtures/$fmt" ] && seeds+=("$root/tests/imagelib/fixtures/$fmt")
  if [ -n "${FUZZ_RUNS:-}" ]; then
    local runs=$FUZZ_RUNS
    # The metafile conversion and render run in a child process for every input: a tenth of the inputs.
    case $t in wmf_fuzz|emf_fuzz) runs=$(((FUZZ_RUNS + 9) / 10)) ;; esac
    bash "$root/tests/fuzz_seeded.sh" "$build/$t" "$runs" "$build/run-$fmt" \
        "$here/regressions/$fmt" "${seeds[@]}" -- "${flags[@]}"
  else
    local corpus="$build/corpus-$fmt"
    mkdir -p "$corpus"
    echo "== $t for ${secs}s"
    "$build/$t" -max_total_time="$secs" "${flags[@]}" "$corpus" "${seeds[@]}" \
        ${FUZZ_EXTRA:+$FUZZ_EXTRA}
  fi
}
if [ -z "${FUZZ_RUNS:-}" ]; then
  for t in "${targets[@]}"; do fuzz_one "$t"; done
  exit 0
fi
# The seeded runs are independent of each other: FUZZ_JOBS at a time, each into its own log,
# printed in the order of the targets once all have ended.
jobs=${FUZZ_JOBS:-4}
logs=$build/logs
rm -rf "$logs"
mkdir -p "$logs"
for t in "${targets[@]}"; do
  while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
  (rc=0; fuzz_one "$t" >"$logs/$t" 2>&1 || rc=$?; echo $rc >"$logs/$t.rc") &
done
wait
failed=0
for t in "${targets[@]}"; do
  echo "== $t"
  cat "$logs/$t"
  rc=$(cat "$logs/$t.rc" 2>/dev/null || echo 1)
  [ "$rc" = 0 ] || { echo "== $t failed ($rc)"; failed=1; }
done
exit $failed
