#include "engine/metering.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

#include "engine/audio_device.h"
#include "timebase/time_conversions.h"
#include "wavfile/wav_format.h"

namespace sondrel {

namespace {

// Calendar second that take numbers count from (2012-10-10 16:09:00 UTC).
constexpr std::int64_t kTakeEpoch = 1349885340;

float ReportLevel(std::int64_t peak) { return static_cast<float>(LevelDb(kReportReference, peak)); }

void ResetMeterState(MeterState& state) {
  const int overChannel = state.overChannel;
  state = MeterState{};
  state.overChannel = overChannel;
}

// Bar length in steps: empty below the floor, full at the top.
double BarSteps(double current, float range, float step) {
  if (current < -range) return 0.0;
  return std::min((current + range) / step, static_cast<double>(kMeterColumns));
}

// The 24-column field: the bar, blanks up to the held peak, then the loudest
// channel's number as the peak marker, padded to the full width.
void DrawMeterField(double bars, float peakBars, int channel) {
  int column = 0;
  for (; column < kMeterColumns && bars > column; ++column) std::putchar('|');
  for (; column < kMeterColumns && peakBars > static_cast<float>(column); ++column) std::putchar(' ');
  std::printf("%i", channel);
  for (++column; column < kMeterColumns; ++column) std::putchar(' ');
}

void PrintClockPrefix(int clockMode) {
  if (clockMode == 1) std::putchar('\r');
  if (clockMode == 2) std::putchar('\n');
}

int TruncateToInt(double value) {
  if (!(value > INT_MIN)) return value < 0 ? INT_MIN : 0;  // NaN gives 0
  if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(value);
}

struct ClockMeasure {
  int measure = 1;
  float beat = 1.0f;
};

// Measure 1, beat 1.0 stands for the start of the project whenever there is
// no beat grid to count on.
ClockMeasure ClockMeasureBeat(std::int64_t position, std::uint32_t rate, float tempo, int beatsPerMeasure) {
  if (rate == 0 || !(tempo > 0.0f) || beatsPerMeasure <= 0) return {};
  const auto beats = static_cast<float>(tempo / 60.0 * (1.0 / rate) * static_cast<double>(position));
  if (!std::isfinite(beats)) return {};
  ClockMeasure clock;
  clock.measure = TruncateToInt(beats / static_cast<float>(beatsPerMeasure) + 1.0);
  // 64-bit product: a saturated measure must not overflow here.
  const std::int64_t measureStart = (std::int64_t{clock.measure} - 1) * beatsPerMeasure;
  clock.beat = static_cast<float>(beats - static_cast<float>(measureStart) + 1.0);
  return clock;
}

// Prints "channel 3: " or "Bus 4 L: "; false for a kind with no label.
bool PrintPeakLabel(int number, int kind) {
  switch (kind) {
    case 1: std::printf("channel %i: ", number); return true;
    case 2: std::printf("Bus %i L: ", number); return true;
    case 3: std::printf("Bus %i R: ", number); return true;
    default: return false;
  }
}

}  // namespace

MeterScale MeterScaleFromRange(int meterRange) {
  MeterScale scale;
  if (meterRange >= -120 && meterRange <= -6) {
    scale.range = static_cast<float>(-meterRange);
  } else if (meterRange < -120) {
    scale.range = 120.0f;
  } else if (meterRange == 0) {
    scale.range = 0.0f;
  } else {
    scale.range = 6.0f;
  }
  // A quarter of the span: the bar falls 6 of its 24 steps per refresh.
  scale.decay = scale.range / 4.0f;
  return scale;
}

int ClampMeterRange(int typed) {
  if (typed >= -120 && typed <= -6) return typed;
  if (typed < -120) return -120;
  if (typed == 0) return 0;
  return -6;
}

double LevelDb(double reference, std::int64_t magnitude) {
  if (magnitude <= 0) return -std::numeric_limits<double>::infinity();
  // Adding 0.0 turns the -0.0 of an exact full scale into 0.0.
  return -20.0 * std::log10(reference / static_cast<double>(magnitude)) + 0.0;
}

void CheckPeak(int channel, int count, std::int64_t* peaks, const void* block, std::int64_t* maxPeak,
               int* maxChannel) {
  if (count < 1) return;
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  std::int64_t& peak = peaks[channel];
  for (int i = 0; i < count; ++i, bytes += kTrackBytesPerSample) {
    const std::int64_t value = DecodeSample24(bytes);
    const std::int64_t magnitude = value < 0 ? -value : value;
    if (magnitude > peak) peak = magnitude;
    if (magnitude > *maxPeak) {
      *maxPeak = magnitude;
      *maxChannel = channel + 1;
    }
  }
}

void Meter(MeterState& state, std::int64_t peak, float range, int* reset, int cr, int channel, float decay) {
  if (!(range > 0.0f)) return;
  const double level = LevelDb(kMeterReference, peak);
  if (reset != nullptr && *reset == 1) {
    *reset = 0;
    ResetMeterState(state);
  }
  if (level > state.topPeak) state.topPeak = TruncateToInt(level);
  // Compared with the previous refresh, not with the bar: a steady level
  // lets the bar fall while the held marker stays.
  if (level > state.last) {
    state.current = level;
  } else {
    state.current -= decay;
  }
  if (level >= 0.0) {
    state.over = 1;
    state.overChannel = channel;
  }
  if (cr == 1) std::putchar('\r');
  std::printf("\t -%.0f dB [", range);
  const float step = range / static_cast<float>(kMeterColumns);
  if (static_cast<float>(peak) > state.oldPeak && level < 0.0) {
    state.oldPeak = static_cast<float>(peak);
    state.peakBars = static_cast<float>((range + level) / step);
  }
  DrawMeterField(BarSteps(state.current, range, step), state.peakBars, channel);
  if (state.over == 1) {
    std::printf("] OVER CH %i", state.overChannel);
  } else {
    std::printf("] %i dB", state.topPeak);
  }
  std::printf("   ");
  state.last = static_cast<float>(level);
  // After an over the next non-zero peak sets a fresh held marker.
  if (level >= 0.0) state.oldPeak = 0.0f;
  std::fflush(stdout);
}

void UpdateClock(int clockMode, std::int64_t position, std::uint32_t rate, int tempoMode, float tempo,
                 int beatsPerMeasure) {
  if (tempoMode == 0) {
    const float seconds = rate == 0 ? 0.0f : SamplesToSeconds(position, rate);
    PrintClockPrefix(clockMode);
    std::printf("clock = %.2f sec", seconds);
  } else if (tempoMode == 1) {
    const ClockMeasure clock = ClockMeasureBeat(position, rate, tempo, beatsPerMeasure);
    PrintClockPrefix(clockMode);
    std::printf("measure.beat = %i.%.2f ", clock.measure, clock.beat);
  }
  std::fflush(stdout);
}

std::int64_t RefreshInterval(int clockMode, std::uint32_t sampleRate, std::int64_t previous) {
  if (clockMode == 1) return sampleRate / 12;
  if (clockMode == 2) return sampleRate / 48;
  return previous > 0 ? previous : sampleRate / 12;
}

void ShowMonitorLevels(std::span<const std::int64_t> inputPeak, std::span<const int> channels, int inputs) {
  std::putchar('\r');
  for (const int channel : channels) {
    if (channel < 1 || static_cast<std::size_t>(channel) > inputPeak.size()) continue;
    std::printf("(%i/%.0f) ", channel, ReportLevel(inputPeak[channel - 1]));
  }
  // Blanks out what a longer previous line left behind.
  for (int i = 0; i < inputs; ++i) std::putchar(' ');
  std::fflush(stdout);
}

void ShowPeaks(std::int64_t peak, int number, int kind) {
  if (!PrintPeakLabel(number, kind)) return;
  if (peak <= 0) {
    std::printf("-144 dBFS\n");
    return;
  }
  const double peakdB = LevelDb(kReportReference, peak);
  std::printf("%.2f dBFS", peakdB);
  if (peakdB == 0.0) {
    std::printf(" WARNING!\n");
  } else if (peakdB > 0.0) {
    std::printf(" OVER!! \n");
  } else {
    std::printf("\n");
  }
}

void PrintInputPeaks(std::span<const std::int64_t> inputPeak, std::span<const int> channels) {
  std::printf("\n\nInput Channel Peaks:\n");
  for (const int channel : channels) {
    if (channel < 1 || static_cast<std::size_t>(channel) > inputPeak.size()) continue;
    std::printf("\tchannel %i: %.2f dBFS\n", channel, ReportLevel(inputPeak[channel - 1]));
  }
}

void PrintBusPeaks(std::span<const std::int64_t, kBusCount> busLeft, std::span<const std::int64_t, kBusCount> busRight,
                   const std::array<int, kBusCount>& busActive) {
  std::printf("\nBus Peaks:\n\n");
  for (int bus = 1; bus < kBusCount; ++bus) {
    if (busActive[bus] == 0) continue;
    ShowPeaks(busLeft[bus], bus + 1, 2);
    ShowPeaks(busRight[bus], bus + 1, 3);
    std::printf("\n");
  }
}

void PrintOutputPeaks(int mixMode, std::int64_t mixLeft, std::int64_t mixRight, std::int64_t bus1Left,
                      std::int64_t bus1Right) {
  std::printf("\nOutput Channel Peaks:\n");
  if (mixMode == 1) {
    ShowPeaks(mixLeft, 1, 1);
    ShowPeaks(mixRight, 2, 1);
  } else if (mixMode == 2 || mixMode == 3) {
    ShowPeaks(bus1Left, 1, 1);
    ShowPeaks(bus1Right, 2, 1);
  }
  std::printf("\n");
}

void PrintXrunCounts(int underruns, int overruns) {
  if (underruns > 0) std::printf("\nPlay Underruns = %i\n", underruns);
  if (overruns > 0) std::printf("\nRecord Overruns = %i\n", overruns);
}

std::int64_t TakeNumberNow() { return static_cast<std::int64_t>(std::time(nullptr)) - kTakeEpoch; }

}  // namespace sondrel
