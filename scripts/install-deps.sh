#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the fuzzers, the benchmarks and the
# Debian package (scripts/package.sh) need, and the Khronos glTF validator (node, from the
# npm registry) into tests/gltf for the test of the glTF files we write.
# Safe to run again: it installs only what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libqt6opengl6-dev libgl-dev libglu1-mesa-dev libjpeg-dev
  libgtest-dev libgmock-dev libosmesa6-dev libpng-dev
  xvfb xauth imagemagick xdotool
  libbenchmark-dev libtinyobjloader-dev libmeshoptimizer-dev
  libassimp-dev libseccomp-dev libtinygltf-dev nlohmann-json3-dev
  clang libclang-rt-14-dev clang-format
  assimp-testmodels
  dpkg-dev file desktop-file-utils shared-mime-info libglib2.0-bin
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# node and npm: Debian's, unless the machine has a node of its own (which brings npm)
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The validator at the version tests/gltf/package-lock.json pins. Without the registry the
# test that runs it is skipped and says so; nothing else needs it.
if [ ! -f tests/gltf/node_modules/gltf-validator/package.json ]; then
  (cd tests/gltf && npm ci --no-audit --no-fund --loglevel=error) ||
    echo "install-deps: the glTF validator could not be installed from the npm registry" >&2
fi
