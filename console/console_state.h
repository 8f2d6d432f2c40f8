// Everything the console holds for a session besides the SessionState: the
// devices, the transport buffers, the lengths derived from the settings and
// the state of the current pass.
#pragma once

#include <cstdint>

#include "core/session_state.h"
#include "console/input.h"
#include "console/run_reports.h"
#include "console/terminal_dialog.h"
#include "engine/audio_device.h"
#include "engine/metering.h"
#include "engine/transport.h"

namespace sondrel {

enum class PendingAction { None, Run, Exit };

// Sample lengths worked out from settings in seconds or milliseconds; the
// menus that change those settings recompute them.
struct DerivedLengths {
  std::int64_t auditionSamples = 0;
  std::int64_t crossfadeHalfSamples = 0;
  std::int64_t crossfadeSamples = 0;  // always twice the half
  std::int64_t nudgeSamples = 0;
};

struct ConsoleState {
  explicit ConsoleState(SessionState& session) : s(session) {}

  SessionState& s;
  // The last write of param.txt failed: the program's exit status says so.
  bool settingsUnsaved = false;
  TerminalDialog dialog;
  TerminalRunDisplay display{s};
  AudioDevices devices;
  TransportBuffers buffers;
  MeterScale meter;
  DerivedLengths lengths;
  TransportState transport;

  // The shared word buffer: menus read their answers into it, and the tests
  // after a menu see its last answer.
  WordBuffer word{};
  bool mixerView = false;
  PendingAction pending = PendingAction::None;
  RunKind runKind = RunKind::None;
  bool presetTakeNaming = false;
  TextField<kListSlotSize> presetTakeName{};
  float monitorSeconds = 0.0f;
  // Once "W" is answered at the take menu's replace question, it is not
  // asked again while the program runs.
  bool replaceOverwriteAll = false;
};

void ComputeDerivedLengths(ConsoleState& console);
// The single lengths, for the menus that change one setting.
void ComputeAuditionLength(ConsoleState& console);
void ComputeCrossfadeLengths(ConsoleState& console);

// What a command handler tells the loop about the rest of the pass.
enum class Flow {
  Continue,             // the word goes on to the following tests
  EndPass,              // no further tests; a pending run still starts
  EndPassClearPending,  // no further tests, and nothing pending
};

// A console command: acts on the session in place.
using Handler = Flow (*)(ConsoleState&);

}  // namespace sondrel
