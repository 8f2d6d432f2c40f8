#include "core/list_text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sondrel {
namespace {

TEST(SplitListLines, EmptyLinesTakeNoChannelAndExtraLinesAreDropped) {
  const ListLines list = SplitListLines("\n\na.wav\n\n\n-\nb.wav");
  ASSERT_EQ(list.count, 3);
  EXPECT_EQ(list.lines[0], "a.wav");
  EXPECT_TRUE(IsSkipLine(list.lines[1]));
  EXPECT_EQ(list.lines[2], "b.wav");
  EXPECT_TRUE(IsSkipLine("-old.wav"));
  EXPECT_FALSE(IsSkipLine("a-b.wav"));

  std::string many;
  for (int i = 0; i < kMaxChannels + 10; ++i) many += "t" + std::to_string(i) + ".wav\n";
  const ListLines capped = SplitListLines(many);
  EXPECT_EQ(capped.count, kMaxChannels);
  EXPECT_EQ(capped.lines[kMaxChannels - 1], "t255.wav");
}

TEST(ListText, EntriesAndCommaLists) {
  EXPECT_EQ(ListEntry("\na.wav\n\n-\nb.wav", 2), "b.wav");
  EXPECT_EQ(ListEntry("a.wav\n", 1), "");
  EXPECT_EQ(ListEntry("a.wav\n", -1), "");
  const std::pair<std::string_view, std::vector<std::string_view>> lists[] = {
      {"", {}}, {"1,2,4,", {"1", "2", "4"}}, {",,7,,x", {"7", "x"}}, {"12", {"12"}}, {",", {}}};
  for (const auto& [text, pieces] : lists) EXPECT_EQ(SplitAtCommas(text), pieces) << text;
}

}  // namespace
}  // namespace sondrel
