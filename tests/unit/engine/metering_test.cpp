#include "engine/metering.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <tuple>
#include <vector>

namespace sondrel {
namespace {

TEST(CheckPeak, MostNegativeCodeIsFullMagnitudeAndFirstLoudestChannelWins) {
  std::vector<std::uint8_t> chunk(kChunkFrames * 3);
  for (std::size_t i = 2; i < chunk.size(); i += 3) chunk[i] = 0x80;  // -8388608
  std::array<std::int64_t, kMaxChannels> peaks{};
  std::int64_t maxPeak = 0;
  int maxChannel = 0;
  CheckPeak(2, kChunkFrames, peaks.data(), chunk.data(), &maxPeak, &maxChannel);
  CheckPeak(5, kChunkFrames, peaks.data(), chunk.data(), &maxPeak, &maxChannel);
  // Only a strictly larger magnitude moves the loudest channel on.
  EXPECT_EQ(std::tuple(peaks[2], peaks[5], maxPeak, maxChannel), std::tuple(8388608, 8388608, 8388608, 3));

  const std::array<std::uint8_t, 6> mixed = {0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF};  // 8388607, -1
  CheckPeak(0, 0, peaks.data(), mixed.data(), &maxPeak, &maxChannel);
  EXPECT_EQ(peaks[0], 0);
  CheckPeak(0, 2, peaks.data(), mixed.data(), &maxPeak, &maxChannel);
  EXPECT_EQ(peaks[0], 8388607);
}

}  // namespace
}  // namespace sondrel
