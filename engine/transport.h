// Transport runs: play, record, audition and monitor, and the exit pass that
// leaves the devices drained and closed.
#pragma once

#include "app/session_state.h"
#include "engine/audio_device.h"

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
};

// The console's exit: the current list files are read as for any run (asking
// for another name while one is missing), nothing is armed or moved, and the
// devices are drained and closed.
void RunExitForm(SessionState& s, AudioDevices& devices, TransportBuffers& buffers);

}  // namespace sondrel
