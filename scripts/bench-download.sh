#!/usr/bin/env bash
# Builds the download benchmark and runs it: the download component against
# the curl command-line tool on a loopback server, 20 MiB and 200 MiB bodies,
# then a 100 MiB body from a server that hangs up after every 10 MiB against
# an unbroken download. Extra arguments replace the first sizes (in MiB).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUENDAL_BUILD_DIR:-$root/build}

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target download_bench
work="$build/bench-download-work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
(($#)) || set -- 20 200
"$build/bench/download/download_bench" "$work" "$@"
