#!/usr/bin/env bash
# Installs what `make test` needs on a fresh Debian machine: the native
# toolchain, GoogleTest sources, mingw-w64 (posix flavour) and Wine with the
# i386 architecture. As root it installs; otherwise it prints the command.
set -euo pipefail

packages=(cmake make g++ clang googletest libgtest-dev libgmock-dev libbenchmark-dev binutils
          mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 wine32:i386
          zip unzip clang-format clang-tidy pkg-config)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1
[ ${#missing[@]} -eq 0 ] && [ $need_i386 -eq 0 ] && exit 0

command="dpkg --add-architecture i386 && apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "kolvane needs packages that are not installed. Run as root:" >&2
  echo "  $command" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
[ $need_i386 -eq 1 ] && dpkg --add-architecture i386
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
