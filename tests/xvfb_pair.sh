#!/usr/bin/env bash
# Runs an X test program twice at once, each on a virtual X server of its own: once on the
# bare server and once with openbox managing it (saver/with_openbox.sh). Prints both outputs,
# the bare run's first; fails when either run fails.
# Usage: xvfb_pair.sh XVFB_RUN SCREEN PROGRAM [ARGS...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
xvfb_run=$1 screen=$2
shift 2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# Different first display numbers, so the two servers never reach for the same one.
"$xvfb_run" -a -n 101 -s "-screen 0 $screen" "$@" >"$out/bare" 2>&1 &
bare=$!
"$xvfb_run" -a -n 201 -s "-screen 0 $screen" bash "$here/saver/with_openbox.sh" "$@" >"$out/openbox" 2>&1 &
managed=$!
wait "$bare"
rc_bare=$?
wait "$managed"
rc_managed=$?
echo "== on the bare X server: exit $rc_bare"
cat "$out/bare"
echo "== under openbox: exit $rc_managed"
cat "$out/openbox"
[ "$rc_bare" = 0 ] && [ "$rc_managed" = 0 ]
