#!/usr/bin/env bash
# The demo without a display: scripts/demo starts its own virtual X server, plays the packed
# show, exits 0 and leaves screenshots: the help page first, then each photo on screen.
set -euo pipefail
root=$1 build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config TMPDIR=$work/tmp
mkdir -p -m 700 "$XDG_RUNTIME_DIR" && mkdir -p "$TMPDIR" "$work/photos"
colours=("210,48,32" "32,160,64" "40,60,200")
for i in 0 1 2; do
  convert -size 400x300 "xc:rgb(${colours[$i]})" "$work/photos/$i.png"
done

env -u DISPLAY -u WAYLAND_DISPLAY GD_DEMO_PHOTOS="$work/photos" GD_DEMO_OUT="$work/demo" \
  "$root/scripts/demo" "$build" --headless >"$work/out" 2>&1 || { cat "$work/out"; exit 1; }
cat "$work/out"
grep -q "screenshots in $work/demo/screenshots" "$work/out"

pixel() {
  convert "$1" -format "%[fx:int(255*p{$2,$3}.r+0.5)],%[fx:int(255*p{$2,$3}.g+0.5)],%[fx:int(255*p{$2,$3}.b+0.5)]" info:
}
shots=$work/demo/screenshots
# The help page: a light dialog in the middle of the black screen.
help=$(pixel "$shots/0-help.png" 640 300)
[ "$help" != "0,0,0" ] || { echo "no help page on the first screenshot"; exit 1; }
for i in 1 2 3; do
  got=$(pixel "$shots/$i-photo.png" 640 300)
  want=${colours[$((i - 1))]}
  [ "$got" = "$want" ] || { echo "screenshot $i shows $got, not the photo's $want"; exit 1; }
done
echo "the demo played headless and its screenshots show the help page and each photo"
