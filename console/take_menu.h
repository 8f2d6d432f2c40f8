// What becomes of a new take: the take menu after a recording. It replaces
// the record files, punches the take into them, keeps it under names
// derived from the record list, auditions it, or deletes it.
#pragma once

#include <cstdint>

#include "core/session_state.h"
#include "engine/audio_device.h"
#include "engine/metering.h"
#include "engine/transport.h"

namespace sondrel {

// Everything the take menu works with besides the recording itself.
struct TakeContext {
  SessionState& s;
  AudioDevices& devices;
  TransportBuffers& buffers;
  TransportState& transport;
  MeterScale meterScale;
  std::int64_t crossfadeSamples = 0;  // L: both edges of a punch-in blend over L samples
  // Once "W" is answered to the replace question, replacing never asks again.
  bool& replaceOverwriteAll;
  UserDialog& dialog;
  RunObserver& observer;
};

// Runs the take menu until one of its commands has been carried out (an
// audition returns to the menu).
void RunTakeMenu(TakeContext& context, const Recording& recording);

}  // namespace sondrel
