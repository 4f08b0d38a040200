#!/usr/bin/env bash
# The main job: installs what is missing, builds, publishes a sample release
# with quendal-publish and runs the whole update against a local update
# server at 127.0.0.1:280, five times:
#   1. a server that hangs up half way: the updater says the download failed,
#      deletes what arrived and leaves the installed program alone;
#   2. a good server (slowed down so that the download can be watched): the
#      updater stops QuendalM.exe, downloads, extracts over the program
#      folder, deletes the archive, starts the new Quendal.exe and exits;
#   3. the same release again: the updater fetches no archive, says it is up
#      to date and starts Quendal.exe;
#   4. an older release (1.0) with a good signature, replayed: refused before
#      its archive is fetched, the program untouched;
#   5. the next release (1.2), where only the program and its notes changed:
#      the updater fetches just those two entries by range and prints the
#      bytes the server sent against the archive's size.
# The updater is built with a demo publisher key (made here with openssl, kept
# only in the build folder) and every release is published with it.
#   --tampered   serves the signed archive changed after signing: the updater
#                refuses it, deletes both downloads and leaves the program
#                alone (demo-signature-refused.png)
# Everything lands under the build folder:
#   demo/                        the program folder: quendal-updater, a stand-in
#                                Quendal.exe and QuendalM.exe, old files
#   demo-archive/                what the sample Quendal.zip is made of
#   demo-download-failed.png     the window after the failed download
#   demo-downloading.png         the window during the download
#   demo-extracting.png          the window during the extraction
#   demo-up-to-date.png          the window of the run that found the release installed
#   demo-downgrade-refused.png   the window after the older release was refused
# Without a display the updater runs on a virtual X server (xvfb-run).
# Port 280 needs root (or the right to bind low ports).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUENDAL_BUILD_DIR:-$root/build}
demo=$build/demo
source=$build/demo-archive
server_bin=$build/tools/update_server/quendal-update-server
grab=$build/app/qt/quendal-screen-grab
video_size=$((500 * 1000 * 1000))

# Whether a process still runs (an ended child stays a zombie until waited for).
alive() {
    local state
    state=$(awk '/^State:/ {print $2}' "/proc/$1/status" 2>/dev/null || true)
    [ -n "$state" ] && [ "$state" != Z ]
}

size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }

# Waits up to $1 tenths of a second for the command after it to succeed.
await() {
    local tenths=$1
    shift
    for _ in $(seq "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# Runs on the display: the two updates, with the pictures taken on the way.
on_display() {
    local archive=$demo/Quendal.zip full
    full=$(size_of "$source/Quendal.zip")
    server="" companion="" updater=""  # seen by the exit trap
    stop() {  # ends the given processes started here, by their ids
        local pid
        for pid in "$@"; do
            [ -n "$pid" ] || continue
            kill "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        done
    }
    trap 'stop "$updater" "$server" "$companion"' EXIT
    served=$source/Quendal.zip  # with its manifest and signature beside it
    serve() {  # each request of the archive is a line of the log
        "$server_bin" "$@" "$served" 127.0.0.1 280 > "$build/demo-server.log" &
        server=$!
        sleep 0.5
        alive "$server" || { echo "demo: the update server did not start" >&2; return 1; }
    }
    start_updater() {
        "$demo/QuendalM.exe" 600 &
        companion=$!
        disown "$companion"  # its end is checked here, not reported by the shell
        "$demo/quendal-updater" &
        updater=$!
        await 100 eval '! alive "$companion"' || { echo "demo: QuendalM.exe was not stopped" >&2; return 1; }
        echo "   QuendalM.exe was stopped at start"
    }
    arrived_some() { [ "$(size_of "$archive")" -ge $((full * 2 / 5)) ]; }
    arrived_all() { [ "$(size_of "$archive")" = "$full" ]; }
    gone_after_arriving() { [ -f "$archive" ] && seen=yes; [ "${seen:-}" = yes ] && [ ! -f "$archive" ]; }

    echo "== 1. a server that hangs up half way"
    serve --close-early --rate 500000
    start_updater
    seen=no
    # Cleared after the five retries (up to 37 s of waits).
    await 900 gone_after_arriving || { echo "demo: the failed download was not cleared" >&2; return 1; }
    sleep 0.5  # let the window paint
    "$grab" "$build/demo-download-failed.png"
    alive "$updater" || { echo "demo: the updater should wait for the user" >&2; return 1; }
    [ ! -f "$demo/quendal-started.txt" ] || { echo "demo: Quendal.exe was started" >&2; return 1; }
    cmp -s "$demo/Quendal.exe" "$build/demo-old-Quendal.exe" || { echo "demo: the program was touched" >&2; return 1; }
    echo "   the window offers Restart; the installed program is untouched"
    stop "$updater" "$server"
    updater="" server=""

    echo "== 2. a good server"
    serve --rate 1500000
    start_updater
    await 600 arrived_some || { echo "demo: the download did not start" >&2; return 1; }
    "$grab" "$build/demo-downloading.png"
    await 600 arrived_all || { echo "demo: the download did not end" >&2; return 1; }
    "$grab" "$build/demo-extracting.png"  # the extraction starts as the last byte arrives
    local status=0
    await 1200 eval '! alive "$updater"' || { echo "demo: the updater did not exit" >&2; return 1; }
    wait "$updater" || status=$?
    updater=""
    [ "$status" = 0 ] || { echo "demo: the updater exited with status $status" >&2; return 1; }
    echo "   the updater exited with status 0"
    await 100 test -f "$demo/quendal-started.txt" || { echo "demo: Quendal.exe was not started" >&2; return 1; }
    echo "   $(cat "$demo/quendal-started.txt")"
    [ ! -e "$archive" ] || { echo "demo: the archive was not deleted" >&2; return 1; }
    for f in Quendal.exe readme.txt data/assets.bin; do
        cmp -s "$source/$f" "$demo/$f" || { echo "demo: $f was not replaced" >&2; return 1; }
    done
    cmp -s <(head -c "$video_size" /dev/zero) "$demo/data/video.bin" || { echo "demo: data/video.bin is wrong" >&2; return 1; }
    echo "   every file of the update is in place; the archive is gone"
    grep -qx "Version=1.1" "$demo/.quendal-update/state.ini" || { echo "demo: release 1.1 was not recorded" >&2; return 1; }
    echo "   .quendal-update/state.ini records release 1.1"
    stop "$server"
    server=""
    local installed
    installed=$(cd "$demo" && find . -path ./.quendal-update -prune -o -type f ! -name quendal-started.txt -print0 | sort -z | xargs -0 sha256sum)

    echo "== 3. the same release again"
    rm -f "$demo/quendal-started.txt"
    serve
    "$demo/quendal-updater" &
    updater=$!
    # The window shows its word for half a second before the program starts:
    # the last picture taken while the updater still ran shows it.
    for _ in $(seq 100); do
        alive "$updater" || break
        "$grab" "$build/demo-grab.png"
        ! alive "$updater" || mv "$build/demo-grab.png" "$build/demo-up-to-date.png"
    done
    rm -f "$build/demo-grab.png"
    ! alive "$updater" || { echo "demo: the updater did not exit" >&2; return 1; }
    status=0
    wait "$updater" || status=$?
    updater=""
    [ "$status" = 0 ] || { echo "demo: the updater exited with status $status" >&2; return 1; }
    await 100 test -f "$demo/quendal-started.txt" || { echo "demo: Quendal.exe was not started" >&2; return 1; }
    ! grep -q "archive requested" "$build/demo-server.log" || { echo "demo: the archive was fetched" >&2; return 1; }
    echo "   no archive fetched; $(cat "$demo/quendal-started.txt"); the updater exited with status 0"
    stop "$server"
    server=""

    echo "== 4. release 1.0 replayed with its good signature"
    rm -f "$demo/quendal-started.txt"
    served=$build/demo-archive-1.0/Quendal.zip
    serve
    "$demo/quendal-updater" &
    updater=$!
    sleep 3  # the refusal comes before any archive; let the window paint
    "$grab" "$build/demo-downgrade-refused.png"
    alive "$updater" || { echo "demo: the updater should wait for the user" >&2; return 1; }
    ! grep -q "archive requested" "$build/demo-server.log" || { echo "demo: the archive was fetched" >&2; return 1; }
    [ ! -f "$demo/quendal-started.txt" ] || { echo "demo: Quendal.exe was started" >&2; return 1; }
    [ "$(cd "$demo" && find . -path ./.quendal-update -prune -o -type f ! -name quendal-started.txt -print0 | sort -z | xargs -0 sha256sum)" = "$installed" ] ||
        { echo "demo: the program was touched" >&2; return 1; }
    echo "   refused before its archive was fetched; the installed program is untouched"
    stop "$updater" "$server"
    updater="" server=""

    echo "== 5. release 1.2, where two files changed"
    served=$build/demo-archive-1.2/Quendal.zip
    serve
    "$demo/quendal-updater" &
    updater=$!
    await 1200 eval '! alive "$updater"' || { echo "demo: the updater did not exit" >&2; return 1; }
    status=0
    wait "$updater" || status=$?
    updater=""
    [ "$status" = 0 ] || { echo "demo: the updater exited with status $status" >&2; return 1; }
    await 100 test -f "$demo/quendal-started.txt" || { echo "demo: Quendal.exe was not started" >&2; return 1; }
    stop "$server"
    server=""
    grep -q "Quendal 1.2" "$demo/quendal-started.txt" || { echo "demo: Quendal 1.2 was not started" >&2; return 1; }
    echo "   $(cat "$demo/quendal-started.txt")"
    cmp -s "$build/demo-archive-1.2/readme.txt" "$demo/readme.txt" || { echo "demo: readme.txt was not replaced" >&2; return 1; }
    tail -n 1 "$demo/.quendal-update/update.log" | grep -q "fetch=entries" ||
        { echo "demo: the update was not fetched by its changed entries" >&2; return 1; }
    local sent
    sent=$(awk '$1 == "sent" {total += $4} END {print total + 0}' "$build/demo-server.log")
    echo "   fetched by range: $sent bytes (manifest included) of an archive of $(size_of "$served") bytes"
    echo "   update.log: $(tail -n 1 "$demo/.quendal-update/update.log" | grep -o 'fetch=.*')"
}

# The same run with the Windows programs under Wine.
if [ "${1:-}" = --windows ]; then
    exec "$root/scripts/demo-windows.sh"
fi

# Runs on the display: a signed archive changed after signing is refused.
on_display_tampered() {
    local archive=$demo/Quendal.zip
    server="" updater=""
    trap '[ -z "$updater" ] || kill "$updater" 2>/dev/null; [ -z "$server" ] || kill "$server" 2>/dev/null; wait' EXIT
    echo "== a signed archive changed after signing"
    "$server_bin" "$source/Quendal.zip" 127.0.0.1 280 > "$build/demo-server.log" &
    server=$!
    sleep 0.5
    alive "$server" || { echo "demo: the update server did not start" >&2; return 1; }
    "$demo/quendal-updater" &
    updater=$!
    await 300 grep -q "archive requested" "$build/demo-server.log" || { echo "demo: the archive was not fetched" >&2; return 1; }
    await 300 eval '[ ! -f "$archive" ] && [ ! -f "$demo/Quendal.zip.manifest" ]' ||
        { echo "demo: the refused downloads were not deleted" >&2; return 1; }
    sleep 1  # let the window paint
    "$grab" "$build/demo-signature-refused.png"
    alive "$updater" || { echo "demo: the updater should wait for the user" >&2; return 1; }
    [ ! -f "$demo/quendal-started.txt" ] || { echo "demo: Quendal.exe was started" >&2; return 1; }
    cmp -s "$demo/Quendal.exe" "$build/demo-old-Quendal.exe" || { echo "demo: the program was touched" >&2; return 1; }
    echo "   the archive was refused; the download is gone; the installed program is untouched"
}

case "${1:-}" in
    --on-display) on_display; exit ;;
    --on-display-tampered) on_display_tampered; exit ;;
esac
tampered=no
[ "${1:-}" = --tampered ] && tampered=yes

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target quendal-update-server quendal-screen-grab

# The signed updater is built beside the main build, so that the main build
# (and its tests) keep taking updates unsigned.
key=$build/demo-key
if [ ! -f "$key/public.pem" ]; then
    mkdir -p "$key"
    openssl ecparam -name prime256v1 -genkey -noout -out "$key/private.pem"
    openssl ec -in "$key/private.pem" -pubout -out "$key/public.pem" 2> /dev/null
fi
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build/demo-signed-build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
    -DQUENDAL_BUILD_TESTS=OFF -DQUENDAL_BUILD_BENCH=OFF -DQUENDAL_UPDATE_PUBLIC_KEY_FILE="$key/public.pem"
cmake --build "$build/demo-signed-build" --target quendal-updater quendal-publish

echo "== preparing the program folder $demo"
rm -rf "$demo" "$source" "$build/demo-archive-1.0" "$build/demo-archive-1.2" "$build"/demo-*.png \
    "$build/demo-old-Quendal.exe"
mkdir -p "$demo" "$source/data"
cp "$build/demo-signed-build/app/qt/quendal-updater" "$demo/"
stand_in() {  # a tiny Quendal.exe that says which version it is
    printf '#!/bin/sh\necho "Quendal %s started in $(pwd)" > "$(dirname "$0")/quendal-started.txt"\n' "$1" > "$2"
    chmod +x "$2"
}
stand_in 1.0 "$demo/Quendal.exe"
cp "$demo/Quendal.exe" "$build/demo-old-Quendal.exe"
echo "Quendal 1.0" > "$demo/readme.txt"
cp "$(command -v sleep)" "$demo/QuendalM.exe"

echo "== making the sample Quendal.zip"
stand_in 1.1 "$source/Quendal.exe"
echo "Quendal 1.1 update notes" > "$source/readme.txt"
head -c $((3 * 1024 * 1024)) /dev/urandom > "$source/data/assets.bin"
# Packs small and unpacks large, so that the extraction can be watched too;
# only its packed form is kept.
head -c "$video_size" /dev/zero > "$source/data/video.bin"
(cd "$source" && zip -q -r Quendal.zip Quendal.exe readme.txt data)
rm "$source/data/video.bin"
# Published as a publisher publishes; the update server serves the manifest
# and its signature beside the archive.
"$build/demo-signed-build/tools/quendal_publish/quendal-publish" --key "$key/private.pem" --version 1.1 \
    "$source/Quendal.zip"
# An older release, published as 1.0 with the same key, for a replay.
mkdir -p "$build/demo-archive-1.0"
cp "$source/Quendal.zip" "$build/demo-archive-1.0/"
"$build/demo-signed-build/tools/quendal_publish/quendal-publish" --key "$key/private.pem" --version 1.0 \
    "$build/demo-archive-1.0/Quendal.zip"
# The next release, 1.2: a new program and new notes, everything else as in 1.1.
next=$build/demo-archive-1.2
mkdir -p "$next"
cp "$source/Quendal.zip" "$next/"
stand_in 1.2 "$next/Quendal.exe"
echo "Quendal 1.2 update notes" > "$next/readme.txt"
(cd "$next" && zip -q Quendal.zip Quendal.exe readme.txt && rm Quendal.exe)
"$build/demo-signed-build/tools/quendal_publish/quendal-publish" --key "$key/private.pem" --version 1.2 \
    "$next/Quendal.zip"
if [ "$tampered" = yes ]; then
    # One byte changed after signing: the same size, another program.
    python3 -c 'import sys; f = open(sys.argv[1], "r+b"); f.seek(-1000, 2); b = f.read(1); f.seek(-1000, 2); f.write(bytes([b[0] ^ 0x20]))' \
        "$source/Quendal.zip"
fi
echo "   $(stat -c %s "$source/Quendal.zip") bytes, served at http://127.0.0.1:280/HTTP/Quendown/Quendal.zip"

# Qt's programs want a private runtime folder: the demo's get one of their own.
export XDG_RUNTIME_DIR=$build/demo-runtime
rm -rf "$XDG_RUNTIME_DIR" && mkdir -m 700 "$XDG_RUNTIME_DIR"
mode=--on-display
[ "$tampered" = yes ] && mode=--on-display-tampered
if [ -n "${DISPLAY:-}" ]; then
    "$0" "$mode"
else
    xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$mode"
fi
rm -rf "$build/demo-old-Quendal.exe" "$build/demo-server.log" "$XDG_RUNTIME_DIR"
if [ "$tampered" = yes ]; then
    echo "== screenshot: $build/demo-signature-refused.png"
else
    echo "== screenshots: $build/demo-download-failed.png $build/demo-downloading.png $build/demo-extracting.png"
    echo "                $build/demo-up-to-date.png $build/demo-downgrade-refused.png"
fi
