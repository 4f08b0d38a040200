#include "platform/oem_text.h"

#include <gtest/gtest.h>

namespace {

TEST(OemText, ConvertsTheOemCodePageToUtf8) {
    // "한국어.txt" as the default OEM code page (949) stores it.
    EXPECT_EQ(platform::OemToUtf8("\xC7\xD1\xB1\xB9\xBE\xEE.txt"), "한국어.txt");
    EXPECT_EQ(platform::OemToUtf8("plain/name.TXT"), "plain/name.TXT");
    EXPECT_EQ(platform::OemToUtf8(""), "");
}

TEST(OemText, BytesOutsideTheCodePageStayRecognisableAndDistinct) {
    // 0xFF is no lead byte and a lead byte at the end has no partner.
    EXPECT_EQ(platform::OemToUtf8("a\xFF" "b"), "a\uFFFD" "FFb");
    EXPECT_EQ(platform::OemToUtf8("\xC7\xD1\xC7"), "한\uFFFD" "C7");
    // Names that differ only in undecodable bytes never become one name.
    EXPECT_NE(platform::OemToUtf8("x\xFF.txt"), platform::OemToUtf8("x\xFE.txt"));
    EXPECT_NE(platform::OemToUtf8("x\xFF.txt"), platform::OemToUtf8("x?.txt"));
}

}  // namespace
