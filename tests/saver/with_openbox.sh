#!/usr/bin/env bash
# Runs a command with openbox managing the X display (inside xvfb-run), so dialogs meet a
# real window manager's stacking and focus rules. GD_WINDOW_MANAGER tells the tests.
set -u
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  sleep 0.1
done
GD_WINDOW_MANAGER=openbox "$@"
rc=$?
kill "$wm" 2>/dev/null
wait "$wm" 2>/dev/null
exit $rc
