#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and UndefinedBehavior-
# Sanitizer) into build-fuzz/ and runs each for SECONDS (default 60), one after
# the other. Corpora grow in build-fuzz/corpus/<target>/, crashing inputs land
# in build-fuzz/findings/<target>/, logs in build-fuzz/logs/.
#
#   scripts/fuzz.sh [SECONDS]
#   QUENDAL_FUZZ_TARGETS="inflate_fuzzer ini_fuzzer" scripts/fuzz.sh 600
#   QUENDAL_FUZZ_KEEP_GOING=1 scripts/fuzz.sh 1800   # go on after a finding
#   QUENDAL_FUZZ_SEED=1 scripts/fuzz.sh 10           # the same inputs every run
#
# Exits non-zero when any target found a fault.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${QUENDAL_FUZZ_BUILD_DIR:-$root/build-fuzz}

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DQUENDAL_BUILD_FUZZ=ON -DQUENDAL_BUILD_TESTS=OFF -DQUENDAL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzzers
python3 "$root/fuzz/make_seeds.py" "$build/seeds"

targets=${QUENDAL_FUZZ_TARGETS:-$(cd "$root/fuzz" && ls -- *_fuzzer.cpp | sed 's/\.cpp$//')}

# Without a network of its own a target can reach nothing but loopback, whatever
# a fuzzed response asks for; where namespaces are not allowed it runs as is.
isolated=()
if unshare -n true 2>/dev/null && command -v ip >/dev/null; then
  isolated=(unshare -n sh -c 'ip link set lo up && exec "$@"' isolated)
fi

# The targets' scratch folders, in memory where possible (the INI editor syncs
# every write); a crash skips a target's own clean-up, so all goes at the end.
scratch_root=$(mktemp -d /dev/shm/quendal-fuzz.XXXXXX 2>/dev/null || mktemp -d "$build/tmp.XXXXXX")
trap 'rm -rf "$scratch_root"' EXIT

options=(-timeout=20 -print_final_stats=1)
# A fixed seed makes a short run repeatable (the test script's smoke run).
[ -z "${QUENDAL_FUZZ_SEED:-}" ] || options+=(-seed="$QUENDAL_FUZZ_SEED")
if [ -n "${QUENDAL_FUZZ_KEEP_GOING:-}" ]; then
  options+=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
fi

failed=()
for target in $targets; do
  corpus=$build/corpus/$target
  findings=$build/findings/$target
  scratch=$scratch_root/$target
  log=$build/logs/$target.log
  mkdir -p "$corpus" "$findings" "$scratch" "$build/logs"
  echo "== $target: ${seconds}s"
  status=0
  TMPDIR=$scratch nice "${isolated[@]}" "$build/fuzz/$target" -max_total_time="$seconds" "${options[@]}" \
    -artifact_prefix="$findings/" "$corpus" "$build/seeds/$target" >"$log" 2>&1 || status=$?
  rm -rf "$scratch"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  [ -n "$runs" ] || runs=$(sed -n 's/^#\([0-9]*\):.*/\1/p' "$log" | tail -1)  # fork mode
  found=$(find "$findings" -type f | wc -l)
  echo "   runs: ${runs:-?}, corpus: $(find "$corpus" -type f | wc -l) inputs, findings kept: $found, exit status: $status"
  if [ "$status" -ne 0 ] || { [ -n "${QUENDAL_FUZZ_KEEP_GOING:-}" ] && [ "$found" -ne 0 ]; }; then
    failed+=("$target")
    grep -E 'ERROR|SUMMARY|runtime error|Test unit written|^[a-z].*differ|abort' "$log" | head -20 || true
  fi
done

if ((${#failed[@]})); then
  echo "faults found by: ${failed[*]} (inputs in $build/findings/, logs in $build/logs/)"
  exit 1
fi
