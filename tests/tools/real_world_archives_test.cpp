// Archives as real tools and users make them, each of a kind that once came
// out wrong or incomplete: the files on disk (names, contents, times, links),
// the messages and the exit status of quendal-unzip, and, where it helps, the
// same tree as the usual unzip tool writes.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

const std::string kProgram = QUENDAL_UNZIP_PROGRAM;

// 2001-02-03 04:05:06 UTC: far from the DOS time zipcraft stores (2001-05-01).
constexpr int64_t kStamp = 981173106;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The modification time of a path itself (a link is not followed).
struct timespec ModificationTime(const fs::path& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mtim;
}

bool IsLinkTo(const fs::path& path, const std::string& target) {
    std::error_code error;
    return fs::is_symlink(fs::symlink_status(path, error)) && fs::read_symlink(path, error).string() == target;
}

bool NothingAt(const fs::path& path) {
    std::error_code error;
    return !fs::exists(fs::symlink_status(path, error));
}

// Written before every case: Python with zipcraft, a shell helper and the
// scratch folder as the current one. Each case leaves a.zip there.
const std::string kPrelude = R"PY(
import os, struct, subprocess, sys, zipfile, zlib
sys.path.insert(0, sys.argv[1] + '/detection')
from zipcraft import *
os.chdir(sys.argv[2])
def sh(command): subprocess.check_call(command, shell=True)
def put(path, data):
    os.makedirs(os.path.dirname(path) or '.', exist_ok=True)
    open(path, 'wb').write(data if isinstance(data, bytes) else data.encode())
def text(n, seed): return ''.join('%x' % ((i * 7919 + seed) % 16) for i in range(n)) + '\n'
class Pipe:  # an output that cannot seek: entries get data descriptors
    def __init__(self): self.data = bytearray()
    def write(self, b): self.data += b; return len(b)
    def flush(self): pass
def unicode_path(stored, name):
    return extra(0x7075, b'\x01' + struct.pack('<I', zlib.crc32(stored)) + name.encode())
UNIX_FILE, UNIX_LINK, UNIX_DIR = 0o100644 << 16, 0o120777 << 16, (0o040755 << 16) | 0x10
)PY";

struct Case {
    std::string name;
    std::string make;  // Python after the prelude
    std::string options;
    std::string specs;  // after the archive
    int status;
    std::vector<std::string> shown;   // pieces stderr shows
    std::vector<std::string> absent;  // pieces it must not show
    std::function<void(const fs::path& out)> check;
    bool sameAsUnzip = false;  // the usual unzip tool writes the same tree
};

class RealWorldArchives : public ::testing::Test {
protected:
    void Run(const Case& c) {
        SCOPED_TRACE(c.name);
        TempFolder scratch("quendal-realworld");
        const fs::path out = scratch / "out";
        {
            std::ofstream(scratch / "make.py") << kPrelude << c.make;
        }
        ASSERT_EQ(Shell("python3 " + (scratch / "make.py").string() + " " QUENDAL_TEST_FIXTURES " " + scratch.str()), 0);
        // A zone far from UTC, so that a stored UTC time read as local time shows.
        const int status = Shell("cd " + scratch.str() + " && TZ=America/New_York " + kProgram + " -q " + c.options +
                                 " -d out a.zip " + c.specs + " </dev/null >stdout 2>stderr");
        const std::string shown = ReadFile(scratch / "stderr");
        EXPECT_EQ(status, c.status) << shown;
        for (const std::string& piece : c.shown) EXPECT_NE(shown.find(piece), std::string::npos) << piece << "\n" << shown;
        for (const std::string& piece : c.absent) EXPECT_EQ(shown.find(piece), std::string::npos) << piece << "\n" << shown;
        if (c.check) c.check(out);
        if (c.sameAsUnzip) {
            Shell("cd " + scratch.str() + " && unzip -qq -o a.zip -d unzipped >/dev/null 2>&1");
            EXPECT_EQ(Shell("diff -r --no-dereference " + out.string() + " " + (scratch / "unzipped").string()), 0);
        }
    }
};

TEST_F(RealWorldArchives, DirectoryAndSizes) {
    const std::vector<Case> cases = {
        {"an end record behind a 40 KB comment, folders and streamed entries",
         "put('src/top.txt', text(5000, 1)); put('src/d/inner.txt', text(300, 2)); os.makedirs('src/empty')\n"
         "sh('cd src && zip -q -r - . | cat > ../s.zip')\n"
         "d = open('s.zip', 'rb').read()\n"
         "put('a.zip', d[:-2] + struct.pack('<H', 40000) + b'c' * 40000)\n",
         "", "", 0, {}, {},
         [](const fs::path& out) {
             EXPECT_EQ(ReadFile(out / "top.txt").size(), 5001u);
             EXPECT_EQ(ReadFile(out / "d/inner.txt").size(), 301u);
             EXPECT_TRUE(fs::is_directory(out / "empty"));
         },
         true},
        {"a streamed archive cut before its directory: the local walk sizes its entries",
         "put('src/a.txt', text(70000, 3)); put('src/b/c.txt', text(10, 4)); put('src/z.txt', '')\n"
         "sh('cd src && zip -q -r - . | cat > ../s.zip')\n"
         "d = open('s.zip', 'rb').read()\nput('a.zip', d[:d.find(b'PK\\x01\\x02')])\n",
         "", "", 1, {"the end of central directory record is missing or damaged"}, {},
         [](const fs::path& out) {
             EXPECT_EQ(ReadFile(out / "a.txt").size(), 70001u);
             EXPECT_EQ(ReadFile(out / "b/c.txt").size(), 11u);
             EXPECT_TRUE(fs::is_regular_file(out / "z.txt"));
         }},
        {"data descriptors with 8-byte sizes, and without their signature",
         "p = Pipe()\n"
         "with zipfile.ZipFile(p, 'w', zipfile.ZIP_DEFLATED) as z:\n"
         "    with z.open('wide.txt', 'w', force_zip64=True) as f: f.write(text(3000, 7).encode())\n"
         "    z.writestr('bare.txt', text(2000, 8))\n"
         "    z.writestr('last.txt', 'last')\n"
         "d = bytes(p.data[:p.data.find(b'PK\\x01\\x02')])\n"
         "i = d.find(b'PK\\x07\\x08', d.find(b'bare.txt'))\n"
         "put('a.zip', d[:i] + d[i + 4:])\n",
         "", "", 1, {"the end of central directory record is missing or damaged"}, {},
         [](const fs::path& out) {
             EXPECT_EQ(ReadFile(out / "wide.txt").size(), 3001u);
             EXPECT_EQ(ReadFile(out / "bare.txt").size(), 2001u);
             EXPECT_EQ(ReadFile(out / "last.txt"), "last");
         }},
        {"a stored streamed entry cannot be sized: reported, and the walk ends there",
         "p = Pipe()\n"
         "with zipfile.ZipFile(p, 'w') as z:\n"
         "    z.writestr('first.txt', 'first' * 100, compress_type=zipfile.ZIP_DEFLATED)\n"
         "    z.writestr('stored.txt', 'stored', compress_type=zipfile.ZIP_STORED)\n"
         "    z.writestr('after.txt', 'after', compress_type=zipfile.ZIP_DEFLATED)\n"
         "d = bytes(p.data)\nput('a.zip', d[:d.find(b'PK\\x01\\x02')])\n",
         "", "", 2, {"error 25114: Bad file header: stored.txt"}, {},
         [](const fs::path& out) {
             EXPECT_EQ(ReadFile(out / "first.txt"), [] { std::string s; for (int i = 0; i < 100; ++i) s += "first"; return s; }());
             EXPECT_TRUE(NothingAt(out / "stored.txt"));
             EXPECT_TRUE(NothingAt(out / "after.txt"));
         }},
        {"a deferred CRC that does not match fails, also without a directory",
         "p = Pipe()\n"
         "with zipfile.ZipFile(p, 'w') as z: z.writestr('x.txt', 'xyz' * 50, compress_type=zipfile.ZIP_DEFLATED)\n"
         "d = bytearray(p.data[:p.data.find(b'PK\\x01\\x02')])\n"
         "i = d.find(b'PK\\x07\\x08')\nd[i + 4] ^= 0xFF\nput('a.zip', bytes(d))\n",
         "", "", 2, {"error 25151"}, {}, nullptr},
        {"folders stored with attributes 0 are known by their trailing separator",
         "with zipfile.ZipFile('a.zip', 'w') as z:\n"
         "    for n, data in [('java/', ''), ('java/deep/', ''), ('java/deep/A.class', 'cafe'), ('win\\\\', '')]:\n"
         "        i = zipfile.ZipInfo(n); i.external_attr = 0; i.create_system = 0; z.writestr(i, data)\n",
         "", "", 0, {}, {},
         [](const fs::path& out) {
             EXPECT_TRUE(fs::is_directory(out / "java/deep"));
             EXPECT_EQ(ReadFile(out / "java/deep/A.class"), "cafe");
             EXPECT_TRUE(fs::is_directory(out / "win"));
         }},
        {"12 KB put in front without adjusting the offsets",
         "put('src/x.txt', text(1000, 5)); put('src/y/z.txt', 'zz')\n"
         "sh('cd src && zip -q -r ../plain.zip .')\n"
         "put('a.zip', bytes(range(256)) * 48 + open('plain.zip', 'rb').read())\n",
         "", "", 1, {"12288 extra bytes at the beginning"}, {},
         [](const fs::path& out) {
             EXPECT_EQ(ReadFile(out / "x.txt").size(), 1001u);
             EXPECT_EQ(ReadFile(out / "y/z.txt"), "zz");
         },
         true},
        {"the same in front of a zip64 archive",
         "put('src/x.txt', text(1000, 6)); put('src/y/z.txt', 'zz')\n"
         "sh('cd src && zip -q -r -fz ../plain.zip .')\n"
         "put('a.zip', bytes(12288) + open('plain.zip', 'rb').read())\n",
         "", "", 1, {"12288 extra bytes at the beginning"}, {},
         [](const fs::path& out) {
             EXPECT_EQ(ReadFile(out / "x.txt").size(), 1001u);
             EXPECT_EQ(ReadFile(out / "y/z.txt"), "zz");
         }},
        {"an archive without entries",
         "zipfile.ZipFile('a.zip', 'w').close()\n", "", "", 1, {"the archive is empty"}, {"matched"}, nullptr},
        {"errors of the archive decide before an empty selection",
         "put('a.zip', build([Entry('lost.txt', b'l', local_offset=5000)]))\n", "", "'lost*'", 2,
         {"error 25114: Bad file header: lost.txt"}, {"matched"}, nullptr},
    };
    for (const Case& c : cases) Run(c);
}

TEST_F(RealWorldArchives, Names) {
    const std::string shared = std::string(200, 'd') + "/" + std::string(100, 'e');
    const std::vector<Case> cases = {
        {"names longer than 255 bytes that share their first 255",
         "base = 'd' * 200 + '/' + 'e' * 100\n"
         "with zipfile.ZipFile('a.zip', 'w') as z: z.writestr(base + '-one.txt', 'one'); z.writestr(base + '-two.txt', 'two')\n",
         "-o", "", 0, {}, {},
         [shared](const fs::path& out) {
             EXPECT_EQ(ReadFile(out / (shared + "-one.txt")), "one");
             EXPECT_EQ(ReadFile(out / (shared + "-two.txt")), "two");
         },
         true},
        {"a name component too long for the file system is the system's error, named",
         "with zipfile.ZipFile('a.zip', 'w') as z: z.writestr('f' * 300, 'long'); z.writestr('ok.txt', 'ok')\n",
         "", "", 2, {"error 25235: Error opening file", std::string(300, 'f')}, {},
         [](const fs::path& out) { EXPECT_EQ(ReadFile(out / "ok.txt"), "ok"); }},
        {"a colon inside a name is an ordinary character",
         "with zipfile.ZipFile('a.zip', 'w') as z:\n"
         "    z.writestr('ab:c.txt', '1'); z.writestr('logs/2024-01-02T10:30:00.log', '2'); z.writestr('c.txt', '3')\n",
         "", "", 0, {}, {},
         [](const fs::path& out) {
             EXPECT_EQ(ReadFile(out / "ab:c.txt"), "1");
             EXPECT_EQ(ReadFile(out / "logs/2024-01-02T10:30:00.log"), "2");
             EXPECT_EQ(ReadFile(out / "c.txt"), "3");
         },
         true},
        {"absolute names and drive prefixes land inside the target, with a warning each",
         "put('a.zip', build([Entry(b'/abs/x.txt', b'x'), Entry(b'C:\\\\drive\\\\y.txt', b'y'), Entry(b'D:z.txt', b'z')]))\n",
         "", "", 1, {"removed \"/\" from the start of /abs/x.txt", "removed \"C:/\" from the start of C:/drive/y.txt",
                     "removed \"D:\" from the start of D:z.txt"}, {},
         [](const fs::path& out) {
             EXPECT_EQ(ReadFile(out / "abs/x.txt"), "x");
             EXPECT_EQ(ReadFile(out / "drive/y.txt"), "y");
             EXPECT_EQ(ReadFile(out / "z.txt"), "z");
         }},
        {"names zip writes on Unix are UTF-8 without the flag",
         "put('src/한글 폴더/자료.txt', '내용')\nsh('cd src && zip -q -r ../a.zip .')\n", "", "", 0, {}, {},
         [](const fs::path& out) { EXPECT_EQ(ReadFile(out / "한글 폴더/자료.txt"), "내용"); }},
        {"a Unicode Path field names the entry when it was made for that stored name",
         "cp = '가나.txt'.encode('cp949')\n"
         "u = unicode_path(cp, 'unicode-이름.txt'); stale = unicode_path(b'other.txt', 'wrong.txt')\n"
         "put('a.zip', build([Entry(cp, b'u', local_extra=u, central_extra=u),\n"
         "                    Entry(b'stale.txt', b's', local_extra=stale, central_extra=stale),\n"
         "                    Entry(b'dos-' + cp, b'd')]))\n",
         "", "", 0, {}, {},
         [](const fs::path& out) {
             EXPECT_EQ(ReadFile(out / "unicode-이름.txt"), "u");
             EXPECT_EQ(ReadFile(out / "stale.txt"), "s");
             EXPECT_EQ(ReadFile(out / "dos-가나.txt"), "d");
         }},
        {"bytes outside the OEM code page keep distinct names distinct",
         "put('a.zip', build([Entry(b'bad\\xff.txt', b'1'), Entry(b'bad\\xfe.txt', b'2'), Entry(b'bad?.txt', b'3')]))\n",
         "", "", 0, {}, {},
         [](const fs::path& out) {
             std::vector<std::string> contents;
             for (const auto& entry : fs::directory_iterator(out)) contents.push_back(ReadFile(entry.path()));
             std::sort(contents.begin(), contents.end());
             EXPECT_EQ(contents, (std::vector<std::string>{"1", "2", "3"}));
         }},
    };
    for (const Case& c : cases) Run(c);
}

TEST_F(RealWorldArchives, MethodsTimesAndLinks) {
    const std::vector<Case> cases = {
        {"methods without a decoder are skipped before any file is made",
         "for n in ['lzma', 'bzip2', 'ppmd', 'plain']: put('src/' + n + '.txt', text(2000, len(n)))\n"
         "for n, m in [('lzma', 'LZMA'), ('bzip2', 'BZip2'), ('ppmd', 'PPMd'), ('plain', 'Deflate')]:\n"
         "    sh('cd src && 7zz a -tzip -mm=%s ../a.zip %s.txt >/dev/null' % (m, n))\n"
         "put('out/lzma.txt', 'precious')\n",
         "-o", "", 81,
         {"error 25326: Unsupported compression method: lzma.txt", "error 25326: Unsupported compression method: bzip2.txt",
          "error 25326: Unsupported compression method: ppmd.txt"},
         {"25151"},
         [](const fs::path& out) {
             EXPECT_EQ(ReadFile(out / "lzma.txt"), "precious");
             EXPECT_TRUE(NothingAt(out / "bzip2.txt"));
             EXPECT_EQ(ReadFile(out / "plain.txt").size(), 2001u);
         }},
        {"an AES entry is an unsupported method, not a wrong password",
         "put('src/secret.txt', 'secret'); put('src/open.txt', 'open')\n"
         "sh('cd src && 7zz a -tzip -mem=AES256 -ppw ../a.zip secret.txt >/dev/null && zip -q ../a.zip open.txt')\n",
         "-P pw", "", 81, {"error 25326: Unsupported compression method: secret.txt"}, {"26517"},
         [](const fs::path& out) {
             EXPECT_TRUE(NothingAt(out / "secret.txt"));
             EXPECT_EQ(ReadFile(out / "open.txt"), "open");
         }},
        {"stored UTC times: extended timestamp, NTFS and the old Unix field; folders last",
         "ntfs = (981173106 + 11644473600) * 10**7 + 1234567\n"
         "put('a.zip', build([\n"
         "    Entry('dir/', attributes=0x10, central_extra=extra(0x5455, struct.pack('<BI', 1, 981173106))),\n"
         "    Entry('dir/ut.txt', b'u', central_extra=extra(0x5455, struct.pack('<BI', 1, 981173106))),\n"
         "    Entry('ntfs.txt', b'n', central_extra=extra(0x000a, bytes(4) + struct.pack('<HHQQQ', 1, 24, ntfs, ntfs, ntfs))),\n"
         "    Entry('old.txt', b'o', central_extra=extra(0x5855, struct.pack('<II', 1, 981173106))),\n"
         "    Entry('dos.txt', b'd')]))\n",
         "", "", 0, {}, {},
         [](const fs::path& out) {
             for (const char* name : {"dir", "dir/ut.txt", "ntfs.txt", "old.txt"}) {
                 SCOPED_TRACE(name);
                 EXPECT_EQ(ModificationTime(out / name).tv_sec, kStamp);
             }
             EXPECT_EQ(ModificationTime(out / "ntfs.txt").tv_nsec, 123456700);
             // Without a UTC time the DOS date (2001-05-01) stands, read as local time.
             EXPECT_GT(ModificationTime(out / "dos.txt").tv_sec, kStamp + 80 * 86400);
         }},
        {"times zip stores from the files, read in another zone",
         "put('src/dir/f.txt', 'f'); put('src/t.txt', 't')\n"
         "sh('touch -d \"2001-02-03 04:05:06 UTC\" src/t.txt src/dir/f.txt src/dir && cd src && zip -q -r ../a.zip .')\n",
         "", "", 0, {}, {},
         [](const fs::path& out) {
             for (const char* name : {"t.txt", "dir/f.txt", "dir"}) {
                 SCOPED_TRACE(name);
                 EXPECT_EQ(ModificationTime(out / name).tv_sec, kStamp);
             }
         }},
        {"symbolic links: made when they stay inside, skipped with a warning when they leave",
         "put('src/target.txt', 'target'); os.makedirs('src/sub')\n"
         "os.symlink('target.txt', 'src/in'); os.symlink('../target.txt', 'src/sub/up')\n"
         "os.symlink('../../outside.txt', 'src/out'); os.symlink('/etc/hostname', 'src/abs')\n"
         "os.symlink('.', 'src/dot'); os.symlink('dot/..', 'src/esc')  # climbs out through the link dot\n"
         "sh('cd src && zip -q -r -y ../a.zip .')\n",
         "", "", 1,
         {"skipped symbolic link out -> ../../outside.txt", "skipped symbolic link abs -> /etc/hostname",
          "skipped symbolic link esc -> dot/.."}, {},
         [](const fs::path& out) {
             EXPECT_TRUE(IsLinkTo(out / "in", "target.txt"));
             EXPECT_TRUE(IsLinkTo(out / "sub/up", "../target.txt"));
             EXPECT_EQ(ReadFile(out / "sub/up"), "target");
             EXPECT_TRUE(NothingAt(out / "out"));
             EXPECT_TRUE(NothingAt(out / "abs"));
             EXPECT_TRUE(IsLinkTo(out / "dot", "."));
             EXPECT_TRUE(NothingAt(out / "esc"));
         }},
        {"nothing is written through a link made earlier in the run",
         "put('a.zip', build([Entry('sub/', attributes=UNIX_DIR, made_by=0x031E),\n"
         "                    Entry('ln', b'sub', attributes=UNIX_LINK, made_by=0x031E),\n"
         "                    Entry('ln/evil.txt', b'evil', attributes=UNIX_FILE, made_by=0x031E)]))\n",
         "", "", 2, {"error 25245: Invalid file name: ln/evil.txt"}, {},
         [](const fs::path& out) {
             EXPECT_TRUE(IsLinkTo(out / "ln", "sub"));
             EXPECT_TRUE(NothingAt(out / "sub/evil.txt"));
         }},
    };
    for (const Case& c : cases) Run(c);
}

}  // namespace
