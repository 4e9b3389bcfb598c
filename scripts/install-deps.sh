#!/usr/bin/env bash
# Installs every Debian package kestrel needs to build, test, fuzz and benchmark.
# Safe to run again: packages already present are left alone, and the package
# lists are refreshed only when something is missing.
set -euo pipefail

packages=(
  # toolchain and build
  cmake g++ make pkg-config ccache bison
  # tests, benchmarks, fuzzers
  googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  # platform back-end
  libsdl2-dev libimgui-dev
  # text and fonts
  libfreetype-dev libfontconfig-dev fonts-ipafont-mincho fonts-ipafont-gothic
  # archives and pictures
  zlib1g-dev libpng-dev libjpeg62-turbo-dev libtiff-dev
  # sound
  libogg-dev libvorbis-dev
  # save store
  libsqlite3-dev
  # benchmark peer only
  libpixman-1-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi

echo "install-deps: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
