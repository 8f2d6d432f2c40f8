#include "console/track_lists.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace sondrel
