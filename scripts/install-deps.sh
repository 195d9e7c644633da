#!/usr/bin/env bash
# Installs from Debian's packages what building and testing needs, skipping
# what is already there. Run as root (or with sudo) on a Debian 12 machine.
set -euo pipefail

packages=(
  cmake ninja-build g++ libgtest-dev   # the program and its tests
  googletest g++-mingw-w64-x86-64-posix wine64  # the Windows build, tested under Wine
  clang libclang-rt-14-dev             # sanitizers and the fuzz target
  time diffutils                       # the benchmark and the examples
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if ((${#missing[@]} == 0)); then
  exit 0
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then sudo=(sudo); fi
echo "installing: ${missing[*]}"
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
