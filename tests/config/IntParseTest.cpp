#include "IntParse.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

TEST(config_IntParse, AcceptsDecimalWithBlanksAndOneSign) {
  const std::vector<std::pair<const char*, int32_t>> cases = {
      {"0", 0},         {"1001", 1001},          {" 1001", 1001},          {"   -5", -5},
      {"+7", 7},        {"0001001", 1001},       {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
      {"70000", 70000}, {"-0", 0},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ParseInt32(text), expected) << '"' << text << '"';
}

TEST(config_IntParse, AcceptsEveryHexIntroducerAndWrapsToTwosComplement) {
  const std::vector<std::pair<const char*, int32_t>> cases = {
      {"$3E9", 1001},        {"$3e9", 1001},       {"x3E9", 1001},        {"X3E9", 1001},
      {"0x3E9", 1001},       {"0X3e9", 1001},      {" -$10", -16},        {"+$10", 16},
      {"$7FFFFFFF", INT32_MAX}, {"$80000000", INT32_MIN}, {"$FFFFFFFF", -1}, {"$00000001", 1},
      {"-$80000000", INT32_MIN},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ParseInt32(text), expected) << '"' << text << '"';
}

TEST(config_IntParse, RejectsMalformedText) {
  const std::vector<const char*> cases = {
      "",     " ",    "abc",   "1001 ", "10a",  "+-5", "--5", "- 5",       "+",           "-",
      "$",    "0x",   "x",     "$G",    "0x-1", "$1 ", "\t5", "$123456789", "2147483648", "-2147483649",
      "1e3",  "1.0",  "99999999999999999999",
  };
  for (const char* text : cases) EXPECT_FALSE(ParseInt32(text).has_value()) << '"' << text << '"';
}

TEST(config_IntParse, StrToIntDefGivesTheFallbackOnlyOnFailure) {
  EXPECT_EQ(StrToIntDef("abc", 42), 42);
  EXPECT_EQ(StrToIntDef("0", 42), 0);
}
