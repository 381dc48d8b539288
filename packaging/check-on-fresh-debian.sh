#!/usr/bin/env bash
# Proves the Debian packages on a fresh Debian 12 system:
#   1. makes a minimal bookworm root with debootstrap from Debian's package archive;
#   2. installs the packages there with apt, which resolves their dependencies from the archive;
#   3. checks the installed CMake package's versions and components, and builds tests/consumer
#      against the installed development package with find_package and with pkg-config;
#   4. runs purchases with the installed kov-cli and both consumers against the installed
#      kov-simulator on loopback: approved and declined.
# Run as root (debootstrap, chroot and mount need it); it takes several minutes and downloads
# some hundred megabytes, so it is not part of CI.
#   packaging/check-on-fresh-debian.sh DEB_DIR   DEB_DIR holds the .deb files dpkg-buildpackage made
#   BUILD_DIR=dir    where the root is made and the log kept (default: build-fresh-debian)
#   MIRROR=url       the Debian archive (default: http://deb.debian.org/debian)
#   KEEP_ROOT=1      keep the root afterwards (default: removed)
# The log is written to BUILD_DIR/check-on-fresh-debian.log as well.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
debs="${1:-}"
build="${BUILD_DIR:-$repo/build-fresh-debian}"
mirror="${MIRROR:-http://deb.debian.org/debian}"
packages=(libkovmodulecore0.3 libkovmoduleqt0.3 libkovmodule-dev kovmodule-tools)

usage() { echo "usage: $0 DEB_DIR  (the folder with the .deb files)" >&2; exit 2; }
if [ -z "$debs" ] || [ ! -d "$debs" ]; then usage; fi
debs="$(cd "$debs" && pwd)"
for package in "${packages[@]}"; do
  compgen -G "$debs/${package}_*.deb" >/dev/null || { echo "no ${package}_*.deb in $debs" >&2; exit 2; }
done
[ "$(id -u)" -eq 0 ] || { echo "run as root: debootstrap, chroot and mount need it" >&2; exit 2; }
command -v debootstrap >/dev/null || { echo "debootstrap is missing (apt-get install debootstrap)" >&2; exit 2; }

mkdir -p "$build"
build="$(cd "$build" && pwd)"
root="$build/root"
log="$build/check-on-fresh-debian.log"
exec > >(tee "$log") 2>&1

step() { echo "== $(date +%T) $*"; }

# Processes left inside the root (by their id), then the mounts, then the root itself.
cleanup() {
  local status=$? proc
  for proc in /proc/[0-9]*; do
    if [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ]; then kill "${proc#/proc/}" 2>/dev/null || true; fi
  done
  for mount in proc sys dev/pts; do
    if mountpoint -q "$root/$mount"; then umount "$root/$mount" || umount -l "$root/$mount"; fi
  done
  if [ "${KEEP_ROOT:-0}" = "1" ]; then
    echo "root kept: $root"
  elif [ -d "$root" ]; then
    if findmnt -rn -o TARGET | grep -q "^$root/"; then
      echo "something is still mounted under $root; not removing it" >&2
    else
      rm -rf "$root"
    fi
  fi
  if [ "$status" -eq 0 ]; then step "all checks passed"; else step "FAILED (exit status $status)"; fi
}
trap cleanup EXIT

if [ -e "$root" ]; then
  findmnt -rn -o TARGET | grep -q "^$root/" && { echo "$root has mounts; unmount them first" >&2; exit 1; }
  rm -rf "$root"
fi

step "debootstrap bookworm (minbase) from $mirror"
mkdir -p "$build/cache"
debootstrap --variant=minbase --cache-dir="$build/cache" bookworm "$root" "$mirror" >"$build/debootstrap.log" \
  || { tail -n 30 "$build/debootstrap.log"; exit 1; }
tail -n 1 "$build/debootstrap.log"
# A fresh Debian 12 system: the release with its updates and security fixes, no service started.
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
mount -t proc proc "$root/proc"
mount -t sysfs sys "$root/sys"
mkdir -p "$root/dev/pts" && mount -t devpts devpts "$root/dev/pts"

mkdir -p "$root/tmp/kov/debs"
for package in "${packages[@]}"; do cp "$debs/${package}"_*.deb "$root/tmp/kov/debs/"; done
cp -r "$repo/tests/consumer" "$root/tmp/kov/consumer"

cat >"$root/tmp/kov/check.sh" <<'INSIDE'
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8
step() { echo "== $(date +%T) $*"; }
cd /tmp/kov

step "apt: install the packages (dependencies from the archive)"
apt-get update -qq
before="$(dpkg-query -W | wc -l)"
apt-get install -y -qq --no-install-recommends ./debs/*.deb >apt-packages.log \
  || { tail -n 40 apt-packages.log; exit 1; }
echo "installed packages: $before before, $(dpkg-query -W | wc -l) after"
for package in "$@"; do
  dpkg-query -W -f='${Package} ${Version} ${Status}\n  depends: ${Depends}\n' "$package"
done
ldconfig -p | grep libKOVModule

step "apt: a compiler, cmake and pkg-config for the host project"
apt-get install -y -qq --no-install-recommends g++ cmake make pkgconf >apt-tools.log \
  || { tail -n 40 apt-tools.log; exit 1; }

step "CMake package: versions and components"
cmake -S consumer/package-check -B build/package-check | grep -- "-- ok:"

step "consumer: find_package"
cmake -S consumer -B build/find-package >/dev/null
cmake --build build/find-package -j2
ldd build/find-package/kov-consumer | grep -E 'libKOVModule(Core|Qt)\.so\.0\.3 => /(usr/)?lib/'

step "consumer: pkg-config"
modules=()
for pc in /usr/lib/*/pkgconfig/KOVModule*.pc; do modules+=("$(basename "$pc" .pc)"); done
echo "${modules[*]}"
pkg-config --exact-version=0.3.0 "${modules[@]}"
pkg-config --cflags --libs KOVModuleQt
mkdir -p build/pkg-config
# shellcheck disable=SC2046
g++ -std=c++20 -o build/pkg-config/kov-consumer consumer/main.cpp $(pkg-config --cflags --libs KOVModuleQt)

step "kov-simulator on loopback"
kov-simulator --listen 127.0.0.1:0 --speed 50 >simulator.out 2>simulator.err &
simulator=$!
trap 'kill $simulator 2>/dev/null || true; wait $simulator 2>/dev/null || true' EXIT
url=""
for _ in $(seq 100); do
  url="$(sed -n '1s/^kov-simulator listening on //p' simulator.out)"
  [ -n "$url" ] && break
  kill -0 "$simulator" 2>/dev/null || { cat simulator.err; exit 1; }
  sleep 0.1
done
[ -n "$url" ] || { echo "kov-simulator did not print its URL" >&2; exit 1; }
echo "$url"

expect() {  # expect NAME STATUS COMMAND...
  local name="$1" want="$2" status=0
  shift 2
  "$@" </dev/null >out.txt 2>err.txt || status=$?
  sed "s/^/  [$name] /" out.txt
  tail -n 2 err.txt | sed "s/^/  [$name stderr] /"
  [ "$status" = "$want" ] || { echo "$name: exit status $status, expected $want" >&2; exit 1; }
}
cli=(kov-cli purchase --user merchant --key s3cret --station ST01 --amount 12.50 --currency AUD --endpoint "$url")
step "kov-cli: a purchase, approved"
expect kov-cli 0 timeout 60 "${cli[@]}" --txn-ref "FRESH-CLI-1"
grep -q '"transactionResult"' out.txt
step "kov-cli: a purchase, declined"
expect kov-cli 1 timeout 60 "${cli[@]}" --txn-ref "FRESH-CLI-2" --merchant-ref sim:decline
for kind in find-package pkg-config; do
  step "consumer ($kind): a purchase, approved and declined"
  expect "$kind" 0 timeout 60 "build/$kind/kov-consumer" "$url" "ST-$kind" "FRESH-$kind-1"
  grep -qx "module iOS 0.3.0-kov" out.txt
  expect "$kind" 1 timeout 60 "build/$kind/kov-consumer" "$url" "ST-$kind" "FRESH-$kind-2" sim:decline
done
INSIDE

chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root /bin/bash /tmp/kov/check.sh "${packages[@]}"
