#include "engine/loopback_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <vector>

namespace sondrel {
namespace {

constexpr std::int64_t kMaxLag = 1000;

struct Copy { std::int64_t delayFrames; double gain; };

// What an input hears: each copy of the signal at its delay and gain, over a
// deterministic noise of up to +-noise, saturated at the converter's codes.
std::vector<std::int32_t> Record(std::span<const std::int32_t> signal, std::int64_t frames,
                                 const std::vector<Copy>& copies, double noise) {
  std::vector<std::int32_t> recorded;
  std::uint32_t seed = 12345;
  for (std::int64_t i = 0; i < frames; ++i) {
    seed = seed * 1664525u + 1013904223u;
    double sum = noise * (seed / 2147483648.0 - 1.0);
    for (const auto& [delayFrames, gain] : copies) {
      if (i >= delayFrames && i - delayFrames < std::ssize(signal)) sum += gain * signal[i - delayFrames];
    }
    recorded.push_back(static_cast<std::int32_t>(std::clamp(sum, -8388608.0, 8388607.0)));
  }
  return recorded;
}

TEST(LoopbackAnalysis, JudgesSyntheticLoops) {
  const std::vector<std::int32_t> signal = MakeTestSignal(12, 4194304);  // played at -6 dBFS
  const std::int64_t frames = std::ssize(signal) + kMaxLag;
  using enum LoopbackVerdict;
  const struct {
    const char* name;
    std::vector<Copy> copies;
    double noise;
    std::int64_t extraFrames;  // recorded beyond signal + maxLag; negative when cut short
    LoopbackVerdict verdict;
    std::int64_t delayFrames;  // -1: any
  } cases[] = {
      {"in step", {{0, 1}}, 0, 0, Found, 0},
      {"one frame late", {{1, 1}}, 0, 0, Found, 1},
      {"-58 dBFS", {{37, 0.0025}}, 0, 0, Found, 37},
      {"inverted, 0.04 dB below full scale", {{480, -1.99}}, 0, 0, Found, 480},
      {"last lag, 30 dB down, in noise", {{kMaxLag, 0.0316}}, 40000, 0, Found, kMaxLag},
      {"recording cut short", {{kMaxLag, 1}}, 0, -600, Found, kMaxLag},
      {"smeared by filters", {{200, 0.3}, {203, 0.5}, {206, 0.3}}, 0, 0, Found, 203},
      {"echo 14 dB down", {{200, 1}, {260, 0.2}}, 0, 0, Found, 200},
      {"echo 10 dB down", {{200, 1}, {260, 0.316}}, 0, 0, Ambiguous, 200},
      {"two paths", {{100, 0.9}, {700, 1}}, 0, 0, Ambiguous, 700},
      {"beyond the searched lags", {{kMaxLag + 300, 1}}, 0, 300, Ambiguous, -1},
      {"-62 dBFS", {{5, 0.0016}}, 0, 0, NoSignal, -1},
      {"silence", {}, 0, 0, NoSignal, -1},
      {"0.003 dB below full scale, inverted", {{5, -1.9995}}, 0, 0, Clipped, -1},
      {"saturated", {{5, 2.5}}, 0, 0, Clipped, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto result = AnalyseLoopback(signal, Record(signal, frames + c.extraFrames, c.copies, c.noise), kMaxLag);
    EXPECT_EQ(result.verdict, c.verdict) << "confidence " << result.confidenceDb << " dB";
    EXPECT_TRUE(c.delayFrames < 0 || result.delayFrames == c.delayFrames) << "delay " << result.delayFrames;
  }
  EXPECT_EQ(AnalyseLoopback(signal, Record(signal, frames, {}, 0), kMaxLag).peakDbfs, -144);
  std::vector<std::int32_t> dip(frames);
  dip[9] = -4194304;  // the loudest sample may be a negative one
  EXPECT_NEAR(AnalyseLoopback(signal, dip, kMaxLag).peakDbfs, -6.02, 0.01);
}

// A register whose taps are not a primitive polynomial falls into a shorter
// cycle, and the count of + against - no longer comes out one apart.
TEST(MakeTestSignal, IsMaximumLengthForEveryOrder) {
  for (int order = kMinTestSignalOrder; order <= kMaxTestSignalOrder; ++order) {
    const std::vector<std::int32_t> signal = MakeTestSignal(order, 1000);
    const std::int64_t half = std::int64_t{1} << (order - 1);
    EXPECT_EQ(std::tuple(std::ssize(signal), std::count(signal.begin(), signal.end(), 1000),
                         std::count(signal.begin(), signal.end(), -1000)),
              std::tuple(2 * half - 1, half, half - 1))
        << "order " << order;
  }
  EXPECT_TRUE(MakeTestSignal(kMinTestSignalOrder - 1, 1000).empty());
  EXPECT_TRUE(MakeTestSignal(kMaxTestSignalOrder + 1, 1000).empty());
}

}  // namespace
}  // namespace sondrel
