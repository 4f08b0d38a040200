#!/usr/bin/env bash
# Installs with apt-get whatever the build, the tests, the demo and the
# benchmarks need and this machine lacks.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libcurl4-openssl-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  qt6-base-dev fonts-nanum xvfb xauth imagemagick
  zip unzip 7zip libarchive-tools python3 curl libdeflate-dev time
  clang libclang-rt-14-dev iproute2
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest wine wine64
  libssl-dev openssl tinyproxy faketime nlohmann-json3-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
