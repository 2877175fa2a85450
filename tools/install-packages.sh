#!/usr/bin/env bash
# Installs, with apt-get, what building veksieve needs on Debian or Ubuntu:
# a compiler, CMake and make; with --tests also GoogleTest, primesieve and
# python3 (a reliability test checks factors with it).
# Packages already installed are left alone, so on a prepared machine it
# needs neither root nor the network. Further package names may follow.
set -euo pipefail

packages=(g++ cmake make)
for arg in "$@"; do
  case "$arg" in
    --tests) packages+=(libgtest-dev libprimesieve-dev python3) ;;
    -*) echo "usage: $0 [--tests] [package...]" >&2; exit 2 ;;
    *) packages+=("$arg") ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if ! command -v apt-get >/dev/null; then
  echo "Please install ${missing[*]} with your system's package manager." >&2
  exit 1
fi
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
echo "Installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
"${sudo[@]}" apt-get install -y "${missing[@]}"
