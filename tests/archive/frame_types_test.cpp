#include <gtest/gtest.h>

#include <string>

#include "archive/format/archive_types.h"
#include "archive/format/error_codes.h"

namespace {

TEST(ArcType, DisplayNamesInOrder) {
    const char* const expected[] = {
        "Not avail. ", "Unsupport.", "File Error", "Unknown   ", "ACE       ", "ACE SFX   ",
        "ARC       ", "ARC SFX   ", "ARJ       ", "ARJ SFX   ", "BH        ", "BH  SFX   ",
        "CAB       ", "CAB SFX   ", "GZip      ", "HA        ", "Java JAR  ", "JJAR SFX  ",
        "LHA       ", "LHA SFX   ", "LZH       ", "LZH SFX   ", "MsGZ     \t", "PAK       ",
        "PAK SFX   ", "RAR       ", "RAR SFX   ", "TAR       ", "TarGzip   ", "UUE       ",
        "ZIP       ", "ZIP SFX   ", "Zip Span  ", "Zip MVol  ", "ZOO       ",
    };
    ASSERT_EQ(std::size(expected), static_cast<size_t>(kArcTypeCount));
    for (int i = 0; i < kArcTypeCount; ++i) {
        const auto type = static_cast<TArcType>(i);
        EXPECT_EQ(std::string(ArcTypeName(type)), expected[i]) << i;
        EXPECT_EQ(ArcTypeName(type).size(), type == atNA ? 11u : 10u) << i;
    }
    EXPECT_EQ(atZip, 30);
    EXPECT_EQ(atZoo, 34);
    EXPECT_EQ(ArcTypeName(atMsGZ).back(), '\t');
}

TEST(ArcType, RecognisedAndZipFamilyGroups) {
    for (int i = 0; i < kArcTypeCount; ++i) {
        const auto type = static_cast<TArcType>(i);
        EXPECT_EQ(IsRecognised(type), i >= 4) << i;
        const bool zipFamily = type == atBh || type == atBhExe || type == atJar || type == atJarExe ||
                               type == atZip || type == atZipExe || type == atZipDS || type == atZipMV;
        EXPECT_EQ(IsZipFamily(type), zipFamily) << i;
    }
}

TEST(HeaderTypeState, IsOneByteWithABitPerMember) {
    EXPECT_EQ(THeaderTypeState{htLocal}.Bits(), 1);
    EXPECT_EQ(THeaderTypeState{htCentral}.Bits(), 2);
    EXPECT_EQ(THeaderTypeState{htEnding}.Bits(), 4);
    EXPECT_EQ(THeaderTypeState{htLocator}.Bits(), 8);
    EXPECT_EQ(THeaderTypeState{htEnding64}.Bits(), 16);
    EXPECT_EQ(THeaderTypeState{htNone}.Bits(), 32);

    THeaderTypeState state{htLocal, htCentral, htEnding};
    EXPECT_EQ(state.Bits(), 7);
    EXPECT_TRUE(state.Contains(htCentral));
    EXPECT_FALSE(state.Contains(htLocator));
    state.Exclude(htCentral);
    EXPECT_EQ(state, (THeaderTypeState{htLocal, htEnding}));
    EXPECT_NE(state, THeaderTypeState{htLocal});
    EXPECT_EQ(THeaderTypeState::FromBits(5), state);
    EXPECT_TRUE(THeaderTypeState{}.Empty());
}

TEST(ErrorMessages, TextsAsTheComponentsShowThem) {
    struct Case {
        int32_t code;
        const char* text;
    } cases[] = {
        {25101, "64 bit hearder"},
        {25114, "Bad file header"},
        {25136, "Error writing to file"},
        {25155, "Disks contains neither label nor serial numbers to compare"},
        {25160, "Disk full"},
        {25170, "is not accessible"},
        {25172, "EOF not found"},
        {25179, "EOF not found"},
        {25235, "Error opening file"},
        {25249, "Inconsistant local header"},
        {25270, "Required event not assigned"},
        {25281, "Open paran, but no close paran"},
        {25443, "User canceled"},
        {26000, "All_files (*.*)|*.*"},
        {26001, "ALL Archives |*.ace;*.arc;*.arj;*.bh;*.cab;*.enc;*.exe;*.gz;*.ha;*.jar;*.lha;*.lzh;*.mbf;"
                "*.mim;*.pak;*.pk3;*.pk_;*.rar;*.tar;*.tgz;*.uue;*.war;*.xxe;*.z;*.zip;*.zlib;*.zoo"},
        {26517, "Invalid password"},
        {26899, "Directory does not exist... Create?"},
    };
    for (const Case& c : cases) EXPECT_EQ(ErrorMessage(c.code), c.text) << c.code;
    for (int32_t missing : {0, 25100, 25105, 25444, 26900}) EXPECT_EQ(ErrorMessage(missing), "") << missing;
}

}  // namespace
