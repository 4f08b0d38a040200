#!/usr/bin/env bash
# Builds the inflate benchmark, gathers its corpus and runs it.
#
# The corpus (about 120 MB, never committed) is a sorted selection of
# programs, libraries and uncompressed text files of this machine's /usr.
# 7-Zip packs the same files once as Deflate and once as Deflate64. The
# first argument, if given, replaces the corpus size in MB.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUENDAL_BUILD_DIR:-$root/build}
megabytes=${1:-120}

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target inflate_bench

work="$build/bench-inflate-corpus"
mkdir -p "$work"
list="$work/files-$megabytes.txt"
if [[ ! -s $list ]]; then
  # Mix the three kinds in turn until the size is reached; leave out files
  # that are compressed already.
  find /usr/bin /usr/sbin -type f -size +8k -size -16M | sort >"$work/programs"
  find /usr/lib -type f \( -name '*.so*' -o -name '*.a' \) -size +8k -size -16M | sort >"$work/libraries"
  find /usr/share /usr/include -type f -size +4k -size -16M \
    \( -name '*.txt' -o -name '*.html' -o -name '*.xml' -o -name '*.h' -o -name '*.py' -o -name '*.js' \
       -o -name '*.css' -o -name '*.json' -o -name '*.svg' -o -name '*.ttf' -o -name '*.pl' -o -name '*.pm' \
       -o -name '*.mo' -o -name '*.dat' -o -name '*.tcl' -o -name '*.cmake' -o -name '*.qm' \) | sort >"$work/text"
  paste -d '\n' "$work/programs" "$work/libraries" "$work/text" | grep -v '^$' |
    while read -r f; do [[ -r $f ]] && printf '%s\t%s\n' "$(stat -c %s "$f")" "$f"; done |
    awk -F'\t' -v limit=$((megabytes * 1000000)) 'total < limit { total += $1; print $2 }' >"$list"
fi
deflate="$work/deflate-$megabytes.zip"
deflate64="$work/deflate64-$megabytes.zip"
[[ -s $deflate ]] || 7zz a -tzip -spf2 -mm=Deflate -mx=5 "$deflate" "@$list" >/dev/null
[[ -s $deflate64 ]] || 7zz a -tzip -spf2 -mm=Deflate64 -mx=5 "$deflate64" "@$list" >/dev/null
"$build/bench/inflate/inflate_bench" "$list" "$deflate" "$deflate64"
