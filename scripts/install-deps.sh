#!/usr/bin/env bash
# Installs the Debian packages a job needs, when any is missing:
#   install-deps.sh demo   the demo's (scripts/packages-demo.txt)
#   install-deps.sh test   the demo's and the tests' (packages-test.txt); the default
#   install-deps.sh ci     all of those and what CI runs besides (packages-ci.txt)
# For the tests it then installs the browser tests' npm packages, from web/package-lock.json.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
case "${1:-test}" in
  demo) lists=(demo) ;;
  test) lists=(demo test) ;;
  ci) lists=(demo test ci) ;;
  *) echo "usage: install-deps.sh [demo|test|ci]" >&2; exit 2 ;;
esac
wanted=()
for list in "${lists[@]}"; do
  mapfile -t -O "${#wanted[@]}" wanted < <(grep -v '^\s*#' "$here/packages-$list.txt" | grep -v '^\s*$')
done
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
updated=0
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get update
  updated=1
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
[ "${lists[*]}" = demo ] && exit 0

# A Node.js package that bundles npm conflicts with Debian's npm, so that one comes only where
# Node.js came without it.
if ! command -v npm >/dev/null; then
  [ "$updated" = 1 ] || $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends npm
fi
# The browser tests' packages, exactly as the lock file pins them, again whenever it changed
# since the last install (npm writes node_modules/.package-lock.json then). Chromium is
# Debian's: no package may download a browser of its own.
lock="$root/web/package-lock.json"
if [ -f "$lock" ] && ! [ "$root/web/node_modules/.package-lock.json" -nt "$lock" ]; then
  PUPPETEER_SKIP_DOWNLOAD=1 PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 \
    npm ci --prefix "$root/web" --no-audit --no-fund
fi
