// Transport runs: play, record, audition and monitor, from the checks before
// a run to the summaries after it, and the exit pass that leaves the devices
// drained and closed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/session_state.h"
#include "core/user_dialog.h"
#include "engine/audio_device.h"
#include "engine/metering.h"
#include "engine/run_observer.h"
#include "mixer/click.h"
#include "mixer/mixer_settings.h"
#include "mixer/mixing.h"

namespace sondrel {

enum class RunKind {
  None,
  Play,
  PlaySoloed,
  RecordWithPlayback,
  RecordWithoutPlayback,
  RecordAtInPoint,
  AuditionFromIn,
  AuditionFromOut,
  AuditionFromPunch,
  MonitorAll,
  MonitorArmed,
  AuditionTake,  // the take menu's audition of a new take against the other tracks
};

// What the transport keeps from one run to the next, for the program's life.
struct TransportState {
  TransportState() : mixWork(std::make_unique<MixWorkspace>()) {}

  MeterState meter;
  std::unique_ptr<MixWorkspace> mixWork;  // large: allocated once
  ChannelGains gains;
  // Display refresh interval in samples; a hidden clock keeps the last one.
  std::int64_t refreshInterval = 0;
  // A record-at-in-point run moves the in and punch points for its
  // pre-roll; they go back after the next run that gets going.
  bool preRollRestorePending = false;
  std::int64_t savedInPoint = 0;
  std::int64_t savedPunchPoint = 0;
  // Take number of the newest take file; backups of a punch-in use it.
  std::int64_t lastTakeNumber = 0;
  Click click;  // prepared before each run
};

struct RunRequest {
  RunKind kind = RunKind::None;
  bool presetTakeNaming = false;
  std::string presetTakeName;
  float monitorSeconds = 0.0f;
  std::int64_t auditionSamples = 0;

  // Auditioning a take: `takePlaylist` is played instead of the playlist
  // file, from takeStart + startOffset to the out point less endCut; the
  // channels marked in `takeChannels` start at takeStart on the timeline.
  std::string takePlaylist;
  std::array<int, kMaxChannels> takeChannels{};
  std::int64_t takeStart = 0;
  std::int64_t startOffset = 0;
  std::int64_t endCut = 0;
};

// What a recording leaves for the take menu.
struct Recording {
  bool made = false;              // a recording ran and its takes await a decision
  std::string takeList;           // one line per input: take file name or "-"
  std::string setAsideList;       // the same for the takes cut short: the name each is kept under
  std::array<int, kMaxChannels> recordArmed{};
  std::int64_t takeLength = 0;    // samples in each take
  std::int64_t punchPoint = 0;    // where the takes start on the timeline
};

// Runs one transport command. Returns the recording for the take menu when
// the run recorded without a preset take name.
Recording RunTransport(SessionState& s, AudioDevices& devices, TransportBuffers& buffers, TransportState& transport,
                       const MeterScale& meterScale, const RunRequest& request, UserDialog& dialog,
                       RunObserver& observer);

// The console's exit: the current list files are read as for any run (asking
// for another name while one is missing), nothing is armed or moved, a
// pending pre-roll restore is done and the devices are drained and closed.
void RunExitForm(SessionState& s, AudioDevices& devices, TransportState& transport, UserDialog& dialog);

}  // namespace sondrel
