#!/usr/bin/env bash
# The Windows programs' demo (scripts/demo.sh --windows): builds the Windows
# programs (build-win/) and the Linux update server (build/), and runs
# quendal-updater.exe under Wine on a virtual X display against the server
# at 127.0.0.1:280, three times: against a server that hangs up half way
# (the program stays as it was), for the whole update, and once more on a
# 144-DPI screen until the download is under way. Everything lands
# under the Windows build folder:
#   demo/                          the program folder: quendal-updater.exe, an
#                                  old Quendal.exe and a running stand-in QuendalM.exe
#   demo-archive/                  what the sample Quendal.zip is made of
#   demo-win32-download-failed.png the window after the server hung up
#   demo-win32-downloading.png     the window during the download
#   demo-win32-extracting.png      the window during the extraction
#   demo-win32-144dpi.png          the window on a 150 % screen (144 DPI) during
#                                  the download, run in a private Wine prefix
#                                  of that DPI
# It fails when any step of the update is missing. Port 280 needs root (or
# the right to bind low ports).
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

video_size=$((500 * 1000 * 1000))
echo "== preparing the program folder $demo"
rm -rf "$demo" "$archive_dir" "$build_win"/demo-win32-*.png
mkdir -p "$demo" "$archive_dir/data"
cp "$build_win/app/win32/quendal-updater.exe" "$demo/"
cp "$build_win/tests/QuendalM.exe" "$demo/QuendalM.exe"
echo "Quendal 1.0" > "$demo/Quendal.exe"

echo "== making the sample Quendal.zip"
# The new Quendal.exe is the waiting stand-in, so that its start can be seen;
# the large file of zeros makes the extraction last long enough to picture.
cp "$build_win/tests/QuendalM.exe" "$archive_dir/Quendal.exe"
echo "Quendal 1.1 update notes" > "$archive_dir/readme.txt"
head -c $((2 * 1024 * 1024)) /dev/urandom > "$archive_dir/data/assets.bin"
head -c "$video_size" /dev/zero > "$archive_dir/data/video.bin"
(cd "$archive_dir" && zip -q -r Quendal.zip Quendal.exe readme.txt data)
rm "$archive_dir/data/video.bin"
size=$(stat -c %s "$archive_dir/Quendal.zip")

pids=()
dpi_prefix=
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true  # this build's own prefix only
    if [ -n "$dpi_prefix" ]; then
        WINEPREFIX=$dpi_prefix wineserver -k 2>/dev/null || true
        rm -rf "$dpi_prefix"
    fi
}
trap cleanup EXIT
alive() {
    local state
    state=$(awk '/^State:/ {print $2}' "/proc/$1/status" 2>/dev/null || true)
    [ -n "$state" ] && [ "$state" != Z ]
}
await() {  # await TENTHS COMMAND...: true once COMMAND is
    local tenths=$1
    shift
    for _ in $(seq "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }
fail() { echo "demo: $*" >&2; exit 1; }

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$build_win/demo-display" > /dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$build_win/demo-display" ] && break; sleep 0.1; done
export DISPLAY=:$(tr -d '\n' < "$build_win/demo-display")
rm -f "$build_win/demo-display"
wineboot -i > /dev/null 2>&1

zip_file=$demo/Quendal.zip
run() {  # run SERVER-OPTIONS...: serves the archive and starts the companion and the updater
    "$build/tools/update_server/quendal-update-server" "$@" "$archive_dir/Quendal.zip" 127.0.0.1 280 > /dev/null 2>&1 &
    server=$!
    pids+=("$server")
    (cd "$demo" && exec wine QuendalM.exe) > /dev/null 2>&1 &
    companion=$!
    pids+=("$companion")
    sleep 2
    echo "== running quendal-updater.exe under Wine on display $DISPLAY"
    (cd "$demo" && exec wine quendal-updater.exe) > /dev/null 2>&1 &
    updater=$!
    pids+=("$updater")
    # Wine's loader becomes the Windows process, so the started pid is the companion.
    await 300 eval '! alive "$companion"' || fail "QuendalM.exe was not stopped"
    echo "   QuendalM.exe was stopped at start"
}
arrived_some() { [ "$(size_of "$zip_file")" -ge $((size * 2 / 5)) ]; }
arrived_all() { [ "$(size_of "$zip_file")" = "$size" ]; }
gone_after_arriving() { [ -f "$zip_file" ] && seen=yes; [ "${seen:-}" = yes ] && [ ! -f "$zip_file" ]; }
started() { grep -qa 'demo.Quendal\.exe' /proc/[0-9]*/cmdline 2>/dev/null; }

echo "== 1. a server that hangs up half way"
run --close-early --rate 500000
seen=no
await 600 gone_after_arriving || fail "the failed download was not cleared"
sleep 1  # the window's last paint
import -window root "$build_win/demo-win32-download-failed.png"
alive "$updater" || fail "the updater should wait for the user"
[ "$(cat "$demo/Quendal.exe")" = "Quendal 1.0" ] || fail "the program was touched"
echo "   the window offers Restart; the installed program is untouched"
kill "$updater" "$server" 2>/dev/null || true
wineserver -k 2>/dev/null || true
sleep 1

echo "== 2. a good server"
run --rate 1500000
await 900 arrived_some || fail "the download did not start"
import -window root "$build_win/demo-win32-downloading.png"
await 900 arrived_all || fail "the download did not end"
# The extraction starts as the last byte arrives and takes about a second.
await 100 test -e "$demo/.quendal-update/stage/data/video.bin" || fail "the extraction did not start"
import -window root "$build_win/demo-win32-extracting.png"
await 1800 eval '! alive "$updater"' || fail "the updater did not exit"
status=0
wait "$updater" || status=$?
[ "$status" = 0 ] || fail "the updater exited with status $status"
echo "   the updater exited with status 0"
await 100 started || fail "the new Quendal.exe was not started"
echo "   the new Quendal.exe was started"
[ ! -e "$zip_file" ] || fail "the archive was not deleted"
for f in Quendal.exe readme.txt data/assets.bin; do
    cmp -s "$archive_dir/$f" "$demo/$f" || fail "$f was not replaced"
done
cmp -s <(head -c "$video_size" /dev/zero) "$demo/data/video.bin" || fail "data/video.bin is wrong"
echo "   every file of the update is in place; the archive is gone"
echo "== 3. the window on a 144-DPI screen"
# A prefix of its own: the build's registry with LogPixels at 144, its drive.
wineserver -k 2>/dev/null || true
dpi_prefix=$(mktemp -d /tmp/quendal-demo-dpi.XXXXXX)
cp "$WINEPREFIX"/*.reg "$WINEPREFIX"/.update-timestamp "$dpi_prefix"/
cp -a "$WINEPREFIX/dosdevices" "$dpi_prefix"/
ln -s "$WINEPREFIX/drive_c" "$dpi_prefix/drive_c"
sed -i 's/^"LogPixels"=dword:[0-9a-f]*/"LogPixels"=dword:00000090/' "$dpi_prefix/user.reg" "$dpi_prefix/system.reg"
export WINEPREFIX=$dpi_prefix
run --rate 500000
await 900 arrived_some || fail "the download did not start"
import -window root "$build_win/demo-win32-144dpi.png"
echo "   pictured at 144 DPI during the download"
kill "$updater" "$server" 2>/dev/null || true
echo "== screenshots: $(ls "$build_win"/demo-win32-*.png | tr '\n' ' ')"
