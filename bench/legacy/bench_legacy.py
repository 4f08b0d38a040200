#!/usr/bin/env python3
"""Legacy decoder benchmark: legacy_bench against unzip -t.

Makes the three benchmark archives (make_legacy_corpus.py), then decodes each
with legacy_bench (decode and CRC check, nothing written, as unzip -t does)
and tests it with unzip -t, taking turns in every round. Prints the median
wall time of each as MB/s of plain data and the ratio to unzip; unzip has no
Reduce decoder, so Reduce is shown alone. The fixture archives themselves
are measured the same way.

usage: bench_legacy.py LEGACY_BENCH WORK_FOLDER MEGABYTES RUNS FIXTURE.zip...
"""

import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def timed(command):
    start = time.perf_counter()
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    return time.perf_counter() - start, result


def measure(bench, archive, runs, with_unzip):
    ours, theirs, plain = [], [], 0
    for _ in range(runs):
        seconds, result = timed([bench, "1", archive])
        _, plain_bytes, _, failed = result.stdout.strip().split("\t")
        if result.returncode != 0 or failed != "0":
            sys.exit(f"legacy_bench failed on {archive}: {result.stdout}{result.stderr}")
        plain = int(plain_bytes)
        ours.append(seconds)
        if with_unzip:
            seconds, result = timed(["unzip", "-tqq", archive])
            if result.returncode != 0:
                sys.exit(f"unzip -t failed on {archive}: {result.stdout}{result.stderr}")
            theirs.append(seconds)
    return plain, statistics.median(ours), statistics.median(theirs) if theirs else None


def main():
    bench, folder, megabytes, runs, fixtures = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5:]
    subprocess.run([sys.executable, os.path.join(HERE, "make_legacy_corpus.py"), folder, megabytes] + fixtures,
                   check=True)
    print(f"{'archive':32} {'plain MB':>9} {'ours MB/s':>10} {'unzip MB/s':>11} {'ratio':>6}")
    for group in ("shrink", "reduce", "implode"):
        archive = os.path.join(folder, group + ".zip")
        plain, ours, theirs = measure(bench, archive, runs, group != "reduce")
        mb = plain / 1e6
        line = f"{group + '.zip (copies)':32} {mb:9.1f} {mb / ours:10.1f}"
        line += f" {mb / theirs:11.1f} {theirs / ours:6.2f}" if theirs else f" {'-':>11} {'-':>6}"
        print(line)
    for fixture in fixtures:
        name = os.path.basename(fixture)
        # unzip -t fails on entries it cannot decode (Reduce, bzip2, LZMA) and
        # asks for passwords: only archives it fully tests are compared.
        _, probe = timed(["unzip", "-tqq", "-P", "", fixture])
        plain, ours, theirs = measure(bench, fixture, runs, probe.returncode == 0)
        if plain == 0:
            print(f"{name:32} enciphered entries only: not measured")
            continue
        mb = plain / 1e6
        line = f"{name:32} {mb:9.2f} {mb / ours:10.1f}"
        line += f" {mb / theirs:11.1f} {theirs / ours:6.2f}" if theirs else f" {'-':>11} {'-':>6}"
        print(line)
    print("ratio: unzip's time over ours (above 1.0: faster than unzip -t)")


if __name__ == "__main__":
    main()
