#include "timebase/time_conversions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace sondrel {
namespace {

constexpr std::int64_t k2p31 = std::int64_t{1} << 31;

// QUANTIZE's block-by-block loop in 64 bits, started at a multiple known to be
// below x (the float comparison is monotone, so skipping those is exact).
std::int64_t LoopQuantize(int block, std::uint32_t rate, float seconds) {
  const float x = static_cast<float>(rate) * seconds;
  std::int64_t m =
      std::max<std::int64_t>(1, static_cast<std::int64_t>(static_cast<double>(x) * 0.999 / block));
  EXPECT_TRUE(m == 1 || static_cast<float>(m * block) < x);
  while (static_cast<float>(m * block) < x) ++m;
  return m * block;
}

// measure and beat by reference: read after the call in the first argument.
void ExpectMB(int index, const int& measure, const float& beat, int wantIndex, int wantMeasure,
              float wantBeat) {
  EXPECT_EQ(index, wantIndex);
  EXPECT_EQ(measure, wantMeasure);
  EXPECT_EQ(beat, wantBeat);
}

TEST(TimeConversions, KnownPositions) {
  int m = 0;
  float b = 0.0f;
  const std::int64_t samples[] = {0, 24000, 96000, 120000};
  const int measures[] = {1, 1, 2, 2};
  const float beats[] = {1.0f, 2.0f, 1.0f, 2.0f};
  for (int i = 0; i < 4; ++i)
    ExpectMB(SampleToMeasures(4, 120.0f, samples[i], &m, &b, 48000), m, b, measures[i] - 1,
             measures[i], beats[i]);
  std::int64_t out = -1;
  const float secs[] = {0.0f, 0.001f, 1.0f};
  const std::int64_t qs[] = {0, 1024, 45056};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(QUANTIZE(1024, 44100, secs[i], &out), qs[i] + 1024);
    EXPECT_EQ(out, qs[i]);
  }
  const std::int64_t in[] = {0, 1, 1024, 1025}, rounded[] = {0, 1024, 1024, 2048};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(QUANTIZE_SAMPLES(1024, in[i], &out), rounded[i]) << in[i];
  EXPECT_EQ(out, 2048);
  for (float tempo : {40.0f, 120.0f, 133.3f})
    EXPECT_EQ(MeasuresToSample(4, tempo, &out, 1, 1.0f, 44100), 0);
  const std::int64_t starts[] = {0, 0, 100}, ends[] = {0, 500, 0};
  int used[3] = {9, 9, 9};
  EXPECT_EQ(CheckTimeRanges(starts, ends, 3, used), 2);
  EXPECT_TRUE(used[0] == 0 && used[1] == 1 && used[2] == 1);
  EXPECT_EQ(CheckTimeRanges(starts, ends, 0, used), 0);
}

TEST(TimeConversions, OtherConversions) {
  int m = 0;
  float b = 0.0f, seconds = 0.0f;
  ExpectMB(TimeToMeasures(4, 120.0f, 2.5f, &m, &b), m, b, 1, 2, 2.0f);
  EXPECT_EQ(MeasuresToTime(4, 120.0f, &seconds, 3, 2.5f), 4.75f);
  EXPECT_EQ(seconds, 4.75f);
  EXPECT_EQ(MeasuresToSample(4, 120.0f, nullptr, 3, 2.5f, 48000), 228000);
  EXPECT_EQ(TypedMeasureToSample(1024, 4, 120.0f, 2, 1.0f, 48000), 96256);
  EXPECT_EQ(SamplesToSeconds(66150, 44100), 1.5f);
  const int sm[] = {0, 0, 0}, em[] = {0, 1, 0};
  const float sb[] = {0.0f, 0.0f, 0.5f}, eb[] = {0.0f, 0.0f, 0.0f};
  int used[3] = {};
  EXPECT_EQ(CheckBeatRanges(sm, sb, em, eb, 3, used), 2);
  EXPECT_EQ(used[0], 0);
}

TEST(TimeConversions, RoundingBeyond2To31AndOddBlocks) {
  EXPECT_EQ(QUANTIZE_SAMPLES(1024, k2p31 - 1, nullptr), k2p31);
  EXPECT_EQ(QUANTIZE_SAMPLES(1024, k2p31 + 1, nullptr), k2p31 + 1024);
  EXPECT_EQ(QUANTIZE_SAMPLES(1024, 3000000000, nullptr), 3000000512);
  EXPECT_EQ(QUANTIZE_SAMPLES(1000, 1001, nullptr), 2000);
  // 62500 s at 48 kHz is x = 3e9 in float; float steps there are 256, so
  // 3e9 - 128 is the first integer whose float value is not below x.
  EXPECT_EQ(QUANTIZE(1024, 48000, 62500.0f, nullptr), 3000000512 + 1024);
  EXPECT_EQ(QUANTIZE(1, 48000, 62500.0f, nullptr), 3000000000 - 128 + 1);
  EXPECT_EQ(QUANTIZE(1000, 44100, 1.0f, nullptr), 46000);
  std::int64_t out = 0;
  for (int block : {1, 3, 1000, 1024, 4096})
    for (std::uint32_t rate : {44100u, 48000u, 96000u})
      for (float s : {1e-6f, 0.37f, 3.3f, 174.76f, 22369.62f, 44739.24f, 91000.3f}) {
        QUANTIZE(block, rate, s, &out);
        EXPECT_EQ(out, LoopQuantize(block, rate, s)) << block << " " << rate << " " << s;
      }
}

TEST(TimeConversions, NegativeAndDegenerateInputs) {
  std::int64_t out = 7;
  EXPECT_EQ(QUANTIZE(1024, 44100, -1.0f, &out), 1024);
  EXPECT_EQ(out, 0);
  EXPECT_EQ(QUANTIZE(1024, 44100, std::nanf(""), nullptr), 1024);
  EXPECT_EQ(QUANTIZE_SAMPLES(1024, -5, nullptr), 0);
  EXPECT_EQ(QUANTIZE_SAMPLES(0, 5, nullptr), 5);  // block below 1 counts as 1
  EXPECT_EQ(QUANTIZE(-3, 44100, 0.001f, nullptr), 46);
  EXPECT_EQ(QUANTIZE(1024, 44100, INFINITY, nullptr), kMaxRoundedPosition + 1024);
  EXPECT_EQ(QUANTIZE_SAMPLES(1000, std::numeric_limits<std::int64_t>::max(), nullptr),
            kMaxRoundedPosition + 96);
  EXPECT_EQ(MeasuresToSample(4, 120.0f, nullptr, 0, 1.0f, 48000), -96000);
  EXPECT_EQ(MeasuresToSample(4, 120.0f, nullptr, 1, 0.5f, 48000), -12000);
  EXPECT_EQ(TypedMeasureToSample(1024, 4, 120.0f, 1, 0.5f, 48000), 0);
  EXPECT_EQ(TypedMeasureToSample(1024, 4, 120.0f, 0, 3.0f, 48000), 0);
  int m = 0;
  float b = 0.0f;
  ExpectMB(SampleToMeasures(4, 120.0f, -24000, &m, &b, 48000), m, b, -1, 0, 4.0f);
}

TEST(TimeConversions, NonPositiveTempoAndSignature) {
  int m = 0;
  float b = 0.0f, seconds = 9.0f;
  for (float tempo : {0.0f, -120.0f, std::nanf(""), INFINITY}) {
    ExpectMB(SampleToMeasures(4, tempo, 120000, &m, &b, 48000), m, b, 0, 1, 1.0f);
    if (std::isinf(tempo)) continue;  // infinite tempo: only the beat count is guarded
    ExpectMB(TimeToMeasures(4, tempo, 2.5f, &m, &b), m, b, 0, 1, 1.0f);
    EXPECT_EQ(MeasuresToSample(4, tempo, nullptr, 3, 2.0f, 48000), 0);
    EXPECT_EQ(MeasuresToTime(4, tempo, &seconds, 3, 2.0f), 0.0f);
    EXPECT_EQ(TypedMeasureToSample(1024, 4, tempo, 3, 2.0f, 48000), 0);
  }
  for (int sig : {0, -4}) {  // below 1 counts as 1 beat per measure
    ExpectMB(SampleToMeasures(sig, 120.0f, 120000, &m, &b, 48000), m, b, 5, 6, 1.0f);
    ExpectMB(TimeToMeasures(sig, 120.0f, 2.75f, &m, &b), m, b, 5, 6, 1.5f);
    EXPECT_EQ(MeasuresToSample(sig, 120.0f, nullptr, 3, 1.0f, 48000), 48000);
  }
}

}  // namespace
}  // namespace sondrel
