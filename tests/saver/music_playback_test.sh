#!/usr/bin/env bash
# The music block really plays: a player file with a WAV runs against a private PulseAudio
# server with a null sink, and its stream must show up as a live sink input. Exit 77 skips
# where PulseAudio is not installed.
set -euo pipefail
player=$1 gdpack=$2 photo=$3
work=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  stop_private_pulse
  rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "$0")/music_env.sh"

"$gdpack" build -o "$work/Music Show.exe" --base "$player" --music "$work/tune.wav" \
  --set Duration=3 --set Loop=1 --photo one "" "$photo" --photo two "" "$photo" >/dev/null

GLIMMERDECK_TEST_LOG=$work/show.log QT_QPA_PLATFORM=offscreen "$work/Music Show.exe" x \
  >"$work/player.out" 2>&1 &
pid=$!
live=""
for _ in $(seq 100); do
  if pactl list sink-inputs 2>/dev/null | grep -q 'application.name = "Music Show.exe"'; then
    live=yes; break
  fi
  sleep 0.1
done
kill -TERM "$pid"
code=0; wait "$pid" || code=$?
pid=""
if [ -z "$live" ]; then
  echo "no live stream of the player"; cat "$work/show.log" "$work/player.out" "$work/pulse.log"; exit 1
fi
grep -q '^music ' "$work/show.log" || { echo "music not started"; cat "$work/show.log"; exit 1; }
[ "$code" -eq 0 ] || { echo "player exit $code"; cat "$work/player.out"; exit 1; }
if ls "$TMPDIR"/~* >/dev/null 2>&1; then echo "temporary music file left"; ls -la "$TMPDIR"; exit 1; fi
echo "music played and its file is gone"
