#!/usr/bin/env bash
# Runs the viewer benchmark on a private X server large enough for a 1920 x 1080 view.
set -euo pipefail
bench=${1:-build/release/bench/viewer/viewer_bench}
exec xvfb-run -a -s "-screen 0 2560x1600x24" "$bench" "${@:2}"
