#include "engine/metering.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/audio_device.h"

namespace sondrel {
namespace {

std::string Printed(const std::function<void()>& draw) {
  testing::internal::CaptureStdout();
  draw();
  return testing::internal::GetCapturedStdout();
}

TEST(CheckPeak, MostNegativeCodeIsFullMagnitudeAndFirstLoudestChannelWins) {
  std::vector<std::uint8_t> chunk(kChunkFrames * 3);
  for (std::size_t i = 2; i < chunk.size(); i += 3) chunk[i] = 0x80;  // -8388608
  std::array<std::int64_t, kMaxChannels> peaks{};
  std::int64_t maxPeak = 0;
  int maxChannel = 0;
  CheckPeak(2, kChunkFrames, peaks.data(), chunk.data(), &maxPeak, &maxChannel);
  CheckPeak(5, kChunkFrames, peaks.data(), chunk.data(), &maxPeak, &maxChannel);
  EXPECT_EQ(peaks[2], 8388608);
  EXPECT_EQ(peaks[5], 8388608);
  EXPECT_EQ(maxPeak, 8388608);
  EXPECT_EQ(maxChannel, 3);  // only a strictly larger magnitude moves it

  const std::array<std::uint8_t, 6> mixed = {0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF};  // 8388607, -1
  CheckPeak(0, 0, peaks.data(), mixed.data(), &maxPeak, &maxChannel);
  EXPECT_EQ(peaks[0], 0);
  CheckPeak(0, 2, peaks.data(), mixed.data(), &maxPeak, &maxChannel);
  EXPECT_EQ(peaks[0], 8388607);
}

TEST(Meter, BarFallsWhileHeldMarkerStaysAndOversLatchUntilReset) {
  MeterState state;
  state.over = 1;  // left over from an earlier run
  int reset = 1;
  const std::string first = Printed([&] { Meter(state, 4194304, 30.0f, &reset, 1, 3, 7.5f); });
  EXPECT_EQ(first, "\r\t -30 dB [" + std::string(20, '|') + "3   ] -6 dB   ");
  EXPECT_EQ(reset, 0);
  const std::string second = Printed([&] { Meter(state, 4194304, 30.0f, &reset, 0, 3, 7.5f); });
  EXPECT_EQ(second, "\t -30 dB [" + std::string(14, '|') + std::string(6, ' ') + "3   ] -6 dB   ");

  EXPECT_EQ(Printed([&] { Meter(state, 8388608, 30.0f, &reset, 0, 5, 7.5f); }),
            "\t -30 dB [" + std::string(24, '|') + "5] OVER CH 5   ");
  EXPECT_NE(Printed([&] { Meter(state, 1000, 30.0f, &reset, 0, 2, 7.5f); }).find("] OVER CH 5   "),
            std::string::npos);
  reset = 1;
  EXPECT_NE(Printed([&] { Meter(state, 4194304, 30.0f, &reset, 0, 2, 7.5f); }).find("] -6 dB   "),
            std::string::npos);
  EXPECT_EQ(Printed([&] { Meter(state, 4194304, 0.0f, &reset, 0, 2, 0.0f); }), "");
}

TEST(ShowPeaks, FullScaleWarnsAndOnlyTheNegativeExtremeIsAnOver) {
  EXPECT_EQ(Printed([] { ShowPeaks(8387607, 1, 1); }), "channel 1: -0.00 dBFS\n");
  EXPECT_EQ(Printed([] { ShowPeaks(8388607, 1, 1); }), "channel 1: 0.00 dBFS WARNING!\n");
  EXPECT_EQ(Printed([] { ShowPeaks(8388608, 2, 3); }), "Bus 2 R: 0.00 dBFS OVER!! \n");
  EXPECT_EQ(Printed([] { ShowPeaks(0, 3, 1); }), "channel 3: -144 dBFS\n");
  EXPECT_EQ(Printed([] { ShowPeaks(0, 3, 4); }), "");
}

TEST(Summaries, ListOnlyWhatTheRunProduced) {
  const std::array<std::int64_t, 3> inputs = {8388607, 5, 0};
  const std::array<int, 2> armed = {1, 3};
  EXPECT_EQ(Printed([&] { PrintInputPeaks(inputs, armed); }),
            "\n\nInput Channel Peaks:\n\tchannel 1: 0.00 dBFS\n\tchannel 3: -inf dBFS\n");
  EXPECT_EQ(Printed([&] { ShowMonitorLevels(inputs, armed, 3); }), "\r(1/0) (3/-inf)    ");
  std::array<std::int64_t, kBusCount> left{}, right{};
  std::array<int, kBusCount> active{};
  active[0] = active[1] = 1;
  right[1] = 8388607;
  EXPECT_EQ(Printed([&] { PrintBusPeaks(left, right, active); }),
            "\nBus Peaks:\n\nBus 2 L: -144 dBFS\nBus 2 R: 0.00 dBFS WARNING!\n\n");
  EXPECT_EQ(Printed([] { PrintOutputPeaks(0, 1, 1, 1, 1); }), "\nOutput Channel Peaks:\n\n");
  EXPECT_EQ(Printed([] { PrintOutputPeaks(3, 0, 0, 0, 8388608); }),
            "\nOutput Channel Peaks:\nchannel 1: -144 dBFS\nchannel 2: 0.00 dBFS OVER!! \n\n");
  EXPECT_EQ(Printed([] { PrintXrunCounts(0, 2); }), "\nRecord Overruns = 2\n");
}

TEST(UpdateClock, MeasuresSecondsAndUnusableSettings) {
  EXPECT_EQ(Printed([] { UpdateClock(1, 96000, 48000, 1, 120.0f, 4); }), "\rmeasure.beat = 2.1.00 ");
  EXPECT_EQ(Printed([] { UpdateClock(0, 120000, 48000, 1, 120.0f, 4); }), "measure.beat = 2.2.00 ");
  EXPECT_EQ(Printed([] { UpdateClock(2, 96000, 48000, 0, 120.0f, 4); }), "\nclock = 2.00 sec");
  EXPECT_EQ(Printed([] { UpdateClock(1, 96000, 48000, 2, 120.0f, 4); }), "");
  // No beat grid or no rate: the clock stays at the start instead of
  // dividing by zero.
  EXPECT_EQ(Printed([] { UpdateClock(0, 96000, 48000, 1, 0.0f, 4); }), "measure.beat = 1.1.00 ");
  EXPECT_EQ(Printed([] { UpdateClock(0, 96000, 48000, 1, 120.0f, 0); }), "measure.beat = 1.1.00 ");
  EXPECT_EQ(Printed([] { UpdateClock(0, 96000, 0, 0, 120.0f, 4); }), "clock = 0.00 sec");
  // Far beyond any session: the measure saturates rather than overflowing.
  EXPECT_EQ(Printed([] { UpdateClock(0, std::int64_t{1} << 62, 1, 1, 1e6f, 4); }).rfind("measure.beat = 2147483647.", 0),
            0u);
  EXPECT_EQ(Printed([] { UpdateClock(0, std::int64_t{1} << 62, 1, 1, 3e38f, 4); }), "measure.beat = 1.1.00 ");
}

TEST(Metering, RefreshIntervalRatiosAndTakeClock) {
  EXPECT_EQ(RefreshInterval(1, 48000, 0), 4000);
  EXPECT_EQ(RefreshInterval(2, 48000, 4000), 1000);
  EXPECT_EQ(RefreshInterval(0, 48000, 1000), 1000);
  EXPECT_EQ(RefreshInterval(0, 44100, 0), 3675);
  EXPECT_GT(TakeNumberNow(), 300000000);  // well after the take clock's 2012 origin
}

}  // namespace
}  // namespace sondrel
