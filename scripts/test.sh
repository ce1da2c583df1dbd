#!/usr/bin/env bash
# Builds everything and runs every test. Wraps the run in a virtual X display when
# none is set, so the window tests work on a headless machine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh

if [ -z "${DISPLAY:-}" ] && [ -z "${KGL_UNDER_XVFB:-}" ]; then
  export KGL_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

build=${KGL_BUILD_DIR:-$root/build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build"
(cd "$build" && ctest --output-on-failure -j2)
