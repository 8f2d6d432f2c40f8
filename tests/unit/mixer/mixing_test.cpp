#include "mixer/mixing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "console/terminal_dialog.h"
#include "mixer/mixer_settings.h"
#include "tests/support/mix_model.h"

namespace sondrel {
namespace {

// Tells of repaired volumes and pans on standard output, as the program does.
TerminalDialog dialog;

constexpr int kFrameBytes = 3;

// A chunk buffer of `channels` chunks, each filled with one constant sample.
struct Chunks {
  explicit Chunks(int channels) : bytes(static_cast<std::size_t>(channels) * kChunkFrames * kFrameBytes, 0) {
    pointers.fill(nullptr);
    for (int c = 0; c < channels; ++c) pointers[c] = bytes.data() + static_cast<std::size_t>(c) * kChunkFrames * 3;
  }
  void Fill(int c, std::int32_t value) {
    for (int i = 0; i < kChunkFrames; ++i) {
      const auto v = static_cast<std::uint32_t>(value);
      pointers[c][3 * i] = static_cast<std::uint8_t>(v);
      pointers[c][3 * i + 1] = static_cast<std::uint8_t>(v >> 8);
      pointers[c][3 * i + 2] = static_cast<std::uint8_t>(v >> 16);
    }
  }
  std::int32_t At(int c, int i) const {
    const std::uint8_t* b = pointers[c] + 3 * i;
    const auto raw = static_cast<std::uint32_t>(b[0] | b[1] << 8 | b[2] << 16);
    return static_cast<std::int32_t>(raw << 8) >> 8;
  }
  std::vector<std::uint8_t> bytes;
  ChunkPointers pointers{};
};

struct MixFixture : ::testing::Test {
  void SetUp() override {
    work = std::make_unique<MixWorkspace>();
    for (int b = 0; b < kBusCount; ++b) ASSERT_TRUE(SetBusVolume(busGain, 0.0f, b));
  }
  void Play(std::initializer_list<int> channels) {
    for (int c : channels) flags[c] = 1;
    ComputeChannelGains(pan, volume, gains, kMaxChannels, flags, kGainScale, dialog);
  }
  std::array<float, kMaxChannels> pan{};
  std::array<float, kMaxChannels> volume{};
  ChannelFlags flags{};
  ChannelGains gains;
  MixPeaks peaks;
  std::array<float, kBusCount> busGain{};
  std::array<int, kBusCount> busActive{};
  BusMatrix busChannels{};
  std::unique_ptr<MixWorkspace> work;
};

TEST_F(MixFixture, StereoMixUsesTruncatedGainsAndPanLaw) {
  Chunks chunks(3);
  chunks.Fill(0, 1000);
  chunks.Fill(2, 1000);
  pan[2] = 100.0f;  // fully right
  Play({0, 2});
  // Centre: trunc(256 * -3 dB) = 181, and 181000 / 256 truncates to 707.
  // Hard right: left gain 0, right gain exactly 256, so 1000 passes as 1000.
  EXPECT_EQ(static_cast<std::int64_t>(gains.left[2]), 0);
  EXPECT_EQ(gains.right[2], 256.0f);
  Mix(chunks.pointers, kChunkFrames, 3, flags, gains, peaks, busGain[0], *work);
  EXPECT_EQ(chunks.At(0, 0), 707);
  EXPECT_EQ(chunks.At(1, 4095), 707 + 1000);
  EXPECT_EQ(chunks.At(2, 0), 1000);  // chunks past the pair keep their audio
  EXPECT_EQ(peaks.mixLeft, 707);
  EXPECT_EQ(peaks.mixRight, 1707);
}

TEST_F(MixFixture, BussesGoToTheirOutputPairs) {
  Chunks chunks(8);
  for (int c = 0; c < 8; ++c) chunks.Fill(c, 5);
  chunks.Fill(0, 1000);
  busChannels[2][0] = 1;  // channel 1 to bus 3: outputs 5 and 6
  busActive[2] = 1;
  busActive[1] = 1;  // bus 2 in use but nothing plays through it
  Play({0});
  MixMultiple(chunks.pointers, kChunkFrames, 8, flags, gains, peaks, busActive, busChannels, 8 / 2, busGain, 2, *work);
  EXPECT_EQ(chunks.At(4, 0), 707);
  EXPECT_EQ(chunks.At(5, 0), 707);
  EXPECT_EQ(chunks.At(2, 0), 0);     // bus 2: silence
  EXPECT_EQ(chunks.At(6, 0), 5);     // bus 4 not in use: untouched
  EXPECT_EQ(chunks.At(0, 0), 1000);  // bus 1 not in use: untouched
  EXPECT_EQ(peaks.busLeft[2], 707);
}

TEST_F(MixFixture, BussesSumIntoTheMasterAtTheirOwnLevels) {
  Chunks chunks(4);
  chunks.Fill(0, 1000);
  chunks.Fill(1, 1000);
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

  // With 3 tracks only bus 1 is summed: bus 2's channel falls silent.
  peaks = MixPeaks{};
  chunks.Fill(0, 1000);
  chunks.Fill(1, 1000);
  MixMultiple(chunks.pointers, kChunkFrames, 3, flags, gains, peaks, busActive, busChannels, 3 / 2, busGain, 3, *work);
  EXPECT_EQ(chunks.At(0, 0), 707);
  EXPECT_EQ(peaks.busLeft[1], 0);
}

TEST_F(MixFixture, OverloadSaturatesButThePeakReportsTheOver) {
  Chunks chunks(2);
  chunks.Fill(0, -8388608);
  chunks.Fill(1, -8388608);
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
