#!/bin/sh
# Builds the fuzzers with clang (ASan + UBSan + libFuzzer) and runs each for N seconds
# (default 60) from the seed corpus, with its dictionary and bounded memory. New inputs go
# to a scratch corpus under the build directory; the seeds in the repository stay as they are.
#   fuzz/run.sh [SECONDS] [BUILD_DIR]
# A crash, leak, time-out or memory overrun fails the script and leaves the input in
# BUILD_DIR/artifacts.
set -eu
seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
build=${2:-$here/../build-fuzz}
cc=${CC:-clang-14}
cxx=${CXX:-clang++-14}

CC=$cc CXX=$cxx cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOV_WERROR=ON
cmake --build "$build" --target fuzz_parse_xml fuzz_dispatch -j"${JOBS:-2}"

mkdir -p "$build/artifacts"
status=0
for name in parse_xml dispatch; do
  work="$build/corpus/$name"
  mkdir -p "$work"
  echo "== fuzz_$name for ${seconds}s"
  # Answers are at most 1 MiB; 64 KiB inputs reach every path the parser has.
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$build/fuzz_$name" "$work" "$here/corpus/$name" \
    -dict="$here/$name.dict" \
    -max_total_time="$seconds" -max_len=65536 -timeout=10 \
    -rss_limit_mb=2048 -malloc_limit_mb=64 \
    -artifact_prefix="$build/artifacts/$name-" -print_final_stats=1 || status=1
done
exit $status
