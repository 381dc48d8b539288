#!/usr/bin/env bash
# The journal where nothing can be written, through kov-cli: on a read-only or a full file
# system, after a clean close and after a till died mid-payment (its entry only in the -wal),
# pending lists every entry and changes no file, and a start is refused with the reason
# (nothing sent) and leaves no file beside the journal. Runs in a mount namespace of its own (77: none can be had here).
set -euo pipefail
cli=$1
if [ "${KOV_IN_NAMESPACE:-}" != 1 ]; then
  flags=(--mount --propagation private)
  [ "$(id -u)" = 0 ] || flags+=(--map-root-user)
  unshare "${flags[@]}" true 2>/dev/null || { echo "no mount namespace can be had here"; exit 77; }
  KOV_IN_NAMESPACE=1 exec unshare "${flags[@]}" "$0" "$@"
fi
dir=$(mktemp -d)
trap 'umount "$dir" 2>/dev/null || true; rmdir "$dir"' EXIT
failures=0
# SQLite's URIs take '%', '?' and '#' as their own.
journal="$dir/till %41?#1.db"
pay() {  # a purchase whose connections are refused: it stays pending, its request never left
  KOV_KEY=k exec "$cli" purchase --user u --station S --amount 1.00 --currency AUD --journal "$journal" \
    --endpoint http://127.0.0.1:1/wqmi3/pos.aspx --txn-ref "$@"
}
for setup in clean crash; do
  for unwritable in read-only full; do
    mount -t tmpfs -o size=512k tmpfs "$dir"
    (pay T-1 --retry-spacing 0 >/dev/null 2>&1) || true
    (pay T-2 --retry-spacing 0 >/dev/null 2>&1) || true
    listed="T-1 T-2"
    if [ $setup = crash ]; then
      pay T-3 --retry-spacing 60 >/dev/null 2>&1 &
      until [ -s "$journal-wal" ] && "$cli" pending --journal "$journal" | grep -q T-3; do sleep 0.05; done
      kill -9 $!
      wait $! || true
      listed="T-1 T-2 T-3"
    fi
    if [ $unwritable = read-only ]; then
      mount -o remount,ro "$dir"; why="read-only file system"
    else
      dd if=/dev/zero of="$dir/filler" bs=4k 2>/dev/null || true; why="disk full"
    fi
    before=$(ls -A "$dir")
    got=$("$cli" pending --journal "$journal" | grep -o '"txnRef":"T-[0-9]"' | cut -d'"' -f4 | xargs)
    after=$(ls -A "$dir")
    result=$( (pay T-4 --retry-spacing 0 2>/dev/null) || true)
    # The start's connection may fold the -wal into the file as it closes, but adds nothing.
    started=$(ls -A "$dir")
    if [ "$got" != "$listed" ] || [ "$after" != "$before" ] || [ -n "$(comm -13 <(echo "$before") <(echo "$started"))" ] ||
      [[ "$result" != *"\"responseText\":\"The journal cannot be written: $why\""* ]]; then
      echo "$setup, $unwritable: listed '$got' (want '$listed'); files $(echo $after), then $(echo $started)" \
        "(were $(echo $before)); start: $result"
      failures=$((failures + 1))
    fi
    umount "$dir"
  done
done
exit $failures
