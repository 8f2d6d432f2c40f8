#include "engine/latency_measure.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "core/file_io.h"
#include "core/interruption.h"
#include "engine/block_loop.h"
#include "engine/run_plan.h"
#include "wavfile/wav_format.h"

namespace sondrel {

namespace {

// The signal as a track: raw 24-bit samples in a file in memory.
UniqueFd SignalTrack(const std::vector<std::int32_t>& signal) {
  UniqueFd file = OpenMemoryFile("sondrel-test-signal");
  if (!file) return file;
  std::vector<std::uint8_t> bytes(signal.size() * kTrackBytesPerSample);
  for (std::size_t n = 0; n < signal.size(); ++n) EncodeSample24(signal[n], &bytes[n * kTrackBytesPerSample]);
  if (!WriteAll(file.Get(), bytes.data(), bytes.size())) return UniqueFd();
  return file;
}

// Where the input goes: a take in memory with a header, as the transport
// keeps its running size there.
UniqueFd LoopbackTake(std::uint32_t rateHz, std::int64_t frames) {
  UniqueFd file = OpenMemoryFile("sondrel-loopback");
  if (!file) return file;
  const WavHeader header = MakeHeaderBytes(rateHz, 24, frames, 1);
  if (!WriteAll(file.Get(), header.data(), header.size())) return UniqueFd();
  return file;
}

std::vector<std::int32_t> ReadLoopback(const UniqueFd& take, std::int64_t frames) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(frames) * kTrackBytesPerSample);
  const std::size_t got = ReadUpTo(take.Get(), kWavHeaderBytes, bytes.data(), bytes.size());
  std::vector<std::int32_t> samples(static_cast<std::size_t>(frames));
  for (std::size_t n = 0; n < got / kTrackBytesPerSample; ++n) {
    samples[n] = static_cast<std::int32_t>(DecodeSample24(&bytes[n * kTrackBytesPerSample]));
  }
  return samples;
}

// A run that plays the signal from the timeline's start and records the
// input for as long as the signal plus the longest delay searched. The take
// is placed for a latency of 0: take sample j is what came in as timeline
// sample j went out.
std::unique_ptr<RunPlan> LoopbackPlan(int output, int input, std::int64_t signalFrames, std::int64_t takeFrames) {
  auto plan = std::make_unique<RunPlan>();
  plan->plays = true;
  plan->records = true;
  plan->stopPosition = takeFrames;
  plan->takeLength = takeFrames;
  plan->roundTripFrames = 0;
  plan->playArmed[output - 1] = 1;
  plan->length[output - 1] = signalFrames;
  plan->recordArmed[input - 1] = 1;
  return plan;
}

}  // namespace

std::int64_t MaxRoundTripFrames(std::uint32_t rateHz) { return std::max<std::int64_t>(rateHz / 2, 16384); }

RoundTripMeasurement MeasureRoundTrip(const SessionState& s, AudioDevices& devices, TransportBuffers& buffers,
                                      TransportState& transport, int output, int input, RunObserver& observer) {
  RoundTripMeasurement result;
  if (output < 1 || output > std::min(s.outputs, buffers.channels)) {
    result.outcome = RoundTripOutcome::NoSuchOutput;
    return result;
  }
  if (input < 1 || input > std::min(s.inputs, buffers.capture.channels)) {
    result.outcome = RoundTripOutcome::NoSuchInput;
    return result;
  }
  const std::vector<std::int32_t> signal = MakeTestSignal(kTestSignalOrder, kTestSignalAmplitude);
  const std::int64_t maxLag = MaxRoundTripFrames(s.sampleRate);
  const auto takeFrames = static_cast<std::int64_t>(signal.size()) + maxLag;
  auto plan = LoopbackPlan(output, input, static_cast<std::int64_t>(signal.size()), takeFrames);
  plan->playFiles[output - 1] = SignalTrack(signal);
  plan->takeFiles[input - 1] = LoopbackTake(s.sampleRate, takeFrames);
  if (!plan->playFiles[output - 1] || !plan->takeFiles[input - 1]) return result;

  // No clock, meter, peaks or mix: the signal goes straight to its output.
  auto quiet = std::make_unique<SessionState>(s);
  quiet->clockMode = 0;
  quiet->meterRange = 0;
  quiet->peakCheck = 0;
  quiet->mixMode = 0;
  LoopSettings settings;
  settings.session = quiet.get();
  settings.gains = &transport.gains;
  settings.mixWork = transport.mixWork.get();
  settings.meter = &transport.meter;
  settings.observer = &observer;
  settings.refreshInterval = s.sampleRate;

  auto measures = std::make_unique<RunMeasures>();
  SilenceUnplayedChannels(buffers, plan->playArmed);
  PrepareDevicesForRun(devices, true, true);
  RunBlockLoop(devices, buffers, *plan, settings, *measures);
  // A SIGINT that stopped the measurement is used up, as after any run.
  ClearRunInterruption();
  result.underruns = measures->underruns;
  result.overruns = measures->overruns;
  if (measures->stopped) {
    result.outcome = RoundTripOutcome::Stopped;
    return result;
  }
  result.analysis = AnalyseLoopback(signal, ReadLoopback(plan->takeFiles[input - 1], takeFrames), maxLag);
  result.outcome =
      result.analysis.verdict == LoopbackVerdict::Found ? RoundTripOutcome::Measured : RoundTripOutcome::Refused;
  return result;
}

}  // namespace sondrel
