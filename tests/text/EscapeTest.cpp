// Each escape rule on the bytes that tell the rules apart: controls, 127, a byte above 127, the
// quote, the backslash and the characters a file name may not hold.

#include "Escape.h"

#include <gtest/gtest.h>

#include <string>

namespace {
const std::string kSample = "a\"\\\t\x01\x7F\xC5\x82:/%";
}  // namespace

TEST(Escape, EachStyleEscapesItsOwnBytesAndLeavesTheOthers) {
  const struct {
    TEscape Style;
    const char* Expected;
  } cases[] = {
      {TEscape::HexOutsidePrintable, "a\"\\\\x09\\x01\\x7F\\xC5\\x82:/%"},
      {TEscape::HexControls, "a\"\\\\x09\\x01\\x7F\xC5\x82:/%"},
      {TEscape::C, "a\"\\\\\\t\\001\\177\\305\\202:/%"},
      {TEscape::Json, "a\\\"\\\\\\u0009\\u0001\x7F\xC5\x82:/%"},
      {TEscape::Percent, "a%22%5C%09%01%7F%C5%82%3A%2F%25"},
  };
  for (const auto& c : cases) EXPECT_EQ(Escaped(kSample, c.Style), c.Expected) << static_cast<int>(c.Style);
  EXPECT_EQ(Escaped("", TEscape::C), "");
  EXPECT_EQ(Escaped(std::string("\0" "8" "\0" "7", 4), TEscape::C), "\\08\\0007") << "only an octal digit reads on";
}

TEST(Escape, APrefixStopsBeforeTheFirstEscapeThatDoesNotFitWhole) {
  EXPECT_EQ(EscapedPrefix("abc", TEscape::HexOutsidePrintable, 3).Text, "abc");
  EXPECT_TRUE(EscapedPrefix("abc", TEscape::HexOutsidePrintable, 3).Whole);
  const TEscapedPrefix cut = EscapedPrefix("ab\x01z", TEscape::HexOutsidePrintable, 5);
  EXPECT_EQ(cut.Text, "ab");
  EXPECT_FALSE(cut.Whole);
  EXPECT_EQ(EscapedPrefix("ab\x01z", TEscape::HexOutsidePrintable, 6).Text, "ab\\x01");
  EXPECT_FALSE(EscapedPrefix("ab\x01z", TEscape::HexOutsidePrintable, 6).Whole);
  EXPECT_TRUE(EscapedPrefix("", TEscape::Json, 0).Whole);
}
