// Measuring the interface's round-trip latency: a test signal leaves one
// output, comes back on an input wired to it with a cable, and the delay
// between the two is found by cross-correlation, to the sample.
//
// The measurement runs through the same transport as a recording, with the
// take placed as if the latency were 0, so what it finds is exactly what a
// recording must allow for on this device, whatever the device adds.
#pragma once

#include <cstdint>

#include "core/session_state.h"
#include "engine/audio_device.h"
#include "engine/loopback_analysis.h"
#include "engine/run_observer.h"
#include "engine/transport.h"

namespace sondrel {

// The test signal: a maximum-length sequence of 16383 samples (a third of a
// second at 48 kHz) at -20 dBFS, loud enough to stand far above an input's
// noise and far enough below full scale not to clip a loop at unity gain.
constexpr int kTestSignalOrder = 14;
constexpr std::int32_t kTestSignalAmplitude = 838861;

enum class RoundTripOutcome {
  Measured,
  NoSuchOutput,  // the interface has fewer outputs than the one asked for
  NoSuchInput,
  Refused,       // the analysis did not trust what came back (see analysis.verdict)
  Stopped,       // the user stopped the run
  Failed,        // the signal could not be handed to the transport
};

struct RoundTripMeasurement {
  RoundTripOutcome outcome = RoundTripOutcome::Failed;
  LoopbackResult analysis;
  int underruns = 0;
  int overruns = 0;
};

// The delays searched: half a second, and never less than 16384 frames.
std::int64_t MaxRoundTripFrames(std::uint32_t rateHz);

// Plays the test signal on `output` and records `input` (both from 1).
RoundTripMeasurement MeasureRoundTrip(const SessionState& s, AudioDevices& devices, TransportBuffers& buffers,
                                      TransportState& transport, int output, int input, RunObserver& observer);

}  // namespace sondrel
