#!/usr/bin/env bash
# Builds the Windows updater (for the tests' loopback port), quendal-unzip.exe
# and the stand-in Quendal.exe, and times the updater's extraction in its
# native window against quendal-unzip.exe on the same archive, under Wine on
# a virtual X display of its own: median times and their ratio.
# Usage: scripts/bench-update-windows.sh [runs]
# QUENDAL_BENCH_UPDATER=path times another build of the updater instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_win=${QUENDAL_WIN_BUILD_DIR:-$root/build-win}
runs=${1:-3}

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build_win" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DQUENDAL_BUILD_BENCH=OFF
port=$(sed -n 's/^QUENDAL_TEST_UPDATE_PORT:[A-Z]*=//p' "$build_win/CMakeCache.txt")

export WINEPREFIX="$build_win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
QUENDAL_WINE_TMPDIR=$(mktemp -d)
export QUENDAL_WINE_TMPDIR
display_file=$(mktemp)
xvfb=
cleanup() {
  TMPDIR=$QUENDAL_WINE_TMPDIR wineserver -k 2>/dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  rm -rf "$QUENDAL_WINE_TMPDIR" "$display_file" "$build_win/bench-update-windows-work"
}
trap cleanup EXIT
[ -d "$WINEPREFIX" ] || TMPDIR=$QUENDAL_WINE_TMPDIR wineboot -i >/dev/null 2>&1
cmake --build "$build_win" --target quendal-updater-test quendal-unzip quendal_standin_1_1

exec 3> "$display_file"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > /dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
exec 3>&-
[ -s "$display_file" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(tr -d '\n' < "$display_file")"
# One Wine server for every run, so that none of them pays for its start.
TMPDIR=$QUENDAL_WINE_TMPDIR wineserver -p

python3 "$root/bench/update/bench_update_windows.py" "$build_win/wine-run.sh" \
  "${QUENDAL_BENCH_UPDATER:-$build_win/tests/quendal-updater-test.exe}" "$build_win/tools/quendal_unzip/quendal-unzip.exe" \
  "$build_win/tests/quendal_standin_1_1.exe" "$port" "$build_win/bench-update-windows-work" "$runs"
