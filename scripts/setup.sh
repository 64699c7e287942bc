#!/usr/bin/env bash
# Installs what the builds and tests need on a Debian 12 machine, as root,
# skipping what is already there.
set -euo pipefail

packages=(cmake ninja-build g++ clang lld libclang-rt-14-dev googletest libbenchmark-dev libspdlog-dev pkgconf
          libcli11-dev jq python3 rsyslog
          g++-mingw-w64-i686 wine wine32:i386
          g++-mingw-w64-x86-64 wine64)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
