#!/usr/bin/env bash
# Proves the Debian packages on a fresh Debian 12 system:
#   1. makes a minimal bookworm root with debootstrap, from the Debian archive that this
#      machine's apt configuration names;
#   2. offers the packages there as a local apt repository, and installs python3-kovmodule with
#      the tools first, then each development package on its own, in turn (the one without Qt
#      first), letting apt resolve what it depends on from that repository and the archive;
#      until the Qt one, no Qt package may come with them;
#   3. after each, checks the installed CMake package's versions and components (the ones not
#      installed yet must be refused, saying which package brings them), and builds the
#      consumers in tests/consumer that it serves with find_package and with pkg-config;
#   4. runs purchases with the installed kov-cli and each consumer against the installed
#      kov-simulator on loopback: approved and declined;
#   5. runs the same purchases with the example till in Python on the installed package;
#   6. installs kovmodule-bridge, checks its system user, service and manual page, and serves a
#      purchase through kov-bridge, run as that user with a key file and a token file (made
#      by root's --print-token before the start, as an installer does), against
#      the installed kov-simulator: POST /v1/transactions, then the result from its events.
# Run as root (debootstrap, chroot and mount need it); it takes several minutes and downloads
# some hundred megabytes, so it is not part of CI.
#   packaging/check-on-fresh-debian.sh DEB_DIR   DEB_DIR holds the .deb files dpkg-buildpackage made
#   BUILD_DIR=dir        where the root is made and the log kept (default: build-fresh-debian)
#   MIRROR=url           the Debian archive (default: the one apt is configured with here)
#   SECURITY_MIRROR=url  its security archive (default: the one apt is configured with here)
#   KEEP_ROOT=1          keep the root afterwards (default: removed)
# The log is written to BUILD_DIR/check-on-fresh-debian.log as well.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
debs="${1:-}"
build="${BUILD_DIR:-$repo/build-fresh-debian}"
release=bookworm
packages=(libkovmodulecore0.3 libkovmodulecurl0.3 libkovmodulejournal0.3 libkovmodulec0.3 libkovmoduleqt0.3
  libkovmodule-dev libkovmoduleqt-dev kovmodule-tools python3-kovmodule kovmodule-bridge)
# Each package on its own, in this order: what apt is asked to install, the CMake components
# the system then has (or, for a package with no CMake component, the name of its own check:
# @python, @bridge), and the consumers (tests/consumer, by the component they link) built
# against it. A new component's packages add a line here, or a word to one. Qt comes last, as
# nothing before it may bring Qt along.
phases=(
  "python3-kovmodule kovmodule-tools|@python|"
  "kovmodule-bridge|@bridge|"
  "libkovmodule-dev|Core;Curl;Journal;C|Curl;C"
  "libkovmoduleqt-dev|Core;Curl;Journal;C;Qt|Curl;C;Qt"
)

usage() { echo "usage: $0 DEB_DIR  (the folder with the .deb files)" >&2; exit 2; }
if [ -z "$debs" ] || [ ! -d "$debs" ]; then usage; fi
debs="$(cd "$debs" && pwd)"
for package in "${packages[@]}"; do
  compgen -G "$debs/${package}_*.deb" >/dev/null || { echo "no ${package}_*.deb in $debs" >&2; exit 2; }
done
[ "$(id -u)" -eq 0 ] || { echo "run as root: debootstrap, chroot and mount need it" >&2; exit 2; }
for tool in debootstrap:debootstrap dpkg-scanpackages:dpkg-dev; do
  command -v "${tool%%:*}" >/dev/null || { echo "${tool%%:*} is missing (apt-get install ${tool##*:})" >&2; exit 2; }
done

# The archive that serves SUITE's main component in this machine's apt configuration
# (/etc/apt/sources.list and sources.list.d, one-line and deb822 files alike, read by apt
# itself): the first such entry that debootstrap can fetch from and whose Release file, where
# apt has fetched it, comes from Debian.
archive_for() {
  apt-get indextargets --format '$(TARGET_OF) $(IDENTIFIER) $(RELEASE) $(COMPONENT) $(REPO_URI) $(ORIGIN)' 2>/dev/null \
    | awk -v suite="$1" '$1 == "deb" && $2 == "Packages" && $3 == suite && $4 == "main" && $5 ~ /^(https?|file):/ \
        && NF == 6 && ($6 == "Debian" || $6 == "$(ORIGIN)") { sub("/$", "", $5); print $5; exit }'
}
mirror="${MIRROR:-$(archive_for "$release")}"
security="${SECURITY_MIRROR:-$(archive_for "$release-security")}"
[ -n "$mirror" ] || { echo "apt is configured with no Debian archive for $release here; set MIRROR=url" >&2; exit 2; }

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

step "debootstrap $release (minbase) from $mirror"
mkdir -p "$build/cache"
debootstrap --variant=minbase --cache-dir="$build/cache" "$release" "$root" "$mirror" >"$build/debootstrap.log" \
  || { tail -n 30 "$build/debootstrap.log"; exit 1; }
tail -n 1 "$build/debootstrap.log"
# A fresh Debian 12 system: the release with its updates and security fixes, no service
# started; and the packages under test as a local repository.
{
  echo "deb $mirror $release main"
  echo "deb $mirror $release-updates main"
  if [ -n "$security" ]; then echo "deb $security $release-security main"; fi
  echo "deb [trusted=yes] file:/tmp/kov/debs ./"
} >"$root/etc/apt/sources.list"
[ -n "$security" ] || echo "apt is configured with no security archive for $release here: going without"
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
mount -t proc proc "$root/proc"
mount -t sysfs sys "$root/sys"
mkdir -p "$root/dev/pts" && mount -t devpts devpts "$root/dev/pts"

mkdir -p "$root/tmp/kov/debs"
for package in "${packages[@]}"; do cp "$debs/${package}"_*.deb "$root/tmp/kov/debs/"; done
(cd "$root/tmp/kov/debs" && dpkg-scanpackages --multiversion . >Packages)
cp -r "$repo/tests/consumer" "$root/tmp/kov/consumer"
cp "$repo/examples/python/till.py" "$root/tmp/kov/till.py"

cat >"$root/tmp/kov/check.sh" <<'INSIDE'
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8
step() { echo "== $(date +%T) $*"; }
cd /tmp/kov
mkdir -p build logs

apt-get update -qq
step "apt: a compiler, cmake and pkg-config for the host projects, curl for the bridge"
apt-get install -y -qq --no-install-recommends g++ cmake make pkgconf curl >logs/apt-tools.log \
  || { tail -n 40 logs/apt-tools.log; exit 1; }

expect() {  # expect NAME STATUS COMMAND...
  local name="$1" want="$2" status=0
  shift 2
  "$@" </dev/null >out.txt 2>err.txt || status=$?
  sed "s/^/  [$name] /" out.txt
  tail -n 2 err.txt | sed "s/^/  [$name stderr] /"
  [ "$status" = "$want" ] || { echo "$name: exit status $status, expected $want" >&2; exit 1; }
}

simulator=""
url=""
bridge=""
stop() {  # stop PID: ends a program this check started, if it still runs
  [ -z "$1" ] || { kill "$1" 2>/dev/null; wait "$1" 2>/dev/null; } || true
}
trap 'stop "$bridge"; stop "$simulator"' EXIT
start_simulator() {
  kov-simulator --listen 127.0.0.1:0 --speed 50 >simulator.out 2>simulator.err &
  simulator=$!
  for _ in $(seq 100); do
    url="$(sed -n '1s/^kov-simulator listening on //p' simulator.out)"
    [ -n "$url" ] && break
    kill -0 "$simulator" 2>/dev/null || { cat simulator.err; exit 1; }
    sleep 0.1
  done
  [ -n "$url" ] || { echo "kov-simulator did not print its URL" >&2; exit 1; }
  echo "kov-simulator: $url"
}

# kovmodule-bridge: its system user and files, then one purchase served through kov-bridge.
check_bridge() {
  step "kovmodule-bridge: the system user, the service and the manual page"
  getent passwd kov-bridge | tee logs/bridge-user.txt
  [ "$(cut -d: -f7 logs/bridge-user.txt)" = /usr/sbin/nologin ] || { echo "kov-bridge may log in" >&2; exit 1; }
  unit=/lib/systemd/system/kov-bridge.service
  grep -qx 'User=kov-bridge' "$unit"
  # Enabled, and skipped until the till is configured.
  [ -L /etc/systemd/system/multi-user.target.wants/kov-bridge.service ]
  grep -qx 'ConditionPathExists=/etc/kov-bridge/key' "$unit"
  systemd-analyze verify --man=no "$unit"
  test -s /usr/share/man/man1/kov-bridge.1.gz
  test -s /usr/share/doc/kovmodule-bridge/examples/kov-bridge.conf

  step "kov-bridge: a purchase served as the kov-bridge user, with a key file and a token file"
  local dir=/tmp/kov/bridge token events answer base
  install -d -o kov-bridge -g kov-bridge -m 0700 "$dir"
  (umask 077 && printf 's3cret\n' >"$dir/key") && chown kov-bridge:kov-bridge "$dir/key"
  # As an installer does before the first start: root shows the token, which makes the file;
  # it must be the service user's, or the bridge could not read it.
  token="$(kov-bridge --print-token --token-file "$dir/token")"
  [ -n "$token" ]
  # setpriv runs the bridge itself under that user (no session in between), so that $bridge is its id.
  setpriv --reuid=kov-bridge --regid=kov-bridge --clear-groups -- kov-bridge --endpoint "$url" --listen 127.0.0.1:0 --user merchant --station ST-BRIDGE \
    --key-file "$dir/key" --token-file "$dir/token" --journal "$dir/journal.db" >bridge.out 2>bridge.err &
  bridge=$!
  base=""
  for _ in $(seq 100); do
    base="$(sed -n '1s/^kov-bridge listening on //p' bridge.out)"
    [ -n "$base" ] && break
    kill -0 "$bridge" 2>/dev/null || { cat bridge.err; exit 1; }
    sleep 0.1
  done
  [ -n "$base" ] || { echo "kov-bridge did not print its URL" >&2; exit 1; }
  echo "kov-bridge: $base"
  [ "$(stat -c '%a %U' "$dir/token")" = "600 kov-bridge" ] || { stat "$dir/token"; exit 1; }
  [ "$(kov-bridge --print-token --token-file "$dir/token")" = "$token" ]
  [ "$(curl -sS -o /dev/null -w '%{http_code}' "$base/healthz")" = 200 ]
  answer="$(curl -sS -o /dev/null -w '%{http_code}' -H 'Content-Type: application/json' \
    --data '{"type":"purchase","txnRef":"FRESH-BRIDGE-0","amount":"12.50","currency":"AUD"}' "$base/v1/transactions")"
  [ "$answer" = 401 ] || { echo "a transaction without the token got $answer" >&2; exit 1; }
  answer="$(curl -sS -w ' %{http_code}' -H "Authorization: Bearer $token" -H 'Content-Type: application/json' \
    --data '{"type":"purchase","txnRef":"FRESH-BRIDGE-1","amount":"12.50","currency":"AUD"}' "$base/v1/transactions")"
  echo "  [POST /v1/transactions] $answer"
  [[ "$answer" == *'"events":"/v1/transactions/FRESH-BRIDGE-1/events"'*' 202' ]]
  # The event stream stays open after the result: read it until the result event has come.
  curl -sS -N --max-time 60 -H "Authorization: Bearer $token" "$base/v1/transactions/FRESH-BRIDGE-1/events" >events.txt &
  events=$!
  for _ in $(seq 600); do
    [ -n "$(sed -n '/^event: result$/{n;/^data: /p}' events.txt)" ] && break
    kill -0 "$events" 2>/dev/null || break
    sleep 0.1
  done
  stop "$events"
  grep '^event: ' events.txt | sort | uniq -c
  sed -n '/^event: result$/{n;s/^data: //p}' events.txt >result.txt
  cut -c1-120 result.txt | sed 's/^/  [result] /'
  grep -q '"transactionResult":0,.*"responseText":"APPROVED"' result.txt
  answer="$(curl -sS -o /dev/null -w '%{http_code}' -X POST -H "Authorization: Bearer $token" \
    "$base/v1/transactions/FRESH-BRIDGE-1/acknowledge")"
  [[ "$answer" == 20? ]] || { echo "the acknowledgement got $answer" >&2; exit 1; }
  kill -TERM "$bridge"
  wait "$bridge" || { echo "kov-bridge exited with status $? on SIGTERM" >&2; exit 1; }
  bridge=""
  tail -n 3 bridge.err | sed 's/^/  [kov-bridge stderr] /'
  if grep -qF -e s3cret -e "$token" bridge.out bridge.err events.txt; then
    echo "the key or the token is in kov-bridge's output" >&2
    exit 1
  fi
}

phase=0
for line in "$@"; do
  IFS='|' read -r install components consumers <<<"$line"
  phase=$((phase + 1))
  read -ra wanted <<<"$install"
  step "apt: install ${wanted[*]} (dependencies from the local repository and the archive)"
  before="$(dpkg-query -W | wc -l)"
  apt-get install -y -qq --no-install-recommends "${wanted[@]}" >"logs/apt-$phase.log" \
    || { tail -n 40 "logs/apt-$phase.log"; exit 1; }
  echo "installed packages: $before before, $(dpkg-query -W | wc -l) after"
  dpkg-query -W -f='${Package} ${Version} ${db:Status-Abbrev}\n' 'libkovmodule*' 'kovmodule*' | grep '^[^ ]* [^ ]* ii'
  if [[ ";$components;" != *";Qt;"* ]]; then
    # A host without Qt gets no Qt at all, not even its run-time libraries.
    if dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' 'libqt6*' 'qt6-*' 2>/dev/null | grep ' ii'; then
      echo "Qt was installed for a host without Qt" >&2
      exit 1
    fi
    echo "no Qt package installed"
  fi

  if [ "$components" = @bridge ]; then
    [ -n "$simulator" ] || start_simulator
    check_bridge
    continue
  fi
  if [ "$components" = @python ]; then
    # The Python package: the example till with the installed kovmodule alone, a purchase
    # approved and one declined, each journalled and so recovered by nothing afterwards.
    [ -n "$simulator" ] || start_simulator
    step "python3-kovmodule: the example till, approved and declined"
    python3 -c 'import kovmodule; print(kovmodule.__file__)' | grep -qx /usr/lib/python3/dist-packages/kovmodule/__init__.py
    python3 -c 'import importlib.metadata as m; print(m.version("kovmodule"))' | grep -qx "$(dpkg-query -W -f='${Version}' python3-kovmodule | cut -d- -f1)"
    till=(env KOV_KEY=s3cret timeout 60 python3 till.py "$url" --station ST-PY --journal till.db)
    expect till.py 0 "${till[@]}" FRESH-PY-1 12.50
    grep -q '^FRESH-PY-1: SUCCEEDED APPROVED' out.txt
    expect till.py 1 "${till[@]}" FRESH-PY-2 12.50 --merchant-ref sim:decline
    grep -q '^FRESH-PY-2: FAILED DECLINED' out.txt
    continue
  fi

  step "CMake package: versions and components ($components)"
  cmake -S consumer/package-check -B "build/package-check-$phase" -DKOV_INSTALLED="$components" | grep -- "-- \(ok\|without\)"
  if [[ ";$components;" != *";Qt;"* ]]; then
    step "consumers: find_package of Qt is refused and names its package"
    if cmake -S consumer -B "build/refused-$phase" -DKOV_CONSUMERS="Curl;Qt" >logs/refused.log 2>&1; then
      echo "find_package(KOVModule COMPONENTS Qt) succeeded without libkovmoduleqt-dev" >&2
      exit 1
    fi
    grep -A3 "Reason given by package" logs/refused.log
    tr -s ' \n' '  ' <logs/refused.log | grep -q "install libkovmoduleqt-dev"
  fi

  step "consumers ($consumers): find_package"
  cmake -S consumer -B "build/find-package-$phase" -DKOV_CONSUMERS="$consumers" >/dev/null
  cmake --build "build/find-package-$phase" -j2
  step "consumers ($consumers): pkg-config"
  for component in ${consumers//;/ }; do
    consumer="${component,,}"
    pkg-config --exact-version=0.3.0 "KOVModule$component"
    pkg-config --cflags --libs "KOVModule$component"
    mkdir -p "build/pkg-config-$phase/$consumer"
    compile=(g++ -std=c++20 "consumer/$consumer/main.cpp")
    [ "$consumer" = c ] && compile=(gcc -std=c11 -D_POSIX_C_SOURCE=200809L "consumer/c/main.c")
    # shellcheck disable=SC2046
    "${compile[@]}" -o "build/pkg-config-$phase/$consumer/kov-consumer-$consumer" \
      $(pkg-config --cflags --libs "KOVModule$component")
  done

  [ -n "$simulator" ] || start_simulator
  if [ "$components" = "Core;Curl;Journal;C" ]; then  # once: the tools came with the Python package
    cli=(kov-cli purchase --user merchant --key s3cret --station ST01 --amount 12.50 --currency AUD --endpoint "$url")
    step "kov-cli: a purchase, approved"
    expect kov-cli 0 timeout 60 "${cli[@]}" --txn-ref "FRESH-CLI-1"
    grep -q '"transactionResult"' out.txt
    step "kov-cli: a purchase, declined"
    expect kov-cli 1 timeout 60 "${cli[@]}" --txn-ref "FRESH-CLI-2" --merchant-ref sim:decline
  fi
  for exe in build/find-package-"$phase"/*/kov-consumer-* build/pkg-config-"$phase"/*/kov-consumer-*; do
    name="$(basename "$(dirname "$(dirname "$exe")")")-$(basename "$(dirname "$exe")")"
    step "$name: a purchase, approved and declined"
    ldd "$exe" | grep -E 'libKOVModule[A-Za-z]+\.so\.0\.3 => /(usr/)?lib/'
    expect "$name" 0 timeout 60 "$exe" "$url" "ST-$name" "FRESH-$name-1"
    grep -qE '^module (iOS )?0\.3\.0(-kov)?$' out.txt
    expect "$name" 1 timeout 60 "$exe" "$url" "ST-$name" "FRESH-$name-2" sim:decline
  done
done
INSIDE

chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root /bin/bash /tmp/kov/check.sh "${phases[@]}"
