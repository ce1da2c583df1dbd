#!/usr/bin/env bash
# Installs what is missing, builds, and starts the editor on the bundled samples. The
# editor starts from the folder of the programs, where "checker.jpg" and obj/ lie.
#   scripts/run.sh [PATH]   PATH: a model file or a folder to open after start-up
set -euo pipefail
# Taken from where the script was called, before it moves to the programs' folder.
args=()
for a in "$@"; do args+=("$(realpath -m -- "$a")"); done
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/install-deps.sh
build=${KGL_BUILD_DIR:-$root/build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --target kgl-editor
cd "$build/bin"
exec ./kgl-editor "${args[@]}"
