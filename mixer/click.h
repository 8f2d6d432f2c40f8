// The click: a short tone burst on every beat of the tempo grid, a higher
// one on the first beat of each bar, for a musician who records alone. It
// is added to one output after the mix, never to a track, a take or an
// export, so nothing of it is kept.
#pragma once

#include <cstdint>
#include <vector>

#include "core/audio_constants.h"

namespace sondrel {

class Click {
 public:
  // Builds the two bursts for the grid (beats per minute, beats per bar)
  // at `rateHz`. It allocates, so it runs before a run, never in it. A
  // tempo with no usable beat length leaves the click silent.
  void Prepare(std::uint32_t rateHz, float tempo, int beatsPerMeasure, float levelDb);

  bool Sounds() const { return framesPerBeat_ > 0.0; }

  // Beat k of the grid starts at timeline sample round(k * 60 * rate / tempo);
  // beat 0 is the first beat of bar 1 at timeline 0, and beats before it
  // count down from -1.
  std::int64_t BeatPosition(std::int64_t beat) const;
  // The first beat that starts at or after timeline sample `position`.
  std::int64_t FirstBeatFrom(std::int64_t position) const;
  int BeatsPerMeasure() const { return beatsPerMeasure_; }

  // Adds the click to `frames` packed 24-bit samples heard from timeline
  // sample `position` on, leaving out every beat that starts before
  // `from`. Samples clip at full scale, as a converter does.
  void AddTo(std::uint8_t* samples, int frames, std::int64_t position, std::int64_t from) const;

 private:
  double framesPerBeat_ = 0.0;
  int beatsPerMeasure_ = 1;
  std::vector<std::int32_t> accent_;  // beat 1 of a bar
  std::vector<std::int32_t> beat_;
};

}  // namespace sondrel
