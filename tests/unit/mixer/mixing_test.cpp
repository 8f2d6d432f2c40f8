#include "mixer/mixing.h"

#include <gtest/gtest.h>

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

// The model below takes the bus gains as given, so here is one known value: -6 dB is 10^(-6/20) = 0.501187 of the
// level, over the master's 1/256. (The channel gains' pan law is checked end to end by the exports.)
TEST(BusMix, ABusLevelIsItsDecibels) {
  std::array<float, kBusCount> busGain{};
  ASSERT_TRUE(SetBusVolume(busGain, -6.0f, 1));
  EXPECT_FLOAT_EQ(busGain[1] * 256.0f, 0.501187f);
}

// Random sessions in all three modes against the model: every output byte and every peak. Each chunk is its own
// allocation of exactly `frames` samples, so the sanitizer build also catches any access past a chunk.
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
    ASSERT_TRUE(fastPeaks.mixLeft == modelPeaks.mixLeft && fastPeaks.mixRight == modelPeaks.mixRight &&
                fastPeaks.busLeft == modelPeaks.busLeft && fastPeaks.busRight == modelPeaks.busRight)
        << "round " << round << ", mode " << mode;
  }
}

}  // namespace
}  // namespace sondrel
