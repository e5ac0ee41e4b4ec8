#!/usr/bin/env bash
# Builds the shipped files and packs them:
#   dist/Stackhold/Stackhold.exe   the i686 installer, production settings, stripped
#   dist/Stackhold/wget.exe        the download tool that lies beside it, stripped
#   dist/Stackhold/使用说明.txt     the operator's readme (UTF-8 with BOM, CR LF)
#   dist/Stackhold-<version>.zip   the three files under Stackhold/
#   dist/Stackhold-<version>.zip.sha256
#
# The same commit gives the same bytes: the link writes no PE timestamp, strip
# is told the epoch, and the zip carries fixed times, order and attributes.
#
# Options (for the reproducibility check, which builds twice side by side):
#   --build-dir DIR   build tree (default build/release)
#   --dist DIR        output folder (default dist)
#   --no-prereqs      skip scripts/prereqs.sh (it stops every running nginx,
#                     so it must not run while tests use theirs)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build="$root/build/release"
dist="$root/dist"
prereqs=1

while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build=$(realpath -m "$2"); shift 2 ;;
    --dist) dist=$(realpath -m "$2"); shift 2 ;;
    --no-prereqs) prereqs=0; shift ;;
    *) echo "release.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

if [ "$prereqs" = 1 ]; then "$here/prereqs.sh"; fi

version=$(sed -n 's/^project(Stackhold VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
if [ -z "$version" ]; then
  echo "release.sh: no version in the project() line of CMakeLists.txt" >&2
  exit 1
fi

# The zip's file times: the last commit's, unless the caller fixed one.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)
fi
export SOURCE_DATE_EPOCH

cmake --preset release -S "$root" -B "$build" >/dev/null
cmake --build "$build" --target Stackhold wget -j"${STACKHOLD_JOBS:-2}"

stage="$dist/Stackhold"
# Only this script's own outputs are replaced; nothing else in the folder.
rm -rf "$stage" "$dist"/Stackhold-*.zip "$dist"/Stackhold-*.zip.sha256
mkdir -p "$stage"
for exe in Stackhold wget; do
  built="$build/bin/$exe.exe"
  if [ ! -f "$built" ]; then
    echo "release.sh: $built was not built" >&2
    exit 1
  fi
  # strip rewrites the PE header and stamps it with the current time unless
  # SOURCE_DATE_EPOCH says otherwise; 0 matches what the link wrote.
  SOURCE_DATE_EPOCH=0 i686-w64-mingw32-strip --strip-all -o "$stage/$exe.exe" "$built"
done

python3 "$here/release_pack.py" \
  --readme "$root/res/operator_readme.txt" \
  --stage "$stage" \
  --zip "$dist/Stackhold-$version.zip" \
  --epoch "$SOURCE_DATE_EPOCH"

echo "release: $dist"
(cd "$dist" && ls -l Stackhold Stackhold-"$version".zip && cat Stackhold-"$version".zip.sha256)
