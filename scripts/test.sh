#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUENDAL_BUILD_DIR:-$root/build}

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build"
cd "$build"
ctest --output-on-failure -j"$(nproc)"
