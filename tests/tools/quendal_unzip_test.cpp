// quendal-unzip run as a program: archives made by zip, 7zz and Python's
// zipfile come out as the files they were made from; exit statuses; hostile
// archives leave nothing outside the target.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/extract_test_support.h"
#include "archive/refused_passwords.h"
#include "support/temp_folder.h"
#include "tools/quendal_unzip/printable_text.h"

namespace fs = std::filesystem;

namespace {

// The program as built, unless the environment names another command that
// runs it (the Windows build under Wine).
const std::string kProgram = std::getenv("QUENDAL_UNZIP_PROGRAM") ? std::getenv("QUENDAL_UNZIP_PROGRAM")
                                                                    : QUENDAL_UNZIP_PROGRAM;
// The Windows program writes names with "\", ends its lines with CR LF and
// cannot make every name Linux can.
const bool kWindowsProgram = kProgram.ends_with(".exe");

// A name of an entry as the program writes it.
std::string Shown(std::string name) {
    if (kWindowsProgram) std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

// What a terminal shows of the text written to it: control sequences that
// move the cursor forward become spaces, other control sequences and carriage
// returns are dropped (the Windows console under Wine redraws with them).
std::string Visible(const std::string& text) {
    std::string shown;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') continue;
        if (text[i] != '\x1b' || i + 1 >= text.size() || text[i + 1] != '[') {
            shown += text[i];
            continue;
        }
        size_t end = i + 2;
        while (end < text.size() && !(text[end] >= '@' && text[end] <= '~')) ++end;
        if (end < text.size() && text[end] == 'C') shown.append(std::max(1, std::atoi(text.c_str() + i + 2)), ' ');
        i = end;
    }
    return shown;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The exit status of a shell command; -1 when it did not exit normally (a crash).
int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Text that deflates to about half: hexadecimal noise.
std::string Noise(size_t size, uint32_t seed) {
    std::string text;
    while (text.size() < size) {
        seed = seed * 1103515245u + 12345u;
        text += "0123456789abcdef"[(seed >> 16) & 15];
    }
    return text;
}

// The archive (without a comment) with zip64 end records in front of its
// end record, announcing `entries` entries.
std::string WithZip64EntryCount(const std::string& zip, uint64_t entries) {
    using extract_test::PutLe16;
    using extract_test::PutLe32;
    auto putLe64 = [](std::string& out, uint64_t v) {
        PutLe32(out, static_cast<uint32_t>(v));
        PutLe32(out, static_cast<uint32_t>(v >> 32));
    };
    const std::string end = zip.substr(zip.size() - 22);
    auto le32 = [&](size_t at) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(end[at + i]);
        return v;
    };
    std::string out = zip.substr(0, zip.size() - 22);
    const uint64_t record = out.size();
    PutLe32(out, 0x06064B50);
    putLe64(out, 44);
    PutLe16(out, 45);
    PutLe16(out, 45);
    PutLe32(out, 0);
    PutLe32(out, 0);
    putLe64(out, entries);
    putLe64(out, entries);
    putLe64(out, le32(12));  // directory size
    putLe64(out, le32(16));  // directory offset
    PutLe32(out, 0x07064B50);
    PutLe32(out, 0);
    putLe64(out, record);
    PutLe32(out, 1);
    out += end.substr(0, 8);
    PutLe16(out, 0xFFFF);
    PutLe16(out, 0xFFFF);
    out += end.substr(12);
    return out;
}

class QuendalUnzip : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = folder_.str() + "/";
        src_ = dir_ + "src/";
        out_ = dir_ + "out/";
    }

    // A tree of ASCII-named files of mixed kinds and sizes.
    void MakeSources() {
        std::string words;
        for (int i = 0; i < 20000; ++i) words += "line " + std::to_string(i * 37 % 1009) + " of text\n";
        WriteFile(src_ + "words.txt", words);
        WriteFile(src_ + "noise.bin", Noise(300000, 11));
        WriteFile(src_ + "empty", "");
        WriteFile(src_ + "one", "A");
        WriteFile(src_ + "sub/deeper/inner.txt", words.substr(0, 5000));
    }
    int Unzip(const std::string& args) { return Shell(kProgram + " " + args + " >" + dir_ + "stdout 2>" + dir_ + "stderr"); }
    bool SameTree(const std::string& a, const std::string& b) { return Shell("diff -r " + a + " " + b + " >/dev/null") == 0; }
    std::string Stderr() { return ReadFile(dir_ + "stderr"); }
    std::string Stdout() { return ReadFile(dir_ + "stdout"); }

    TempFolder folder_{"quendal-unzip"};
    std::string dir_, src_, out_;
};

TEST_F(QuendalUnzip, ArchivesOfOtherToolsExtractToTheirSources) {
    MakeSources();
    struct Case {
        std::string name, make, options;
    };
    const std::string zipIn = "cd " + src_ + " && ";
    const std::vector<Case> cases = {
        {"stored", zipIn + "zip -q -r -0 ../a.zip .", ""},
        {"deflate-1", zipIn + "zip -q -r -1 ../a.zip .", ""},
        {"deflate-6", zipIn + "zip -q -r -6 ../a.zip .", ""},
        {"deflate-9", zipIn + "zip -q -r -9 ../a.zip .", ""},
        {"deflate64", zipIn + "7zz a -tzip -mm=Deflate64 -mx=9 ../a.zip . >/dev/null", ""},
        {"7zz-deflate", zipIn + "7zz a -tzip -mx=5 ../a.zip . >/dev/null", ""},
        {"password", zipIn + "zip -q -r -P 's3 cret' ../a.zip .", "-P 's3 cret'"},
        {"7zz-password", zipIn + "7zz a -tzip -mm=Deflate64 -p'pw' -mem=ZipCrypto ../a.zip . >/dev/null", "-P pw"},
        {"split", zipIn + "zip -q -r -s 64k ../a.zip .", ""},
        {"zip64", zipIn + "zip -q -r -fz ../a.zip .", ""},
        {"pipe", zipIn + "zip -q -r - . > ../a.zip", ""},
        {"python", zipIn + "python3 -c \"import zipfile,os\nwith zipfile.ZipFile('../a.zip','w',zipfile.ZIP_DEFLATED) as z:\n"
                           " [z.write(os.path.join(r,f),os.path.relpath(os.path.join(r,f))) for r,d,fs in os.walk('.') for f in fs]\"",
         ""},
        {"python-zip64", zipIn + "python3 -c \"import zipfile,os\nwith zipfile.ZipFile('../a.zip','w',zipfile.ZIP_STORED) as z:\n"
                                 " [z.open(os.path.relpath(os.path.join(r,f)),'w',force_zip64=True).write(open(os.path.join(r,f),'rb').read()) for r,d,fs in os.walk('.') for f in fs]\"",
         ""},
        {"stub", zipIn + "zip -q -r ../b.zip . && head -c 5000 /bin/sh > ../a.zip && cat ../b.zip >> ../a.zip && zip -q -A ../a.zip", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Shell("rm -rf " + out_ + " " + dir_ + "a.z* " + dir_ + "b.zip");
        ASSERT_EQ(Shell(c.make), 0);
        EXPECT_EQ(Unzip("-q " + c.options + " -d " + out_ + " " + dir_ + "a.zip"), 0) << Stderr();
        EXPECT_EQ(Stdout(), "");
        EXPECT_TRUE(SameTree(src_, out_));
    }
}

TEST_F(QuendalUnzip, KoreanNamesFromUtf8FlaggedAndOemArchives) {
    const std::string name = "한글 폴더/자료 파일.txt";
    WriteFile(src_ + name, "내용\n");
    ASSERT_EQ(Shell("cd " + src_ + " && 7zz a -tzip ../k7.zip . >/dev/null"), 0);
    ASSERT_EQ(Shell("cd " + dir_ + " && python3 -c \"import zipfile\n"
                    "z=zipfile.ZipFile('kp.zip','w')\n"
                    "z.writestr('" + name + "','내용\\n')\n"
                    "z.close()\""),
              0);
    // The same name in the OEM code page, without the UTF-8 flag.
    ASSERT_EQ(Shell("cd " + dir_ + " && python3 -c \"import zipfile,struct\n"
                    "n='" + name + "'.encode('cp949')\n"
                    "d='내용\\n'.encode()\n"
                    "import zlib\n"
                    "c=zlib.crc32(d)\n"
                    "loc=struct.pack('<IHHHIIIIHH',0x04034b50,20,0,0,0x00210000,c,len(d),len(d),len(n),0)+n+d\n"
                    "cen=struct.pack('<IHHHHIIIIHHHHHII',0x02014b50,20,20,0,0,0x00210000,c,len(d),len(d),len(n),0,0,0,0,0x20,0)+n\n"
                    "end=struct.pack('<IHHHHIIH',0x06054b50,0,0,1,1,len(cen),len(loc),0)\n"
                    "open('ko.zip','wb').write(loc+cen+end)\""),
              0);
    for (const std::string archive : {"k7.zip", "kp.zip", "ko.zip"}) {
        SCOPED_TRACE(archive);
        fs::remove_all(out_);
        EXPECT_EQ(Unzip("-q -d " + out_ + " " + dir_ + archive), 0) << Stderr();
        EXPECT_EQ(ReadFile(out_ + name), "내용\n");
    }
}

TEST_F(QuendalUnzip, ListsTheSelectedEntriesWithTotals) {
    MakeSources();
    ASSERT_EQ(Shell("cd " + src_ + " && zip -q -r ../a.zip ."), 0);
    EXPECT_EQ(Unzip("-l " + dir_ + "a.zip '*.txt'"), 0);
    const std::string listing = Stdout();
    EXPECT_NE(listing.find(" " + std::to_string(fs::file_size(src_ + "words.txt")) + " "), std::string::npos);
    EXPECT_NE(listing.find(Shown("sub/deeper/inner.txt")), std::string::npos) << listing;
    EXPECT_NE(listing.find("words.txt"), std::string::npos);
    EXPECT_EQ(listing.find("noise.bin"), std::string::npos);
    EXPECT_NE(listing.find("2 files"), std::string::npos);
    EXPECT_FALSE(fs::exists(out_));
}

TEST_F(QuendalUnzip, SelectsByFileSpecAndJunksFolders) {
    MakeSources();
    ASSERT_EQ(Shell("cd " + src_ + " && zip -q -r ../a.zip ."), 0);
    EXPECT_EQ(Unzip("-j -d " + out_ + " " + dir_ + "a.zip '*.txt'"), 0);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(out_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"inner.txt", "words.txt"}));
    EXPECT_NE(Stdout().find("extracting: " + out_ + "inner.txt"), std::string::npos);
}

TEST_F(QuendalUnzip, EmptyFoldersAreMadeUnlessFoldersAreJunked) {
    MakeSources();
    fs::create_directories(src_ + "void/inner");
    ASSERT_EQ(Shell("cd " + src_ + " && zip -q -r ../a.zip ."), 0);
    EXPECT_EQ(Unzip("-q -d " + out_ + " " + dir_ + "a.zip"), 0) << Stderr();
    EXPECT_TRUE(SameTree(src_, out_));
    EXPECT_TRUE(fs::is_directory(out_ + "void/inner"));

    fs::remove_all(out_);
    EXPECT_EQ(Unzip("-q -j -d " + out_ + " " + dir_ + "a.zip"), 0) << Stderr();
    EXPECT_FALSE(fs::exists(out_ + "void"));
    EXPECT_FALSE(fs::exists(out_ + "inner"));
    EXPECT_EQ(ReadFile(out_ + "inner.txt"), ReadFile(src_ + "sub/deeper/inner.txt"));
}

TEST_F(QuendalUnzip, ExitStatuses) {
    MakeSources();
    ASSERT_EQ(Shell("cd " + src_ + " && zip -q -r ../a.zip ."), 0);
    ASSERT_TRUE(MakeArchiveRefusing("cd " + src_ + " && zip -q -r -P right ../p.zip .", dir_ + "p.zip", {"wrong", ""}));
    // A stored entry whose data is changed after the fact fails its CRC check.
    ASSERT_EQ(Shell("cd " + src_ + " && zip -q -0 ../c.zip one"), 0);
    std::string damaged = ReadFile(dir_ + "c.zip");
    const size_t dataStart = 30 + 3 + static_cast<uint8_t>(damaged[28]) + 256 * static_cast<uint8_t>(damaged[29]);
    ASSERT_EQ(damaged[dataStart], 'A');
    damaged[dataStart] = 'B';
    WriteFile(dir_ + "c.zip", damaged);
    WriteFile(dir_ + "not.zip", "this is no archive at all, only text");
    fs::copy_file(std::string(QUENDAL_TEST_FIXTURES) + "/extract/moby.zip", dir_ + "moby.zip");
    // Damaged entries: a local header naming another file, two entries over
    // one local header, a Deflate stream of a reserved block type.
    extract_test::Entry forged{"readme.txt", "text"}, shared{"a.txt", "text"}, undecodable{"edge.bin", "", 8};
    forged.localName = "sub/evil.sh";
    shared.localOffset = 0;
    undecodable.packedData = std::string("\x07\x00", 2);
    undecodable.declaredSize = 0x7FFFFFFF;
    WriteFile(dir_ + "forged.zip", extract_test::BuildZip({forged}));
    WriteFile(dir_ + "shared.zip", extract_test::BuildZip({{"a.txt", "text"}, shared}));
    WriteFile(dir_ + "undecodable.zip", extract_test::BuildZip({undecodable}));
    // Whole entries whose end record is cut off, or announces entries the
    // directory does not hold (or fewer than it holds).
    const std::string whole = ReadFile(dir_ + "a.zip");
    WriteFile(dir_ + "cut.zip", whole.substr(0, whole.size() - 5));
    std::string fewer = whole;
    fewer[whole.size() - 12] = fewer[whole.size() - 14] = 2;
    WriteFile(dir_ + "fewer.zip", fewer);
    WriteFile(dir_ + "more.zip", WithZip64EntryCount(whole, UINT64_MAX));

    struct Case {
        std::string args;
        int status;
        std::string message;  // a piece of what stderr shows
    };
    const std::vector<Case> cases = {
        {dir_ + "a.zip", 0, ""},
        {dir_ + "missing.zip", 9, "cannot find"},
        {dir_ + "not.zip", 9, "not a ZIP archive"},
        {dir_ + "a.zip 'nothing*'", 11, "matched"},
        {dir_ + "c.zip", 2, "error 25151: File fails CRC check"},
        {dir_ + "forged.zip", 1, "warning: readme.txt: its local header names it " + Shown("sub/evil.sh")},
        {dir_ + "cut.zip", 1, "the end of central directory record is missing or damaged"},
        {dir_ + "fewer.zip", 2, "error 25259: Header not found. File may be corrupt"},
        {dir_ + "more.zip", 2, "(the end record announces 18446744073709551615 entries, the directory holds 7)"},
        {dir_ + "shared.zip", 2, "error 25140: Corrupt input: a.txt"},
        {dir_ + "undecodable.zip", 2, "error 25153: Decompression error: edge.bin"},
        {dir_ + "moby.zip", 81, "error 25326: Unsupported compression method"},
        {"-P wrong " + dir_ + "p.zip", 82, "error 26517: Invalid password"},
        {"-P '' " + dir_ + "p.zip", 82, "error 26517: Invalid password"},
        {dir_ + "p.zip", 82, "error 26517: Invalid password"},
        {"-x " + dir_ + "a.zip", 10, "unknown option"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        fs::remove_all(out_);
        EXPECT_EQ(Unzip("-q -d " + out_ + " " + c.args + " </dev/null"), c.status);
        EXPECT_NE(Stderr().find(c.message), std::string::npos) << Stderr();
    }
    // Each of these still gives every entry it holds.
    for (const std::string name : {"cut.zip", "fewer.zip", "more.zip"}) {
        fs::remove_all(out_);
        Unzip("-q -d " + out_ + " " + dir_ + name + " </dev/null");
        EXPECT_TRUE(SameTree(src_, out_)) << name;
    }
}

// On a terminal (a pseudo-terminal made by script(1)) the program asks for
// passwords and overwrites and draws its progress bar. Each answer is typed
// once its question shows, ended by the Enter key's carriage return: the
// Windows console under Wine drops what was typed before the program reads.
TEST_F(QuendalUnzip, AsksOnATerminal) {
    if (Shell("command -v script >/dev/null") != 0) GTEST_SKIP() << "script(1) is not installed";
    MakeSources();
    ASSERT_EQ(Shell("cd " + src_ + " && zip -q -P 'typed pw' ../p.zip words.txt one"), 0);
    const std::string terminal = dir_ + "terminal";
    auto onTerminal = [&](const std::vector<std::pair<std::string, std::string>>& dialogue, const std::string& args) {
        fs::remove(terminal);
        std::string typist = "(";
        for (const auto& [question, answer] : dialogue)
            typist += "for i in $(seq 300); do grep -qF '" + question + "' " + terminal +
                      " 2>/dev/null && break; sleep 0.1; done; printf '" + answer + "\\r'; ";
        typist += ")";
        return Shell(typist + " | timeout 120 script -qec '" + kProgram + " " + args + "' /dev/null >" + terminal +
                     " 2>&1; grep -q . " + terminal);
    };
    ASSERT_EQ(onTerminal({{"words.txt password:", "typed pw"}}, "-d " + out_ + " " + dir_ + "p.zip"), 0);
    EXPECT_EQ(ReadFile(out_ + "words.txt"), ReadFile(src_ + "words.txt"));
    EXPECT_EQ(ReadFile(out_ + "one"), "A");
    const std::string shown = Visible(ReadFile(terminal));
    EXPECT_NE(shown.find("words.txt password: "), std::string::npos) << shown;
    EXPECT_NE(shown.find("] 100%"), std::string::npos) << shown;

    WriteFile(out_ + "words.txt", "kept");
    WriteFile(out_ + "one", "replaced");
    ASSERT_EQ(onTerminal({{"words.txt? [y]es", "n"}, {"one? [y]es", "y"}},
                         "-P \"typed pw\" -d " + out_ + " " + dir_ + "p.zip; echo status=$?"),
              0);
    EXPECT_NE(Visible(ReadFile(terminal)).find("status=1"), std::string::npos) << ReadFile(terminal);
    EXPECT_EQ(ReadFile(out_ + "words.txt"), "kept");
    EXPECT_EQ(ReadFile(out_ + "one"), "A");
}

TEST_F(QuendalUnzip, ExistingFilesAreKeptOrReplacedByTheOverwriteFlags) {
    MakeSources();
    ASSERT_EQ(Shell("cd " + src_ + " && zip -q -r ../a.zip ."), 0);
    fs::create_directories(out_);
    WriteFile(out_ + "one", "old");
    fs::permissions(out_ + "one", fs::perms::owner_read);

    EXPECT_EQ(Unzip("-n -d " + out_ + " " + dir_ + "a.zip"), 1);  // skipped on request
    EXPECT_EQ(ReadFile(out_ + "one"), "old");
    EXPECT_EQ(ReadFile(out_ + "words.txt"), ReadFile(src_ + "words.txt"));

    EXPECT_EQ(Unzip("-d " + out_ + " " + dir_ + "a.zip </dev/null"), 1);  // no terminal to ask: kept
    EXPECT_EQ(ReadFile(out_ + "one"), "old");

    EXPECT_EQ(Unzip("-o -q -d " + out_ + " " + dir_ + "a.zip"), 0);
    EXPECT_EQ(ReadFile(out_ + "one"), "A");
}

// Names may hold control characters that would drive the terminal: they
// are shown escaped, and the files keep their names.
TEST_F(QuendalUnzip, ControlCharactersOfNamesAreShownEscaped) {
    const std::string retitled = "a\x1b]0;owned\x07" "b\rc.txt";  // sets the window title, returns the cursor
    extract_test::Entry forged{"e\x1b[2J.txt", "text"};        // clears the screen
    forged.localName = "other.txt";
    WriteFile(dir_ + "names.zip", extract_test::BuildZip({{retitled, "x"}, forged}));
    // Line ends are the system's: CR LF on Windows.
    auto shownRaw = [](const std::string& text) {
        for (size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            const bool lineEnd = c == '\n' || (kWindowsProgram && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n');
            if (static_cast<unsigned char>(c) < 0x20 && !lineEnd) return true;
        }
        return false;
    };

    EXPECT_EQ(Unzip("-l " + dir_ + "names.zip"), 0);
    EXPECT_NE(Stdout().find("a^[]0;owned^Gb^Mc.txt"), std::string::npos) << Stdout();
    EXPECT_FALSE(shownRaw(Stdout() + Stderr()));

    EXPECT_EQ(Unzip("-d " + out_ + " " + dir_ + "names.zip"), kWindowsProgram ? 2 : 1);
    EXPECT_NE(Stdout().find("extracting: " + out_ + "a^[]0;owned^Gb^Mc.txt"), std::string::npos) << Stdout();
    EXPECT_NE(Stderr().find("warning: e^[[2J.txt: its local header names it other.txt"), std::string::npos) << Stderr();
    EXPECT_FALSE(shownRaw(Stdout() + Stderr()));
    if (kWindowsProgram) {  // control characters are no part of a Windows file name
        EXPECT_NE(Stderr().find("error 25235: Error opening file: " + out_ + "a^[]0;owned^Gb^Mc.txt"), std::string::npos)
            << Stderr();
        EXPECT_FALSE(fs::exists(out_ + retitled));
    } else {
        EXPECT_EQ(ReadFile(out_ + retitled), "x");
    }
}

TEST(PrintableText, EscapesWhatWouldDriveATerminal) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain name.txt", "plain name.txt"},
        {"\xed\x95\x9c\xea\xb8\x80.txt", "\xed\x95\x9c\xea\xb8\x80.txt"},  // Korean letters pass
        {"\x1b[31m\r\t\x7f", "^[[31m^M^I^?"},
        {std::string("nul\0end", 7), "nul^@end"},
        {"csi\xc2\x9b" "2J", "csi\\x9b2J"},     // a C1 control in UTF-8
        {"raw\x9b\xff", "raw\\x9b\\xff"},    // bytes that are no UTF-8
        {"cut\xe2\x82", "cut\\xe2\\x82"},    // a sequence cut short
    };
    for (const auto& [text, shown] : cases) EXPECT_EQ(Printable(text), shown);
}

TEST_F(QuendalUnzip, SplitArchiveWithAMissingVolumeFails) {
    MakeSources();
    ASSERT_EQ(Shell("cd " + src_ + " && zip -q -r -s 64k ../a.zip ."), 0);
    fs::remove(dir_ + "a.z02");
    EXPECT_EQ(Unzip("-q -d " + out_ + " " + dir_ + "a.zip </dev/null"), 2);
    EXPECT_NE(Stderr().find("a.z02) is missing"), std::string::npos) << Stderr();
}

TEST_F(QuendalUnzip, HostileArchivesWriteNothingOutsideTheTarget) {
    fs::create_directories(out_);
    const std::string script = R"PY(
import zipfile, zlib, struct, sys
d = sys.argv[1]
with zipfile.ZipFile(d + 'names.zip', 'w') as z:
    for n in ['../up.txt', '../../up2.txt', 'a/../../up3.txt', '/abs/rooted.txt', '//double.txt',
              'C:\\drive\\d.txt', 'ok.txt']:
        info = zipfile.ZipInfo(n)
        z.writestr(info, 'payload ' + n)
# A bomb: a megabyte of zeros declared as 100 bytes.
data = bytes(1 << 20)
c = zlib.compressobj(9, zlib.DEFLATED, -15)
packed = c.compress(data) + c.flush()
n = b'bomb.bin'
crc = zlib.crc32(data)
loc = struct.pack('<IHHHIIIIHH', 0x04034b50, 20, 0, 8, 0x00210000, crc, len(packed), 100, len(n), 0) + n + packed
cen = struct.pack('<IHHHHIIIIHHHHHII', 0x02014b50, 20, 20, 0, 8, 0x00210000, crc, len(packed), 100, len(n), 0, 0, 0, 0, 0x20, 0) + n
# A second central header whose local offset points back at the directory.
cen2 = struct.pack('<IHHHHIIIIHHHHHII', 0x02014b50, 20, 20, 0, 0, 0x00210000, 0, 4, 4, 4, 0, 0, 0, 0, 0x20, len(loc)) + b'loop'
end = struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 2, 2, len(cen) + len(cen2), len(loc), 0)
open(d + 'bomb.zip', 'wb').write(loc + cen + cen2 + end)
)PY";
    WriteFile(dir_ + "make.py", script);
    ASSERT_EQ(Shell("python3 " + dir_ + "make.py " + dir_), 0);

    EXPECT_EQ(Unzip("-o -q -d " + out_ + " " + dir_ + "names.zip"), 2);
    EXPECT_NE(Stderr().find("error 25245: Invalid file name: " + Shown("../up.txt")), std::string::npos) << Stderr();
    EXPECT_EQ(ReadFile(out_ + "ok.txt"), "payload ok.txt");
    EXPECT_EQ(ReadFile(out_ + "abs/rooted.txt"), "payload /abs/rooted.txt");
    EXPECT_EQ(ReadFile(out_ + "drive/d.txt"), "payload C:\\drive\\d.txt");
    EXPECT_EQ(ReadFile(out_ + "double.txt"), "payload //double.txt");

    EXPECT_EQ(Unzip("-o -q -d " + out_ + " " + dir_ + "bomb.zip"), 2);
    EXPECT_FALSE(fs::exists(out_ + "bomb.bin"));  // it failed its check
    EXPECT_NE(Stderr().find("error 25114: Bad file header: loop"), std::string::npos) << Stderr();
    EXPECT_NE(Stderr().find("error 25151: File fails CRC check: " + out_ + "bomb.bin"), std::string::npos);

    for (const std::string up : {"up.txt", "up2.txt", "up3.txt"}) {
        EXPECT_FALSE(fs::exists(dir_ + up));
        EXPECT_FALSE(fs::exists(fs::path(dir_).parent_path().parent_path() / up));
    }
    EXPECT_FALSE(fs::exists("/abs/rooted.txt"));
}

// Windows opens a device for these names, in any folder and with any
// extension: there they are written with a "_" in front, with a warning.
TEST_F(QuendalUnzip, NamesOfWindowsDevicesAreRenamedThere) {
    const std::string fixture = std::string(QUENDAL_TEST_FIXTURES) + "/names/device-names.zip";
    struct Name {
        std::string stored, windows, data;
    };
    const std::vector<Name> names = {{"sub/AUX", "sub/_AUX", "aux-data\n"},
                                     {"docs/nul.txt", "docs/_nul.txt", "important text\n"},
                                     {"CON", "_CON", "to the console\n"},
                                     {"x/con.txt", "x/_con.txt", "also console\n"},
                                     {"sub/readme.txt", "sub/readme.txt", "ok\n"}};
    EXPECT_EQ(Unzip("-q -d " + out_ + " " + fixture), kWindowsProgram ? 1 : 0) << Stderr();
    for (const Name& name : names) {
        SCOPED_TRACE(name.stored);
        EXPECT_EQ(ReadFile(out_ + (kWindowsProgram ? name.windows : name.stored)), name.data);
        const bool warned = Stderr().find("warning: " + Shown(name.stored) + " names a device: renamed to " + out_ +
                                          Shown(name.windows)) != std::string::npos;
        EXPECT_EQ(warned, kWindowsProgram && name.windows != name.stored) << Stderr();
    }
}

// A link with no target is skipped, and the warning says why.
TEST_F(QuendalUnzip, ALinkWithAnEmptyTargetIsSkippedWithAWarning) {
    EXPECT_EQ(Unzip("-q -d " + out_ + " " + QUENDAL_TEST_FIXTURES + "/links/empty-target.zip"), 1);
    EXPECT_EQ(Stderr(), "quendal-unzip: warning: skipped symbolic link empty (empty target)" +
                            std::string(kWindowsProgram ? "\r\n" : "\n"));
}

TEST_F(QuendalUnzip, LinksInTheTargetLeadNothingOutsideIt) {
    if (kWindowsProgram)
        GTEST_SKIP() << "the links are Unix symbolic links, which Wine shows to a Windows program as plain files "
                        "and folders";
    fs::create_directories(dir_ + "outside");
    fs::create_directories(out_);
    WriteFile(dir_ + "outside/victim", "untouched");
    fs::create_directory_symlink(dir_ + "outside", out_ + "link");
    fs::create_symlink(dir_ + "outside/victim", out_ + "victimlink");
    ASSERT_EQ(Shell("cd " + dir_ + " && python3 -c \"import zipfile\n"
                    "with zipfile.ZipFile('links.zip', 'w') as z:\n"
                    "    for n in ['link/through.txt', 'victimlink', 'ok.txt']: z.writestr(n, 'payload ' + n)\""),
              0);

    EXPECT_EQ(Unzip("-o -q -d " + out_ + " " + dir_ + "links.zip"), 2) << Stderr();
    EXPECT_EQ(ReadFile(out_ + "ok.txt"), "payload ok.txt");
    std::vector<std::string> outside;
    for (const auto& entry : fs::recursive_directory_iterator(dir_ + "outside"))
        outside.push_back(entry.path().filename().string());
    EXPECT_EQ(outside, std::vector<std::string>{"victim"});
    EXPECT_EQ(ReadFile(dir_ + "outside/victim"), "untouched");
}

}  // namespace

