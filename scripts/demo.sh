#!/usr/bin/env bash
# The main job: builds the installer and runs one whole installation of it
# under Wine against local stand-ins (nginx as the download-address service
# and the package host, a signed stand-in SQL Server setup, stand-in DISM and
# OLE DB provider), then prints the folder with the screenshots of every
# step, the notes file and a short report.
#
#   scripts/demo.sh [--headless | --interactive] [--preset win32|win64] [--out DIR]
#
# --headless (default) runs under a private Xvfb and presses the buttons
# itself; --interactive opens the window on your $DISPLAY for you to click.
# The x86_64 build (preset win64) is used unless --preset says otherwise;
# --preset win32 runs the shipped i686 build, which needs Debian's wine32 to
# draw (wine64's experimental WoW64 mode shows its window but cannot draw).
# Whatever happens, everything it started is stopped again.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=--headless
preset=win64
out=""
while [ $# -gt 0 ]; do
  case "$1" in
    --headless | --interactive) mode=$1 ;;
    --preset) preset=${2:?--preset needs win32 or win64}; shift ;;
    --out) out=${2:?--out needs a folder}; shift ;;
    -h | --help) sed -n '2,13p' "$0"; exit 0 ;;
    *) echo "demo.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
case "$preset" in win32 | win64) ;; *) echo "demo.sh: --preset is win32 or win64" >&2; exit 2 ;; esac
if [ "$mode" = --interactive ] && [ -z "${DISPLAY:-}" ]; then
  echo "demo.sh: --interactive needs a display (DISPLAY is not set)" >&2
  exit 2
fi
out=${out:-build/demo/$(date +%Y%m%d-%H%M%S)}
mkdir -p "$out"
out=$(cd "$out" && pwd)

bash scripts/prereqs.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j2 --target Stackhold wget e2e_driver certtool \
  setup_standin dism_standin oledb_standin

# The python side stops its servers, X display and Wine processes on its own
# (also on SIGINT/SIGTERM); the trap hands a Ctrl-C or kill on to it.
child=""
stop() { [ -n "$child" ] && kill -TERM "$child" 2>/dev/null; wait "$child" 2>/dev/null || true; }
trap 'stop; exit 130' INT TERM
python3 tests/harness/demo.py --build "build/$preset" --out "$out" "$mode" &
child=$!
status=0
wait "$child" || status=$?
child=""
trap - INT TERM

echo
if [ $status -eq 0 ]; then
  echo "The installation ran through and was verified."
else
  echo "The installation did not complete (exit $status); see the report."
fi
echo "Screenshots, notes file and report: $out"
exit $status
