#!/usr/bin/env bash
# Resident memory of kov-cli across one long transaction: the simulator answers every
# status request at once and keeps the card screen (a very slow clock), kov-cli polls
# POLLS times, then the cancel button ends the transaction. VmRSS is sampled from
# /proc/PID/status together with the simulator's count of status requests.
#
#   bench/rss.sh BUILD_DIR [POLLS]      (default 100000)
#
# Prints one "sample polls=N rss_kb=K" line per sample, then the summary:
#   rss first_kb=<at 1000 polls> last_kb=<at the end> max_after_first_kb=... growth_kb=...
set -euo pipefail
. "$(dirname "$0")/simulator.sh"

build=${1:?usage: bench/rss.sh BUILD_DIR [POLLS]}
polls=${2:-100000}
sim_bin="$build/tools/kov-simulator/kov-simulator"
cli_bin="$build/tools/kov-cli/kov-cli"
first_at=$(( polls < 1000 ? polls : 1000 ))

work=$(mktemp -d)
sim_pid=""
cli_pid=""
cleanup() {
  exec 3>&- 2>/dev/null || true
  [ -n "$cli_pid" ] && kill "$cli_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  [ -n "$cli_pid" ] && wait "$cli_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && wait "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start_simulator --hold-ms 0 --speed 0.000001
stats_url="${url%/wqmi3/pos.aspx}/_sim/stats"

mkfifo "$work/stdin"
"$cli_bin" purchase --user merchant --key s3cret --station rss-1 --txn-ref rss-1 --amount 12.50 \
  --currency AUD --endpoint "$url" <"$work/stdin" >"$work/result.json" 2>/dev/null &
cli_pid=$!
exec 3>"$work/stdin"  # held open: kov-cli reads its presses from here

status_polls() {
  curl -s --max-time 5 "$stats_url" | grep -o '"Status":[0-9]*' | head -n1 | cut -d: -f2
}

first_kb=""
last_kb=0
max_kb=0
while :; do
  sleep 0.5
  kill -0 "$cli_pid" 2>/dev/null || { echo "rss.sh: kov-cli ended early" >&2; exit 1; }
  n=$(status_polls)
  n=${n:-0}
  kb=$(awk '/^VmRSS:/ {print $2}' "/proc/$cli_pid/status")
  echo "sample polls=$n rss_kb=$kb"
  if [ "$n" -ge "$first_at" ]; then
    [ -z "$first_kb" ] && first_kb=$kb
    last_kb=$kb
    [ "$kb" -gt "$max_kb" ] && max_kb=$kb
  fi
  [ "$n" -ge "$polls" ] && break
done

echo B1 >&3
exec 3>&-
for _ in $(seq 1 200); do
  kill -0 "$cli_pid" 2>/dev/null || break
  sleep 0.05
done
set +e
wait "$cli_pid"
cli_status=$?
set -e
cli_pid=""
echo "rss first_kb=$first_kb last_kb=$last_kb max_after_first_kb=$max_kb growth_kb=$(( last_kb - first_kb )) polls=$n cli_exit=$cli_status"
grep -q '"result"' "$work/result.json" || grep -q '{' "$work/result.json" || { echo "rss.sh: no result from kov-cli" >&2; exit 1; }
