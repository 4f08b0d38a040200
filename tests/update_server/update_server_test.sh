#!/usr/bin/env bash
# The update server against curl: each form of Range, the validators and
# If-Range, the fault options, the connection kept alive, idle connections
# that keep no other waiting, and the lines it prints.
# usage: update_server_test.sh SERVER PORT
set -euo pipefail
server=$1 port=$2
work=$(mktemp -d)
pid=
stop() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  pid=
}
trap 'stop; rm -rf "$work"' EXIT
url=http://127.0.0.1:$port/HTTP/Quendown/Quendal.zip
head -c 1000 /dev/urandom > "$work/Quendal.zip"
printf 'manifest' > "$work/Quendal.zip.manifest"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

start() {
  "$server" "$@" "$work/Quendal.zip" 127.0.0.1 "$port" > "$work/log" 2>&1 &
  pid=$!
  for _ in $(seq 100); do grep -q '^serving' "$work/log" 2>/dev/null && return; sleep 0.05; done
  echo "the server did not start: $(cat "$work/log")" >&2
  exit 1
}

# Bytes first..last of the file (1-based tail offset), or zeros past its end.
bytes() { { tail -c +$(($1 + 1)) "$work/Quendal.zip"; head -c $(($2 - $1 + 1)) /dev/zero; } | head -c $(($2 - $1 + 1)); }

# check OPTIONS RANGE STATUS CONTENT-RANGE FIRST LAST [IF-RANGE]: one request
# and its answer (FIRST..LAST of the file as the body; "-" for an empty body).
check() {
  local range=$2 status=$3 content_range=$4 first=$5 last=$6 if_range=${7:-}
  local case="$1 '$range'${if_range:+ If-Range '$if_range'}"
  curl -s -D "$work/head" -o "$work/body" ${range:+-H "Range: $range"} ${if_range:+-H "If-Range: $if_range"} "$url" || true
  local got_status got_range
  got_status=$(head -1 "$work/head" | cut -d' ' -f2)
  got_range=$(header Content-Range)
  [ "$got_status" = "$status" ] || fail "$case: status $got_status, not $status"
  [ "$got_range" = "$content_range" ] || fail "$case: Content-Range '$got_range', not '$content_range'"
  if [ "$first" = - ]; then
    [ ! -s "$work/body" ] || fail "$case: a body where none belongs"
  else
    cmp -s "$work/body" <(bytes "$first" "$last") || fail "$case: not bytes $first-$last"
  fi
}

# The value of a header of the last answer received ("" when it has none).
header() { grep -i "^$1:" "$work/head" | cut -d' ' -f2- | tr -d '\r' || true; }

start
#     options     Range                 status  Content-Range           body
check plain       ""                    200     ""                      0   999
check plain       "bytes=0-9"           206     "bytes 0-9/1000"        0   9
check plain       "bytes=990-"          206     "bytes 990-999/1000"    990 999
check plain       "bytes=-5"            206     "bytes 995-999/1000"    995 999
check plain       "bytes=995-5000"      206     "bytes 995-999/1000"    995 999
check plain       "bytes=-5000"         206     "bytes 0-999/1000"      0   999
check plain       "bytes=1000-"         416     "bytes */1000"          -   -
check plain       "bytes=-0"            416     "bytes */1000"          -   -
check plain       "bytes=0-1,5-6"       200     ""                      0   999
check plain       "bytes=abc"           200     ""                      0   999
check plain       "bytes=5-2"           200     ""                      0   999
check plain       "items=0-1"           200     ""                      0   999
# Three requests over one connection; the manifest is served whole, Range or not.
curl -s -o /dev/null -o /dev/null -H "Range: bytes=100-199" "$url" "$url"
curl -s -H "Range: bytes=0-1" -o "$work/manifest" "$url.manifest"
[ "$(cat "$work/manifest")" = manifest ] || fail "the manifest was not served whole"
stop
# 12 single requests, then 2 over one connection, then the manifest.
[ "$(grep -c '^connection$' "$work/log")" = 14 ] || fail "connections: $(grep -c '^connection$' "$work/log"), not 14"
[ "$(grep -c '^archive requested$' "$work/log")" = 14 ] || fail "not one 'archive requested' per archive request"
grep -qx 'sent /HTTP/Quendown/Quendal.zip bytes=100-199 100' "$work/log" || fail "no sent line of a range"
grep -qx 'sent /HTTP/Quendown/Quendal.zip - 1000' "$work/log" || fail "no sent line of the whole archive"
grep -qx 'sent /HTTP/Quendown/Quendal.zip bytes=1000- 0' "$work/log" || fail "no sent line of a 416"
grep -qx 'sent /HTTP/Quendown/Quendal.zip.manifest bytes=0-1 8' "$work/log" || fail "no sent line of the manifest"

# The validators, on the archive and on the files beside it; and a download
# continued as the updater continues one, with Range and If-Range.
start
check plain       "bytes=0-399"         206     "bytes 0-399/1000"      0   399
etag=$(header ETag) last_modified=$(header Last-Modified)
[[ "$etag" =~ ^\"[^\"]+\"$ ]] || fail "the archive's ETag '$etag' is no strong entity tag"
[[ "$last_modified" =~ ^[A-Z][a-z]{2},\ [0-9]{2}\ [A-Z][a-z]{2}\ [0-9]{4}\ [0-9]{2}:[0-9]{2}:[0-9]{2}\ GMT$ ]] ||
  fail "the archive's Last-Modified '$last_modified' is no HTTP date"
check plain       ""                    200     ""                      0   999
[ "$(header ETag)" = "$etag" ] && [ "$(header Last-Modified)" = "$last_modified" ] ||
  fail "a 200 of the same file carries other validators"
curl -s -D "$work/head" -o /dev/null "$url.manifest"
[ -n "$(header ETag)" ] && [ -n "$(header Last-Modified)" ] || fail "the manifest comes without validators"
[ "$(header ETag)" != "$etag" ] || fail "the manifest has the archive's ETag"
#     options     Range                 status  Content-Range           body      If-Range
check plain       "bytes=400-"          206     "bytes 400-999/1000"    400 999   "$etag"
check plain       "bytes=400-"          206     "bytes 400-999/1000"    400 999   "$last_modified"
check plain       "bytes=400-"          200     ""                      0   999   '"3e8-0"'
check plain       "bytes=400-"          200     ""                      0   999   "W/$etag"
check plain       "bytes=400-"          200     ""                      0   999   "Thu, 01 Jan 1970 00:00:00 GMT"
# The file is replaced: the validators an earlier answer gave are stale, and
# the whole new file comes, with its own.
head -c 1000 /dev/urandom > "$work/Quendal.zip.new"
touch -d '2001-02-03 04:05:06 UTC' "$work/Quendal.zip.new"
mv "$work/Quendal.zip.new" "$work/Quendal.zip"
check plain       "bytes=400-"          200     ""                      0   999   "$etag"
new_etag=$(header ETag)
[ -n "$new_etag" ] && [ "$new_etag" != "$etag" ] || fail "the replaced file has the ETag '$new_etag'"
[ "$(header Last-Modified)" = "Sat, 03 Feb 2001 04:05:06 GMT" ] ||
  fail "Last-Modified '$(header Last-Modified)', not the replaced file's time"
check plain       "bytes=400-"          200     ""                      0   999   "$last_modified"
check plain       "bytes=400-"          206     "bytes 400-999/1000"    400 999   "$new_etag"
check plain       "bytes=400-"          206     "bytes 400-999/1000"    400 999   "Sat, 03 Feb 2001 04:05:06 GMT"
stop

# Nine connections held open, idle after a request each, keep no other
# request waiting (a pool of eight threads would keep the ninth and the tenth
# waiting until an idle one was closed); and the server closes an idle
# connection within seconds.
start
python3 - "$port" <<'EOF' || fail "idle connections kept a request waiting, or stayed open"
import socket, subprocess, sys, time
port = int(sys.argv[1])
held = []
for n in range(1, 10):
    began = time.monotonic()
    connection = socket.create_connection(("127.0.0.1", port), timeout=10)
    connection.sendall(b"GET /HTTP/Quendown/Quendal.zip HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: bytes=0-9\r\n\r\n")
    answer = b""
    while not (b"\r\n\r\n" in answer and len(answer.split(b"\r\n\r\n", 1)[1]) >= 10):
        piece = connection.recv(4096)
        if not piece:
            sys.exit("connection %d was closed before its answer" % n)
        answer += piece
    took = time.monotonic() - began
    if took > 1.0:
        sys.exit("with %d idle connections open, the request of another took %.3f s" % (n - 1, took))
    held.append(connection)
for n, connection in enumerate(held, 1):
    connection.setblocking(False)
    try:
        connection.recv(1)
        sys.exit("idle connection %d was closed already" % n)
    except BlockingIOError:
        pass
began = time.monotonic()
tenth = subprocess.run(["curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", "--max-time", "10",
                        "http://127.0.0.1:%d/HTTP/Quendown/Quendal.zip" % port], capture_output=True, text=True)
took = time.monotonic() - began
print("with nine idle connections open, a tenth request: status %s after %.3f s" % (tenth.stdout, took))
if tenth.stdout != "200" or took > 1.0:
    sys.exit(1)
# Closed once idle for its time (2 s): the read ends well before 10 s.
held[0].setblocking(True)
held[0].settimeout(10)
began = time.monotonic()
try:
    closed = held[0].recv(1) == b""
except socket.timeout:
    closed = False
print("an idle connection %s after %.1f s more" % ("closed" if closed else "still open", time.monotonic() - began))
if not closed:
    sys.exit(1)
EOF
stop
[ "$(grep -c '^connection$' "$work/log")" = 10 ] || fail "connections: $(grep -c '^connection$' "$work/log"), not 10"

start --no-ranges
check --no-ranges "bytes=0-9"           200     ""                      0   999
check --no-ranges "bytes=0-9"           200     ""                      0   999   "$(header ETag)"
stop
start --wrong-ranges
check --wrong-ranges "bytes=100-199"    206     "bytes 100-199/1000"    101 200
check --wrong-ranges "bytes=-1"         206     "bytes 999-999/1000"    1000 1000
stop
start --close-early
check --close-early "bytes=100-299"     206     "bytes 100-299/1000"    100 199
# Nothing to continue from: no validators, and no If-Range matches.
[ -z "$(header ETag)" ] && [ -z "$(header Last-Modified)" ] || fail "--close-early gives validators"
check --close-early "bytes=100-299"     200     ""                      0   499   "$new_etag"
stop
grep -qx 'sent /HTTP/Quendown/Quendal.zip bytes=100-299 100' "$work/log" || fail "the cut body's sent line is wrong"
start --rate 4000
check --rate "bytes=0-399"              206     "bytes 0-399/1000"      0   399
stop

[ "$failures" = 0 ] || exit 1
echo "all answers as expected"
