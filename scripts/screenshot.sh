#!/usr/bin/env bash
# Starts the editor on a virtual X display, waits for it to draw, and saves a picture
# of the screen (imagemagick's import), cropped to the window.
#   scripts/screenshot.sh [OUT.png] [SECONDS] [X0,Y0:X1,Y1]
# X0,Y0:X1,Y1: before the picture, a drag with the middle button (the orbit camera) from
# one point of the window to the other (xdotool), then SECONDS more for the frame.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$(realpath -m "${1:-$root/docs/editor.png}")
wait_s=${2:-4}
drag=${3:-}
build=${KGL_BUILD_DIR:-$root/build}
mkdir -p "$(dirname "$out")"

if [ -z "${KGL_SHOT_XVFB:-}" ]; then
  export KGL_SHOT_XVFB=1
  exec xvfb-run -a -s "-screen 0 800x520x24" bash "$0" "$out" "$wait_s" "$drag"
fi

cd "$build/bin"
./kgl-editor &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT
sleep "$wait_s"
if [ -n "$drag" ]; then
  IFS=',:' read -r x0 y0 x1 y1 <<<"$drag"
  xdotool mousemove "$x0" "$y0" mousedown 2
  for i in 1 2 3 4 5 6 7 8; do  # the move in steps, as a hand makes it
    xdotool mousemove $((x0 + (x1 - x0) * i / 8)) $((y0 + (y1 - y0) * i / 8))
    sleep 0.1
  done
  xdotool mouseup 2
  sleep "$wait_s"
fi
# Without a window manager the window sits at the top-left corner and has no title
# bar: the window's own title (with the frame rate) is read back and set above it.
line=$(xwininfo -root -tree | grep -m1 '"Kestivan')
title=$(sed -n 's/^ *0x[0-9a-f]* "\(Kestivan[^"]*\)".*/\1/p' <<<"$line")
size=$(grep -o '[0-9]*x[0-9]*+' <<<"$line" | head -n 1 | tr -d +)
import -window root -crop "${size:-774x470}+0+0" +repage "$out.tmp.png"
convert "$out.tmp.png" -background '#3c3f41' -fill white -font "$(fc-match -f '%{file}' sans)" -pointsize 13 -gravity northwest \
  -splice 0x22 -annotate +8+4 "${title:-?}" -colors 192 "PNG8:$out"
rm -f "$out.tmp.png"
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
trap - EXIT
echo "$out"
