#!/usr/bin/env python3
"""Extraction benchmark: quendal-unzip against unzip, 7zz and bsdtar.

Builds a corpus from system files (a few thousand files of mixed sizes, about
200 MB), one 100 MB file and 100,000 one-byte files, packs them with zip -6
(Deflate), zip -0 (stored) and 7zz (Deflate64), then extracts every archive
with every tool into fresh folders, several times in turn. Prints the median
wall time, the ratio to unzip's median and the peak resident memory of each
tool; for the 100,000-entry archive also the listing (quendal-unzip -l
against unzip -l). The memory targets (12 MB for 100,000 entries, listed or
extracted; 4 MB for one large entry) are printed as met or missed.

usage: bench_extract.py QUENDAL_UNZIP WORK_FOLDER [RUNS [CASE]]
CASE picks the archives whose title contains it (e.g. "100,000").
"""

import os
import shutil
import statistics
import subprocess
import sys
import time

CORPUS_BYTES = 200 * 1024 * 1024
BIG_BYTES = 100 * 1024 * 1024
TINY_FILES = 100_000
TINY_PER_FOLDER = 1000
SOURCES = ["/usr/share", "/usr/lib", "/usr/include", "/usr/bin"]


def make_corpus(folder):
    """Copies regular files of the system, largest 8 MB each, up to CORPUS_BYTES."""
    total = 0
    for root in SOURCES:
        for path, dirs, files in os.walk(root):
            dirs.sort()
            for name in sorted(files):
                source = os.path.join(path, name)
                if os.path.islink(source) or not os.path.isfile(source):
                    continue
                # Info-ZIP stores non-ASCII names as UTF-8 without the UTF-8
                # flag, which an extractor reading names in the OEM code page
                # turns into other names; the comparison needs the same names.
                if not source.isascii():
                    continue
                try:
                    size = os.path.getsize(source)
                    if size > 8 * 1024 * 1024:
                        continue
                    target = os.path.join(folder, os.path.relpath(source, "/"))
                    os.makedirs(os.path.dirname(target), exist_ok=True)
                    shutil.copyfile(source, target)
                except OSError:
                    continue
                total += size
                if total >= CORPUS_BYTES:
                    return
    if total < CORPUS_BYTES // 2:
        sys.exit("not enough system files for the corpus")


def make_big_file(path, corpus):
    """Concatenates corpus files (text and binaries) up to BIG_BYTES."""
    written = 0
    with open(path, "wb") as out:
        while written < BIG_BYTES:
            for folder, _, files in os.walk(corpus):
                for name in sorted(files):
                    with open(os.path.join(folder, name), "rb") as source:
                        data = source.read(BIG_BYTES - written)
                    out.write(data)
                    written += len(data)
                    if written >= BIG_BYTES:
                        return


def make_tiny_files(folder):
    """TINY_FILES files of one byte each, TINY_PER_FOLDER to a folder."""
    for index in range(TINY_FILES):
        sub = os.path.join(folder, f"d{index // TINY_PER_FOLDER:03d}")
        if index % TINY_PER_FOLDER == 0:
            os.makedirs(sub)
        with open(os.path.join(sub, f"f{index:06d}"), "wb") as out:
            out.write(bytes([index % 251]))


def run(command, cwd):
    """Runs a command; returns (seconds, peak resident KiB).

    The peak comes from GNU time, which starts the tool from its own small
    process: a child forked from this interpreter would count the
    interpreter's pages in its peak."""
    report = os.path.join(cwd, "time-report")
    start = time.perf_counter()
    result = subprocess.run(["/usr/bin/time", "-o", report, "-f", "%M"] + command, cwd=cwd,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            timeout=600)
    seconds = time.perf_counter() - start
    if result.returncode != 0:
        error = result.stderr.decode(errors="replace")
        raise RuntimeError(f"{command[0]} failed ({result.returncode}): {error[:300]}")
    with open(report) as lines:
        peak = int(lines.read().split()[-1])
    return seconds, peak


def tools(quendal):
    # Each tool extracts archive into folder.
    return {
        "quendal-unzip": lambda archive, folder: [quendal, "-o", "-q", "-d", folder, archive],
        "unzip": lambda archive, folder: ["unzip", "-o", "-q", "-d", folder, archive],
        "7zz": lambda archive, folder: ["7zz", "x", "-y", "-o" + folder, archive],
        "bsdtar": lambda archive, folder: ["bsdtar", "-xf", archive, "-C", folder],
    }


# bsdtar has no Deflate64 decoder.
CANNOT = {("bsdtar", "Deflate64")}


def listers(quendal):
    return {
        "quendal-unzip": lambda archive: [quendal, "-l", archive],
        "unzip": lambda archive: ["unzip", "-l", archive],
    }


def print_results(results, order):
    base = results.get("unzip")
    for tool in order:
        result = results[tool]
        if isinstance(result, str):
            print(f"  {tool:14s} cannot: {result}")
            continue
        seconds, peak = result
        ratio = f"{seconds / base[0]:.2f}" if isinstance(base, tuple) else "-"
        print(f"  {tool:14s} {seconds:7.3f} s  ratio to unzip {ratio:>5s}  peak RSS {peak / 1024:6.1f} MB")
    print(flush=True)


def bench_listing(quendal, archive, work, runs):
    """Lists archive with each lister in turn; median time and peak memory."""
    samples = {tool: ([], []) for tool in listers(quendal)}
    results = {}
    for _ in range(runs):
        for tool, command in listers(quendal).items():
            if tool in results:
                continue
            try:
                seconds, peak = run(command(archive), work)
            except (RuntimeError, subprocess.TimeoutExpired) as error:
                results[tool] = str(error).splitlines()[0]
                continue
            samples[tool][0].append(seconds)
            samples[tool][1].append(peak)
    for tool, (times, peaks) in samples.items():
        if tool not in results:
            results[tool] = (statistics.median(times), max(peaks))
    return results


def print_targets(extracted, listed):
    """The goals for many small entries: time against unzip, memory flat."""
    ours, theirs = extracted.get("quendal-unzip"), extracted.get("unzip")
    if isinstance(ours, tuple) and isinstance(theirs, tuple):
        ratio = ours[0] / theirs[0]
        print(f"  target extraction at most 0.80 x unzip: {ratio:.2f} {'met' if ratio <= 0.80 else 'MISSED'}")
    for what, results in (("extraction", extracted), ("listing", listed)):
        print_memory_target(what, results, 12)
    print(flush=True)


def print_memory_target(what, results, limit_mb):
    ours = results.get("quendal-unzip")
    if isinstance(ours, tuple):
        mb = ours[1] / 1024
        print(f"  target {what} peak at most {limit_mb} MB: {mb:.1f} MB {'met' if mb <= limit_mb else 'MISSED'}")


def same_tree(a, b):
    return subprocess.run(["diff", "-rq", a, b], stdout=subprocess.DEVNULL).returncode == 0


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    quendal = os.path.abspath(sys.argv[1])
    work = os.path.abspath(sys.argv[2])
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    only = sys.argv[4] if len(sys.argv) > 4 else ""
    os.makedirs(work, exist_ok=True)

    corpus = os.path.join(work, "corpus")
    big = os.path.join(work, "big")
    tiny = os.path.join(work, "tiny")
    archives = {
        "100 MiB file, Deflate (zip -6)": ("big-deflate.zip", big, ["zip", "-q", "-r", "-6"]),
        "100 MiB file, Deflate64 (7zz)": ("big-deflate64.zip", big, ["7zz", "a", "-tzip", "-mm=Deflate64", "-mx=5"]),
        "corpus, Deflate (zip -6)": ("corpus-deflate.zip", corpus, ["zip", "-q", "-r", "-6"]),
        "corpus, stored (zip -0)": ("corpus-stored.zip", corpus, ["zip", "-q", "-r", "-0"]),
        "corpus, Deflate64 (7zz)": ("corpus-deflate64.zip", corpus, ["7zz", "a", "-tzip", "-mm=Deflate64", "-mx=5"]),
        f"{TINY_FILES:,} one-byte files, stored (zip -0)": ("tiny-stored.zip", tiny, ["zip", "-q", "-r", "-0"]),
    }
    archives = {title: made for title, made in archives.items() if only in title}
    # Only the sources the chosen archives need are made (the big file is cut from the corpus).
    needed = {source for _, source, _ in archives.values()}
    if needed & {corpus, big} and not os.path.isdir(corpus):
        print("building the corpus ...", flush=True)
        make_corpus(corpus)
    if big in needed and not os.path.isdir(big):
        os.makedirs(big)
        make_big_file(os.path.join(big, "big.bin"), corpus)
    if tiny in needed and not os.path.isdir(tiny):
        os.makedirs(tiny)
        make_tiny_files(tiny)
    if os.path.isdir(corpus):
        files = sum(len(f) for _, _, f in os.walk(corpus))
        size = sum(os.path.getsize(os.path.join(p, n)) for p, _, f in os.walk(corpus) for n in f)
        print(f"corpus: {files} files, {size / 1e6:.0f} MB")
    print(f"work folder {work}; {runs} runs each\n")

    for title, (name, source, make) in archives.items():
        archive = os.path.join(work, name)
        if not os.path.exists(archive):
            subprocess.run(make + [archive, "."], cwd=source, check=True, stdout=subprocess.DEVNULL)
        # Rounds visit the tools in turn, so that disk state drifting during
        # the run (write-back, freeing of deleted trees) does not favour one.
        results = {}
        samples = {tool: ([], []) for tool in tools(quendal)}
        for tool in samples:
            if any(tool == t and kind in title for t, kind in CANNOT):
                results[tool] = "no Deflate64 decoder"
        for i in range(runs):
            for tool, command in tools(quendal).items():
                if tool in results:
                    continue
                folder = os.path.join(work, "x-" + tool)
                shutil.rmtree(folder, ignore_errors=True)
                os.makedirs(folder)
                os.sync()
                try:
                    seconds, peak = run(command(archive, folder), work)
                except (RuntimeError, subprocess.TimeoutExpired) as error:
                    results[tool] = str(error).splitlines()[0]
                    continue
                if i == 0 and not same_tree(source, folder):
                    results[tool] = "extracted files differ from the sources"
                    continue
                samples[tool][0].append(seconds)
                samples[tool][1].append(peak)
        for tool, (times, peaks) in samples.items():
            if tool not in results:
                results[tool] = (statistics.median(times), max(peaks))
            shutil.rmtree(os.path.join(work, "x-" + tool), ignore_errors=True)

        print(f"{title}: {os.path.getsize(archive) / 1e6:.1f} MB archive")
        print_results(results, samples)
        if source == big:
            print_memory_target("extraction of one large entry", results, 4)
            print(flush=True)
        if source == tiny:
            print(f"{title}: listing")
            listed = bench_listing(quendal, archive, work, runs)
            print_results(listed, listed)
            print_targets(results, listed)


if __name__ == "__main__":
    main()
