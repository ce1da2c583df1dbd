#!/usr/bin/env bash
# Takes a screenshot of the checker demo as the X server shows it, from outside the
# program (ImageMagick's import), on a virtual display of its own.
#   tests/panel/screenshot.sh BUILD_DIR OUT.png
set -euo pipefail
build=${1:?build folder}
out=${2:?output png}
xvfb-run -a -s "-screen 0 640x480x24" bash -c '
  "$0"/tests/panel/demo_checker --hold 3 &
  demo=$!
  sleep 2
  import -window root "$1"
  wait "$demo"
' "$build" "$out"
echo "screenshot: $out"
