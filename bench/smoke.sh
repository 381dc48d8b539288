#!/usr/bin/env bash
# Runs every benchmark once in a short mode, so CI sees that they build and run; times
# are printed but not judged. Each transport run starts and stops its own kov-simulator
# on 127.0.0.1 with a port of the system's choosing.
#
#   bench/smoke.sh BUILD_DIR      (configured with -DKOV_BUILD_BENCH=ON, target `bench` built)
set -euo pipefail

build=${1:?usage: bench/smoke.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
bin="$build/bench"
sim="$build/tools/kov-simulator/kov-simulator"
export QT_QPA_PLATFORM=offscreen

step() { echo "== $*"; }

step "poll cycle CPU"
"$bin/kov_bench_cycle" --benchmark_min_time=0.01

step "journal commits per transaction"
"$bin/kov_bench_journal" --folder "$build" --benchmark_min_time=0.01

step "connections per transaction (https)"
"$bin/kov_bench_transport" connections --simulator "$sim" --speed 30 --hold-ms 5

step "round trip of a poll (http, https)"
"$bin/kov_bench_transport" roundtrip --simulator "$sim" --polls 50
"$bin/kov_bench_transport" roundtrip --simulator "$sim" --polls 50 --tls

step "waiting screen CPU"
"$bin/kov_bench_indicator" --seconds 1

step "tills at once against one simulator (http, https)"
"$bin/kov_bench_tills" --speed 20 16
"$bin/kov_bench_tills" --speed 20 --tls 4

step "kov-bridge: a screen to the page, idle CPU, peak memory, a bridge per till"
"$bin/kov_bench_bridge" --short

step "kov-cli resident memory"
"$here/rss.sh" "$build" 2000

step "kov-cli peak memory for a purchase, beside curl"
"$here/peak-rss.sh" "$build"

echo "== smoke run complete"
