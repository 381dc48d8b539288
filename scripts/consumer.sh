#!/usr/bin/env bash
# Proves that a host project can take the library in:
#   1. builds the shared libraries and tools, installs them into a temporary prefix, checks
#      their sonames and exported symbols, and the CMake package's versions and components;
#   2. builds tests/consumer against that prefix with find_package, and the same program
#      with pkg-config;
#   3. builds tests/consumer again with the library embedded through add_subdirectory;
#   4. runs each of the three consumers against a kov-simulator it starts on loopback: an
#      approved and a declined purchase.
#   BUILD_DIR=dir     where to build (default: build-consumer); the prefix is a temporary folder
#   KEEP_PREFIX=1     keep the temporary prefix (its path is printed)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build-consumer}"
jobs="$(nproc)"
prefix="$(mktemp -d -t kovmodule-prefix.XXXXXX)"
sim_pid=""
sim_out=""

cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  [ -n "$sim_out" ] && rm -f "$sim_out"
  if [ "${KEEP_PREFIX:-0}" = "1" ]; then echo "prefix kept: $prefix"; else rm -rf "$prefix"; fi
}
trap cleanup EXIT

step() { echo "== $*"; }

# No optimisation: this checks packaging, and the library is built twice.
common=(-G Ninja -DCMAKE_BUILD_TYPE= -DKOV_WERROR=ON)

step "library: build and install into $prefix"
cmake -S "$root" -B "$build/library" "${common[@]}" -DBUILD_SHARED_LIBS=ON \
  -DKOV_BUILD_TESTS=OFF -DKOV_BUILD_EXAMPLES=OFF -DKOV_BUILD_DOCS=OFF -DKOV_BUILD_TOOLS=ON \
  -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build "$build/library" -j"$jobs"
cmake --install "$build/library" >/dev/null
for lib in Core:KOV_CORE_EXPORT Curl:KOV_CURL_EXPORT Qt:KOV_QT_EXPORT; do
  so="$(find "$prefix" -name "libKOVModule${lib%%:*}.so.0.3")"
  cmake -DLIBRARY="$so" -DSONAME="libKOVModule${lib%%:*}.so.0.3" -DMACRO="${lib##*:}" \
    -DHEADERS="$prefix/include/KOVModule" -P "$root/cmake/KOVCheckExports.cmake"
done

step "package: versions and components"
cmake -S "$root/tests/consumer/package-check" -B "$build/package-check" -DCMAKE_PREFIX_PATH="$prefix" \
  | grep -- "-- ok:"

step "consumer: find_package"
cmake -S "$root/tests/consumer" -B "$build/find-package" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$build/find-package" -j"$jobs"

step "consumer: pkg-config"
mkdir -p "$build/pkg-config"
PKG_CONFIG_PATH="$(dirname "$(find "$prefix" -name KOVModuleQt.pc | head -n1)")"
export PKG_CONFIG_PATH
pkg-config --exact-version=0.3.0 KOVModuleCore KOVModuleQt
# shellcheck disable=SC2046
g++ -std=c++20 -o "$build/pkg-config/kov-consumer" "$root/tests/consumer/main.cpp" \
  $(pkg-config --cflags --libs KOVModuleQt) -Wl,-rpath,"$(pkg-config --variable=libdir KOVModuleQt)"

step "consumer: add_subdirectory"
cmake -S "$root/tests/consumer" -B "$build/add-subdirectory" "${common[@]}" \
  -DKOV_CONSUMER_SUBDIRECTORY="$root" >/dev/null
cmake --build "$build/add-subdirectory" -j"$jobs"

step "simulator on loopback"
sim_out="$(mktemp -t kov-simulator-out.XXXXXX)"
"$prefix/bin/kov-simulator" --listen 127.0.0.1:0 --speed 50 >"$sim_out" 2>/dev/null &
sim_pid=$!
url=""
for _ in $(seq 1 100); do
  url="$(sed -n '1s/^kov-simulator listening on //p' "$sim_out")"
  [ -n "$url" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "kov-simulator did not start" >&2; exit 1; }
  sleep 0.1
done
[ -n "$url" ] || { echo "kov-simulator did not print its URL" >&2; exit 1; }
echo "$url"

run=0
check() {  # check NAME EXE EXPECTED-STATUS [MERCHANTREF]
  local name="$1" exe="$2" want="$3" mref="${4:-}" status=0 out
  run=$((run + 1))
  out="$(timeout 60 "$exe" "$url" "consumer-$run-$$" "consumer-$name-$run-$$" ${mref:+"$mref"})" || status=$?
  echo "$out" | sed "s/^/  [$name] /"
  if [ "$status" != "$want" ]; then echo "$name: exit status $status, expected $want" >&2; exit 1; fi
  echo "$out" | grep -qx "module iOS 0.3.0-kov" || { echo "$name: no module version line" >&2; exit 1; }
}

for kind in find-package pkg-config add-subdirectory; do
  exe="$build/$kind/kov-consumer"
  check "$kind" "$exe" 0
  check "$kind" "$exe" 1 "sim:decline"
done
# The installed program uses the installed libraries, not the build tree's.
ldd "$build/find-package/kov-consumer" | grep -q "$prefix/.*libKOVModuleQt.so.0.3" \
  || { echo "find-package consumer does not load the installed library" >&2; exit 1; }
step "consumer checks passed"
