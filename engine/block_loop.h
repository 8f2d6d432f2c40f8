// The real-time loop of a transport run: blocks of one period move between
// the devices and chunks of track audio that a disk thread reads ahead of
// the loop and writes behind it. The loop wakes with the device, writes and
// reads whole blocks, and never touches a file, allocates or formats text
// except at display refreshes.
#pragma once

#include <array>
#include <cstdint>

#include "core/session_state.h"
#include "engine/audio_device.h"
#include "engine/metering.h"
#include "engine/run_observer.h"
#include "engine/run_plan.h"
#include "mixer/click.h"
#include "mixer/mixing.h"

namespace sondrel {

// Settings the loop reads but never changes.
struct LoopSettings {
  const SessionState* session = nullptr;
  const ChannelGains* gains = nullptr;
  MixWorkspace* mixWork = nullptr;
  MeterState* meter = nullptr;
  MeterScale meterScale;
  RunObserver* observer = nullptr;
  std::int64_t refreshInterval = 0;
  const Click* click = nullptr;  // prepared; sounds where the plan says
};

// Runs the loop until its stop point, or until the user stops it (the
// observer's stop request, or a pending interruption signal). A stopped
// recording writes what it captured up to the stop, in whole samples. The
// devices must be prepared.
void RunBlockLoop(AudioDevices& devices, TransportBuffers& buffers, RunPlan& plan, const LoopSettings& settings,
                  RunMeasures& measures);

}  // namespace sondrel
