// The running display and the summaries of runs and exports, as the terminal shows them.
#include "console/run_reports.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "tests/support/project.h"

namespace sondrel {
namespace {

using test::CapturedStdout;

TEST(Meter, BarFallsWhileHeldMarkerStaysAndOversLatchUntilReset) {
  SessionState s;
  TerminalRunDisplay display(s);
  MeterState state;
  state.over = 1;  // left over from an earlier run
  const MeterScale scale = MeterScaleFromRange(-30);
  const auto meter = [&](std::int64_t peak, bool restart, bool startsLine, int channel) {
    return CapturedStdout([&] { display.ShowMeter(UpdateMeter(state, peak, scale, restart, channel), startsLine); });
  };
  EXPECT_EQ(meter(4194304, true, true, 3), "\r\t -30 dB [" + std::string(20, '|') + "3   ] -6 dB   ");
  EXPECT_EQ(meter(4194304, false, false, 3),
            "\t -30 dB [" + std::string(14, '|') + std::string(6, ' ') + "3   ] -6 dB   ");
  EXPECT_EQ(meter(8388608, false, false, 5), "\t -30 dB [" + std::string(24, '|') + "5] OVER CH 5   ");
  // After an over the next peak sets a fresh held marker, here below the bar.
  EXPECT_EQ(meter(1000, false, false, 2), "\t -30 dB [" + std::string(18, '|') + "2     ] OVER CH 5   ");
  EXPECT_NE(meter(4194304, true, false, 2).find("] -6 dB   "), std::string::npos);
}

TEST(Summaries, ListOnlyWhatTheRunProduced) {
  SessionState s;
  s.inputs = 3;
  TerminalRunDisplay display(s);
  const std::array<std::int64_t, 3> inputs = {8388607, 5, 0};
  const std::array<int, 2> armed = {1, 3};
  MixPeaks peaks;
  RunSummary summary{false, true, armed, inputs, &peaks, 0, 0};
  EXPECT_EQ(CapturedStdout([&] { display.RunFinished(summary); }),
            "\n\n\nInput Channel Peaks:\n\tchannel 1: 0.00 dBFS\n\tchannel 3: -inf dBFS\n");
  EXPECT_EQ(CapturedStdout([&] { display.ShowMonitorLevels(inputs, armed); }), "\r(1/0) (3/-inf)    ");
  // Only the negative extreme is an over; the positive one warns.
  s.busActive[0] = s.busActive[1] = 1;
  peaks.busRight[1] = 8388607, peaks.busRight[0] = 8388608;
  s.mixMode = 2;
  summary = {true, false, {}, {}, &peaks, 0, 2};
  EXPECT_EQ(CapturedStdout([&] { display.RunFinished(summary); }),
            "\n\nBus Peaks:\n\nBus 2 L: -144 dBFS\nBus 2 R: 0.00 dBFS WARNING!\n\n\nOutput Channel Peaks:\n"
            "channel 1: -144 dBFS\nchannel 2: 0.00 dBFS OVER!! \n\n\nRecord Overruns = 2\n");
}

std::string Clock(int clockMode, std::int64_t position, std::uint32_t rate, int tempoMode, float tempo, int beats) {
  SessionState s;
  s.clockMode = clockMode, s.sampleRate = rate, s.tempoMode = tempoMode, s.tempo = tempo, s.beatsPerMeasure = beats;
  TerminalRunDisplay display(s);
  return CapturedStdout([&] { display.ShowClock(position); });
}

TEST(Clock, MeasuresSecondsAndUnusableSettings) {
  EXPECT_EQ(Clock(1, 96000, 48000, 1, 120.0f, 4), "\rmeasure.beat = 2.1.00 ");
  EXPECT_EQ(Clock(0, 120000, 48000, 1, 120.0f, 4), "measure.beat = 2.2.00 ");
  EXPECT_EQ(Clock(2, 96000, 48000, 0, 120.0f, 4), "\nclock = 2.00 sec");
  EXPECT_EQ(Clock(1, 96000, 48000, 2, 120.0f, 4), "");
  // No beat grid or no rate: the clock stays at the start instead of dividing by zero.
  EXPECT_EQ(Clock(0, 96000, 48000, 1, 0.0f, 4), "measure.beat = 1.1.00 ");
  EXPECT_EQ(Clock(0, 96000, 48000, 1, 120.0f, 0), "measure.beat = 1.1.00 ");
  EXPECT_EQ(Clock(0, 96000, 0, 0, 120.0f, 4), "clock = 0.00 sec");
  // A count-in before timeline 0 counts up to bar 1: bar 0 beat 3.5, bar -1 beat 4, and negative seconds.
  EXPECT_EQ(Clock(0, -36000, 48000, 1, 120.0f, 4), "measure.beat = 0.3.50 ");
  EXPECT_EQ(Clock(0, -120000, 48000, 1, 120.0f, 4), "measure.beat = -1.4.00 ");
  EXPECT_EQ(Clock(0, -72000, 48000, 0, 120.0f, 4), "clock = -1.50 sec");
  // Far beyond any session: the measure saturates rather than overflowing.
  EXPECT_EQ(Clock(0, std::int64_t{1} << 62, 1, 1, 1e6f, 4).rfind("measure.beat = 2147483647.", 0), 0u);
  EXPECT_EQ(Clock(0, std::int64_t{1} << 62, 1, 1, 3e38f, 4), "measure.beat = 1.1.00 ");
}

}  // namespace
}  // namespace sondrel
