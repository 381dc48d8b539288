#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors and runs the tests.
#   KOV_SANITIZE=ON   build and run with AddressSanitizer and UndefinedBehaviorSanitizer
#   BUILD_DIR=dir     build directory (default: build, or build-asan when sanitizing)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
sanitize="${KOV_SANITIZE:-OFF}"
if [ "$sanitize" = "ON" ]; then build="${BUILD_DIR:-$root/build-asan}"; else build="${BUILD_DIR:-$root/build}"; fi
# Benchmarks are built and smoke-run in the plain build only.
bench=ON
[ "$sanitize" = "ON" ] && bench=OFF

bash "$root/scripts/install-deps.sh" test
# The browser tests (headless Chromium) and the accessibility test (AT-SPI on a virtual
# display) need what install-deps.sh installs; the Debian package build leaves them out.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOV_BUILD_TESTS=ON -DKOV_BUILD_PYTHON=ON \
  -DKOV_WERROR=ON -DKOV_SANITIZE="$sanitize" -DKOV_BUILD_BENCH="$bench" \
  -DKOV_BROWSER_TESTS=ON -DKOV_ATSPI_TESTS=ON
cmake --build "$build" -j"$(nproc)"
[ "$bench" = "ON" ] && cmake --build "$build" -j"$(nproc)" --target bench
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 600

# Benchmarks run once in a short mode so that they keep building and running; times are
# not judged here (docs/benchmarks.md has the measured figures).
if [ "$bench" = "ON" ]; then
  bash "$root/bench/smoke.sh" "$build"
fi
