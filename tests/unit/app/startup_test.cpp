#include "app/startup.h"

#include <gtest/gtest.h>

#include <tuple>

namespace sondrel {
namespace {

// {tracks, inputs, outputs} as param.txt gives them (-1: not there), then as
// resolved. The first run's answers (all three given) are checked end to end.
TEST(StartupCounts, TracksCoverTheLargerOfInputsAndOutputs) {
  const ChannelCounts cases[][2] = {
      {{-1, -1, -1}, {2, 2, 2}}, {{12, -1, -1}, {12, 12, 2}}, {{-1, -1, 8}, {8, 2, 8}},
      {{0, -1, -1}, {2, 2, 2}},  {{-1, 3, -1}, {3, 3, 2}},    {{2, 10, 4}, {10, 10, 4}},
      {{-1, 4, 1}, {4, 4, 1}},   {{-1, 0, 0}, {2, 0, 0}},     {{-5, -7, 1}, {2, 2, 1}},
      {{-1, 1, 1}, {2, 1, 1}},  // a single output pair is still two tracks
      // Oversized counts stop at 256.
      {{300, 300, 300}, {256, 256, 256}}, {{-1, -1, 1000}, {256, 2, 256}}, {{4, 999, -1}, {256, 256, 2}}};
  for (const auto& [given, want] : cases) {
    const ChannelCounts got = ResolveCounts(given);
    EXPECT_EQ(std::tuple(got.tracks, got.inputs, got.outputs), std::tuple(want.tracks, want.inputs, want.outputs))
        << given.tracks << " " << given.inputs << " " << given.outputs;
  }
}

}  // namespace
}  // namespace sondrel
