// Time base. See time_conversions.h for the precision rules and for what
// out-of-range settings give.
#include "timebase/time_conversions.h"

#include <climits>
#include <cmath>

namespace sondrel {
namespace {

// Measure numbers saturate here (2^30, exact in float) so that measure + 1
// and measure - 1 stay inside int.
constexpr int kMaxMeasure = 1 << 30;

int SafeBlock(int block) { return block < 1 ? 1 : block; }

// A beatsPerMeasure below 1 counts as 1 (see the header).
int SafeBeatsPerMeasure(int beatsPerMeasure) {
  return beatsPerMeasure < 1 ? 1 : beatsPerMeasure;
}

// False for a tempo that is not above 0, NaN included (see the header).
bool UsableTempo(float tempo) { return tempo > 0.0f; }

// Truncation toward zero, saturating instead of overflowing; NaN gives 0.
int TruncToMeasure(float value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<float>(kMaxMeasure)) return kMaxMeasure;
  if (value <= -static_cast<float>(kMaxMeasure)) return -kMaxMeasure;
  return static_cast<int>(value);
}

std::int64_t TruncToPosition(double value) {
  const auto limit = static_cast<double>(kMaxRoundedPosition);
  if (std::isnan(value)) return 0;
  if (value >= limit) return kMaxRoundedPosition;
  if (value <= -limit) return -kMaxRoundedPosition;
  return static_cast<std::int64_t>(value);
}

// The first multiple of block that is not below n (n >= 1).
std::int64_t CeilToBlock(std::int64_t n, int block) {
  return ((n - 1) / block + 1) * block;
}

// The smallest integer n whose float value is not below x (x > 0), capped at
// kMaxRoundedPosition. Integer-to-float conversion is monotone, so the
// integers that pass form a suffix [n, inf) and a binary search finds its
// start: exactly the point where a block-by-block search would stop.
std::int64_t FirstIntegerNotBelow(float x) {
  if (!(x < static_cast<float>(kMaxRoundedPosition)))
    return kMaxRoundedPosition;
  std::int64_t below = 0;  // (float)0 < x
  // ceil(x) passes: below 2^23 it is exact in float, above it x is integral.
  auto notBelow = static_cast<std::int64_t>(std::ceil(x));
  while (notBelow - below > 1) {
    const std::int64_t mid = below + (notBelow - below) / 2;
    if (static_cast<float>(mid) < x) {
      below = mid;
    } else {
      notBelow = mid;
    }
  }
  return notBelow;
}

int StartOfProject(int* measure, float* beat) {
  if (measure != nullptr) *measure = 1;
  if (beat != nullptr) *beat = 1.0f;
  return 0;
}

// (float)(measure - 1) * (float)beatsPerMeasure + beatOffset, in float; the
// subtraction is widened so that measure INT_MIN cannot overflow.
float BeatOffset(int measure, int beatsPerMeasure, float beatOffset) {
  const auto previous =
      static_cast<float>(static_cast<std::int64_t>(measure) - 1);
  return previous * static_cast<float>(beatsPerMeasure) + beatOffset;
}

// offset beats as samples: (double)offset * (60.0 / tempo) * (double)(float)
// sampleRate, truncated (tempo > 0).
std::int64_t OffsetToSamples(float offset, float tempo,
                             std::uint32_t sampleRate) {
  const double samples = static_cast<double>(offset) *
                         (60.0 / static_cast<double>(tempo)) *
                         static_cast<double>(static_cast<float>(sampleRate));
  return TruncToPosition(samples);
}

}  // namespace

std::int64_t RoundSecondsToBlocks(int block, std::uint32_t sampleRate, float seconds,
                      std::int64_t* out) {
  block = SafeBlock(block);
  const float x = static_cast<float>(sampleRate) * seconds;
  std::int64_t k = 0;
  if (x > 0.0f) k = CeilToBlock(FirstIntegerNotBelow(x), block);
  if (out != nullptr) *out = k;
  return k + block;
}

std::int64_t RoundSamplesToBlocks(int block, std::int64_t samples,
                              std::int64_t* out) {
  block = SafeBlock(block);
  std::int64_t k = 0;
  if (samples >= 1) {
    k = CeilToBlock(
        samples < kMaxRoundedPosition ? samples : kMaxRoundedPosition, block);
  }
  if (out != nullptr) *out = k;
  return k;
}

float SamplesToSeconds(std::int64_t position, std::uint32_t sampleRate) {
  return static_cast<float>(position) / static_cast<float>(sampleRate);
}

int SampleToMeasures(int beatsPerMeasure, float tempo, std::int64_t sample,
                     int* measure, float* beat, std::uint32_t sampleRate) {
  if (!UsableTempo(tempo)) return StartOfProject(measure, beat);
  const auto perMeasure =
      static_cast<float>(SafeBeatsPerMeasure(beatsPerMeasure));
  const double perSample =
      (1.0 / static_cast<double>(static_cast<float>(sampleRate))) *
      (static_cast<double>(tempo) / 60.0);
  const auto beats = static_cast<float>(
      static_cast<double>(static_cast<float>(sample)) * perSample);
  if (!std::isfinite(beats)) return StartOfProject(measure, beat);
  const int m = TruncToMeasure(beats / perMeasure + 1.0f);
  const float b = beats - static_cast<float>(m - 1) * perMeasure + 1.0f;
  if (measure != nullptr) *measure = m;
  if (beat != nullptr) *beat = b;
  return m - 1;
}

std::int64_t TypedMeasureToSample(int block, int beatsPerMeasure, float tempo,
                                  int measure, float beat,
                                  std::uint32_t sampleRate) {
  std::int64_t samples = 0;
  if (UsableTempo(tempo)) {
    const float beatOffset = beat >= 1.0f ? beat - 1.0f : 0.0f;
    const float offset =
        BeatOffset(measure, SafeBeatsPerMeasure(beatsPerMeasure), beatOffset);
    samples = OffsetToSamples(offset, tempo, sampleRate);
  }
  return RoundSamplesToBlocks(block, samples, nullptr);
}

int SaturatingTruncate(double value) {
  if (!(value > INT_MIN)) return value < 0 ? INT_MIN : 0;  // NaN gives 0
  if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(value);
}

ClockReading ClockMeasureBeat(std::int64_t position, std::uint32_t rate, float tempo, int beatsPerMeasure) {
  if (rate == 0 || !(tempo > 0.0f) || beatsPerMeasure <= 0) return {};
  const auto beats = static_cast<float>(tempo / 60.0 * (1.0 / rate) * static_cast<double>(position));
  if (!std::isfinite(beats)) return {};
  ClockReading clock;
  // Before timeline 0 (a count-in) the bars count up to bar 1 as whole
  // bars: the one just before it is bar 0, its beats 1 and on.
  const double measures = beats / static_cast<float>(beatsPerMeasure) + 1.0;
  clock.measure = SaturatingTruncate(beats < 0.0f ? std::floor(measures) : measures);
  // 64-bit product: a saturated measure must not overflow here.
  const std::int64_t measureStart = (std::int64_t{clock.measure} - 1) * beatsPerMeasure;
  clock.beat = static_cast<float>(beats - static_cast<float>(measureStart) + 1.0);
  return clock;
}

int CheckTimeRanges(const std::int64_t* starts, const std::int64_t* ends,
                    int count, int* used) {
  if (count < 1) return 0;
  int inUse = 0;
  for (int i = 0; i < count; ++i) {
    used[i] = (starts[i] > 0 || ends[i] > 0) ? 1 : 0;
    inUse += used[i];
  }
  return inUse;
}

}  // namespace sondrel
