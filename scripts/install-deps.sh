#!/usr/bin/env bash
# Installs from Debian's packages what building and testing needs, skipping
# what is already there. Run as root (or with sudo) on a Debian 12 machine.
#   install-deps.sh           everything the whole suite needs
#   install-deps.sh --build   only what building the program needs
set -euo pipefail

build_packages=(cmake ninja-build g++ diffutils)  # the program, and diff for its examples
packages=(
  "${build_packages[@]}"
  libgtest-dev googletest               # the tests
  g++-mingw-w64-x86-64-posix wine64     # the Windows build, tested under Wine
  python3                               # Linux and Wine runs on one report, and the benchmark
  clang libclang-rt-14-dev              # sanitizers and the fuzz target
  time                                  # the benchmark
)
case ${1:-} in
  "") ;;
  --build) packages=("${build_packages[@]}") ;;
  *) echo "usage: install-deps.sh [--build]" >&2; exit 2 ;;
esac

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
