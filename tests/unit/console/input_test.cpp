#include "console/input.h"

#include <gtest/gtest.h>

#include <climits>
#include <utility>

namespace sondrel {
namespace {

// Typed numbers read as scanf's %i and %f read them. How words split is
// checked by the input fuzz target, and the cut of an overlong word end to end.
TEST(ConsoleInput, NumbersFollowScanf) {
  const std::pair<const char*, int> integers[] = {
      {"42", 42}, {"-7", -7}, {"0x1F", 31}, {"010", 8}, {"12abc", 12}, {"abc", 0}, {"", 0},
      {"99999999999999999999", INT_MAX}, {"-99999999999999999999", INT_MIN}};
  for (const auto& [text, value] : integers) EXPECT_EQ(ParseInt(text), value) << text;
  const std::pair<const char*, float> decimals[] = {{"2.5", 2.5f}, {"1e3", 1000.0f}, {"-0.25s", -0.25f}, {"x", 0.0f}};
  for (const auto& [text, value] : decimals) EXPECT_FLOAT_EQ(ParseFloat(text), value) << text;
}

}  // namespace
}  // namespace sondrel
