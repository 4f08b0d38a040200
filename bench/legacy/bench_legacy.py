#!/usr/bin/env python3
"""Legacy decoder benchmark: legacy_bench against unzip -t.

Makes the three benchmark archives (make_legacy_corpus.py), then decodes each
with legacy_bench (decode and CRC check, nothing written, as unzip -t does)
and tests it with unzip -t, taking turns in every round. Prints the median
wall time of each as MB/s of plain data and the ratio to unzip, and the
ratio of their median CPU times (user and system), which a busy machine
disturbs less; unzip has no Reduce decoder, so Reduce is shown alone. The fixture archives themselves
are measured the same way.

usage: bench_legacy.py LEGACY_BENCH WORK_FOLDER MEGABYTES RUNS FIXTURE.zip...
"""

import os
import resource
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def cpu_of_children():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timed(command):
    """Wall seconds, the completed process, CPU seconds."""
    cpu = cpu_of_children()
    start = time.perf_counter()
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    return time.perf_counter() - start, result, cpu_of_children() - cpu


def measure(bench, archive, runs, with_unzip):
    """Plain bytes, then median wall and CPU seconds of ours and of unzip (None without unzip)."""
    ours, theirs, plain = [], [], 0
    for _ in range(runs):
        seconds, result, cpu = timed([bench, "1", archive])
        _, plain_bytes, _, failed = result.stdout.strip().split("\t")
        if result.returncode != 0 or failed != "0":
            sys.exit(f"legacy_bench failed on {archive}: {result.stdout}{result.stderr}")
        plain = int(plain_bytes)
        ours.append((seconds, cpu))
        if with_unzip:
            seconds, result, cpu = timed(["unzip", "-tqq", archive])
            if result.returncode != 0:
                sys.exit(f"unzip -t failed on {archive}: {result.stdout}{result.stderr}")
            theirs.append((seconds, cpu))

    def medians(times):
        return (statistics.median(t[0] for t in times), statistics.median(t[1] for t in times)) if times else None
    return plain, medians(ours), medians(theirs)


def row(name, plain, ours, theirs, digits):
    mb = plain / 1e6
    line = f"{name:32} {mb:9.{digits}f} {mb / ours[0]:10.1f}"
    if theirs:
        cpu_ratio = f"{theirs[1] / ours[1]:10.2f}" if ours[1] > 0 else f"{'-':>10}"
        return line + f" {mb / theirs[0]:11.1f} {theirs[0] / ours[0]:6.2f}" + cpu_ratio
    return line + f" {'-':>11} {'-':>6} {'-':>10}"


def main():
    bench, folder, megabytes, runs, fixtures = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5:]
    subprocess.run([sys.executable, os.path.join(HERE, "make_legacy_corpus.py"), folder, megabytes] + fixtures,
                   check=True)
    print(f"{'archive':32} {'plain MB':>9} {'ours MB/s':>10} {'unzip MB/s':>11} {'ratio':>6} {'CPU ratio':>10}")
    for group in ("shrink", "reduce", "implode"):
        archive = os.path.join(folder, group + ".zip")
        if not os.path.exists(archive):
            print(f"{group + '.zip (copies)':32} no such entries in the fixtures")
            continue
        plain, ours, theirs = measure(bench, archive, runs, group != "reduce")
        print(row(group + ".zip (copies)", plain, ours, theirs, 1))
    for fixture in fixtures:
        name = os.path.basename(fixture)
        # unzip -t fails on entries it cannot decode (Reduce, bzip2, LZMA) and
        # asks for passwords: only archives it fully tests are compared.
        probe = timed(["unzip", "-tqq", "-P", "", fixture])[1]
        plain, ours, theirs = measure(bench, fixture, runs, probe.returncode == 0)
        if plain == 0:
            print(f"{name:32} enciphered entries only: not measured")
            continue
        print(row(name, plain, ours, theirs, 2))
    print("ratio: unzip's time over ours (above 1.0: faster than unzip -t)")


if __name__ == "__main__":
    main()
