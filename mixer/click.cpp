#include "mixer/click.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/audio_constants.h"
#include "core/byte_order.h"

namespace sondrel {

namespace {

constexpr double kBurstSeconds = 0.020;
constexpr double kAccentHz = 1760.0;
constexpr double kBeatHz = 880.0;

// A cosine, so the first sample is the burst's peak: the click starts on
// its beat's very sample, and a take of it lines up with the grid. The
// envelope falls to nothing by the end, so no burst ends in a step.
std::vector<std::int32_t> Burst(double hz, std::int64_t frames, std::uint32_t rateHz, double amplitude) {
  std::vector<std::int32_t> burst(static_cast<std::size_t>(frames));
  for (std::int64_t n = 0; n < frames; ++n) {
    const double fall = 1.0 - static_cast<double>(n) / static_cast<double>(frames);
    const double phase = 2.0 * std::numbers::pi * hz * static_cast<double>(n) / rateHz;
    burst[static_cast<std::size_t>(n)] = static_cast<std::int32_t>(std::lround(amplitude * fall * fall * std::cos(phase)));
  }
  return burst;
}

}  // namespace

void Click::Prepare(std::uint32_t rateHz, float tempo, int beatsPerMeasure, float levelDb) {
  framesPerBeat_ = 0.0;
  beatsPerMeasure_ = std::max(beatsPerMeasure, 1);
  const double perBeat = std::isfinite(tempo) && tempo > 0.0f ? 60.0 * rateHz / static_cast<double>(tempo) : 0.0;
  // A beat shorter than two samples has no room for a burst and silence.
  if (!(perBeat >= 2.0) || perBeat > 1e12) return;
  const double db = std::clamp(std::isnan(levelDb) ? kClickDefaultLevelDb : levelDb, kClickMinLevelDb, kClickMaxLevelDb);
  const double amplitude = 8388607.0 * std::pow(10.0, db / 20.0);
  // A burst ends before the next beat begins, however fast the tempo.
  const auto frames = static_cast<std::int64_t>(std::min(kBurstSeconds * rateHz, std::floor(perBeat) - 1.0));
  accent_ = Burst(kAccentHz, std::max<std::int64_t>(frames, 1), rateHz, amplitude);
  beat_ = Burst(kBeatHz, std::max<std::int64_t>(frames, 1), rateHz, amplitude);
  framesPerBeat_ = perBeat;
}

std::int64_t Click::BeatPosition(std::int64_t beat) const {
  return static_cast<std::int64_t>(std::llround(static_cast<double>(beat) * framesPerBeat_));
}

std::int64_t Click::FirstBeatFrom(std::int64_t position) const {
  if (!Sounds()) return 0;
  auto beat = static_cast<std::int64_t>(std::floor(static_cast<double>(position) / framesPerBeat_));
  while (BeatPosition(beat) > position) --beat;
  while (BeatPosition(beat) < position) ++beat;
  return beat;
}

void Click::AddTo(std::uint8_t* samples, int frames, std::int64_t position, std::int64_t from) const {
  if (!Sounds() || frames <= 0) return;
  const std::int64_t end = position + frames;
  // A burst is shorter than a beat: only the beat before can still sound.
  for (std::int64_t beat = FirstBeatFrom(position) - 1;; ++beat) {
    const std::int64_t start = BeatPosition(beat);
    if (start >= end) break;
    if (start < from) continue;
    const bool accent = ((beat % beatsPerMeasure_) + beatsPerMeasure_) % beatsPerMeasure_ == 0;
    const std::vector<std::int32_t>& burst = accent ? accent_ : beat_;
    const std::int64_t first = std::max(start, position);
    const std::int64_t last = std::min(start + static_cast<std::int64_t>(burst.size()), end);
    for (std::int64_t t = first; t < last; ++t) {
      std::uint8_t* p = samples + (t - position) * kTrackBytesPerSample;
      const std::int64_t sum = std::int64_t{ReadSample24(p)} + burst[static_cast<std::size_t>(t - start)];
      WriteLe24(static_cast<std::uint64_t>(std::clamp<std::int64_t>(sum, -8388608, 8388607)), p);
    }
  }
}

}  // namespace sondrel
