#include "TextDecode.h"

#include <gtest/gtest.h>

TEST(CellDisplay, ValidUtf8IsShownAsUtf8) {
  EXPECT_EQ(DecodeCellText("\xc5\x81\xc3\xb3\x64\xc5\xba"), QString::fromUtf8("Łódź"));
  EXPECT_EQ(DecodeCellText("plain"), "plain");
}

TEST(CellDisplay, OtherBytesAreShownAsWindows1250) {
  EXPECT_EQ(DecodeCellText("\xa3\xf3\x64\x9f"), QString::fromUtf8("Łódź"));
  EXPECT_EQ(DecodeCellText("\x8c\x9c\xa5\xb9\xca\xea\xaf\xbf"), QString::fromUtf8("ŚśĄąĘęŻż"));
  EXPECT_EQ(DecodeCellText("\x80"), QString::fromUtf8("€"));
}

TEST(CellDisplay, UndefinedCodesShowAReplacementCharacter) {
  EXPECT_EQ(DecodeWindows1250("\x81"), QString(QChar(0xFFFD)));
}
