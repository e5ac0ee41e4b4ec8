#!/usr/bin/env bash
# Creates the Wine prefix the tests share (once per build tree) and prints its
# path. Safe to call from several tests at once: the first one builds it under
# a lock, the others wait and reuse it.
set -euo pipefail

prefix=${STACKHOLD_WINEPREFIX:-$(cd "$(dirname "$0")/.." && pwd)/build/wineprefix}
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.stackhold-ready" ]; then
  rm -rf "$prefix"
  export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  timeout 180 wineboot -i >/dev/null 2>&1
  timeout 60 wineserver -w
  touch "$prefix/.stackhold-ready"
fi
echo "$prefix"
