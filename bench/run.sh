#!/usr/bin/env bash
# Builds what the benchmark needs and runs it (see bench/README.md):
#   the product for x86_64 with the test settings   build/bench/win64
#   the bench's own Windows programs                build/bench/tools
#   the shipped i686 files, for their sizes         build/bench/release, build/bench/dist
# then prints the table and writes it to bench/latest.md.
#
#   bench/run.sh            the full run (about five minutes once built)
#   bench/run.sh --quick    fewer and shorter measurements, to try it out
#   bench/run.sh --only-downloads --size-mib 64 --download-runs 1
#                           the download rows alone, small
# Further options go to bench/bench.py (--help lists them).
#
# Not a test: nothing here runs under ctest or scripts/test.sh. Figures are
# only as steady as the machine is quiet; run it with nothing else busy.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
out="$root/build/bench"
command="bench/run.sh${*:+ $*}"

args=()
only_downloads=0
for a in "$@"; do
  [ "$a" = --only-downloads ] && only_downloads=1
  if [ "$a" = --quick ]; then
    args+=(--runs 5 --wait 10 --size-mib 256 --download-runs 1)
  else
    args+=("$a")
  fi
done

for tool in cmake x86_64-w64-mingw32-g++ i686-w64-mingw32-g++ wine Xvfb nginx wget python3; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing: run scripts/prereqs.sh" >&2; exit 1; }
done

jobs=${STACKHOLD_JOBS:-2}
mkdir -p "$out"
log="$out/build.log"
build() {
  "$@" >>"$log" 2>&1 || { tail -40 "$log" >&2; echo "bench: build failed, see $log" >&2; exit 1; }
}
: >"$log"
echo "bench: building (log in $log)"
build cmake --preset win64 -S "$root" -B "$out/win64"
# The whole run needs the end-to-end driver and every stand-in program.
fixtures=$(sed -nE 's/^\s*(add_executable|add_library|stackhold_win_executable)\(([A-Za-z0-9_]+).*/\2/p' "$root"/tests/fixtures/*/CMakeLists.txt)
# shellcheck disable=SC2086
build cmake --build "$out/win64" --target Stackhold wget e2e_driver $fixtures -j"$jobs"
build cmake -S "$here" -B "$out/tools" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"
build cmake --build "$out/tools" -j"$jobs"
# The shipped files only give their sizes, which the download rows alone do not show.
[ $only_downloads = 1 ] || build "$root/scripts/release.sh" --no-prereqs --build-dir "$out/release" --dist "$out/dist"
echo "bench: measuring"

exec python3 "$here/bench.py" --programs "$out/tools" --build "$out/win64" --dist "$out/dist" \
  --work "$out/work" --command "$command" "${args[@]}"
