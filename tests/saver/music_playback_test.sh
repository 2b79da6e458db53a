#!/usr/bin/env bash
# The music block really plays: a player file with a WAV runs against a private PulseAudio
# server with a null sink, and its stream must show up as a live sink input. It plays from an
# unnamed copy (no name in the temporary folder), loops past the tune's end, and
# after the help dialog (F1, then Return, on a virtual X server) starts again from a fresh
# copy. Exit 77 skips where PulseAudio is not installed; the dialog part needs Xvfb and xdotool.
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

"$gdpack" build -o "$work/Music Show.exe" --base "$player" --music "$work/tune.wav" \
  --set Duration=3 --set Loop=1 --photo one "" "$photo" --photo two "" "$photo" >/dev/null

fail() { echo "$*"; cat "$log" "$work/player.out" "$work/pulse.log" 2>/dev/null; exit 1; }
# The player's stream as a sink input; with "playing", one that is not paused (corked).
stream() {
  pactl list sink-inputs 2>/dev/null |
    awk -v RS= -v want="$1" '/application.name = "Music Show.exe"/ && (want == "" || /Corked: no/) {f=1} END {exit !f}'
}
# Waits up to 10 s for the stream (in that state).
await_stream() {
  for _ in $(seq 100); do stream "$1" && return 0; sleep 0.1; done
  return 1
}
await_log() {
  local n
  for _ in $(seq 300); do
    n=$(grep -c "$1" "$log" 2>/dev/null || true)
    [ "${n:-0}" -ge "${2:-1}" ] && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
# Distinct copies of the music the player holds open (its own descriptor and the media
# player's name the same copy).
copies() {
  local f t
  for f in /proc/"$pid"/fd/*; do
    t=$(readlink "$f" 2>/dev/null) || continue
    case $t in /memfd:~music.wav* | "$TMPDIR"/\#*" (deleted)") stat -L -c %i "$f" 2>/dev/null ;; esac
  done | sort -u | grep -c . || true
}
temp_files() { ls -A "$TMPDIR" | grep -c . || true; }

log=$work/show.log
GLIMMERDECK_TEST_LOG=$log QT_QPA_PLATFORM=offscreen "$work/Music Show.exe" x \
  >"$work/player.out" 2>&1 &
pid=$!
await_stream "" || fail "no live stream of the player"
grep -q '^music /' "$log" || fail "music not started"
[ "$(copies)" -eq 1 ] || fail "not one copy of the music open: $(ls -l /proc/$pid/fd)"
[ "$(temp_files)" -eq 0 ] || fail "a file in the temporary folder: $(ls -la "$TMPDIR")"
# The tune lasts 4 s: past its end a looping stream plays on, one that does not is paused.
sleep 6
await_stream playing || fail "the music did not loop past its end"
kill -TERM "$pid"
code=0; wait "$pid" || code=$?
pid=""
[ "$code" -eq 0 ] || fail "player exit $code"
[ "$(temp_files)" -eq 0 ] || fail "a file left in the temporary folder: $(ls -la "$TMPDIR")"
echo "music played from memory and looped"

if ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
  echo "Xvfb or xdotool missing: the restart after a dialog is not tried"
  exit 0
fi
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
log=$work/restart.log
GLIMMERDECK_TEST_LOG=$log QT_QPA_PLATFORM=xcb "$work/Music Show.exe" x >"$work/player.out" 2>&1 &
pid=$!
await_log '^show photo' || fail "no photo shown"
await_stream playing || fail "no live stream of the player"
xdotool key F1
await_log '^window help' || fail "F1 did not open the help"
xdotool key Return
await_log '^music /' 2 || fail "the music did not start again after the help"
await_stream playing || fail "no live stream after the restart"
[ "$(copies)" -eq 1 ] || fail "not one copy of the music open after the restart: $(ls -l /proc/$pid/fd)"
[ "$(temp_files)" -eq 0 ] || fail "a file in the temporary folder: $(ls -la "$TMPDIR")"
kill -TERM "$pid"
code=0; wait "$pid" || code=$?
pid=""
[ "$code" -eq 0 ] || fail "player exit $code"
echo "after the help the music started again from a fresh copy; nothing was left"
