#!/usr/bin/env bash
# The display of the native window tests.
#   xvfb_fixture.sh start DIR BUILD   starts Xvfb (a screen large enough for
#       the window at 192 DPI) on a free display (its number
#       in DIR/display) and a watcher that, while a test's request file
#       BUILD/screenshot-request exists, pictures the whole screen into
#       BUILD/<name in the file> with ImageMagick and removes the request.
#   xvfb_fixture.sh stop DIR          stops both and removes DIR.
set -euo pipefail
dir=$2

stop() {
    for pidfile in "$dir/watcher.pid" "$dir/xvfb.pid"; do
        [ -f "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null || true
    done
    rm -rf "$dir"
}

case $1 in
start)
    build=$3
    stop
    mkdir -p "$dir"
    exec 3> "$dir/display"
    Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp > /dev/null 2>&1 &
    echo $! > "$dir/xvfb.pid"
    for _ in $(seq 100); do [ -s "$dir/display" ] && break; sleep 0.1; done
    exec 3>&-
    [ -s "$dir/display" ] || { echo "Xvfb did not start" >&2; stop; exit 1; }
    display=:$(tr -d '\n' < "$dir/display")
    printf '%s' "${display#:}" > "$dir/display"
    (
        request=$build/screenshot-request
        while :; do
            if [ -f "$request" ]; then
                sleep 0.5  # the window's last paint
                name=$(cat "$request")
                DISPLAY=$display import -window root "$build/$(basename "$name")" || true
                rm -f "$request"
            fi
            sleep 0.1
        done
    ) > /dev/null 2>&1 &
    echo $! > "$dir/watcher.pid"
    ;;
stop)
    stop
    ;;
esac
