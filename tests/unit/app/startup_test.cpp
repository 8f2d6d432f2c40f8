#include "app/startup.h"

#include <gtest/gtest.h>

namespace sondrel {
namespace {

void ExpectCounts(ChannelCounts given, ChannelCounts expected) {
  const ChannelCounts got = ResolveCounts(given);
  EXPECT_EQ(got.tracks, expected.tracks) << given.tracks << " " << given.inputs << " " << given.outputs;
  EXPECT_EQ(got.inputs, expected.inputs) << given.tracks << " " << given.inputs << " " << given.outputs;
  EXPECT_EQ(got.outputs, expected.outputs) << given.tracks << " " << given.inputs << " " << given.outputs;
}

TEST(StartupCounts, UnsetAndPartialCountsResolve) {
  // {tracks, inputs, outputs}; -1 = not in param.txt.
  ExpectCounts({-1, -1, -1}, {2, 2, 2});
  ExpectCounts({12, -1, -1}, {12, 12, 2});
  ExpectCounts({-1, -1, 8}, {8, 2, 8});
  ExpectCounts({0, -1, -1}, {2, 2, 2});
  ExpectCounts({-1, 3, -1}, {3, 3, 2});
  ExpectCounts({16, 8, 8}, {16, 8, 8});
}

TEST(StartupCounts, TracksCoverTheLargerOfInputsAndOutputs) {
  ExpectCounts({2, 10, 4}, {10, 10, 4});
  ExpectCounts({-1, 4, 1}, {4, 4, 1});
  ExpectCounts({-1, 1, 1}, {2, 1, 1});  // a single output pair is still two tracks
  ExpectCounts({-1, 0, 0}, {2, 0, 0});
  ExpectCounts({-5, -7, 1}, {2, 2, 1});
}

TEST(StartupCounts, OversizedCountsStopAt256) {
  ExpectCounts({300, 300, 300}, {256, 256, 256});
  ExpectCounts({-1, -1, 1000}, {256, 2, 256});
  ExpectCounts({4, 999, -1}, {256, 256, 2});
}

}  // namespace
}  // namespace sondrel
