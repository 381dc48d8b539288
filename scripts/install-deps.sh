#!/usr/bin/env bash
# Installs the Debian packages a job needs, when any is missing:
#   install-deps.sh demo   the demo's (scripts/packages-demo.txt)
#   install-deps.sh test   the demo's and the tests' (packages-test.txt); the default
#   install-deps.sh ci     all of those and what CI runs besides (packages-ci.txt)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
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
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
