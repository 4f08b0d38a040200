#include "archive/frame/unzip.h"

#include "archive/detection_test_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

namespace {

using detection_test::Python;
using detection_test::Report;
using detection_test::ReadBytes;
using detection_test::Shell;
using detection_test::TempFolder;
using detection_test::WriteBytes;

class ZipDirectory : public detection_test::ReportingTest {
protected:
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const TUnBaseHeader& entry : unzip.ListEntries()) names.push_back(entry.Name);
        return names;
    }
    int Craft(const std::string& script) { return Python(folder, script); }

    TempFolder folder;
};

TEST_F(ZipDirectory, AssigningTheArchiveDetectsItAndTheListingShowsEveryField) {
    WriteBytes(folder / "a.txt", std::string(2000, 'a'));
    WriteBytes(folder / "b.bin", "bravo");
    ASSERT_EQ(Shell("cd '" + folder.Path() + "' && mkdir d && zip -q -X fields.zip a.txt b.bin d && chmod 640 b.bin"), 0);
    unzip.SetArchiveFile(folder / "fields.zip");
    EXPECT_EQ(unzip.ArcType(), atZip);
    EXPECT_EQ(unzip.HeaderState(), (THeaderTypeState{htLocal, htCentral, htEnding}));
    const std::string archive = ReadBytes(folder / "fields.zip");
    EXPECT_EQ(unzip.ArchiveOffset(), detection_test::StoredDirectoryOffset(archive));
    EXPECT_EQ(std::string(unzip.EndRecordArea().begin(), unzip.EndRecordArea().end()), archive.substr(archive.size() - 22));
    EXPECT_EQ(std::string(unzip.LocalHeaderArea().begin(), unzip.LocalHeaderArea().end()), archive.substr(0, 30));

    // What Python's zipfile reads from the same directory.
    ASSERT_EQ(Craft("with open('expected.txt', 'w') as out:\n"
                    "  for i in zipfile.ZipFile('fields.zip').infolist():\n"
                    "    d = i.date_time\n"
                    "    dos = ((d[0] - 1980) << 25) | (d[1] << 21) | (d[2] << 16) | (d[3] << 11) | (d[4] << 5) | (d[5] // 2)\n"
                    "    out.write('%s %d %d %d %d %08x %08x %08x\\n' % (i.filename, i.compress_size, i.file_size,\n"
                    "              i.compress_type, i.flag_bits, i.CRC, dos, i.external_attr))\n"),
              0);
    std::ostringstream listed;
    for (const TUnBaseHeader& e : unzip.ListEntries()) {
        char line[200];
        std::snprintf(line, sizeof line, "%s %llu %llu %u %u %08x %08x %08x\n", e.Name.c_str(),
                      static_cast<unsigned long long>(e.PackedSize), static_cast<unsigned long long>(e.UnpackedSize),
                      e.Method, e.Flags, e.Crc32, e.DosDateTime, e.Record.Attributes);
        listed << line;
    }
    EXPECT_EQ(listed.str(), ReadBytes(folder / "expected.txt"));
    EXPECT_TRUE(reports.empty());
}

TEST_F(ZipDirectory, SelectionDecidesTheListAndTheTotals) {
    ASSERT_EQ(Craft("write('t.zip', build([Entry('old.txt', b'x' * 10, when=dos(1999, 12, 31, 23, 59, 58)),"
                    " Entry('new.txt', b'y' * 20, when=dos(2001, 5, 1, 8, 0, 0)),"
                    " Entry('secret.bin', b'z' * 40, flags=1, when=dos(2000, 1, 1))]))\n"),
              0);
    unzip.SetArchiveFile(folder / "t.zip");
    EXPECT_EQ(Names(), (std::vector<std::string>{"old.txt", "new.txt", "secret.bin"}));
    EXPECT_EQ(unzip.NewestDate(), (((2001u - 1980) << 9 | 5 << 5 | 1) << 16) | (8 << 11));
    EXPECT_EQ(unzip.UnpackedTotal(), 70u);
    EXPECT_EQ(unzip.PackedTotal(), 70u - 12);  // the enciphered entry's header does not count

    unzip.SetFileSpec({"*.txt"});
    EXPECT_EQ(Names(), (std::vector<std::string>{"old.txt", "new.txt"}));
    EXPECT_EQ(unzip.UnpackedTotal(), 30u);
    unzip.SetFileSpec({"old*"});
    EXPECT_EQ(Names(), (std::vector<std::string>{"old.txt"}));
    EXPECT_EQ(unzip.NewestDate(), (((1999u - 1980) << 9 | 12 << 5 | 31) << 16) | (23 << 11 | 59 << 5 | 29));
}

TEST_F(ZipDirectory, MissingLocalHeadersAreReportedOneByOne) {
    ASSERT_EQ(Craft("write('bad.zip', build([Entry('good.txt', b'g'), Entry('lost.txt', b'l', local_offset=5000),"
                    " Entry('self.txt', b's', local_offset=70), Entry('last.txt', b'z')]))\n"
                    "z = zipfile.ZipFile('plain.zip', 'w')\nz.writestr('one', '1')\nz.writestr('two', '2')\nz.close()\n"
                    "write('shifted.zip', bytes(300) + open('plain.zip', 'rb').read())\n"),
              0);
    unzip.SetArchiveFile(folder / "bad.zip");
    EXPECT_EQ(Names(), (std::vector<std::string>{"good.txt", "last.txt"}));
    EXPECT_EQ(reports, (std::vector<Report>{{"lost.txt", "", "0", 25114}, {"self.txt", "", "0", 25114}}));

    // Bytes put in front without adjusting the offsets move every local header alike.
    reports.clear();
    unzip.SetArchiveFile(folder / "shifted.zip");
    EXPECT_EQ(unzip.ArcType(), atZip);
    EXPECT_EQ(unzip.OffsetAdjust(), 300);
    EXPECT_EQ(Names(), (std::vector<std::string>{"one", "two"}));
    EXPECT_TRUE(reports.empty());
}

TEST_F(ZipDirectory, WithoutADirectoryOnCorruptZipHeaderDecidesOnTheLocalWalk) {
    ASSERT_EQ(Craft("z = zipfile.ZipFile('long.zip', 'w')\nz.writestr('one.txt', 'one')\nz.writestr('two.txt', 'two')\n"
                    "z.close()\nwrite('long.zip', open('long.zip', 'rb').read()[:-22])\n"),
              0);
    unzip.SetArchiveFile(folder / "long.zip");
    ASSERT_EQ(unzip.HeaderState(), THeaderTypeState{htLocal});
    EXPECT_EQ(Names(), (std::vector<std::string>{"one.txt", "two.txt"}));

    std::vector<THeaderTypeState> asked;
    unzip.OnCorruptZipHeader = [&](TObject* sender, THeaderTypeState state, bool&) {
        EXPECT_EQ(sender, &unzip);
        asked.push_back(state);
    };
    EXPECT_TRUE(Names().empty());
    EXPECT_EQ(asked, std::vector<THeaderTypeState>{THeaderTypeState{htLocal}});
    unzip.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
    EXPECT_EQ(Names(), (std::vector<std::string>{"one.txt", "two.txt"}));
}

TEST_F(ZipDirectory, LongNamesAreKeptWholeAndTheExtraFieldAfterThemIsRead) {
    const std::string longName(300, 'n');
    ASSERT_EQ(Craft("write('long.zip', build([Entry(b'n' * 300, b'data', zip64_offset=True,"
                    " central_extra=extra(0x0064, struct.pack('<HHH', 0, 1, 0))), Entry('after.txt', b'a')]))\n"),
              0);
    unzip.SetArchiveFile(folder / "long.zip");
    const TUnBaseHeaderObj entries = unzip.ListEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Name, longName);
    EXPECT_EQ(entries[0].Record.LocalPosition, 0);             // from the zip64 block
    EXPECT_EQ(entries[0].UnpackedSize, (uint64_t{1} << 32) | 4);  // high word from the 0x0064 block
    EXPECT_EQ(entries[1].Name, "after.txt");
    EXPECT_TRUE(reports.empty());
}

TEST_F(ZipDirectory, KoreanNamesWithAndWithoutTheUtf8Flag) {
    ASSERT_EQ(Craft("name = '한국어/문서.txt'\n"
                    "write('k.zip', build([Entry(name.encode('cp949'), b'1'), Entry(name.encode('utf-8'), b'2', flags=0x800)]))\n"
                    "z = zipfile.ZipFile('py.zip', 'w')\nz.writestr(name, 'x')\nz.close()\n"),
              0);
    unzip.SetArchiveFile(folder / "k.zip");
    EXPECT_EQ(Names(), (std::vector<std::string>{"한국어/문서.txt", "한국어/문서.txt"}));
    unzip.SetTranslateOemChar(false);
    EXPECT_EQ(Names(), (std::vector<std::string>{"\xC7\xD1\xB1\xB9\xBE\xEE/\xB9\xAE\xBC\xAD.txt", "한국어/문서.txt"}));
    unzip.SetTranslateOemChar(true);
    unzip.SetArchiveFile(folder / "py.zip");
    EXPECT_EQ(Names(), (std::vector<std::string>{"한국어/문서.txt"}));
}

TEST_F(ZipDirectory, BackslashesInStoredNamesBecomeTheNativeSeparator) {
    ASSERT_EQ(Craft("write('w.zip', build([Entry(b'dir\\\\sub\\\\file.txt', b'1')]))\n"), 0);
    unzip.SetArchiveFile(folder / "w.zip");
    EXPECT_EQ(Names(), (std::vector<std::string>{"dir/sub/file.txt"}));
}

// Lying headers end the walks early or give errors; they never crash, hang or
// list entries that are not there. A directory found where its stored offset
// points is read even when the sizes around it lie.
TEST_F(ZipDirectory, LyingHeadersNeverCrashOrLoop) {
    struct Case {
        const char* name;
        const char* script;  // writes case.zip
        size_t listed;
    };
    const Case cases[] = {
        {"directory size beyond the file",
         "d = bytearray(build([Entry('a', b'1')]))\nd[-10:-6] = struct.pack('<I', 0x7FFFFFFF)\nwrite('case.zip', d)\n", 1},
        {"name length running past the end",
         "d = bytearray(build([Entry('a', b'1')]))\ni = d.rfind(b'PK\\x01\\x02')\n"
         "d[i+28:i+30] = struct.pack('<H', 0xFFFF)\nwrite('case.zip', d)\n", 1},
        {"extra length running past the end",
         "d = bytearray(build([Entry('a', b'1')]))\ni = d.rfind(b'PK\\x01\\x02')\n"
         "d[i+30:i+32] = struct.pack('<H', 0xFFFF)\nwrite('case.zip', d)\n", 1},
        {"extra block longer than its field",
         "write('case.zip', build([Entry('a', b'1', central_extra=struct.pack('<HH', 1, 500) + b'\\xff' * 8)]))\n", 1},
        {"zip64 locator pointing outside the file",
         "d = bytearray(build([Entry('a', b'1')], zip64=True))\ni = d.rfind(b'PK\\x06\\x07')\n"
         "d[i+8:i+16] = struct.pack('<Q', 2**63 - 1)\nwrite('case.zip', d)\n", 1},
        {"zip64 directory size larger than its position",
         "d = bytearray(build([Entry('a', b'1')], zip64=True))\ni = d.rfind(b'PK\\x06\\x06')\n"
         "d[i+40:i+48] = struct.pack('<Q', 2**64 - 1)\nwrite('case.zip', d)\n", 1},
        {"wide end record positions beyond the file",
         "d = bytearray(build([Entry('a', b'1')], end26=True))\nd[-10:-2] = struct.pack('<Q', 2**64 - 1)\n"
         "write('case.zip', d)\n", 1},
        {"local walk with a huge compressed size",
         "d = bytearray(build([Entry('a', b'1'), Entry('b', b'2')])[:-22])\n"
         "d[18:22] = struct.pack('<I', 0xFFFFFFFF)\nwrite('case.zip', d)\n", 1},
        {"a scrambled directory is not read: the plain local headers are walked instead",
         "write('case.zip', build([Entry('a', b'1')], central_signature=b'PL\\x01\\x02'))\n", 1},
        {"a local walk over scrambled local headers",
         "d = bytearray(build([Entry('a', b'1')])[:-22])\nd[1:2] = b'N'\nwrite('case.zip', d)\n", 0},
        {"disk numbers asking for 65535 rounds",
         "write('case.zip', build([Entry('a', b'1')], this_disk=0xFFFE))\n", 1},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Craft(c.script), 0) << c.name;
        unzip.SetArchiveFile(folder / "case.zip");
        EXPECT_EQ(unzip.ListEntries().size(), c.listed) << c.name;
    }
}

TEST_F(ZipDirectory, TheRunTotalsOfAZip64ArchiveFromPython) {
    ASSERT_EQ(Craft("z = zipfile.ZipFile('big.zip', 'w')\n"
                    "with z.open('huge.bin', 'w', force_zip64=True) as f: f.write(b'q' * 1000)\nz.close()\n"),
              0);
    unzip.SetArchiveFile(folder / "big.zip");
    const TUnBaseHeaderObj entries = unzip.ListEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].UnpackedSize, 1000u);
    EXPECT_EQ(unzip.UnpackedTotal(), 1000u);
}

// Through the real walk: the header copy the extraction loop restores is the
// header as it stands in the file, and the raw name is the stored one, for
// the entries whose packed form differs most from that header.
TEST_F(ZipDirectory, TheEntryListKeepsEachCentralHeaderAsStored) {
    ASSERT_EQ(Craft(
                  "entries = [Entry(b'n' * 65535, b'long'), Entry(b'caf\\x82.txt', b'oem'),\n"
                  "           Entry(b'cut\\x00tail', b'cut'), Entry(b'high', b'h', zip64_offset=True, attributes=0x81ED0000,\n"
                  "                 central_extra=extra(0x0064, struct.pack('<HHH', 0, 1, 0)))]\n"
                  "data = build(entries, prepend=b'junk' * 25)\n"
                  "write('a.zip', data)\n"
                  "end = data.rfind(b'PK\\x05\\x06')\n"
                  "at = 100 + struct.unpack('<I', data[end + 16:end + 20])[0]\n"
                  "headers = b''\n"
                  "for _ in entries:\n"
                  "    headers += data[at:at + 46]\n"
                  "    at += 46 + sum(struct.unpack('<HHH', data[at + 28:at + 34]))\n"
                  "write('headers.bin', headers)\n"),
              0);
    unzip.SetFileSpec({"*"});
    unzip.SetArchiveFile(folder / "a.zip");
    ASSERT_EQ(unzip.OffsetAdjust(), 100);
    const std::string headers = ReadBytes(folder / "headers.bin");
    const TUnBaseHeaderObj entries = unzip.ListEntries();
    ASSERT_EQ(entries.size() * TZipCentralHeader::kSize, headers.size());
    const std::vector<std::string> rawNames = {std::string(65535, 'n'), "caf\x82.txt", "cut", "high"};
    size_t index = 0;
    for (const TUnBaseHeader& entry : entries) {
        SCOPED_TRACE(index);
        ASSERT_TRUE(entry.CentralCopy);
        EXPECT_EQ(std::string(entry.CentralCopy->begin(), entry.CentralCopy->end()),
                  headers.substr(index * TZipCentralHeader::kSize, TZipCentralHeader::kSize));
        EXPECT_EQ(entry.RawName, rawNames[index]);
        ++index;
    }
    EXPECT_NE(entries[1].Name, entries[1].RawName);  // translated from the OEM code page
    EXPECT_EQ(entries[3].UnpackedSize, (uint64_t{1} << 32) | 1);
}

}  // namespace
