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

usage: bench_update.py UPDATER UPDATE_SERVER QUENDAL_UNZIP INSTALL_BENCH WORK_FOLDER [RUNS]
"""

import os
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
    times = {"install": [], "in place": [], "empty folder": []}
    for round_number in range(runs):
        shutil.rmtree(program, ignore_errors=True)
        shutil.copytree(old, program, symlinks=True)
        subprocess.run(["sync"], check=True)
        start = time.monotonic()
        subprocess.run([install_bench, archive, program], check=True, stdout=subprocess.DEVNULL)
        times["install"].append(time.monotonic() - start)
        shutil.rmtree(program, ignore_errors=True)
        shutil.copytree(old, program, symlinks=True)
        seconds, _ = timed([unzip, "-q", "-o", "-d", program, archive])
        times["in place"].append(seconds)
        shutil.rmtree(program, ignore_errors=True)
        shutil.copytree(old, program, symlinks=True)
        seconds, _ = timed([unzip, "-q", "-o", "-d", os.path.join(program, "empty"), archive])
        times["empty folder"].append(seconds)
        print("install round %d: stage + swap %.2f s, quendal-unzip in place %.2f s, into an empty folder %.2f s"
              % (round_number + 1, times["install"][-1], times["in place"][-1], times["empty folder"][-1]),
              flush=True)
    shutil.rmtree(program, ignore_errors=True)
    shutil.rmtree(old, ignore_errors=True)
    return tuple(statistics.median(times[name]) for name in ("install", "in place", "empty folder"))


def main():
    if len(sys.argv) not in (6, 7):
        sys.exit(__doc__)
    updater, server_program, unzip, install_bench, work = sys.argv[1:6]
    runs = int(sys.argv[6]) if len(sys.argv) == 7 else 3
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


if __name__ == "__main__":
    main()
