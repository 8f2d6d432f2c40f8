#include "console/latency_command.h"

#include <cstdio>

#include "console/input.h"
#include "console/stop_key.h"
#include "engine/latency_measure.h"

namespace sondrel {

namespace {

// The measurement shows no clock or meter; xruns are reported as in any
// run, and any key stops it.
class MeasurementDisplay final : public RunObserver {
 public:
  MeasurementDisplay() { stopKey_.Arm(); }
  void PreRollSet(std::int64_t, std::int64_t, std::int64_t) override {}
  void RunStarting(const RunStart&) override {}
  void ShowClock(std::int64_t) override {}
  void ShowMeter(const MeterFrame&, bool) override {}
  void ShowMonitorLevels(std::span<const std::int64_t>, std::span<const int>) override {}
  void MarkUnderrun() override { std::printf("\nPX\n"); }
  void MarkOverrun() override { std::printf("\nRX\n"); }
  bool StopRequested() override { return stopKey_.Pressed(); }
  void RunFinished(const RunSummary&) override {}

 private:
  StopKey stopKey_;
};

double Milliseconds(std::int64_t frames, std::uint32_t rateHz) {
  return rateHz == 0 ? 0.0 : 1000.0 * static_cast<double>(frames) / rateHz;
}

void ShowCurrentLatency(const SessionState& s) {
  if (s.roundTripFrames < 0) {
    std::printf("Round-trip latency: not measured (takes are placed by odcomp)\n");
  } else {
    std::printf("Round-trip latency: %lli samples (%.2f ms)\n", static_cast<long long>(s.roundTripFrames),
                Milliseconds(s.roundTripFrames, s.sampleRate));
  }
}

void ExplainRefusal(const SessionState& s, const RoundTripMeasurement& m, int output, int input) {
  const LoopbackResult& a = m.analysis;
  switch (m.outcome) {
    case RoundTripOutcome::NoSuchOutput:
      std::printf("There is no output %i: the interface has %i\n", output, s.outputs);
      break;
    case RoundTripOutcome::NoSuchInput:
      std::printf("There is no input %i: the interface has %i\n", input, s.inputs);
      break;
    case RoundTripOutcome::Stopped:
      std::printf("Measurement stopped\n");
      break;
    case RoundTripOutcome::Failed:
      std::printf("Cannot measure: no memory file for the test signal\n");
      break;
    case RoundTripOutcome::Refused:
      if (a.verdict == LoopbackVerdict::NoSignal) {
        std::printf("Nothing came back on input %i (peak %.1f dBFS): check the cable and the input's gain\n", input,
                    a.peakDbfs);
      } else if (a.verdict == LoopbackVerdict::Clipped) {
        std::printf("Input %i clipped: turn its gain down and measure again\n", input);
      } else {
        std::printf("No single clear delay (best %lli samples, confidence %.1f dB): another path or an echo "
                    "reaches input %i; measure again with the cable alone\n",
                    static_cast<long long>(a.delayFrames), a.confidenceDb, input);
      }
      break;
    case RoundTripOutcome::Measured:
      break;
  }
}

}  // namespace

Flow MeasureLatencyCommand(ConsoleState& console) {
  SessionState& s = console.s;
  ShowCurrentLatency(s);
  std::printf("Wire an output to an input with a cable: the output plays a burst of noise at -20 dBFS.\n");
  std::printf("Enter output channel (1-%i)\n", s.outputs);
  const int output = ReadInt();
  std::printf("Enter input channel (1-%i)\n", s.inputs);
  const int input = ReadInt();
  std::printf("Measuring...\n");
  RoundTripMeasurement measured;
  {
    MeasurementDisplay display;
    measured = MeasureRoundTrip(s, console.devices, console.buffers, console.transport, output, input, display);
  }
  if (measured.outcome != RoundTripOutcome::Measured) {
    ExplainRefusal(s, measured, output, input);
    return Flow::EndPassClearPending;
  }
  const LoopbackResult& a = measured.analysis;
  std::printf("Round-trip latency: %lli samples (%.2f ms), confidence %.1f dB\n", static_cast<long long>(a.delayFrames),
              Milliseconds(a.delayFrames, s.sampleRate), a.confidenceDb);
  std::printf("Enter 'y' to place takes by it from now on (save with 's'), anything else to keep the old value\n");
  WordBuffer answer{};
  ReadWord(answer);
  if (WordOf(answer) != "y") {
    std::printf("Round-trip latency kept\n");
    return Flow::EndPassClearPending;
  }
  s.roundTripFrames = a.delayFrames;
  std::printf("Round-trip latency set to %lli samples\n", static_cast<long long>(s.roundTripFrames));
  return Flow::EndPassClearPending;
}

}  // namespace sondrel
