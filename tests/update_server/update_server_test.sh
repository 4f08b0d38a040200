#!/usr/bin/env bash
# The update server against curl: each form of Range, the fault options, the
# connection kept alive, and the lines it prints.
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

# check OPTIONS RANGE STATUS CONTENT-RANGE FIRST LAST: one request and its answer
# (FIRST..LAST of the file as the body; "-" for an empty body).
check() {
  local range=$2 status=$3 content_range=$4 first=$5 last=$6
  curl -s -D "$work/head" -o "$work/body" ${range:+-H "Range: $range"} "$url" || true
  local got_status got_range
  got_status=$(head -1 "$work/head" | cut -d' ' -f2)
  got_range=$(grep -i '^content-range:' "$work/head" | cut -d' ' -f2- | tr -d '\r' || true)
  [ "$got_status" = "$status" ] || fail "$1 '$range': status $got_status, not $status"
  [ "$got_range" = "$content_range" ] || fail "$1 '$range': Content-Range '$got_range', not '$content_range'"
  if [ "$first" = - ]; then
    [ ! -s "$work/body" ] || fail "$1 '$range': a body where none belongs"
  else
    cmp -s "$work/body" <(bytes "$first" "$last") || fail "$1 '$range': not bytes $first-$last"
  fi
}

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

start --no-ranges
check --no-ranges "bytes=0-9"           200     ""                      0   999
stop
start --wrong-ranges
check --wrong-ranges "bytes=100-199"    206     "bytes 100-199/1000"    101 200
check --wrong-ranges "bytes=-1"         206     "bytes 999-999/1000"    1000 1000
stop
start --close-early
check --close-early "bytes=100-299"     206     "bytes 100-299/1000"    100 199
stop
grep -qx 'sent /HTTP/Quendown/Quendal.zip bytes=100-299 100' "$work/log" || fail "the cut body's sent line is wrong"
start --rate 4000
check --rate "bytes=0-399"              206     "bytes 0-399/1000"      0   399
stop

[ "$failures" = 0 ] || exit 1
echo "all answers as expected"
