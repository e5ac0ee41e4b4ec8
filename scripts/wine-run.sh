#!/usr/bin/env bash
# Runs one Windows program under Wine in the shared test prefix, bounded in
# time (STACKHOLD_WINE_TIMEOUT seconds, default 120), so a hung program fails
# its test instead of hanging the run. Used as CMake's cross-compiling emulator.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=$("$here/wine-prefix.sh")
export WINEDEBUG=${WINEDEBUG:--all}
export LANG=${LANG_FOR_WINE:-zh_CN.UTF-8}
exec timeout -k 5 "${STACKHOLD_WINE_TIMEOUT:-120}" wine "$@"
