#!/usr/bin/env bash
# Builds the release twice from scratch, in two build trees and two output
# folders, and requires the same bytes from both: both programs, the readme,
# the zip and its sum. Then checks what is shipped (tests/release/pe_check.py):
# i686, at most 1 MiB, no timestamps, Windows' own DLLs only, the version,
# the installer's manifest, no path of this machine inside.
#
# Takes some minutes (two full i686 builds); every build is bounded in time.
# Leaves nothing behind when it passes; on failure the two trees stay for a
# look and their place is printed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
timeLimit=${STACKHOLD_RELEASE_TIMEOUT:-1800}

work=$(mktemp -d "$root/build/release-check.XXXXXX")
keep=1
trap '[ "$keep" = 0 ] && rm -rf "$work" || echo "release check: trees left in $work" >&2' EXIT

# One time for both builds, or a commit landing between them would change the
# zip's file times.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}

for side in a b; do
  echo "release check: build $side"
  timeout -k 10 "$timeLimit" "$root/scripts/release.sh" --no-prereqs \
    --build-dir "$work/build-$side" --dist "$work/dist-$side" >"$work/build-$side.log" 2>&1 || {
    tail -30 "$work/build-$side.log" >&2
    echo "release check: build $side failed" >&2
    exit 1
  }
done

version=$(sed -n 's/^project(Stackhold VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
files=(Stackhold/Stackhold.exe Stackhold/wget.exe Stackhold/使用说明.txt
       "Stackhold-$version.zip" "Stackhold-$version.zip.sha256")
status=0
for f in "${files[@]}"; do
  missing=0
  for side in a b; do
    if [ ! -f "$work/dist-$side/$f" ]; then
      echo "FAIL: build $side made no $f"
      missing=1
      status=1
    fi
  done
  [ "$missing" = 0 ] || continue
  a=$(sha256sum <"$work/dist-a/$f" | cut -d' ' -f1)
  b=$(sha256sum <"$work/dist-b/$f" | cut -d' ' -f1)
  if [ "$a" = "$b" ]; then
    echo "same: $f $a"
  else
    echo "FAIL: $f differs between the two builds ($a, $b)"
    status=1
  fi
done

if ! (cd "$work/dist-a" && sha256sum --quiet -c "Stackhold-$version.zip.sha256"); then
  echo "FAIL: the zip does not match its sum file"
  status=1
fi

# The build trees' own paths must not end up in the programs.
python3 "$here/pe_check.py" "$version" "$work/dist-a/Stackhold" "$root" || status=1

if [ "$status" = 0 ]; then
  keep=0
  echo "release check: passed"
fi
exit "$status"
