// What a transport run is to do, prepared before it starts, and what it
// measured, for the summaries after it.
#pragma once

#include <array>
#include <cstdint>

#include "core/file_io.h"
#include "core/session_state.h"
#include "mixer/mixing.h"

namespace sondrel {

// Everything a run needs in the loop, prepared by the run set-up.
struct RunPlan {
  bool plays = false;
  bool records = false;
  bool monitors = false;

  std::int64_t startPosition = 0;  // timeline position of the first loaded chunk
  std::int64_t stopPosition = 0;   // the out point (monitor runs: the monitor length)
  std::int64_t punchPoint = 0;
  std::int64_t takeLength = 0;
  bool inEqualsPunch = true;
  int odcomp = 0;
  std::int64_t roundTripFrames = kRoundTripNotMeasured;  // the interface's measured latency

  // The click's output channel (from 0; -1: none) and the timeline sample
  // from which its beats sound. A count-in plays countInFrames of silence,
  // whole chunks, before the run's leading chunk, so that its bars of click
  // fit before the start; everything else of the run follows as without it.
  int clickChannel = -1;
  std::int64_t clickFrom = 0;
  std::int64_t countInFrames = 0;

  // Per channel (index = channel - 1).
  std::array<int, kMaxChannels> playArmed{};
  std::array<int, kMaxChannels> recordArmed{};  // recording and the armed-only monitor
  std::array<int, kMaxChannels> replace{};      // playlist and recordlist name the same file
  std::array<UniqueFd, kMaxChannels> playFiles;
  std::array<UniqueFd, kMaxChannels> takeFiles;
  std::array<std::int64_t, kMaxChannels> dataOffset{};     // first sample byte of each play file
  std::array<std::int64_t, kMaxChannels> length{};         // samples in each play file
  std::array<std::int64_t, kMaxChannels> timelineStart{};  // where each play file starts
};

// What the loop measured, for the summaries.
struct RunMeasures {
  std::array<std::int64_t, kMaxChannels> inputPeak{};
  std::int64_t intervalPeak = 0;
  int intervalPeakChannel = 0;
  MixPeaks mixPeaks;
  int underruns = 0;
  int overruns = 0;
  // A run stopped by the user (a key or a signal) before its stop point.
  bool stopped = false;
  // The device stopped moving or failed beyond recovery (a server gone, a
  // card unplugged): the run ended by itself, as on a stop.
  bool deviceLost = false;
  std::int64_t stopPosition = 0;
  // Samples written to each take: the take length, or less after a stop.
  std::int64_t recordedSamples = 0;
  // Timeline frames played as silence because the disk had not read them
  // in time, and take samples left silent because it could not write them.
  std::int64_t playbackStarvedFrames = 0;
  std::int64_t captureDroppedFrames = 0;
  // Inputs whose take file could not be written completely.
  std::array<int, kMaxChannels> takeWriteFailed{};
  std::array<int, kMaxChannels> takeWriteErrno{};
};

}  // namespace sondrel
