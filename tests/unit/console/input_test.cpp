#include "console/input.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

namespace sondrel {
namespace {

TEST(ConsoleInput, IntegersFollowScanfPercentI) {
  EXPECT_EQ(ParseInt("42"), 42);
  EXPECT_EQ(ParseInt("-7"), -7);
  EXPECT_EQ(ParseInt("0x1F"), 31);
  EXPECT_EQ(ParseInt("010"), 8);
  EXPECT_EQ(ParseInt("12abc"), 12);
  EXPECT_EQ(ParseInt("abc"), 0);
  EXPECT_EQ(ParseInt(""), 0);
  EXPECT_EQ(ParseInt("99999999999999999999"), INT_MAX);
  EXPECT_EQ(ParseInt("-99999999999999999999"), INT_MIN);
}

TEST(ConsoleInput, DecimalsFollowScanfPercentF) {
  EXPECT_FLOAT_EQ(ParseFloat("2.5"), 2.5f);
  EXPECT_FLOAT_EQ(ParseFloat("1e3"), 1000.0f);
  EXPECT_FLOAT_EQ(ParseFloat("-0.25s"), -0.25f);
  EXPECT_FLOAT_EQ(ParseFloat("x"), 0.0f);
}

TEST(ConsoleInput, WordsAreBoundedAndEndOfInputIsReported) {
  FILE* in = std::tmpfile();
  ASSERT_NE(in, nullptr);
  std::fputs(("  first\n\t" + std::string(600, 'w') + "tail next").c_str(), in);
  std::rewind(in);
  WordBuffer word{};
  ReadWordFrom(in, word);
  EXPECT_EQ(WordOf(word), "first");
  // An overlong word keeps its first 511 characters; its tail is dropped
  // rather than read as the next word.
  ReadWordFrom(in, word);
  EXPECT_EQ(WordOf(word), std::string(511, 'w'));
  ReadWordFrom(in, word);
  EXPECT_EQ(WordOf(word), "next");
  EXPECT_THROW(ReadWordFrom(in, word), EndOfInput);
  std::fclose(in);
}

}  // namespace
}  // namespace sondrel
