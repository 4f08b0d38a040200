#include "archive/reader/unbase_header_obj.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

std::array<uint8_t, TZipCentralHeader::kSize> CentralBytes(const TZipCentralHeader& header) {
    std::array<uint8_t, TZipCentralHeader::kSize> bytes{};
    header.Store(bytes.data());
    return bytes;
}

// A central header as the walk finds it beside the entry's facts.
TZipCentralHeader CentralOf(const TUnBaseHeader& entry) {
    TZipCentralHeader h;
    h.signature = kCentralSignature;
    h.versionMadeBy = 0x031E;
    h.versionNeeded = 20;
    h.flags = entry.Flags;
    h.method = entry.Method;
    h.dosDateTime = entry.DosDateTime;
    h.crc32 = entry.Crc32;
    h.compressedSize = static_cast<uint32_t>(entry.PackedSize);
    h.uncompressedSize = static_cast<uint32_t>(entry.UnpackedSize);
    h.nameLength = static_cast<uint16_t>(entry.RawName.size());
    h.extraLength = 24;
    h.commentLength = 3;
    h.diskNumberStart = static_cast<uint16_t>(entry.Record.Disk - 1);
    h.internalAttributes = 1;
    h.externalAttributes = entry.Record.Attributes;
    h.localHeaderOffset = static_cast<uint32_t>(entry.Record.LocalPosition);
    return h;
}

TUnBaseHeader CentralEntry(const std::string& name) {
    TUnBaseHeader e;
    e.Record = {0x81A40000, 1, 1234};
    e.Name = e.RawName = name;
    e.Flags = 0x0808;
    e.Method = 8;
    e.Crc32 = 0xDEADBEEF;
    e.DosDateTime = 0x5A2B6C3D;
    e.ModificationTime = platform::UtcFileTime{1700000000, 123456700};
    e.PackedSize = 70;
    e.UnpackedSize = 100;
    e.CentralCopy = CentralBytes(CentralOf(e));
    return e;
}

// Every case the packed form must give back exactly, each at a boundary of
// its encoding.
std::vector<TUnBaseHeader> Cases() {
    std::vector<TUnBaseHeader> cases;
    cases.push_back(CentralEntry("plain.txt"));
    cases.push_back(CentralEntry(""));                          // a name of no bytes
    cases.push_back(CentralEntry(std::string(65535, 'n')));     // the longest stored name
    TUnBaseHeader oem = CentralEntry("caf\xC3\xA9.txt");
    oem.RawName = "caf\x82.txt";  // translated from the OEM code page
    oem.CentralCopy = CentralBytes(CentralOf(oem));
    cases.push_back(oem);
    TUnBaseHeader cut = CentralEntry("cut");
    TZipCentralHeader cutHeader = CentralOf(cut);
    cutHeader.nameLength = 8;  // the stored name went on past a zero byte
    cut.CentralCopy = CentralBytes(cutHeader);
    cases.push_back(cut);
    TUnBaseHeader zip64 = CentralEntry("zip64.bin");
    zip64.PackedSize = (uint64_t{7} << 32) | 5;
    zip64.UnpackedSize = std::numeric_limits<uint64_t>::max();
    zip64.Record.LocalPosition = (int64_t{1} << 40) + 9;
    TZipCentralHeader zip64Header = CentralOf(zip64);
    zip64Header.compressedSize = zip64Header.uncompressedSize = zip64Header.localHeaderOffset = kZip64Deferred;
    zip64.CentralCopy = CentralBytes(zip64Header);
    cases.push_back(zip64);
    TUnBaseHeader shifted = CentralEntry("shifted");  // bytes missing before the archive
    TZipCentralHeader shiftedHeader = CentralOf(shifted);
    shifted.Record.LocalPosition = -40;
    shifted.CentralCopy = CentralBytes(shiftedHeader);
    cases.push_back(shifted);
    TUnBaseHeader lastDisk = CentralEntry("disk");
    lastDisk.Record.Disk = 0;  // disk 0xFFFF, plus one
    lastDisk.CentralCopy = CentralBytes(CentralOf(lastDisk));
    cases.push_back(lastDisk);
    TUnBaseHeader marked = CentralEntry("marked");
    TZipCentralHeader markedHeader = CentralOf(marked);
    markedHeader.signature = 0x02014D50;  // "PM"
    marked.CentralCopy = CentralBytes(markedHeader);
    cases.push_back(marked);
    TUnBaseHeader disagreeing = CentralEntry("disagreeing");
    disagreeing.Crc32 = 1;  // from a data descriptor, not the header
    cases.push_back(disagreeing);
    TUnBaseHeader early = CentralEntry("early");
    early.ModificationTime = platform::UtcFileTime{std::numeric_limits<int64_t>::min(), 999999999};
    early.CentralCopy = CentralBytes(CentralOf(early));
    cases.push_back(early);
    TUnBaseHeader local;  // from the local walk: no raw name, no header copy, no time
    local.Record = {0, 1, 0};
    local.Name = "local.txt";
    local.Crc32 = 0xFFFFFFFF;
    local.DosDateTime = 0xFFFFFFFF;
    local.Flags = 0xFFFF;
    local.Method = 0xFFFF;
    cases.push_back(local);
    return cases;
}

void ExpectSame(const TUnBaseHeader& got, const TUnBaseHeader& want, size_t index) {
    SCOPED_TRACE("entry " + std::to_string(index) + " " + want.Name.substr(0, 20));
    EXPECT_EQ(got.Record.Attributes, want.Record.Attributes);
    EXPECT_EQ(got.Record.Disk, want.Record.Disk);
    EXPECT_EQ(got.Record.LocalPosition, want.Record.LocalPosition);
    EXPECT_EQ(got.CentralCopy, want.CentralCopy);
    EXPECT_EQ(got.Name, want.Name);
    EXPECT_EQ(got.RawName, want.RawName);
    EXPECT_EQ(got.Flags, want.Flags);
    EXPECT_EQ(got.Method, want.Method);
    EXPECT_EQ(got.Crc32, want.Crc32);
    EXPECT_EQ(got.DosDateTime, want.DosDateTime);
    ASSERT_EQ(got.ModificationTime.has_value(), want.ModificationTime.has_value());
    if (want.ModificationTime) {
        EXPECT_EQ(got.ModificationTime->seconds, want.ModificationTime->seconds);
        EXPECT_EQ(got.ModificationTime->nanoseconds, want.ModificationTime->nanoseconds);
    }
    EXPECT_EQ(got.PackedSize, want.PackedSize);
    EXPECT_EQ(got.UnpackedSize, want.UnpackedSize);
}

// Many rounds of the cases fill several blocks (the long names each need
// one of their own) and pass many index marks; every entry reads back the
// same in order, by index and after the list is moved.
TEST(EntryList, GivesBackEveryEntryExactlyInOrderAndByIndex) {
    const std::vector<TUnBaseHeader> cases = Cases();
    std::vector<TUnBaseHeader> added;
    TUnBaseHeaderObj list;
    list.Reserve(5);  // fewer than will come
    for (int round = 0; round < 40; ++round) {
        for (TUnBaseHeader entry : cases) {
            entry.Record.LocalPosition += round;  // the header copy keeps its offset
            list.Add(entry);
            added.push_back(entry);
        }
    }
    const TUnBaseHeaderObj moved = std::move(list);
    ASSERT_EQ(moved.Count(), static_cast<int>(added.size()));
    EXPECT_TRUE(list.empty());
    size_t index = 0;
    for (const TUnBaseHeader& entry : moved) {
        ExpectSame(entry, added[index], index);
        ++index;
    }
    EXPECT_EQ(index, added.size());
    for (size_t i = added.size(); i-- > 0;) ExpectSame(moved[static_cast<int>(i)], added[i], i);
}

TEST(EntryList, AnEmptyListHasNothingToRead) {
    const TUnBaseHeaderObj list;
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(list.begin() == list.end());
}

}  // namespace
