#!/usr/bin/env python3
"""Writes the starting inputs of every fuzz target into OUT/<target>/:
the test archives, the raw Deflate and Deflate64 streams inside them, and a
few hand-made inputs for the text-driven targets."""

import io
import pathlib
import struct
import sys
import zipfile
import zlib

ROOT = pathlib.Path(__file__).resolve().parent.parent
MAX_ARCHIVE = 64 * 1024


def archives():
    found = sorted((ROOT / "tests" / "fixtures").rglob("*.zip")) + sorted((ROOT / "fuzz" / "seeds").rglob("*.zip"))
    return [p for p in found if p.stat().st_size <= MAX_ARCHIVE]


def raw_streams(path, methods):
    """(entry, bytes) of every unenciphered entry of one of these methods.
    Damaged archives and volumes of a split set, which zipfile cannot read,
    give none (they are seeds as whole archives all the same)."""
    data = path.read_bytes()
    try:
        with zipfile.ZipFile(path) as z:
            entries = z.infolist()
    except (zipfile.BadZipFile, ValueError, EOFError, OSError):
        return
    for info in entries:
        if info.compress_type not in methods or info.flag_bits & 1:
            continue
        at = info.header_offset
        if at < 0 or at + 30 > len(data):
            continue
        name_len, extra_len = struct.unpack_from("<HH", data, at + 26)
        start = at + 30 + name_len + extra_len
        yield info, data[start:start + info.compress_size]


def deflate(text, level, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
    return c.compress(text) + c.flush()


def main(out):
    out = pathlib.Path(out)

    def put(target, name, content):
        folder = out / target
        folder.mkdir(parents=True, exist_ok=True)
        (folder / name).write_bytes(content)

    for path in archives():
        for target in ("extract_fuzzer", "detect_walk_fuzzer"):
            put(target, path.name, path.read_bytes())
        for i, (info, stream) in enumerate(raw_streams(path, (8, 9))):
            if len(stream) <= MAX_ARCHIVE:
                put("inflate_fuzzer", f"{path.stem}-{i}", bytes([info.compress_type == 9]) + stream)
    # Shrink, Reduce and Implode streams, whatever the size of their archive.
    for path in sorted((ROOT / "tests" / "fixtures" / "legacy").glob("*.zip")):
        for i, (info, stream) in enumerate(raw_streams(path, range(1, 7))):
            if len(stream) <= MAX_ARCHIVE:
                declared = min(info.file_size, 1 << 20)
                header = bytes([info.compress_type - 1, info.flag_bits & 0xFF]) + declared.to_bytes(3, "little")
                put("legacy_fuzzer", f"{path.stem}-{i}", header + bytes([i * 7 % 256]) + stream)
    text = b"The quick brown fox jumps over the lazy dog. " * 40
    for level in (0, 1, 9):
        put("inflate_fuzzer", f"zlib-level{level}", b"\0" + deflate(text, level))
    put("inflate_fuzzer", "zlib-fixed", b"\0" + deflate(text, 9, zlib.Z_FIXED))

    specs = {
        "plain": b"\0readme.txt\nreadme.txt",
        "star-dot": b"\1sub/dir/file.TXT\n*.txt\nsub\\*\n*.",
        "question": b"\0a.b.c\n?.?.?\n*?*\na*c",
        "no-dot": b"\1noext\nnoext.\n*.*\nNO*",
    }
    for name, content in specs.items():
        put("file_spec_fuzzer", name, content)

    inis = {
        "new-section": b"[Other]\r\nA=1\r\n\0Update\0Done\0yes",
        "replace-key": b"; comment\n[update]\nDONE = no\nkeep=1\n\0Update\0Done\0yes",
        "no-final-newline": b"[Update]\nDone=no\0Update\0Done\0",
        "empty": b"\0S\0K\0V",
    }
    for name, content in inis.items():
        put("ini_fuzzer", name, content)

    body = b"PK\x05\x06" + b"\0" * 18
    responses = {
        "ok": b"HTTP/1.1 200 OK\r\nContent-Length: 22\r\nContent-Type: application/zip\r\n\r\n" + body,
        "no-length": b"HTTP/1.0 200 OK\r\n\r\n" + body,
        "chunked": b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n16\r\n" + body + b"\r\n0\r\n\r\n",
        "redirect": b"HTTP/1.1 302 Found\r\nLocation: /moved\r\nContent-Length: 0\r\n\r\n",
        "empty-redirect": b"HTTP/1.1 301 Moved\r\nLocation:\r\nContent-Length: 3\r\n\r\nabc",
        "continue": b"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
        "not-found": b"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found",
        "short-body": b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nonly this",
    }
    for name, content in responses.items():
        put("download_fuzzer", name, content)

    for name, content in fetched_entries().items():
        put("fetched_entries_fuzzer", name, content)


def fetched_entries():
    """The changed entries of a small release as the updater fetches them:
    their manifest lines, a NUL, and the entries' bytes one after the other."""
    files = {"Quendal.exe": b"MZ" + bytes(range(256)) * 4, "readme.txt": b"Quendal notes\n" * 50,
             "data/table.bin": bytes(300)}
    seeds = {}
    for method, label in ((zipfile.ZIP_STORED, "stored"), (zipfile.ZIP_DEFLATED, "deflated")):
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", method) as z:
            for name, content in files.items():
                z.writestr(name, content)
        data = buffer.getvalue()
        lines, fetched = [], b""
        with zipfile.ZipFile(io.BytesIO(data)) as z:
            for info in z.infolist():
                at = info.header_offset
                name_len, extra_len = struct.unpack_from("<HH", data, at + 26)
                length = 30 + name_len + extra_len + info.compress_size
                lines.append("%s %d %08x %d" % (info.filename, info.file_size, info.CRC, length))
                fetched += data[at:at + length]
        seeds[label] = "\n".join(lines).encode() + b"\0" + fetched
    return seeds


if __name__ == "__main__":
    main(sys.argv[1])
