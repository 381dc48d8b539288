#!/usr/bin/env bash
# Proves that a host project can take the library in:
#   1. builds the shared libraries and tools, installs them into a temporary prefix, checks
#      their sonames and exported symbols, and the CMake package's versions and components;
#   2. installs the engine and the curl transport alone (their install components, as the
#      development package without Qt has them) into a second prefix and checks that the
#      package finds them there and refuses Qt, saying why;
#   3. builds tests/consumer (a host in C, one in C++ without Qt and a Qt host) against the
#      first prefix with find_package and with pkg-config, the hosts without Qt against the
#      second, all three against a third prefix holding the static libraries (the default
#      build), and again with the library embedded through add_subdirectory;
#   4. runs each consumer against a kov-simulator it starts on loopback: an approved and a
#      declined purchase.
#   BUILD_DIR=dir     where to build (default: build-consumer); the prefixes are temporary folders
#   KEEP_PREFIX=1     keep the temporary prefixes (their paths are printed)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build-consumer}"
jobs="$(nproc)"
prefix="$(mktemp -d -t kovmodule-prefix.XXXXXX)"
# The engine and the curl transport alone.
prefix_curl="$(mktemp -d -t kovmodule-prefix-curl.XXXXXX)"
# The static libraries, as a default build installs them.
prefix_static="$(mktemp -d -t kovmodule-prefix-static.XXXXXX)"
sim_pid=""
sim_out=""

cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  [ -n "$sim_out" ] && rm -f "$sim_out"
  if [ "${KEEP_PREFIX:-0}" = "1" ]; then
    echo "prefixes kept: $prefix $prefix_curl $prefix_static"
  else
    rm -rf "$prefix" "$prefix_curl" "$prefix_static"
  fi
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
for lib in Core:KOV_CORE_EXPORT Curl:KOV_CURL_EXPORT Journal:KOV_JOURNAL_EXPORT C:KOV_C_EXPORT Qt:KOV_QT_EXPORT; do
  so="$(find "$prefix" -name "libKOVModule${lib%%:*}.so.0.3")"
  only=""
  [ "${lib%%:*}" = C ] && only=kov_  # the C interface exports its kov_* functions and nothing else
  cmake -DLIBRARY="$so" -DSONAME="libKOVModule${lib%%:*}.so.0.3" -DMACRO="${lib##*:}" -DONLY_PREFIX="$only" \
    -DHEADERS="$prefix/include/KOVModule" -P "$root/cmake/KOVCheckExports.cmake"
done

step "package: versions and components"
cmake -S "$root/tests/consumer/package-check" -B "$build/package-check" -DCMAKE_PREFIX_PATH="$prefix" \
  | grep -- "-- ok:"

step "package without Qt: the engine, the curl transport, the journal and the C interface alone, into $prefix_curl"
for component in CoreRuntime CoreDevelopment CurlRuntime CurlDevelopment JournalRuntime JournalDevelopment \
  CRuntime CDevelopment; do
  cmake --install "$build/library" --prefix "$prefix_curl" --component "$component" >/dev/null
done
cmake -S "$root/tests/consumer/package-check" -B "$build/package-check-curl" -DCMAKE_PREFIX_PATH="$prefix_curl" \
  -DKOV_INSTALLED="Core;Curl;Journal;C" | grep -- "-- ok:"

step "consumers: find_package"
cmake -S "$root/tests/consumer" -B "$build/find-package" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$build/find-package" -j"$jobs"
cmake -S "$root/tests/consumer" -B "$build/find-package-curl" -G Ninja -DCMAKE_PREFIX_PATH="$prefix_curl" \
  -DKOV_CONSUMERS="Curl;C" >/dev/null
cmake --build "$build/find-package-curl" -j"$jobs"

step "static libraries: build and install into $prefix_static, and the consumers with find_package"
cmake -S "$root" -B "$build/library-static" "${common[@]}" -DBUILD_SHARED_LIBS=OFF \
  -DKOV_BUILD_TESTS=OFF -DKOV_BUILD_EXAMPLES=OFF -DKOV_BUILD_DOCS=OFF -DKOV_BUILD_TOOLS=OFF -DKOV_BUILD_PYTHON=OFF \
  -DCMAKE_INSTALL_PREFIX="$prefix_static" >/dev/null
cmake --build "$build/library-static" -j"$jobs"
cmake --install "$build/library-static" >/dev/null
cmake -S "$root/tests/consumer" -B "$build/find-package-static" -G Ninja -DCMAKE_PREFIX_PATH="$prefix_static" >/dev/null
cmake --build "$build/find-package-static" -j"$jobs"

step "consumers: pkg-config"
PKG_CONFIG_PATH="$(dirname "$(find "$prefix" -name KOVModuleQt.pc | head -n1)")"
export PKG_CONFIG_PATH
pkg-config --exact-version=0.3.0 KOVModuleCore KOVModuleCurl KOVModuleJournal KOVModuleC KOVModuleQt
for consumer in curl c qt; do
  module="KOVModule${consumer^}"
  mkdir -p "$build/pkg-config/$consumer"
  compile=(g++ -std=c++20 "$root/tests/consumer/$consumer/main.cpp")
  [ "$consumer" = c ] && compile=(gcc -std=c11 -D_POSIX_C_SOURCE=200809L "$root/tests/consumer/c/main.c")
  # The .pc files carry the rpath of a prefix outside the system's folders.
  # shellcheck disable=SC2046
  "${compile[@]}" -o "$build/pkg-config/$consumer/kov-consumer-$consumer" $(pkg-config --cflags --libs "$module")
done

step "consumers: add_subdirectory"
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
  echo "$out" | grep -qE "^module (iOS )?0\.3\.0(-kov)?$" || { echo "$name: no module version line" >&2; exit 1; }
}

for kind in find-package pkg-config add-subdirectory find-package-curl find-package-static; do
  for exe in "$build/$kind"/*/kov-consumer-*; do
    name="$kind:$(basename "$exe")"
    check "$name" "$exe" 0
    check "$name" "$exe" 1 "sim:decline"
  done
done
# The installed programs use the installed libraries, not the build tree's.
ldd "$build/find-package/qt/kov-consumer-qt" | grep -q "$prefix/.*libKOVModuleQt.so.0.3" \
  || { echo "find-package consumer does not load the installed library" >&2; exit 1; }
ldd "$build/find-package-curl/curl/kov-consumer-curl" | grep -q "$prefix_curl/.*libKOVModuleCurl.so.0.3" \
  || { echo "the consumer without Qt does not load the library of its prefix" >&2; exit 1; }
step "consumer checks passed"
