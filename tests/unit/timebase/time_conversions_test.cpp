#include "timebase/time_conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace sondrel {
namespace {

constexpr std::int64_t k2p31 = std::int64_t{1} << 31;  // long sessions pass it
using MB = std::tuple<int, int, float>;                 // measure index from 0, measure, beat
constexpr MB kStart{0, 1, 1.0f};                        // the project start, measure 1 beat 1

MB ToMeasures(int sig, float tempo, std::int64_t sample) {  // 48 kHz
  MB a;
  std::get<0>(a) = SampleToMeasures(sig, tempo, sample, &std::get<1>(a), &std::get<2>(a), 48000);
  return a;
}

TEST(TimeConversions, RoundingToTheBlockGrid) {
  // {block, samples, rounded}: a block below 1 is 1, 64-bit past 2^31, capped near 2^62. (Everyday positions round end
  // to end from param.txt, and positions below 1 by the time fuzz target.)
  const std::int64_t samples[][3] = {{0, 5, 5}, {1024, k2p31 - 1, k2p31}, {1024, k2p31 + 1, k2p31 + 1024},
                                     {1024, 3000000000, 3000000512}, {1000, INT64_MAX, kMaxRoundedPosition + 96}};
  std::int64_t out = -1;
  for (const auto& [block, in, want] : samples)
    EXPECT_EQ(RoundSamplesToBlocks(static_cast<int>(block), in, &out), want) << block << " " << in;
  EXPECT_EQ(out, kMaxRoundedPosition + 96);
  // Seconds, against the block-by-block search in 64 bits from 0.999 x (the float test is monotone). Infinity takes the
  // cap, as a huge typed time does end to end; the play start one block later and times not above 0 are checked by the
  // time fuzz target.
  EXPECT_EQ(RoundSecondsToBlocks(1024, 44100, INFINITY, &out), kMaxRoundedPosition + 1024);
  for (int block : {1, 3, 1000, 1024, 4096})
    for (std::uint32_t rate : {44100u, 48000u, 96000u})
      for (float s : {1e-6f, 0.37f, 3.3f, 174.76f, 22369.62f, 44739.24f, 91000.3f}) {
        std::int64_t m = static_cast<std::int64_t>(rate * s * 0.999 / block);
        while (m < 1 || static_cast<float>(m * block) < rate * s) ++m;
        RoundSecondsToBlocks(block, rate, s, &out);
        EXPECT_EQ(out, m * block) << block << " " << rate << " " << s;
      }
}

TEST(TimeConversions, MeasureBeatPositionsAndRangesInUse) {
  // 120 bpm at 48 kHz: a beat is 24000 samples (0.5 s), a 4/4 measure 96000.
  EXPECT_EQ(ToMeasures(4, 120.0f, -24000), MB(-1, 0, 4.0f));
  EXPECT_EQ(TypedMeasureToSample(1024, 4, 120.0f, 2, 0.5f, 48000), 96256);  // typed: beat 1
  // A hand-edited tempo 0, < 0, NaN or inf freezes at the start; a signature < 1 is 1 beat.
  // Columns: at 120000 samples; measure 3 beat 1 typed.
  const std::tuple<int, float, MB, std::int64_t> cases[] = {
      {4, 120.0f, {1, 2, 2.0f}, 192512}, {4, 0.0f, kStart, 0},           {4, -120.0f, kStart, 0},
      {4, NAN, kStart, 0},               {4, INFINITY, kStart, 0},       {0, 120.0f, {5, 6, 1.0f}, 48128},
      {-4, 120.0f, {5, 6, 1.0f}, 48128}};
  for (const auto& [sig, tempo, atSample, typed] : cases) {
    SCOPED_TRACE(testing::Message() << "sig " << sig << " tempo " << tempo);
    EXPECT_EQ(ToMeasures(sig, tempo, 120000), atSample);
    EXPECT_EQ(TypedMeasureToSample(1024, sig, tempo, 3, 1.0f, 48000), typed);
  }
  const std::int64_t starts[] = {0, 0, 100}, ends[] = {0, 500, 0};
  int used[3] = {9, 9, 9};
  EXPECT_EQ(CheckTimeRanges(starts, ends, 3, used), 2);
  for (int i : {0, 1, 2}) EXPECT_EQ(used[i], i > 0 ? 1 : 0) << i;
}

}  // namespace
}  // namespace sondrel
