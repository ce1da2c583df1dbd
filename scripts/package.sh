#!/usr/bin/env bash
# Builds what an install holds and makes the Debian package of it in the build folder
# (CPack's DEB generator; dpkg-shlibdeps names the libraries' packages as dependencies).
#   scripts/package.sh      then: apt-get install ./build/kgl-editor_VERSION_ARCH.deb
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/install-deps.sh
build=${KGL_BUILD_DIR:-$root/build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
# The programs, and through them the samples, the checker image and the icons.
cmake --build "$build" --target kgl-editor kglmodel
(cd "$build" && cpack -G DEB)
ls "$build"/kgl-editor_*.deb
