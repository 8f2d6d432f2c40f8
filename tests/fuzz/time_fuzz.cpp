// The time base on any numbers: every bit pattern of float (NaN, infinities,
// subnormals) and every int, as a hand-edited param.txt or a typed position
// can give them. No conversion may overflow or hang, and the rounding rules
// must hold wherever they promise to.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "timebase/time_conversions.h"

namespace {

using sondrel::kMaxRoundedPosition;

// Any float, not only the tidy ones ConsumeFloatingPoint makes.
float AnyFloat(FuzzedDataProvider& input) {
  return std::bit_cast<float>(input.ConsumeIntegral<std::uint32_t>());
}

int SafeBlock(int block) { return block < 1 ? 1 : block; }

void CheckQuantizeSamples(int block, std::int64_t samples) {
  std::int64_t stored = -1;
  const std::int64_t rounded = sondrel::RoundSamplesToBlocks(block, samples, &stored);
  FUZZ_CHECK(rounded == stored);
  FUZZ_CHECK(rounded == sondrel::RoundSamplesToBlocks(block, samples, nullptr));
  if (samples < 1) {
    FUZZ_CHECK(rounded == 0);
    return;
  }
  const std::int64_t target = samples < kMaxRoundedPosition ? samples : kMaxRoundedPosition;
  FUZZ_CHECK(rounded % SafeBlock(block) == 0);
  FUZZ_CHECK(rounded >= target && rounded - target < SafeBlock(block));
}

void CheckQuantize(int block, std::uint32_t rate, float seconds) {
  std::int64_t stored = -1;
  const std::int64_t next = sondrel::RoundSecondsToBlocks(block, rate, seconds, &stored);
  FUZZ_CHECK(next == stored + SafeBlock(block));
  FUZZ_CHECK(stored >= 0 && stored % SafeBlock(block) == 0);
  FUZZ_CHECK(stored <= kMaxRoundedPosition + SafeBlock(block));
  const float x = static_cast<float>(rate) * seconds;
  if (x > 0.0f && stored < kMaxRoundedPosition) {
    // The first block boundary at or past x: the one before it is below x.
    FUZZ_CHECK(static_cast<float>(stored) >= x);
    FUZZ_CHECK(static_cast<float>(stored - SafeBlock(block)) < x);
  }
  if (!(x > 0.0f)) FUZZ_CHECK(stored == 0);
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

  const std::int64_t typed =
      sondrel::TypedMeasureToSample(block, beats, tempo, measureIn, beatIn, rate);
  FUZZ_CHECK(typed >= 0 && typed % SafeBlock(block) == 0);
  if (!(tempo > 0.0f)) FUZZ_CHECK(typed == 0);
  sondrel::SamplesToSeconds(sample, rate);
}

void CheckRanges(FuzzedDataProvider& input) {
  constexpr int kSlots = 8;
  std::array<std::int64_t, kSlots> starts{};
  std::array<std::int64_t, kSlots> ends{};
  for (int i = 0; i < kSlots; ++i) {
    starts[i] = input.ConsumeIntegral<std::int64_t>();
    ends[i] = input.ConsumeIntegral<std::int64_t>();
  }
  const int count = input.ConsumeIntegralInRange(-2, kSlots);
  std::array<int, kSlots> used{};
  const int inUse = sondrel::CheckTimeRanges(starts.data(), ends.data(), count, used.data());
  int marked = 0;
  for (int i = 0; i < count; ++i) marked += used[i];
  FUZZ_CHECK(inUse == marked && inUse >= 0 && inUse <= (count > 0 ? count : 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const int block = input.ConsumeIntegral<int>();
  CheckQuantizeSamples(block, input.ConsumeIntegral<std::int64_t>());
  CheckQuantize(block, input.ConsumeIntegral<std::uint32_t>(), AnyFloat(input));
  CheckMeasures(input);
  CheckRanges(input);
  return 0;
}
