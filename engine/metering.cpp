#include "engine/metering.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "timebase/time_conversions.h"
#include "wavfile/wav_format.h"

namespace sondrel {

namespace {

// A new run's meter forgets the levels of the last one, but keeps the
// channel of its last over.
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

MeterFrame UpdateMeter(MeterState& state, std::int64_t peak, const MeterScale& scale, bool restart, int channel) {
  const double level = LevelDb(kMeterReference, peak);
  if (restart) ResetMeterState(state);
  if (level > state.topPeak) state.topPeak = SaturatingTruncate(level);
  // Compared with the previous refresh, not with the bar: a steady level
  // lets the bar fall while the held marker stays.
  if (level > state.last) {
    state.current = level;
  } else {
    state.current -= scale.decay;
  }
  if (level >= 0.0) {
    state.over = 1;
    state.overChannel = channel;
  }
  const float step = scale.range / static_cast<float>(kMeterColumns);
  if (static_cast<float>(peak) > state.oldPeak && level < 0.0) {
    state.oldPeak = static_cast<float>(peak);
    state.peakBars = static_cast<float>((scale.range + level) / step);
  }
  const MeterFrame frame{scale.range,       BarSteps(state.current, scale.range, step),
                         state.peakBars,    channel,
                         state.over == 1,   state.overChannel,
                         state.topPeak};
  state.last = static_cast<float>(level);
  // After an over the next non-zero peak sets a fresh held marker.
  if (level >= 0.0) state.oldPeak = 0.0f;
  return frame;
}

std::int64_t RefreshInterval(int clockMode, std::uint32_t sampleRate, std::int64_t previous) {
  if (clockMode == 1) return sampleRate / 12;
  if (clockMode == 2) return sampleRate / 48;
  return previous > 0 ? previous : sampleRate / 12;
}

}  // namespace sondrel
