#!/usr/bin/env bash
# The Windows programs' demo (scripts/demo.sh --windows): builds the Windows
# programs (build-win/) and the Linux update server (build/), and runs
# quendal-updater.exe under Wine on a virtual X display against the server
# at 127.0.0.1:280. Everything lands under the Windows build folder:
#   demo/                          the program folder: quendal-updater.exe, an
#                                  old Quendal.exe and a running stand-in QuendalM.exe
#   demo-archive/                  what the sample Quendal.zip is made of
#   demo-win32-downloading.png     the display during the download
#   demo-win32-downloaded.png      the display once the archive has arrived
# It fails when the companion keeps running or the archive differs from the
# one served. Port 280 needs root (or the right to bind low ports).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUENDAL_BUILD_DIR:-$root/build}
build_win=${QUENDAL_WIN_BUILD_DIR:-$root/build-win}
demo=$build_win/demo
archive_dir=$build_win/demo-archive

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build_win" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DQUENDAL_BUILD_BENCH=OFF
cmake --build "$build_win" --target quendal-updater quendal_m_standin
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target quendal-update-server

export WINEPREFIX="$build_win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8

echo "== preparing the program folder $demo"
rm -rf "$demo" "$archive_dir" "$build_win"/demo-win32-*.png
mkdir -p "$demo" "$archive_dir/data"
cp "$build_win/app/win32/quendal-updater.exe" "$demo/"
cp "$build_win/tests/QuendalM.exe" "$demo/QuendalM.exe"
echo "Quendal 1.0" > "$demo/Quendal.exe"

echo "== making the sample Quendal.zip"
echo "Quendal 1.1" > "$archive_dir/Quendal.exe"
echo "Quendal 1.1 update notes" > "$archive_dir/readme.txt"
head -c $((2 * 1024 * 1024)) /dev/urandom > "$archive_dir/data/assets.bin"
(cd "$archive_dir" && zip -q -0 -r Quendal.zip Quendal.exe readme.txt data)
size=$(stat -c %s "$archive_dir/Quendal.zip")

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true  # this build's own prefix only
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$build_win/demo-display" > /dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$build_win/demo-display" ] && break; sleep 0.1; done
export DISPLAY=:$(tr -d '\n' < "$build_win/demo-display")
rm -f "$build_win/demo-display"
wineboot -i > /dev/null 2>&1

echo "== serving it at http://127.0.0.1:280/HTTP/Quendown/Quendal.zip"
"$build/tools/update_server/quendal-update-server" "$archive_dir/Quendal.zip" 127.0.0.1 280 > /dev/null 2>&1 &
pids+=($!)
(cd "$demo" && exec wine QuendalM.exe) > /dev/null 2>&1 &
companion=$!
pids+=("$companion")
sleep 2

echo "== running quendal-updater.exe under Wine on display $DISPLAY"
(cd "$demo" && exec wine quendal-updater.exe) > /dev/null 2>&1 &
updater=$!
pids+=("$updater")
zip_file=$demo/Quendal.zip
pictured_mid=no
for _ in $(seq 600); do
    have=$(stat -c %s "$zip_file" 2>/dev/null || echo 0)
    if [ "$pictured_mid" = no ] && [ "$have" -gt 0 ] && [ "$have" -lt "$size" ]; then
        import -window root "$build_win/demo-win32-downloading.png" && pictured_mid=yes
    fi
    [ "$have" = "$size" ] && break
    sleep 0.1
done
sleep 1  # the window's last paint
import -window root "$build_win/demo-win32-downloaded.png"

status=0
if cmp -s "$zip_file" "$archive_dir/Quendal.zip"; then
    echo "== downloaded: $size bytes, the same as served"
else
    echo "demo: the archive in $demo differs from the one served" >&2
    status=1
fi
# Wine's loader becomes the Windows process, so the started pid is the companion.
state=$(awk '/^State:/ {print $2}' "/proc/$companion/status" 2>/dev/null || true)
if [ -n "$state" ] && [ "$state" != Z ]; then
    echo "demo: QuendalM.exe is still running" >&2
    status=1
else
    echo "== QuendalM.exe was stopped at start"
fi
[ "$pictured_mid" = yes ] || echo "== (the download was too quick to picture halfway)"
echo "== screenshots: $(ls "$build_win"/demo-win32-*.png | tr '\n' ' ')"
exit $status
