#!/usr/bin/env bash
# Every way the player ends while its music plays leaves no music file behind: SIGTERM,
# SIGINT and SIGHUP (exit 0), SIGKILL (no clean-up runs at all), and the X server going away
# under the show (Qt ends the program with exit 1; the show's clean-up still runs). The music
# plays from an unnamed copy, so no name ever appears in the temporary folder. A
# file-size limit below the music's size does not kill the player: the music is dropped. Runs
# against a private PulseAudio server so the music really plays; exit 77 skips without it.
set -euo pipefail
player=$1 gdpack=$2 photo=$3
work=$(mktemp -d)
pid="" xvfb=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  stop_private_pulse
  rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "$0")/music_env.sh"

"$gdpack" build -o "$work/Ends.exe" --base "$player" --music "$work/tune.wav" \
  --set Duration=30 --photo one "" "$photo" --photo two "" "$photo" >/dev/null

fail() { echo "$case: $*"; cat "$log" "$log.err" 2>/dev/null; exit 1; }
temp_files() { ls -A "$TMPDIR" | grep -c . || true; }
# Descriptors of the music's copy the player holds (an unnamed file of the temporary folder,
# or in memory where the folder makes none): its own, and the media player's once it has
# opened the copy.
copies() {
  local f
  for f in /proc/"$pid"/fd/*; do readlink "$f" 2>/dev/null; done |
    grep -c -e "^$TMPDIR/#[0-9]* (deleted)\$" -e '^/memfd:~music\.wav' || true
}
# Waits for a line of the player's log while the player runs.
await() {
  for _ in $(seq 300); do
    grep -q "$1" "$log" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
finish() {
  code=0
  wait "$pid" || code=$?
  pid=""
  [ "$code" -eq "$1" ] || fail "exit code $code, expected $1"
  grep -q '^shutdown' "$log" || fail "the shutdown did not run"
  [ "$(temp_files)" -eq 0 ] || fail "temporary music file left: $(ls "$TMPDIR")"
}

for sig in TERM INT HUP; do
  case=SIG$sig log=$work/$sig.log
  # A shell starts background programs with SIGINT ignored, and the runner may ignore SIGHUP
  # (nohup), which the player then keeps ignoring: start it with the defaults.
  GLIMMERDECK_TEST_LOG=$log QT_QPA_PLATFORM=offscreen \
    env --default-signal=HUP,INT "$work/Ends.exe" x 2>"$log.err" &
  pid=$!
  await '^music /' || fail "music did not start"
  [ "$(copies)" -ge 1 ] || fail "the music's copy is not open while the music plays"
  [ "$(temp_files)" -eq 0 ] || fail "a file in the temporary folder while the music plays: $(ls "$TMPDIR")"
  kill -"$sig" "$pid"
  finish 0
  grep -q "^signal SIG$sig" "$log" || fail "signal not handled"
done

case=SIGKILL log=$work/KILL.log
GLIMMERDECK_TEST_LOG=$log QT_QPA_PLATFORM=offscreen "$work/Ends.exe" x 2>"$log.err" &
pid=$!
await '^music /' || fail "music did not start"
[ "$(copies)" -ge 1 ] || fail "the music's copy is not open while the music plays"
kill -KILL "$pid"
code=0
wait "$pid" 2>/dev/null || code=$?
pid=""
[ "$code" -eq 137 ] || fail "exit code $code, expected 137 (killed)"
[ "$(temp_files)" -eq 0 ] || fail "the kill left a file: $(ls -la "$TMPDIR")"

case="display lost" log=$work/display.log
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
# The program is ended from inside Qt with live objects: a leak report would mean nothing.
DISPLAY=":$(head -n1 "$work/display")" QT_QPA_PLATFORM=xcb LSAN_OPTIONS=detect_leaks=0 \
  GLIMMERDECK_TEST_LOG=$log "$work/Ends.exe" x 2>"$log.err" &
pid=$!
await '^music /' || fail "music did not start"
await '^show photo' || fail "no photo shown"
kill "$xvfb"
wait "$xvfb" 2>/dev/null || true
xvfb=""
finish 1

case="file-size limit" log=$work/fsize.log
# 64 KiB, below the 176 KiB of the music: the write fails instead of killing the player.
(ulimit -f 64; GLIMMERDECK_TEST_LOG=$log QT_QPA_PLATFORM=offscreen exec "$work/Ends.exe" x 2>"$log.err") &
pid=$!
await '^music dropped' || fail "music not dropped"
await '^show photo' || fail "the show did not go on"
kill -TERM "$pid"
finish 0

echo "no end, a kill included, left a music file; a file-size limit only dropped the music"
