#!/usr/bin/env bash
# Installs what is missing, builds the Linux programs (build/) and the Windows
# programs (build-win/, cross-compiled with mingw-w64), and runs every test:
# the Windows tests under Wine, and the command-line tool's tests once more
# against quendal-unzip.exe under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUENDAL_BUILD_DIR:-$root/build}
build_win=${QUENDAL_WIN_BUILD_DIR:-$root/build-win}
jobs=$(nproc)

"$root/scripts/deps.sh"

# The layers of archive/: no include against them, no cycle between folders.
"$root/scripts/check-archive-layers.py"

cmake -S "$root" -B "$build_win" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DQUENDAL_BUILD_BENCH=OFF
# The Wine prefix lives in the build folder; it is made once per run, before
# the build discovers the Windows tests by running them.
export WINEPREFIX="$build_win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine keeps its server's socket folder in the temporary folder and leaves it
# there; this run's goes in a folder of its own (wine-run.sh passes it on),
# removed at the end with the server.
QUENDAL_WINE_TMPDIR=$(mktemp -d)
export QUENDAL_WINE_TMPDIR
stop_wine() {
  TMPDIR=$QUENDAL_WINE_TMPDIR wineserver -k 2>/dev/null || true
  rm -rf "$QUENDAL_WINE_TMPDIR"
}
trap stop_wine EXIT
TMPDIR=$QUENDAL_WINE_TMPDIR wineboot -i >/dev/null 2>&1
cmake --build "$build_win"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUENDAL_WINDOWS_UNZIP="$build_win/wine-run.sh $build_win/tools/quendal_unzip/quendal-unzip.exe"
cmake --build "$build"

# Under load, Wine now and then ends a program at start-up with status 1 and
# no word (its own messages are off, WINEDEBUG=-all); a test run under Wine
# that fails is run once more, and fails the run only when it fails again.
(cd "$build" && ctest --output-on-failure -j"$jobs" -E '^wine\.')
(cd "$build" && ctest --output-on-failure -j"$jobs" -R '^wine\.' --repeat until-pass:2)
# The native window's tests cannot create their windows in a Wine server that
# the Linux-side tests above started (seen every time); they get a fresh one.
TMPDIR=$QUENDAL_WINE_TMPDIR wineserver -k 2>/dev/null && TMPDIR=$QUENDAL_WINE_TMPDIR wineserver -w || true
(cd "$build_win" && ctest --output-on-failure -j"$jobs" --repeat until-pass:2)

# A short run of every fuzz target keeps them building and alive; long runs
# are scripts/fuzz.sh with more seconds.
QUENDAL_FUZZ_SEED=${QUENDAL_FUZZ_SEED:-1} "$root/scripts/fuzz.sh" "${QUENDAL_FUZZ_SMOKE_SECONDS:-10}"
