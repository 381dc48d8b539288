#!/usr/bin/env bash
# Peak resident memory of kov-cli for one whole purchase, beside curl posting one request
# to the same simulator, in one run: `/usr/bin/time -f %M` (KiB) for each. The simulator
# runs the approve scenario on a fast clock; kov-cli polls to the approved result, curl
# posts one purchase request.
#
#   bench/peak-rss.sh BUILD_DIR
#
# Prints: peak kov_cli_kb=K curl_kb=C ratio=K/C requests=N (the requests kov-cli sent)
set -euo pipefail
. "$(dirname "$0")/simulator.sh"

build=${1:?usage: bench/peak-rss.sh BUILD_DIR}
sim_bin="$build/tools/kov-simulator/kov-simulator"
cli_bin="$build/tools/kov-cli/kov-cli"

work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && wait "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start_simulator --speed 20 --hold-ms 50

/usr/bin/time -o "$work/cli.kb" -f %M "$cli_bin" purchase --user merchant --key s3cret --station peak-1 \
  --txn-ref peak-1 --amount 12.50 --currency AUD --endpoint "$url" </dev/null >"$work/result.json" 2>/dev/null ||
  { echo "peak-rss.sh: the purchase was not approved" >&2; exit 1; }
requests=$(curl -s --max-time 5 "${url%/wqmi3/pos.aspx}/_sim/stats" | grep -o '"requests":[0-9]*' | cut -d: -f2 || true)
/usr/bin/time -o "$work/curl.kb" -f %M curl -s -o /dev/null -H 'Content-Type: text/xml' --data \
  '<Scr action="doScrKOV" user="merchant" key="s3cret"><TxnRef>peak-2</TxnRef><Station>peak-1</Station><Amount>12.50</Amount><Cur>AUD</Cur><TxnType>Purchase</TxnType></Scr>' \
  "$url"

cli_kb=$(tail -n1 "$work/cli.kb")
curl_kb=$(tail -n1 "$work/curl.kb")
echo "peak kov_cli_kb=$cli_kb curl_kb=$curl_kb ratio=$(awk -v a="$cli_kb" -v b="$curl_kb" 'BEGIN{printf "%.2f", a/b}') requests=${requests:-?}"
