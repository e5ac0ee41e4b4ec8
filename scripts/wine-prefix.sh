#!/usr/bin/env bash
# Creates the Wine prefix the tests share (once per build tree) and prints its
# path. Safe to call from several tests at once: the first one builds it under
# a lock, the others wait and reuse it.
#
# The prefix gets, besides what wineboot makes: the Chinese font faces mapped to
# WenQuanYi Micro Hei (without it every Chinese character is a box), Windows 7
# as the reported version, 96 dots per inch, no crash dialog (a crashing
# program must end, not wait for a click nobody makes under Xvfb), and its
# own Desktop and Documents folders: wineboot links them to the Linux home,
# where a test's notes file would land outside the prefix and outlive it.
#
# The ready-marker holds a layout version: when this script changes what it
# puts into the prefix, bump kLayout and every older prefix is rebuilt. A
# rebuild happens beside the old prefix and replaces it by renaming, so a
# program still running in the old one is not pulled out from under.
set -euo pipefail

kLayout=4  # bump whenever the prefix's contents change
here=$(cd "$(dirname "$0")" && pwd)
prefix=${STACKHOLD_WINEPREFIX:-$(cd "$here/.." && pwd)/build/wineprefix}
marker=.stackhold-ready

# 32-bit programs need the i386 Windows DLLs before the prefix is made (its
# syswow64 folder is filled only at creation): Debian's wine32 (classic
# WoW64), or their copy beside wine64 (its experimental WoW64 mode). The
# marker names the mode, so a prefix made for the other one is rebuilt.
if [ -f /usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll ]; then
  wow64=wine32
elif [ -f /usr/lib/x86_64-linux-gnu/wine/i386-windows/kernel32.dll ]; then
  wow64=experimental
else
  echo "wine-prefix.sh: the 32-bit Wine DLLs are missing; run scripts/prereqs.sh first" >&2
  exit 1
fi
wanted="layout=$kLayout wow64=$wow64"

ready() { [ -f "$1/$marker" ] && [ "$(cat "$1/$marker")" = "$wanted" ]; }

if ready "$prefix"; then echo "$prefix"; exit 0; fi


mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock -w 600 9 || { echo "wine-prefix.sh: timed out waiting for $prefix.lock" >&2; exit 1; }
if ready "$prefix"; then echo "$prefix"; exit 0; fi

fresh="$prefix.new.$$"
rm -rf "$fresh"
trap 'WINEPREFIX="$fresh" timeout 20 wineserver -k >/dev/null 2>&1 || true; rm -rf "$fresh"' EXIT
# winemenubuilder would write menu entries into the Linux home.
export WINEPREFIX="$fresh" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
unset DISPLAY  # wineboot needs no screen; keep it off any X server
timeout -k 5 240 wineboot -i >/dev/null 2>&1
timeout -k 5 60 wineserver -w

if [ ! -f "$fresh/drive_c/windows/syswow64/kernel32.dll" ]; then
  echo "wine-prefix.sh: the new prefix has no 32-bit system folder" >&2
  exit 1
fi

for home in "$fresh"/drive_c/users/*/; do
  for d in Desktop Documents Downloads Music Pictures Videos Templates; do
    if [ -L "$home$d" ]; then rm -f "$home$d" && mkdir -p "$home$d"; fi
  done
done

# regedit wants a .reg with non-ASCII names in UTF-16LE with a byte-order mark.
reg="$fresh/drive_c/stackhold-base.reg"
{
  printf '\xff\xfe'
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
    for face in "Microsoft YaHei" "SimHei" "SimSun" "NSimSun" "黑体" "宋体" "微软雅黑" "新宋体"; do
      printf '"%s"="WenQuanYi Micro Hei"\r\n' "$face"
    done
    printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine]\r\n"Version"="win7"\r\n'
    printf '\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"LogPixels"=dword:00000060\r\n'
    printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n'
  } | iconv -f UTF-8 -t UTF-16LE
} >"$reg"
timeout -k 5 60 wine regedit /S 'C:\stackhold-base.reg' >/dev/null 2>&1
timeout -k 5 60 wineserver -w
rm -f "$reg"

# The import must have taken: wineserver has saved the registry by now, with
# non-ASCII names written as \x escapes ("黑体" is \x9ed1\x4f53).
if ! grep -qF '"\x9ed1\x4f53"="WenQuanYi Micro Hei"' "$fresh/user.reg"; then
  echo "wine-prefix.sh: the font replacements did not reach the registry" >&2
  exit 1
fi

echo "$wanted" >"$fresh/$marker"
if [ -e "$prefix" ]; then
  old="$prefix.old.$$"
  mv "$prefix" "$old"
  mv "$fresh" "$prefix"
  rm -rf "$old"
else
  mv "$fresh" "$prefix"
fi
trap - EXIT
echo "$prefix"
