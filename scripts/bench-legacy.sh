#!/usr/bin/env bash
# Builds legacy_bench and compares the Shrink, Reduce and Implode decoders
# with unzip -t on archives of copies of the fixtures' entries (about 64 MB of
# plain data per method group, never committed) and on the fixtures
# themselves: MB/s and the ratio to unzip, measured in the same run.
# Usage: scripts/bench-legacy.sh [runs] [megabytes]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUENDAL_BUILD_DIR:-$root/build}
runs=${1:-7}
megabytes=${2:-64}

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target legacy_bench

work=$(mktemp -d "${TMPDIR:-/tmp}/quendal-bench-legacy.XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 "$root/bench/legacy/bench_legacy.py" "$build/bench/legacy/legacy_bench" "$work" "$megabytes" "$runs" \
  "$root"/tests/fixtures/legacy/*.zip
