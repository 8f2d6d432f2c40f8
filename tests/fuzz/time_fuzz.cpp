// The time base on any float (NaN, infinities, subnormals) and int, as a hand-edited param.txt or a typed position can
// give them: no conversion may overflow or hang, and the rounding rules hold wherever they promise to.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "timebase/time_conversions.h"

namespace {

using sondrel::kMaxRoundedPosition;

// Any float, not only the tidy ones ConsumeFloatingPoint makes.
float AnyFloat(FuzzedDataProvider& input) { return std::bit_cast<float>(input.ConsumeIntegral<std::uint32_t>()); }

// Below 1, samples round to 0; otherwise up to a block boundary, capped.
void CheckRoundSamples(int block, int step, std::int64_t samples) {
  std::int64_t stored = -1;
  const std::int64_t rounded = sondrel::RoundSamplesToBlocks(block, samples, &stored);
  FUZZ_CHECK(rounded == stored && rounded == sondrel::RoundSamplesToBlocks(block, samples, nullptr));
  const std::int64_t target = std::clamp<std::int64_t>(samples, 0, kMaxRoundedPosition);
  FUZZ_CHECK(rounded % step == 0 && rounded >= target && rounded - target < step);
}

// The first block boundary at or past rate x seconds, and the one after it.
void CheckRoundSeconds(int block, int step, std::uint32_t rate, float seconds) {
  std::int64_t stored = -1;
  const std::int64_t next = sondrel::RoundSecondsToBlocks(block, rate, seconds, &stored);
  FUZZ_CHECK(next == stored + step && stored >= 0 && stored % step == 0 && stored <= kMaxRoundedPosition + step);
  const float x = static_cast<float>(rate) * seconds;
  if (!(x > 0.0f)) FUZZ_CHECK(stored == 0);
  if (x > 0.0f && stored < kMaxRoundedPosition) {
    FUZZ_CHECK(static_cast<float>(stored) >= x && static_cast<float>(stored - step) < x);
  }
}

void CheckMeasures(FuzzedDataProvider& input) {
  const int beats = input.ConsumeIntegral<int>();
  const float tempo = AnyFloat(input);
  const auto rate = input.ConsumeIntegral<std::uint32_t>();
  const int measureIn = input.ConsumeIntegral<int>();
  const float beatIn = AnyFloat(input);
  const auto sample = input.ConsumeIntegral<std::int64_t>();
  const int block = input.ConsumeIntegral<int>();
  int measure = 0;
  float beat = 0.0f;
  FUZZ_CHECK(sondrel::SampleToMeasures(beats, tempo, sample, &measure, &beat, rate) == measure - 1);
  sondrel::SampleToMeasures(beats, tempo, sample, nullptr, nullptr, rate);
  sondrel::SamplesToSeconds(sample, rate);
  const std::int64_t typed = sondrel::TypedMeasureToSample(block, beats, tempo, measureIn, beatIn, rate);
  FUZZ_CHECK(typed >= 0 && typed % std::max(block, 1) == 0);
  if (!(tempo > 0.0f)) FUZZ_CHECK(typed == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const int block = input.ConsumeIntegral<int>();
  const int step = std::max(block, 1);
  CheckRoundSamples(block, step, input.ConsumeIntegral<std::int64_t>());
  CheckRoundSeconds(block, step, input.ConsumeIntegral<std::uint32_t>(), AnyFloat(input));
  CheckMeasures(input);
  return 0;
}
