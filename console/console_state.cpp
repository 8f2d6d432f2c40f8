#include "console/console_state.h"

#include <cmath>

#include "timebase/time_conversions.h"

namespace sondrel {

namespace {

// Settings come from a hand-editable file: keep absurd values from turning
// into undefined float-to-integer conversions.
std::int64_t TruncateSamples(float samples) {
  if (!(samples > 0.0f)) return 0;
  if (samples >= 9.0e18f) return INT64_MAX;
  return static_cast<std::int64_t>(samples);
}

}  // namespace

void ComputeAuditionLength(ConsoleState& console) {
  const SessionState& s = console.s;
  // An infinite length (from a hand-edited param.txt) would make an
  // audition nothing can stop; it plays nothing instead.
  const float seconds = std::isfinite(s.auditionLength) ? s.auditionLength : 0.0f;
  console.lengths.auditionSamples = TruncateSamples(seconds * static_cast<float>(s.sampleRate));
}

void ComputeCrossfadeLengths(ConsoleState& console) {
  const SessionState& s = console.s;
  const auto rate = static_cast<float>(s.sampleRate);
  DerivedLengths& lengths = console.lengths;
  lengths.crossfadeHalfSamples = s.crossfade > 0.0f ? TruncateSamples(rate * (s.crossfade / 2000.0f)) : 0;
  if (lengths.crossfadeHalfSamples > INT64_MAX / 2) lengths.crossfadeHalfSamples = INT64_MAX / 2;
  lengths.crossfadeSamples = 2 * lengths.crossfadeHalfSamples;
}

void ComputeDerivedLengths(ConsoleState& console) {
  const SessionState& s = console.s;
  DerivedLengths& lengths = console.lengths;
  ComputeAuditionLength(console);
  ComputeCrossfadeLengths(console);
  lengths.nudgeSamples = 0;
  RoundSecondsToBlocks(console.devices.blockFrames, s.sampleRate, s.nudge, &lengths.nudgeSamples);
}

}  // namespace sondrel
