#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the fuzzers, the benchmarks and the
# Debian package (scripts/package.sh) need.
# Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libqt6opengl6-dev libgl-dev libglu1-mesa-dev libjpeg-dev
  libgtest-dev libgmock-dev libosmesa6-dev libpng-dev
  xvfb xauth imagemagick xdotool
  libbenchmark-dev libtinyobjloader-dev libmeshoptimizer-dev
  libassimp-dev libseccomp-dev
  clang libclang-rt-14-dev clang-format
  assimp-testmodels
  dpkg-dev file desktop-file-utils shared-mime-info libglib2.0-bin
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
