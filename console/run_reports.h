// The reports of transport runs and exports: the running clock and meters
// drawn while a run goes, and the peak and xrun summaries after it.
#pragma once

#include <cstdint>
#include <span>

#include "console/stop_key.h"
#include "core/session_state.h"
#include "engine/audio_device.h"
#include "engine/realtime.h"
#include "engine/run_observer.h"
#include "mixer/mixing.h"

namespace sondrel {

// The driver table of what the devices granted, and why a set-up failed:
// a failed set-up ends the program with status 1.
void ReportDeviceSetup(const DeviceSetup& setup);

// One line on standard error when the loop cannot run at real-time
// priority or keep its memory locked, saying how to allow both.
void ReportRealtimeSupport(const RealtimeSupport& support);

enum class PeakLabel { Channel, BusLeft, BusRight };

// One summary line: "channel 3: -6.02 dBFS", with a warning at full scale.
void PrintPeakLine(std::int64_t peak, int number, PeakLabel label);

// The peaks an export measured, under the headings of its mix mode.
void PrintExportPeaks(const SessionState& s, const MixPeaks& peaks);

// Draws a run on the terminal, with the session's clock and tempo modes,
// and watches the stop key while it goes.
class TerminalRunDisplay final : public RunObserver {
 public:
  explicit TerminalRunDisplay(const SessionState& session) : s_(session) {}

  void PreRollSet(std::int64_t inPoint, std::int64_t punchPoint, std::int64_t outPoint) override;
  void RunStarting(const RunStart& start) override;
  void ShowClock(std::int64_t position) override;
  void ShowMeter(const MeterFrame& frame, bool startsLine) override;
  void ShowMonitorLevels(std::span<const std::int64_t> inputPeak, std::span<const int> channels) override;
  void MarkUnderrun() override;
  void MarkOverrun() override;
  bool StopRequested() override;
  void RunFinished(const RunSummary& summary) override;

 private:
  const SessionState& s_;
  StopKey stopKey_;
};

}  // namespace sondrel
