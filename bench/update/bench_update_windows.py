#!/usr/bin/env python3
"""Extraction in the native window against the extractor, under Wine.

Makes an update archive of one 300 MB entry (a random 4 KiB block over and
over, so that it packs small and the download takes a fraction of a second)
and a few small files, serves it on 127.0.0.1:PORT and then, several times
in turn:
  - runs the Windows quendal-updater (built for that port) in a fresh program
    folder on the X display in DISPLAY, from start to exit; its extraction
    phase runs from the archive's last downloaded byte to the end of the
    install, when the staging folder is gone: the extraction into it, the
    swap and the clean-up. (What follows is left out: the fixed pauses, the
    start of the new Quendal.exe, and the exit, for which Wine without a
    window manager waits 2 s for one to withdraw the window.)
  - extracts the same archive with quendal-unzip.exe, less the time Wine
    takes to start and end a program (quendal-unzip.exe listing a one-entry
    archive).
Prints the medians and the ratio of the two extraction times.

usage: bench_update_windows.py WINE_RUN UPDATER QUENDAL_UNZIP STAND_IN PORT WORK_FOLDER [RUNS]
"""

import http.server
import os
import shutil
import statistics
import subprocess
import sys
import threading
import time

BIG_ENTRY_BYTES = 300 * 1000 * 1000
SMALL_FILES = 5
TARGET_RATIO = 1.2
URL_PATH = "/HTTP/Quendown/Quendal.zip"


def make_update(source, archive, stand_in):
    os.makedirs(os.path.join(source, "data"))
    block = os.urandom(4096)
    with open(os.path.join(source, "data", "big.bin"), "wb") as out:
        chunk = block * 256
        for _ in range(BIG_ENTRY_BYTES // len(chunk)):
            out.write(chunk)
        out.write(chunk[: BIG_ENTRY_BYTES % len(chunk)])
    for index in range(SMALL_FILES):
        with open(os.path.join(source, "data", "note%d.txt" % index), "w") as out:
            out.write("Quendal update notes %d\n" % index * 2000)
    shutil.copy(stand_in, os.path.join(source, "Quendal.exe"))
    subprocess.run(["zip", "-q", "-r", archive, "."], cwd=source, check=True)


def serve(archive, port):
    body = open(archive, "rb").read()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            if self.path != URL_PATH:
                self.send_error(404)
                return
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Content-Type", "application/zip")
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def fresh_folder(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)


def timed(command, cwd):
    subprocess.run(["sync"], check=True)
    start = time.monotonic()
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.monotonic() - start


def run_updater(wine_run, updater, program, archive_size):
    """Wall time from start to exit, and the moments the archive was whole
    and the install ended."""
    fresh_folder(program)
    shutil.copy(updater, os.path.join(program, "quendal-updater.exe"))
    with open(os.path.join(program, "Quendal.exe"), "w") as out:
        out.write("Quendal 1.0\n")
    archive = os.path.join(program, "Quendal.zip")
    subprocess.run(["sync"], check=True)
    start = time.monotonic()
    process = subprocess.Popen([wine_run, "quendal-updater.exe"], cwd=program, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    stage = os.path.join(program, ".quendal-update", "stage")
    downloaded = installed = None
    stage_seen = False
    while process.poll() is None:
        try:
            if downloaded is None and os.path.getsize(archive) == archive_size:
                downloaded = time.monotonic() - start
        except OSError:
            pass
        if os.path.isdir(stage):
            stage_seen = True
        elif stage_seen and installed is None:
            installed = time.monotonic() - start
        if time.monotonic() - start > 900:
            process.kill()
            sys.exit("the updater did not end within 15 minutes")
        time.sleep(0.005)
    elapsed = time.monotonic() - start
    big = os.path.join(program, "data", "big.bin")
    if process.returncode != 0 or os.path.exists(archive) or not os.path.exists(big):
        sys.exit("the updater did not finish its update (status %d after %.1f s; folder: %s)"
                 % (process.returncode, elapsed, sorted(os.listdir(program))))
    if os.path.getsize(big) != BIG_ENTRY_BYTES:
        sys.exit("the updater extracted %d bytes of the large entry" % os.path.getsize(big))
    if downloaded is None or installed is None:
        sys.exit("the whole archive or the staging folder was there too briefly to be seen")
    return elapsed, downloaded, installed


def main():
    if len(sys.argv) < 7:
        sys.exit(__doc__)
    wine_run, updater, unzip, stand_in, port, work = sys.argv[1:7]
    runs = int(sys.argv[7]) if len(sys.argv) > 7 else 3
    source = os.path.join(work, "source")
    served = os.path.join(work, "Quendal.zip")
    fresh_folder(work)
    make_update(source, served, stand_in)
    shutil.rmtree(source)
    tiny = os.path.join(work, "tiny.zip")
    with open(os.path.join(work, "tiny.txt"), "w") as out:
        out.write("tiny\n")
    subprocess.run(["zip", "-q", "-j", tiny, os.path.join(work, "tiny.txt")], check=True)
    server = serve(served, int(port))
    size = os.path.getsize(served)
    print("archive: %d bytes packed, one %d MB entry and %d small files" % (size, BIG_ENTRY_BYTES // 10**6,
                                                                           SMALL_FILES))
    unzip = os.path.abspath(unzip)
    extract_to = os.path.join(work, "extracted")
    updater_phase, unzip_phase, wholes = [], [], []
    try:
        for run in range(runs + 1):  # the first of each warms Wine up and is not counted
            elapsed, downloaded, installed = run_updater(wine_run, updater, os.path.join(work, "program"), size)
            fresh_folder(extract_to)
            start_and_end = timed([wine_run, unzip, "-l", "tiny.zip"], work)
            extraction = timed([wine_run, unzip, "-qo", "-d", "extracted", "Quendal.zip"], work)
            if run == 0:
                continue
            wholes.append(elapsed)
            updater_phase.append(installed - downloaded)
            unzip_phase.append(extraction - start_and_end)
            print("run %d: updater %.2f s whole, %.2f s extracting; quendal-unzip.exe %.2f s less %.2f s of Wine"
                  % (run, elapsed, updater_phase[-1], extraction, start_and_end))
    finally:
        server.shutdown()
        shutil.rmtree(work, ignore_errors=True)
    updater_median = statistics.median(updater_phase)
    unzip_median = statistics.median(unzip_phase)
    ratio = updater_median / unzip_median
    print("median: updater extraction %.2f s (whole run %.2f s), quendal-unzip.exe extraction %.2f s"
          % (updater_median, statistics.median(wholes), unzip_median))
    print("ratio updater / quendal-unzip.exe: %.2f (target at most %.1f)%s"
          % (ratio, TARGET_RATIO, "" if ratio <= TARGET_RATIO else "  ABOVE TARGET"))


if __name__ == "__main__":
    main()
