// Conversions between sample positions, seconds and measure.beat under a
// tempo and a number of beats per measure, the two rounding rules that put
// positions on the block grid, and the tests that tell which stored ranges
// are in use.
//
// Which steps run in float and which in double is deliberate: the status
// display, the clock and typed positions must all agree on the same numbers,
// so every caller goes through these functions. Beyond that:
// - Rounding is done in 64 bits (long sessions pass 2^31 samples), computed
//   directly rather than one block at a time.
// - Rounded positions are capped at kMaxRoundedPosition so that huge or
//   infinite inputs cannot overflow; conversions that truncate to an integer
//   saturate instead of overflowing (a NaN truncates to 0).
// - A block size below 1 counts as 1.
// - A tempo that is not above 0 (0, negative or NaN) and a beatsPerMeasure
//   below 1 can come from a hand-edited param.txt. See the functions below
//   for what they give.
#pragma once

#include <cstdint>

namespace sondrel {

// Rounded positions never exceed this (2^62, about 3000 years at 48 kHz);
// far enough from the int64 limit that position + block cannot overflow.
inline constexpr std::int64_t kMaxRoundedPosition = std::int64_t{1} << 62;

// Seconds rounding. x = (float)sampleRate * seconds in float. When x > 0,
// *out = the first multiple k = m * block (m >= 1) with (float)k >= x and the
// result is k + block; otherwise (x <= 0 or NaN) *out = 0 and the result is
// block. `out` may be null.
std::int64_t RoundSecondsToBlocks(int block, std::uint32_t sampleRate, float seconds,
                      std::int64_t* out);

// Sample rounding: below 1 gives 0, otherwise the first multiple of block
// not below `samples`. Stored in *out (may be null) and returned.
std::int64_t RoundSamplesToBlocks(int block, std::int64_t samples,
                              std::int64_t* out);

// Display form of a position: (float)position / (float)sampleRate.
float SamplesToSeconds(std::int64_t position, std::uint32_t sampleRate);

// Non-positive tempo: a tempo that is not above 0 has no meaningful beat
// grid; rather than dividing by it (inf/NaN, then an undefined float-to-int
// conversion) every conversion treats the project as frozen at its start:
// sample/seconds to measure.beat give measure 1, beat 1.0, and measure.beat
// to samples/seconds give 0 (the "not set" position). The same holds when
// the beat count itself comes out infinite or NaN (infinite tempo, sample
// rate 0). A beatsPerMeasure below 1 counts as 1, the smallest real
// signature, so measures are still counted and nothing divides by 0.

// Sample position to measure.beat. Returns the measure index from 0.
int SampleToMeasures(int beatsPerMeasure, float tempo, std::int64_t sample,
                     int* measure, float* beat, std::uint32_t sampleRate);

// A typed measure.beat position as the console stores it: a beat below 1.0
// counts as beat 1; the sample count is put through RoundSamplesToBlocks.
std::int64_t TypedMeasureToSample(int block, int beatsPerMeasure, float tempo,
                                  int measure, float beat,
                                  std::uint32_t sampleRate);

// A double truncated toward zero into an int, held at the int limits; NaN
// gives 0.
int SaturatingTruncate(double value);

// What the running clock shows for a position in measure.beat. Its sums
// differ from SampleToMeasures' in which steps run in float, as the clock
// always has; measure 1, beat 1.0 stands for the start of the project
// whenever there is no beat grid to count on (a zero rate, a tempo or
// signature not above 0, a beat count past what a float holds).
struct ClockReading {
  int measure = 1;
  float beat = 1.0f;
};
ClockReading ClockMeasureBeat(std::int64_t position, std::uint32_t rate, float tempo, int beatsPerMeasure);

// Ranges in use: clears used[0..count), marks range i when its start or end
// is above 0 and returns how many were marked; count below 1 gives 0 and
// touches nothing.
int CheckTimeRanges(const std::int64_t* starts, const std::int64_t* ends,
                    int count, int* used);


}  // namespace sondrel
