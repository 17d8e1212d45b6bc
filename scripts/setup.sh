#!/usr/bin/env bash
# Installs what building and testing Quellmark needs on a Debian machine (run as root, or with
# sudo available). Safe to run again: packages already present are kept.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  clang libclang-rt-dev
  libgtest-dev libgmock-dev googletest
  libsqlite3-dev sqlite3
  g++-mingw-w64-x86-64-posix
  wine64 xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
