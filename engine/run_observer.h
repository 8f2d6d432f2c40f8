// What a transport run shows while it goes: the console implements this to
// draw the run's start, its running clock and meters, its xruns and its
// summaries. The real-time loop calls the display methods only at its
// display refreshes and xruns; an implementation must not allocate or wait
// there.
#pragma once

#include <cstdint>
#include <span>

#include "engine/metering.h"
#include "mixer/mixing.h"

namespace sondrel {

// The kind of run about to start and where it plays and records.
struct RunStart {
  bool plays = false;
  bool records = false;
  bool monitors = false;
  bool soloOnly = false;
  bool takeAudition = false;
  std::int64_t startPosition = 0;
  std::int64_t punchPoint = 0;
  std::int64_t stopPosition = 0;
};

// What a finished run measured, for its summaries.
struct RunSummary {
  bool plays = false;
  bool records = false;
  std::span<const int> armedInputs;        // recorded inputs, from 1, in order
  std::span<const std::int64_t> inputPeak;  // per input, from 0
  const MixPeaks* mixPeaks = nullptr;
  int underruns = 0;
  int overruns = 0;
  bool stopped = false;           // stopped by the user before its stop point
  bool deviceLost = false;        // ended by a device that stopped answering
  std::int64_t stopPosition = 0;  // where, on the running clock
  // Silence the disk caused: timeline frames played silent because their
  // chunk was not read in time, take samples left silent because the
  // captured audio could not be written in time.
  std::int64_t playbackStarvedFrames = 0;
  std::int64_t captureDroppedFrames = 0;
};

class RunObserver {
 public:
  // A record-at-in-point run moved the in and punch points for its pre-roll.
  virtual void PreRollSet(std::int64_t inPoint, std::int64_t punchPoint, std::int64_t outPoint) = 0;
  virtual void RunStarting(const RunStart& start) = 0;

  // From the real-time loop.
  virtual void ShowClock(std::int64_t position) = 0;
  virtual void ShowMeter(const MeterFrame& frame, bool startsLine) = 0;
  virtual void ShowMonitorLevels(std::span<const std::int64_t> inputPeak, std::span<const int> channels) = 0;
  virtual void MarkUnderrun() = 0;
  virtual void MarkOverrun() = 0;
  // Asked on every pass of the loop: whether the user wants the run to stop
  // now. Must answer at once, and should look at its input only every few
  // milliseconds.
  virtual bool StopRequested() = 0;

  virtual void RunFinished(const RunSummary& summary) = 0;

 protected:
  ~RunObserver() = default;
};

}  // namespace sondrel
