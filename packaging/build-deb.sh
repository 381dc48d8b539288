#!/usr/bin/env bash
# Builds the Debian package: shared libraries, headers, CMake package, pkg-config files,
# resources, kov-cli and kov-simulator, installed under /usr.
#   BUILD_DIR=dir   where to build (default: build-deb); the package is written there
# Install it with: apt-get install ./<dir>/kovmodule_<version>_<arch>.deb
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build-deb}"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOV_WERROR=ON \
  -DBUILD_SHARED_LIBS=ON -DCMAKE_INSTALL_PREFIX=/usr \
  -DKOV_BUILD_TESTS=OFF -DKOV_BUILD_EXAMPLES=OFF -DKOV_BUILD_DOCS=OFF -DKOV_BUILD_TOOLS=ON
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G DEB)
ls -l "$build"/*.deb
