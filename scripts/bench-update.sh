#!/usr/bin/env bash
# Builds the updater, the update server and quendal-unzip, and times the whole
# update of a 200 MB archive of a few thousand files on loopback against curl
# downloading it plus quendal-unzip extracting it: median times, their ratio,
# and the updater's peak resident memory; then the install step alone
# (extraction into the stage plus the swap) against quendal-unzip extracting
# the same archive in place over an older release; last, the differential
# update of the next release (10 files changed) at 100 Mbit/s against curl
# fetching it whole at that rate. Port 280 needs root.
# Usage: scripts/bench-update.sh [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUENDAL_BUILD_DIR:-$root/build}
runs=${1:-3}

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target quendal-updater quendal-update-server quendal-unzip install_bench \
    quendal-publish

work="$build/bench-update-work"
trap 'rm -rf "$work"' EXIT
python3 "$root/bench/update/bench_update.py" "$build/app/qt/quendal-updater" \
    "$build/tools/update_server/quendal-update-server" "$build/tools/quendal_unzip/quendal-unzip" \
    "$build/bench/update/install_bench" "$build/tools/quendal_publish/quendal-publish" "$work" "$runs"
