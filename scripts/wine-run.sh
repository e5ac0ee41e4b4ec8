#!/usr/bin/env bash
# Runs one Windows program under Wine in the shared test prefix, bounded in
# time (STACKHOLD_WINE_TIMEOUT seconds, default 120), so a hung program fails
# its test instead of hanging the run. Used as CMake's cross-compiling emulator.
#
# The program's output goes through a file, not straight to the caller: Wine
# services that a program happens to start (the desktop process, say) inherit
# its standard handles and live on after it, and a caller reading a pipe
# (ctest) would wait for them until its own time limit.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=$("$here/wine-prefix.sh")
export WINEDEBUG=${WINEDEBUG:--all}
export LANG=${LANG_FOR_WINE:-zh_CN.UTF-8}
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
status=0
timeout -k 5 "${STACKHOLD_WINE_TIMEOUT:-120}" wine "$@" >"$out" 2>"$err" </dev/null || status=$?
cat "$out"
cat "$err" >&2
exit "$status"
