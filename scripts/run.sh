#!/usr/bin/env bash
# Builds the editor and starts it on the bundled sample models.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/install-deps.sh
build=${KGL_BUILD_DIR:-$root/build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build"
cd "$build/bin"
if [ -x ./kgl-editor ]; then
  exec ./kgl-editor
fi
# Until the editor is built, show what the command-line companion reads.
exec ./kglmodel info obj/cube.obj
