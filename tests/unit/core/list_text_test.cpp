#include "core/list_text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sondrel {
namespace {

// How lines split, skip and number is checked by the list fuzz target; its
// corpus has no list longer than the channels.
TEST(ListText, ExtraLinesAreDroppedAndCommaListsSplit) {
  std::string many;
  for (int i = 0; i < kMaxChannels + 10; ++i) many += "t" + std::to_string(i) + ".wav\n";
  const ListLines capped = SplitListLines(many);
  EXPECT_EQ(capped.count, kMaxChannels);
  EXPECT_EQ(capped.lines[kMaxChannels - 1], "t255.wav");
  const std::pair<std::string_view, std::vector<std::string_view>> lists[] = {
      {"", {}}, {"1,2,4,", {"1", "2", "4"}}, {",,7,,x", {"7", "x"}}, {"12", {"12"}}, {",", {}}};
  for (const auto& [text, pieces] : lists) EXPECT_EQ(SplitAtCommas(text), pieces) << text;
}

}  // namespace
}  // namespace sondrel
