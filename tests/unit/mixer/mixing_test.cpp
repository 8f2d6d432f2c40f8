#include "mixer/mixing.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "console/terminal_dialog.h"
#include "mixer/mixer_settings.h"
#include "tests/support/mix_model.h"
#include "tests/support/project.h"

namespace sondrel {
namespace {

// Tells of repaired volumes and pans on standard output, as the program does.
TerminalDialog dialog;

// One chunk per channel, each holding a whole chunk of one constant sample.
struct Chunks {
  explicit Chunks(const std::vector<int>& levels) {
    bytes.reserve(levels.size());
    for (std::size_t c = 0; c < levels.size(); ++c) {
      bytes.push_back(test::MonoWavBytes(std::vector<int>(kChunkFrames, levels[c])).substr(44));
      pointers[c] = reinterpret_cast<std::uint8_t*>(bytes.back().data());
    }
  }
  int At(int c, int i) const { return test::Samples24(bytes[c].substr(3 * i, 3), 0).at(0); }
  std::vector<std::string> bytes;
  ChunkPointers pointers{};
};

struct MixFixture : ::testing::Test {
  void SetUp() override {
    for (int b = 0; b < kBusCount; ++b) ASSERT_TRUE(SetBusVolume(busGain, 0.0f, b));
  }
  void Play(std::initializer_list<int> channels) {
    for (int c : channels) flags[c] = 1;
    ComputeChannelGains(pan, volume, gains, kMaxChannels, flags, kGainScale, dialog);
  }
  std::array<float, kMaxChannels> pan{}, volume{};
  ChannelFlags flags{};
  ChannelGains gains;
  MixPeaks peaks;
  std::array<float, kBusCount> busGain{};
  std::array<int, kBusCount> busActive{};
  BusMatrix busChannels{};
  std::unique_ptr<MixWorkspace> work = std::make_unique<MixWorkspace>();
};

// The model takes the channel and bus gains as given: these known values
// check the pan law, the gains' truncation and the bus levels themselves.
TEST_F(MixFixture, StereoMixUsesTruncatedGainsAndPanLaw) {
  Chunks chunks({1000, 0, 1000});
  pan[2] = 100.0f;  // fully right
  Play({0, 2});
  // Centre: trunc(256 * -3 dB) = 181, and 181000 / 256 truncates to 707.
  // Hard right: left gain 0, right gain exactly 256, so 1000 passes as 1000.
  EXPECT_EQ(static_cast<std::int64_t>(gains.left[2]), 0);
  EXPECT_EQ(gains.right[2], 256.0f);
  Mix(chunks.pointers, kChunkFrames, 3, flags, gains, peaks, busGain[0], *work);
  EXPECT_EQ(std::tuple(chunks.At(0, 0), chunks.At(1, 4095), peaks.mixLeft, peaks.mixRight),
            std::tuple(707, 707 + 1000, 707, 1707));
}

TEST_F(MixFixture, BussesSumIntoTheMasterAtTheirOwnLevels) {
  Chunks chunks({1000, 1000, 0, 0});
  busChannels[1][0] = 1;  // channel 1 through bus 2
  busChannels[0][1] = 1;  // channel 2 straight into the master
  busActive[0] = busActive[1] = 1;
  ASSERT_TRUE(SetBusVolume(busGain, -6.0f, 1));
  Play({0, 1});
  MixMultiple(chunks.pointers, kChunkFrames, 4, flags, gains, peaks, busActive, busChannels, 4 / 2, busGain, 3, *work);
  // Bus 2 at -6 dB: trunc(181000 * 0.501187 / 256) = 354; back into the
  // master at x256 next to channel 2's 181000, then the master's 1/256.
  EXPECT_EQ(peaks.busLeft[1], 354);
  EXPECT_EQ(chunks.At(0, 0), (354 * 256 + 181000) / 256);
}

TEST_F(MixFixture, OverloadSaturatesButThePeakReportsTheOver) {
  Chunks chunks({-8388608, -8388608});
  volume[0] = volume[1] = 12.0f;
  Play({0, 1});
  Mix(chunks.pointers, kChunkFrames, 2, flags, gains, peaks, busGain[0], *work);
  EXPECT_EQ(chunks.At(0, 0), -8388608);  // clamped, not wrapped to a positive click
  EXPECT_GT(peaks.mixLeft, 8388608);
}

bool SamePeaks(const MixPeaks& a, const MixPeaks& b) {
  return a.mixLeft == b.mixLeft && a.mixRight == b.mixRight && a.busLeft == b.busLeft && a.busRight == b.busRight;
}

// Random sessions in all three modes against the model: every output byte
// and every peak. Each chunk is its own allocation of exactly `frames`
// samples, so the sanitizer build also catches any access past a chunk.
TEST(MixEquivalence, MatchesThePlainIntegerModel) {
  std::mt19937 random(20240611);
  auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  auto real = [&](float low, float high) { return std::uniform_real_distribution<float>(low, high)(random); };
  auto work = std::make_unique<MixWorkspace>();  // reused: stale sums must not leak into the next mix
  for (int round = 0; round < 90; ++round) {
    const int mode = 1 + round % 3;
    work->portableKernels = round % 2 == 1;  // both the fast and the portable kernels
    const int channels = pick(1, 64);
    const int lengths[] = {kChunkFrames, pick(1, kChunkFrames), pick(1, 20)};  // whole, odd and very short chunks
    const int frames = lengths[pick(0, 2)];
    const int busCount = round % 7 == 0 ? round % 2 : pick(2, 33);  // no busses and the master alone too
    std::array<float, kMaxChannels> pan{}, volume{};
    ChannelFlags flags{};
    ChannelGains gains;
    BusMatrix routes{};
    std::array<int, kBusCount> active{};
    std::array<float, kBusCount> busGain{};
    for (int c = 0; c < channels; ++c) {
      flags[c] = pick(0, 5) != 0;
      volume[c] = pick(0, 3) == 0 ? real(-144.0f, 12.0f) : real(-30.0f, 12.0f);  // mostly audible
      pan[c] = pick(0, 3) == 0 ? 0.0f : real(-100.0f, 100.0f);
      routes[pick(0, busCount)][c] = 1;
      if (pick(0, 3) == 0) routes[pick(0, busCount)][c] = 1;
    }
    ComputeChannelGains(pan, volume, gains, channels, flags, kGainScale, dialog);
    for (int c = 0; c < channels; ++c) {
      if (pick(0, 7) == 0) gains.left[c] = real(-1500.0f, 1500.0f);  // negative and odd gains too
    }
    for (int b = 0; b < kBusCount; ++b) {
      active[b] = pick(0, 3) != 0;
      ASSERT_TRUE(SetBusVolume(busGain, real(-144.0f, 15.0f), b));
      // Mode 3 keeps real bus levels: wild ones would push the master past
      // the range where the model's int64 sums and the mix's doubles agree.
      const float wild[] = {1.0e6f, -0.7f, std::numeric_limits<float>::quiet_NaN()};
      if (mode != 3 && pick(0, 5) == 0) busGain[b] = wild[pick(0, 2)];
    }
    std::vector<std::vector<std::uint8_t>> fast(channels), model(channels);
    ChunkPointers fastChunks{}, modelChunks{};
    for (int c = 0; c < channels; ++c) {
      if (pick(0, 15) == 0) continue;  // a channel with no chunk
      fast[c].resize(static_cast<std::size_t>(frames) * 3);
      for (auto& byte : fast[c]) byte = static_cast<std::uint8_t>(random());
      model[c] = fast[c];
      fastChunks[c] = fast[c].data();
      modelChunks[c] = model[c].data();
    }
    MixPeaks fastPeaks;
    fastPeaks.mixLeft = fastPeaks.busLeft[0] = pick(0, 1 << 23);
    MixPeaks modelPeaks = fastPeaks;
    if (mode == 1) {
      Mix(fastChunks, frames, channels, flags, gains, fastPeaks, busGain[0], *work);
    } else {
      MixMultiple(fastChunks, frames, channels, flags, gains, fastPeaks, active, routes, busCount, busGain, mode,
                  *work);
    }
    MixModel(modelChunks, frames, channels, flags, gains, modelPeaks, active, routes, busCount, busGain, mode);
    ASSERT_EQ(fast, model) << "round " << round << ", mode " << mode;
    ASSERT_TRUE(SamePeaks(fastPeaks, modelPeaks)) << "round " << round << ", mode " << mode;
  }
}

}  // namespace
}  // namespace sondrel
