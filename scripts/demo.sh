#!/usr/bin/env bash
# The main job: builds the library and its tools, starts the bundled payment-service
# simulator on loopback, and takes a payment through it.
#   bash scripts/demo.sh         the point-of-sale window (with no display: a scripted
#                                purchase that writes screenshots into build-demo/demo)
#   bash scripts/demo.sh --cli   a purchase with kov-cli: status lines, then the result JSON
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# A build of its own, without the tests, so that the demo needs only its own packages.
build="${BUILD_DIR:-$root/build-demo}"
mode="${1:-window}"

bash "$root/scripts/install-deps.sh" demo
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOV_BUILD_TESTS=OFF \
  -DKOV_BUILD_PYTHON=OFF -DKOV_BUILD_DOCS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target kov-simulator kov-cli pos-demo

simlog="$(mktemp)"
"$build/tools/kov-simulator/kov-simulator" --listen 127.0.0.1:0 --speed 2 >"$simlog" 2>"$simlog.err" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -f "$simlog" "$simlog.err"' EXIT
url=""
for _ in $(seq 100); do
  url="$(sed -n 's/^kov-simulator listening on //p' "$simlog")"
  [ -n "$url" ] && break
  sleep 0.1
done
[ -n "$url" ] || { echo "the simulator did not start:" >&2; cat "$simlog.err" >&2; exit 1; }
echo "simulator: $url"

if [ "$mode" = "--cli" ]; then
  KOV_KEY=s3cret "$build/tools/kov-cli/kov-cli" purchase --user merchant --station ST01 \
    --txn-ref "CLI-$(date +%s)" --amount 12.50 --currency AUD --endpoint "$url" </dev/null
elif [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  "$build/examples/pos-demo/pos-demo" --endpoint "$url"
else
  mkdir -p "$build/demo" && rm -f "$build/demo/journal.db"*
  QT_QPA_PLATFORM=offscreen "$build/examples/pos-demo/pos-demo" --endpoint "$url" --journal "$build/demo/journal.db" \
    --scripted "$build/demo"
fi
