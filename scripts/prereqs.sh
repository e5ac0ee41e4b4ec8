#!/usr/bin/env bash
# Installs everything the build, the main job and the tests need on Debian 12.
# Idempotent: a second run only checks. Needs root (or sudo).
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

packages=(
  cmake make g++ doctest-dev python3
  mingw-w64 g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64
  wine wine64 xvfb xauth x11-utils xdotool imagemagick
  fonts-wqy-microhei
  nginx-light openssl osslsigncode wget ca-certificates
  zip unzip
  locales
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# nginx is started by the tests themselves on ports they pick; never as a system service.
if command -v systemctl >/dev/null 2>&1; then $SUDO systemctl disable --now nginx >/dev/null 2>&1 || true; fi
# Only the system's own instance (its pid file): the tests' instances keep theirs elsewhere.
if [ -s /run/nginx.pid ]; then $SUDO kill "$(cat /run/nginx.pid)" >/dev/null 2>&1 || true; fi

# 32-bit programs (the shipped i686 build). Debian's wine32:i386 beside wine64
# gives them Wine's classic WoW64 with a 32-bit Unix side, where GDI works.
# Where it cannot be installed, fall back to wine64's experimental WoW64 mode
# with the 32-bit Windows-side DLLs of libwine:i386 copied in (that mode runs
# 32-bit console programs but fails memory DCs and text drawing in Wine 8.0).
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  $SUDO apt-get update -qq
fi
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  if ! $SUDO apt-get install -y -qq --no-install-recommends wine32:i386; then
    echo "prerequisites: wine32:i386 not installable; using wine64's experimental WoW64 mode" >&2
    winedir=/usr/lib/x86_64-linux-gnu/wine/i386-windows
    if [ ! -f "$winedir/kernel32.dll" ]; then
      tmp=$(mktemp -d)
      (cd "$tmp" && apt-get download -qq libwine:i386)
      dpkg -x "$tmp"/libwine_*_i386.deb "$tmp/x"
      $SUDO mkdir -p "$winedir"
      $SUDO cp -rn "$tmp"/x/usr/lib/i386-linux-gnu/wine/i386-windows/. "$winedir/"
      rm -rf "$tmp"
    fi
  fi
fi
# Wine takes its ANSI code page and its Unix file-name encoding from the C
# library's locale: without zh_CN.UTF-8 compiled, LANG=zh_CN.UTF-8 falls back
# to plain ASCII, code page 1252 and file names that cannot hold Chinese.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  $SUDO localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
echo "prerequisites: ok"
