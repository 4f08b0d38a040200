#!/usr/bin/env python3
"""Whole-update benchmark: the real quendal-updater against curl + quendal-unzip.

Makes a 200 MB update archive of a few thousand files (most incompressible,
some text) with zip, serves it with quendal-update-server at 127.0.0.1:280 and
then, several times in turn:
  - runs quendal-updater (offscreen) in a fresh program folder, from start to
    exit: download, extraction, deletion of the archive, start of the stand-in
    Quendal.exe;
  - downloads the same archive with curl and extracts it with quendal-unzip.
Prints the median times, the ratio of the updater's time less its fixed
pauses (500 + 500 ms) to curl + quendal-unzip, the updater's two phases next
to their peers, and the updater's peak resident memory.

Then the install step on its own, over a program folder that holds an older
release of every file: install_bench (the archive extracted into the stage
and swapped in under the journal) against quendal-unzip extracting the same
archive in place, each on a fresh copy of the old program.

Last, the differential update: the next release, where 10 files (about 5 MB)
changed, published with quendal-publish and served at 100 Mbit/s; the updater
over a program folder holding the first release (no hash cache yet, so it
reads every installed file) against curl fetching the whole archive at the
same rate. Prints the bytes the server sent (manifest included) against the
archive's size, and the two times.

usage: bench_update.py UPDATER UPDATE_SERVER QUENDAL_UNZIP INSTALL_BENCH QUENDAL_PUBLISH WORK_FOLDER [RUNS]
"""

import os
import re
import random
import shutil
import statistics
import subprocess
import sys
import time

CONTENT_BYTES = 250 * 1000 * 1000  # the text packs to about a quarter
FILES = 3000
FIXED_PAUSES = 1.0  # seconds the updater sleeps on purpose
URL = "http://127.0.0.1:280/HTTP/Quendown/Quendal.zip"
TARGET_RATIO = 1.1
TARGET_DOWNLOAD_RATIO = 1.2
TARGET_INSTALL_RATIO = 1.15
TARGET_PEAK_MB = 40
STAND_IN = "#!/bin/sh\nexit 0\n"
RATE = 100 * 1000 * 1000 // 8  # 100 Mbit/s in bytes a second
CHANGED_FILES = 10
CHANGED_BYTES = 500 * 1000  # each
TARGET_WIRE_SHARE = 0.05
TARGET_DIFFERENTIAL_RATIO = 0.2


def make_update(source, archive):
    """A few thousand files: four in five incompressible, the rest text."""
    rng = random.Random(17)
    average = CONTENT_BYTES // FILES
    for index in range(FILES):
        folder = os.path.join(source, "data", "d%02d" % (index % 40), "s%d" % (index % 3))
        os.makedirs(folder, exist_ok=True)
        size = rng.randint(average // 4, average * 7 // 4)
        path = os.path.join(folder, "f%04d.bin" % index)
        with open(path, "wb") as out:
            if index % 5:
                out.write(os.urandom(size))
            else:
                line = ("%d Quendal update notes, line after line\n" % index).encode()
                out.write((line * (size // len(line) + 1))[:size])
    with open(os.path.join(source, "Quendal.exe"), "w") as out:
        out.write(STAND_IN)
    os.chmod(os.path.join(source, "Quendal.exe"), 0o755)
    subprocess.run(["zip", "-q", "-r", archive, "."], cwd=source, check=True)


def fresh_folder(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)


def cpu_seconds(usage):
    return usage.ru_utime + usage.ru_stime


def timed(command, **kwargs):
    """Wall time and processor time of one command."""
    subprocess.run(["sync"], check=True)
    start = time.monotonic()
    process = subprocess.Popen(command, **kwargs)
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.monotonic() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit("%s failed with status %d" % (command[0], process.returncode))
    return elapsed, cpu_seconds(usage)


def proportional_set_kb(pid):
    """The process's proportional set size: its private pages plus its share
    of pages mapped by others too (the shared libraries), in kilobytes."""
    try:
        with open("/proc/%d/smaps_rollup" % pid) as rollup:
            for line in rollup:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def run_updater(updater, program, archive_size):
    """The updater from start to exit: wall time, the moment its download was
    complete, processor time, peak resident kilobytes, and the peak of its
    proportional set size sampled every 50 ms."""
    fresh_folder(program)
    shutil.copy(updater, os.path.join(program, "quendal-updater"))
    with open(os.path.join(program, "Quendal.exe"), "w") as out:
        out.write(STAND_IN)
    os.chmod(os.path.join(program, "Quendal.exe"), 0o755)
    environment = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    archive = os.path.join(program, "Quendal.zip")
    subprocess.run(["sync"], check=True)
    start = time.monotonic()
    process = subprocess.Popen([os.path.join(program, "quendal-updater")], env=environment,
                               stderr=subprocess.DEVNULL)
    downloaded = None
    peak_pss = 0
    polls = 0
    while True:
        pid, status, usage = os.wait4(process.pid, os.WNOHANG)
        if pid:
            break
        if polls % 10 == 0:
            peak_pss = max(peak_pss, proportional_set_kb(process.pid))
        polls += 1
        if downloaded is None:
            try:
                if os.path.getsize(archive) == archive_size:
                    downloaded = time.monotonic() - start
            except OSError:
                pass
        time.sleep(0.005)
    elapsed = time.monotonic() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0 or os.path.exists(archive):
        sys.exit("the updater did not finish its update (status %d)" % process.returncode)
    if not os.path.exists(os.path.join(program, "data", "d00", "s0", "f0000.bin")):
        sys.exit("the updater did not extract the archive")
    return elapsed, downloaded or elapsed, cpu_seconds(usage), usage.ru_maxrss, peak_pss


def old_program(unzip, archive, folder):
    """A program folder holding an older release of every file of the update."""
    fresh_folder(folder)
    subprocess.run([unzip, "-q", "-o", "-d", folder, archive], check=True)
    for root, _, names in os.walk(folder):
        for name in names:
            with open(os.path.join(root, name), "r+b") as out:
                out.write(b"old")


def bench_install(install_bench, unzip, archive, work, runs):
    """Median seconds of the install step, of quendal-unzip in place, and of
    quendal-unzip into an empty folder (what creating every file anew costs
    on this file system, which staging cannot avoid)."""
    old = os.path.join(work, "old-program")
    old_program(unzip, archive, old)
    program = os.path.join(work, "install-program")
    times = {"install": [], "in place": [], "empty folder": [], "flush": []}
    for round_number in range(runs):
        shutil.rmtree(program, ignore_errors=True)
        shutil.copytree(old, program, symlinks=True)
        subprocess.run(["sync"], check=True)
        start = time.monotonic()
        printed = subprocess.run([install_bench, archive, program], check=True, stdout=subprocess.PIPE, text=True)
        times["install"].append(time.monotonic() - start)
        times["flush"].append(float(re.search(r"stage's flush ([0-9.]+) s", printed.stdout).group(1)))
        shutil.rmtree(program, ignore_errors=True)
        shutil.copytree(old, program, symlinks=True)
        seconds, _ = timed([unzip, "-q", "-o", "-d", program, archive])
        times["in place"].append(seconds)
        shutil.rmtree(program, ignore_errors=True)
        shutil.copytree(old, program, symlinks=True)
        seconds, _ = timed([unzip, "-q", "-o", "-d", os.path.join(program, "empty"), archive])
        times["empty folder"].append(seconds)
        print("install round %d: stage + swap %.2f s (of which the stage's flush to the disk %.2f s), "
              "quendal-unzip in place %.2f s, into an empty folder %.2f s"
              % (round_number + 1, times["install"][-1], times["flush"][-1], times["in place"][-1],
                 times["empty folder"][-1]), flush=True)
    shutil.rmtree(program, ignore_errors=True)
    shutil.rmtree(old, ignore_errors=True)
    print("median flush of the stage before the swap: %.2f s" % statistics.median(times["flush"]), flush=True)
    return tuple(statistics.median(times[name]) for name in ("install", "in place", "empty folder"))


def next_release(source, work):
    """The release after the one in `source`: CHANGED_FILES of its files
    rewritten, zipped into work/next/Quendal.zip."""
    following = os.path.join(work, "next-source")
    shutil.rmtree(following, ignore_errors=True)
    shutil.copytree(source, following, symlinks=True)
    for index in range(0, FILES, FILES // CHANGED_FILES):
        path = os.path.join(following, "data", "d%02d" % (index % 40), "s%d" % (index % 3), "f%04d.bin" % index)
        with open(path, "wb") as out:
            out.write(os.urandom(CHANGED_BYTES))
    served = os.path.join(work, "next", "Quendal.zip")
    fresh_folder(os.path.dirname(served))
    subprocess.run(["zip", "-q", "-r", served, "."], cwd=following, check=True)
    shutil.rmtree(following, ignore_errors=True)
    return served


def sent_bytes(server_output):
    """The body bytes the update server reports sending, of every file."""
    total = 0
    for line in server_output.splitlines():
        words = line.split()
        if len(words) == 4 and words[0] == "sent":
            total += int(words[3])
    return total


def serving(server_program, served):
    """The update server at RATE, once it listens."""
    server = subprocess.Popen([server_program, "--rate", str(RATE), served, "127.0.0.1", "280"],
                              stdout=subprocess.PIPE, text=True)
    if not server.stdout.readline():
        sys.exit("the update server did not start (port 280 taken?)")
    return server


def bench_differential(updater, server_program, unzip, publish_program, archive, source, work, runs):
    """Median seconds of the differential update and of curl fetching the
    whole archive, both at RATE, and the most bytes the server sent for one
    update, with the archive's size."""
    key = os.path.join(work, "bench-key.pem")
    subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", key], check=True)
    served = next_release(source, work)
    subprocess.run([publish_program, "--key", key, "--version", "2.0.0", served], check=True,
                   stdout=subprocess.DEVNULL)
    installed = os.path.join(work, "first-release")
    fresh_folder(installed)
    subprocess.run([unzip, "-q", "-o", "-d", installed, archive], check=True)
    program = os.path.join(work, "program")
    times = {"differential": [], "curl": []}
    wire = []
    for round_number in range(runs):
        shutil.rmtree(program, ignore_errors=True)
        shutil.copytree(installed, program, symlinks=True)
        shutil.copy(updater, os.path.join(program, "quendal-updater"))
        server = serving(server_program, served)
        try:
            environment = dict(os.environ, QT_QPA_PLATFORM="offscreen")
            seconds, _ = timed([os.path.join(program, "quendal-updater")], env=environment,
                               stderr=subprocess.DEVNULL)
            times["differential"].append(seconds - FIXED_PAUSES)
        finally:
            server.terminate()
            output, _ = server.communicate()
        wire.append(sent_bytes(output))
        with open(os.path.join(program, ".quendal-update", "update.log")) as update_log:
            last = update_log.read().splitlines()[-1]
            if "result=installed" not in last or "fetch=entries" not in last:
                sys.exit("the updater made no differential update: " + last)
        fresh_folder(os.path.join(work, "peer"))
        server = serving(server_program, served)
        try:
            seconds, _ = timed(["curl", "-s", "-f", "-o", os.path.join(work, "peer", "Quendal.zip"), URL])
            times["curl"].append(seconds)
        finally:
            server.terminate()
            server.communicate()
        print("differential round %d: updater %.2f s (less pauses), %d bytes sent; curl, whole archive, %.2f s"
              % (round_number + 1, times["differential"][-1], wire[-1], times["curl"][-1]), flush=True)
    shutil.rmtree(program, ignore_errors=True)
    shutil.rmtree(installed, ignore_errors=True)
    return (statistics.median(times["differential"]), statistics.median(times["curl"]), max(wire),
            os.path.getsize(served))


def main():
    if len(sys.argv) not in (7, 8):
        sys.exit(__doc__)
    updater, server_program, unzip, install_bench, publish_program, work = sys.argv[1:7]
    runs = int(sys.argv[7]) if len(sys.argv) == 8 else 3
    fresh_folder(work)
    source = os.path.join(work, "update")
    archive = os.path.join(work, "Quendal.zip")
    print("making the update archive ...", flush=True)
    make_update(source, archive)
    archive_size = os.path.getsize(archive)
    print("archive: %.1f MB, %d files" % (archive_size / 1e6, FILES + 1), flush=True)

    server = subprocess.Popen([server_program, archive, "127.0.0.1", "280"], stdout=subprocess.PIPE)
    try:
        if not server.stdout.readline():
            sys.exit("the update server did not start (port 280 taken?)")
        results = {"updater": [], "updater download": [], "curl": [], "quendal-unzip": []}
        cpu = {"updater": [], "peers": []}
        peaks = []
        pss_peaks = []
        for round_number in range(runs):
            total, downloaded, updater_cpu, peak, peak_pss = run_updater(updater, os.path.join(work, "program"),
                                                               archive_size)
            results["updater"].append(total - FIXED_PAUSES)
            results["updater download"].append(downloaded)
            cpu["updater"].append(updater_cpu)
            peaks.append(peak)
            pss_peaks.append(peak_pss)
            fresh_folder(os.path.join(work, "peer"))
            fetched = os.path.join(work, "peer", "Quendal.zip")
            seconds, curl_cpu = timed(["curl", "-s", "-f", "-o", fetched, URL])
            results["curl"].append(seconds)
            out = os.path.join(work, "peer", "out")
            seconds, unzip_cpu = timed([unzip, "-q", "-o", "-d", out, fetched])
            results["quendal-unzip"].append(seconds)
            cpu["peers"].append(curl_cpu + unzip_cpu)
            print("round %d: updater %.2f s (less pauses), curl %.2f s, quendal-unzip %.2f s"
                  % (round_number + 1, results["updater"][-1], results["curl"][-1],
                     results["quendal-unzip"][-1]), flush=True)
        install, in_place, empty_folder = bench_install(install_bench, unzip, archive, work, runs)
    finally:
        server.terminate()
        server.wait()
    try:
        differential, whole_at_rate, wire, next_size = bench_differential(
            updater, server_program, unzip, publish_program, archive, source, work, runs)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    median = {name: statistics.median(times) for name, times in results.items()}
    peers = statistics.median(c + u for c, u in zip(results["curl"], results["quendal-unzip"]))
    ratio = median["updater"] / peers
    peak_mb = max(peaks) / 1024
    extraction = median["updater"] - median["updater download"]
    print()
    print("%-44s %8s" % ("median of %d runs" % runs, "seconds"))
    print("%-44s %8.2f" % ("updater, start to exit, less 1.0 s of pauses", median["updater"]))
    print("%-44s %8.2f" % ("  of which download (until the archive is whole)", median["updater download"]))
    print("%-44s %8.2f" % ("  of which extraction, deletion, launch, exit", extraction))
    print("%-44s %8.2f" % ("curl + quendal-unzip", peers))
    print("%-44s %8.2f" % ("  curl", median["curl"]))
    print("%-44s %8.2f" % ("  quendal-unzip", median["quendal-unzip"]))
    print()
    print("ratio updater / (curl + quendal-unzip): %.2f (target at most %.1f)" % (ratio, TARGET_RATIO))
    print("download ratio updater / curl: %.2f (target at most %.1f); extraction ratio updater / quendal-unzip: %.2f"
          % (median["updater download"] / median["curl"], TARGET_DOWNLOAD_RATIO, extraction / median["quendal-unzip"]))
    print("processor time: updater %.2f s, curl + quendal-unzip %.2f s (ratio %.2f)"
          % (statistics.median(cpu["updater"]), statistics.median(cpu["peers"]),
             statistics.median(cpu["updater"]) / statistics.median(cpu["peers"])))
    print("updater peak resident memory: %.1f MB (target at most %d MB); peak proportional set size: %.1f MB"
          % (peak_mb, TARGET_PEAK_MB, max(pss_peaks) / 1024))
    print()
    print("install step over an older release of %d files: extraction into the stage + swap %.2f s, "
          "quendal-unzip in place %.2f s" % (FILES + 1, install, in_place))
    print("ratio install step / quendal-unzip in place: %.2f (target at most %.2f)"
          % (install / in_place, TARGET_INSTALL_RATIO))
    print("ratio install step / quendal-unzip into an empty folder: %.2f" % (install / empty_folder))
    print()
    print("differential update, %d files of %d changed (%.1f MB), at %d Mbit/s:"
          % (CHANGED_FILES, FILES + 1, CHANGED_FILES * CHANGED_BYTES / 1e6, RATE * 8 // 1000000))
    print("bytes on the wire: %d of an archive of %d, share %.3f (target at most %.2f)"
          % (wire, next_size, wire / next_size, TARGET_WIRE_SHARE))
    print("updater %.2f s (less pauses) against curl fetching the archive whole %.2f s: ratio %.3f "
          "(target at most %.1f)" % (differential, whole_at_rate, differential / whole_at_rate,
                                     TARGET_DIFFERENTIAL_RATIO))


if __name__ == "__main__":
    main()
