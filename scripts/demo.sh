#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the updater against
# a local update server that serves a sample Quendal.zip at 127.0.0.1:280.
# Everything lands under the build folder:
#   demo/                 the program folder: quendal-updater, a stand-in
#                         Quendal.exe and a running stand-in QuendalM.exe
#   demo-archive/         what the sample Quendal.zip is made of
#   demo-screenshot.png   the display with the updater's window
# Without a display the updater runs on a virtual X server (xvfb-run).
# Port 280 needs root (or the right to bind low ports).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUENDAL_BUILD_DIR:-$root/build}
demo=$build/demo
shot=$build/demo-screenshot.png

# Whether a child process still runs (an ended child stays a zombie until waited for).
alive() {
    local state
    state=$(awk '/^State:/ {print $2}' "/proc/$1/status" 2>/dev/null || true)
    [ -n "$state" ] && [ "$state" != Z ]
}

# Runs on the display: starts the updater, pictures its window once the
# archive has arrived, and ends.
on_display() {
    local archive=$demo/Quendal.zip size
    size=$(stat -c %s "$build/demo-archive/Quendal.zip")
    "$demo/quendal-updater" &
    local updater=$!
    local pictured=no
    for _ in $(seq 600); do
        alive "$updater" || break
        if [ -f "$archive" ] && [ "$(stat -c %s "$archive")" = "$size" ]; then
            sleep 1  # let the window paint its last progress
            "$build/app/gui/quendal-screen-grab" "$shot" && pictured=yes
            break
        fi
        sleep 0.1
    done
    if alive "$updater"; then
        # The download is done; the updater waits with its window open.
        kill "$updater"
        wait "$updater" 2>/dev/null || true
    fi
    [ "$pictured" = yes ] || { echo "demo: the archive did not arrive" >&2; return 1; }
}

# The same run with the Windows programs under Wine.
if [ "${1:-}" = --windows ]; then
    exec "$root/scripts/demo-windows.sh"
fi

if [ "${1:-}" = --on-display ]; then
    on_display
    exit
fi

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target quendal-updater quendal-update-server quendal-screen-grab

echo "== preparing the program folder $demo"
rm -rf "$demo" "$build/demo-archive" "$shot"
mkdir -p "$demo" "$build/demo-archive/data"
cp "$build/app/gui/quendal-updater" "$demo/"
stand_in() {  # a tiny Quendal.exe that says which version it is
    printf '#!/bin/sh\necho "Quendal %s started" > "$(dirname "$0")/quendal-started.txt"\n' "$1" > "$2"
    chmod +x "$2"
}
stand_in 1.0 "$demo/Quendal.exe"
cp "$(command -v sleep)" "$demo/QuendalM.exe"

echo "== making the sample Quendal.zip"
stand_in 1.1 "$build/demo-archive/Quendal.exe"
echo "Quendal 1.1 update notes" > "$build/demo-archive/readme.txt"
head -c $((2 * 1024 * 1024)) /dev/urandom > "$build/demo-archive/data/assets.bin"
(cd "$build/demo-archive" && zip -q -r Quendal.zip Quendal.exe readme.txt data)

echo "== serving it at http://127.0.0.1:280/HTTP/Quendown/Quendal.zip"
"$build/tools/update_server/quendal-update-server" "$build/demo-archive/Quendal.zip" 127.0.0.1 280 &
server=$!
"$demo/QuendalM.exe" 600 &
companion=$!
disown "$server" "$companion"  # their ends are checked here, not reported by the shell
cleanup() {
    kill "$server" 2>/dev/null || true
    kill "$companion" 2>/dev/null || true
}
trap cleanup EXIT
sleep 0.5
alive "$server" || { echo "demo: the update server did not start" >&2; exit 1; }

echo "== running the updater"
if [ -n "${DISPLAY:-}" ]; then
    "$0" --on-display
else
    xvfb-run -a -s "-screen 0 1024x768x24" "$0" --on-display
fi

if alive "$companion"; then
    echo "demo: QuendalM.exe is still running" >&2
    exit 1
fi
echo "== QuendalM.exe was stopped at start"
echo "== downloaded: $(stat -c %s "$demo/Quendal.zip") bytes in $demo/Quendal.zip"
echo "== screenshot: $shot"
