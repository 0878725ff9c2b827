#!/usr/bin/env bash
# Installs what building and testing every target needs, on Debian, when missing.
# 32-bit Wine (wine32:i386, for the windows32 target's tests) comes from Debian's
# i386 architecture, which is added first when it is not there yet.
set -euo pipefail
packages=(cmake make g++ pkg-config libxml2-dev libxml2-utils googletest python3
          g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
          g++-mingw-w64-i686-posix binutils-mingw-w64-i686
          wine wine64 wine32:i386 libcli11-dev zip clang libclang-rt-14-dev valgrind
          acl attr dpkg-dev file man-db lintian python3-lxml
          fusefat exfat-fuse ntfs-3g dosfstools exfatprogs)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo_cmd dpkg --add-architecture i386
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
