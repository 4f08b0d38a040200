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

# A short run of every fuzz target keeps them building and alive; long runs
# are scripts/fuzz.sh with more seconds.
"$root/scripts/fuzz.sh" "${QUENDAL_FUZZ_SMOKE_SECONDS:-10}"
