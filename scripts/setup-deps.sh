#!/usr/bin/env bash
# Installs what this project needs from Debian's packages, only what is missing, when run
# as root (otherwise it names the missing packages and stops).
# Usage: setup-deps.sh [host|windows|fuzz|all]...   (default: host)
set -euo pipefail

want=("$@")
[[ ${#want[@]} -eq 0 ]] && want=(host)

packages=()
for group in "${want[@]}"; do
  case $group in
    host) packages+=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev libpng-dev libtiff-dev) ;;
    windows) packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine wine64) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    all) packages+=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev libpng-dev libtiff-dev
                    g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine wine64
                    clang libclang-rt-14-dev) ;;
    *) echo "setup-deps: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "missing packages: ${missing[*]}" >&2
  echo "install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
