#!/usr/bin/env bash
# quendal-updater.exe end to end under Wine: a program folder with the
# updater (built for PORT), an old Quendal.exe and a running stand-in
# QuendalM.exe; a server on the Linux side at 127.0.0.1:PORT.
#   updater_program_test.sh BUILD_DIR full|close-early PORT
# full: the companion is stopped, the archive is downloaded and extracted over
# the program folder byte for byte, deleted, the new Quendal.exe is started and
# the updater exits with status 0.
# close-early: the server closes halfway every time; after the retries
# Quendal.exe stays as it was and the partial archive is deleted.
set -euo pipefail
build=$1
mode=$2
port=$3
work=$(mktemp -d /tmp/quendal-win32-program.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    # The new Quendal.exe the updater started is no child of this script.
    pkill -f 'program.Quendal\.exe' 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
alive() {
    local state
    state=$(awk '/^State:/ {print $2}' "/proc/$1/status" 2>/dev/null || true)
    [ -n "$state" ] && [ "$state" != Z ]
}
started() {  # a process runs the program folder's Quendal.exe
    grep -qa 'program.Quendal\.exe' /proc/[0-9]*/cmdline 2>/dev/null
}

mkdir -p "$work/program" "$work/served" "$work/new/data"
cp "$build/tests/quendal-updater-test.exe" "$work/program/quendal-updater.exe"
cp "$build/tests/QuendalM.exe" "$work/program/"
echo "Quendal 1.0" > "$work/program/Quendal.exe"
# The new Quendal.exe is the waiting stand-in, so that its start can be seen.
cp "$build/tests/QuendalM.exe" "$work/new/Quendal.exe"
head -c $((1536 * 1024)) /dev/urandom > "$work/new/data/assets.bin"
(cd "$work/new" && zip -qr0 "$work/served/Quendal.zip" .)
size=$(stat -c %s "$work/served/Quendal.zip")

python3 - "$work/served/Quendal.zip" "$mode" "$port" > /dev/null 2>&1 <<'PY' &
import http.server, sys
body = open(sys.argv[1], "rb").read()
early = sys.argv[2] == "close-early"
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path != "/HTTP/Quendown/Quendal.zip":
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Content-Type", "application/zip")
        self.end_headers()
        self.wfile.write(body[: len(body) // 2] if early else body)
        self.close_connection = True
http.server.HTTPServer(("127.0.0.1", int(sys.argv[3])), Handler).serve_forever()
PY
pids+=($!)
(cd "$work/program" && exec "$build/display-run.sh" QuendalM.exe) > /dev/null 2>&1 &
companion=$!
pids+=("$companion")
sleep 2
alive "$companion" || { echo "the stand-in QuendalM.exe did not start" >&2; exit 1; }

(cd "$work/program" && exec "$build/display-run.sh" quendal-updater.exe) > /dev/null 2>&1 &
updater=$!
pids+=("$updater")
zip=$work/program/Quendal.zip
failed=0
check() { if ! eval "$2"; then echo "FAILED: $1" >&2; failed=1; fi; }
if [ "$mode" = full ]; then
    for _ in $(seq 1200); do  # the first Wine start of a run can take long
        alive "$updater" || break
        sleep 0.1
    done
    status=0
    wait "$updater" || status=$?
    check "the updater exited with status 0" "[ $status = 0 ]"
    check "the companion was stopped" "! alive $companion"
    check "Quendal.exe was replaced byte for byte" "cmp -s '$work/program/Quendal.exe' '$work/new/Quendal.exe'"
    check "data/assets.bin was extracted byte for byte" "cmp -s '$work/program/data/assets.bin' '$work/new/data/assets.bin'"
    check "the archive was deleted" "[ ! -e '$zip' ]"
    check "the new Quendal.exe was started" "started"
else
    for _ in $(seq 900); do
        [ -f "$zip" ] && break
        sleep 0.1
    done
    check "the download began" "[ -f '$zip' ]"
    # The failed download's archive is deleted at its end, after five
    # retries (1 + 2 + 4 + 8 + 16 s, each up to 20 % longer): the server
    # sends no validator, so nothing can be continued.
    for _ in $(seq 600); do
        [ -f "$zip" ] || break
        sleep 0.1
    done
    check "the updater runs, showing the failure" "alive $updater"
    check "the companion was stopped" "! alive $companion"
    check "the old Quendal.exe is as it was" "[ \"\$(cat '$work/program/Quendal.exe')\" = 'Quendal 1.0' ]"
    check "the partial archive was deleted" "[ ! -e '$zip' ]"
fi
exit $failed
