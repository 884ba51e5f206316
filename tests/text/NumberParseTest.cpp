// The number rule of every tool option and target: digits only, the whole text, within the range.

#include "NumberParse.h"

#include <gtest/gtest.h>

#include <string>

TEST(NumberParse, TakesTheWholeTextAsDigitsWithinTheRangeAndNothingElse) {
  const struct {
    const char* Text;
    std::optional<int> Expected;
  } cases[] = {
      {"0", 0}, {"007", 7}, {"65535", 65535}, {"65536", std::nullopt}, {"", std::nullopt}, {"-0", std::nullopt},
      {"+1", std::nullopt}, {" 1", std::nullopt}, {"1 ", std::nullopt}, {"1e3", std::nullopt},
      {"0x10", std::nullopt}, {"1.0", std::nullopt}, {"99999999999999999999999", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseWholeNumber(c.Text, 0, 65535), c.Expected) << '\'' << c.Text << '\'';
  EXPECT_EQ(ParseWholeNumber("0", 1, 10), std::nullopt) << "below the range";
}

TEST(NumberParse, AFractionHasOneDotAndDigitsOnEitherSide) {
  const struct {
    const char* Text;
    std::optional<double> Expected;
  } cases[] = {
      {"0.25", 0.25}, {"5.", 5.0}, {".5", 0.5}, {"86400", 86400.0}, {"86400.001", std::nullopt},
      {".", std::nullopt}, {"1.2.3", std::nullopt}, {"1e2", std::nullopt}, {"-1.5", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParseNumber(c.Text, 0, 86400, TFraction::Allowed), c.Expected) << '\'' << c.Text << '\'';
  EXPECT_EQ(ParseNumber("0.25", 0, 1), std::nullopt) << "a whole number has no fraction";
}
