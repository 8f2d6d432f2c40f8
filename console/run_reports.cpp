#include "console/run_reports.h"

#include <cstdio>

#include "core/program_exit.h"
#include "timebase/time_conversions.h"

namespace sondrel {

namespace {

float ReportLevel(std::int64_t peak) { return static_cast<float>(LevelDb(kReportReference, peak)); }

void PrintPeakLabel(int number, PeakLabel label) {
  switch (label) {
    case PeakLabel::Channel: std::printf("channel %i: ", number); break;
    case PeakLabel::BusLeft: std::printf("Bus %i L: ", number); break;
    case PeakLabel::BusRight: std::printf("Bus %i R: ", number); break;
  }
}

// Busses 2..64 that are in use, a left and a right line each; bus 1 is the
// output pair.
void PrintBusPeakLines(const MixPeaks& peaks, const std::array<int, kBusCount>& busActive) {
  for (int bus = 1; bus < kBusCount; ++bus) {
    if (busActive[bus] == 0) continue;
    PrintPeakLine(peaks.busLeft[bus], bus + 1, PeakLabel::BusLeft);
    PrintPeakLine(peaks.busRight[bus], bus + 1, PeakLabel::BusRight);
    std::printf("\n");
  }
}

void PrintPair(std::int64_t left, std::int64_t right) {
  PrintPeakLine(left, 1, PeakLabel::Channel);
  PrintPeakLine(right, 2, PeakLabel::Channel);
}

// After a recording that checked peaks: each armed input.
void PrintInputPeaks(std::span<const std::int64_t> inputPeak, std::span<const int> channels) {
  std::printf("\n\nInput Channel Peaks:\n");
  for (const int channel : channels) {
    if (channel < 1 || static_cast<std::size_t>(channel) > inputPeak.size()) continue;
    std::printf("\tchannel %i: %.2f dBFS\n", channel, ReportLevel(inputPeak[channel - 1]));
  }
}

// After playback: the stereo pair on outputs 1 and 2 (the mix in mode 1,
// bus 1 in modes 2 and 3, nothing in mode 0).
void PrintOutputPeaks(int mixMode, const MixPeaks& peaks) {
  std::printf("\nOutput Channel Peaks:\n");
  if (mixMode == 1) PrintPair(peaks.mixLeft, peaks.mixRight);
  if (mixMode == 2 || mixMode == 3) PrintPair(peaks.busLeft[0], peaks.busRight[0]);
  std::printf("\n");
}

void PrintXrunCounts(int underruns, int overruns) {
  if (underruns > 0) std::printf("\nPlay Underruns = %i\n", underruns);
  if (overruns > 0) std::printf("\nRecord Overruns = %i\n", overruns);
}

// Said once after the run, not as it happens: the loop cannot print.
void PrintDiskSilence(const SessionState& s, std::int64_t playbackFrames, std::int64_t captureFrames) {
  const auto seconds = [&s](std::int64_t frames) {
    return static_cast<double>(s.sampleRate == 0 ? 0.0f : SamplesToSeconds(frames, s.sampleRate));
  };
  if (playbackFrames > 0) {
    std::printf("\nThe disk was too slow: %.2f sec of the playback was silence\n", seconds(playbackFrames));
  }
  if (captureFrames > 0) {
    std::printf("\nThe disk was too slow: %.2f sec of each take is silence\n", seconds(captureFrames));
  }
}

void PrintPosition(const SessionState& s, const char* label, std::int64_t position) {
  if (s.tempoMode == 0) {
    std::printf("%s = %.2f sec\n", label, static_cast<double>(SamplesToSeconds(position, s.sampleRate)));
  } else if (s.tempoMode == 1) {
    int measure = 0;
    float beat = 0.0f;
    SampleToMeasures(s.beatsPerMeasure, s.tempo, position, &measure, &beat, s.sampleRate);
    std::printf("%s = %i.%.2f\n", label, measure, static_cast<double>(beat));
  }
}

// Where a run the user stopped got to, in the running clock's format.
void PrintStop(const SessionState& s, std::int64_t position) {
  if (s.tempoMode == 1) {
    const ClockReading clock = ClockMeasureBeat(position, s.sampleRate, s.tempo, s.beatsPerMeasure);
    std::printf("Stopped at measure.beat %i.%.2f\n", clock.measure, static_cast<double>(clock.beat));
    return;
  }
  const float seconds = s.sampleRate == 0 ? 0.0f : SamplesToSeconds(position, s.sampleRate);
  std::printf("Stopped at %.2f sec\n", static_cast<double>(seconds));
}

// The 24-column field: the bar, blanks up to the held peak, then the loudest
// channel's number as the peak marker, padded to the full width.
void DrawMeterField(double bars, float peakBars, int channel) {
  int column = 0;
  for (; column < kMeterColumns && bars > column; ++column) std::putchar('|');
  for (; column < kMeterColumns && peakBars > static_cast<float>(column); ++column) std::putchar(' ');
  std::printf("%i", channel);
  for (++column; column < kMeterColumns; ++column) std::putchar(' ');
}

void PrintClockPrefix(int clockMode) {
  if (clockMode == 1) std::putchar('\r');
  if (clockMode == 2) std::putchar('\n');
}

void PrintTableRow(const char* label, const StreamReport& r) {
  const long periods = r.periodFrames > 0 ? static_cast<long>(r.bufferFrames / r.periodFrames) : 0;
  std::printf("%s\t%i\t%i\t%i\t%i\n", label, static_cast<int>(r.periodFrames), static_cast<int>(periods),
              static_cast<int>(r.rate), static_cast<int>(r.channels));
}

// Where each failed step is told: most on standard error, the capture
// parameters (after the driver table) on standard output.
struct SetupFailureText {
  const char* format;
  std::FILE* stream;
};

SetupFailureText FailureText(const DeviceSetup& setup) {
  switch (setup.failedStep) {
    case DeviceSetupStep::OpenPlayback: return {"Playback device could not be opened: %s\n", stderr};
    case DeviceSetupStep::PlaybackFormat: return {"Problem setting playback format: %s\n", stderr};
    case DeviceSetupStep::PlaybackParameters: return {"Problem setting playback parameters: %s\n", stderr};
    case DeviceSetupStep::OpenCapture: return {"unable to open pcm record device: %s\n", stderr};
    case DeviceSetupStep::CaptureFormat: return {"Problem setting recording format: %s\n", stderr};
    case DeviceSetupStep::CaptureParameters: return {"Could not set record hardware parameters: %s\n", stdout};
    case DeviceSetupStep::Grant:
    case DeviceSetupStep::None: break;
  }
  return {nullptr, stdout};
}

// A stream that does not serve the project: what it offers against what the
// project needs.
void ReportGrant(const char* stream, const StreamReport& granted, int channels, unsigned int rate) {
  if (GrantServes(granted, channels, rate)) return;
  std::fprintf(stderr, "The device grants %u %s channels at %u Hz; the project needs %i at %u Hz\n", granted.channels,
               stream, granted.rate, channels, rate);
}

}  // namespace

void ReportDeviceSetup(const DeviceSetup& setup) {
  if (setup.periodDiffers) std::printf("Driver did not return requested period size.\n");
  if (setup.granted) {
    std::printf("\nReturned Driver Parameters:\n");
    std::printf("\tBuffer\tPeriods\tRate\tChannels\n");
    PrintTableRow("Play", setup.playback);
    PrintTableRow("Record", setup.capture);
    std::printf("-----------------------------------------\n\n");
  }
  if (setup.failedStep == DeviceSetupStep::Grant) {
    std::fflush(stdout);
    ReportGrant("playback", setup.playback, setup.outputsAsked, setup.rateAsked);
    ReportGrant("capture", setup.capture, setup.inputsAsked, setup.rateAsked);
    std::fprintf(stderr, "Use a plughw: device to convert, or change inputs, outputs or sr in param.txt\n");
    throw ProgramExit{1};
  }
  const SetupFailureText failure = FailureText(setup);
  if (failure.format == nullptr) return;
  std::fflush(stdout);
  std::fprintf(failure.stream, failure.format, snd_strerror(setup.alsaError));
  std::fflush(failure.stream);
  throw ProgramExit{1};
}

void ReportRealtimeSupport(const RealtimeSupport& support) {
  if (support.priorityAllowed && support.memoryLocked) return;
  std::fflush(stdout);
  std::fprintf(stderr,
               "Real-time priority or locked memory is not allowed, so a busy machine may break the sound up: "
               "add \"@audio - rtprio 95\" and \"@audio - memlock unlimited\" to /etc/security/limits.conf "
               "and join the audio group\n");
}

void PrintPeakLine(std::int64_t peak, int number, PeakLabel label) {
  PrintPeakLabel(number, label);
  if (peak <= 0) {
    std::printf("-144 dBFS\n");
    return;
  }
  const double peakDb = LevelDb(kReportReference, peak);
  std::printf("%.2f dBFS", peakDb);
  if (peakDb == 0.0) {
    std::printf(" WARNING!\n");
  } else if (peakDb > 0.0) {
    std::printf(" OVER!! \n");
  } else {
    std::printf("\n");
  }
}

void PrintExportPeaks(const SessionState& s, const MixPeaks& peaks) {
  // Modes 0 to 2 mix every track straight to the pair; mode 3 through the
  // busses into bus 1.
  if (s.mixMode == 3) {
    std::printf("\n\nBus Peaks:\n");
    PrintBusPeakLines(peaks, s.busActive);
    std::printf("\nOutput Peaks:\n");
    PrintPair(peaks.busLeft[0], peaks.busRight[0]);
  } else {
    std::printf("\n\nOutput Peaks:\n");
    PrintPair(peaks.mixLeft, peaks.mixRight);
  }
  std::printf("\n");
}

void TerminalRunDisplay::PreRollSet(std::int64_t inPoint, std::int64_t punchPoint, std::int64_t outPoint) {
  std::printf("Setting pre-roll\n");
  std::printf("play %lli rec %lli stop %lli\n", static_cast<long long>(inPoint), static_cast<long long>(punchPoint),
              static_cast<long long>(outPoint));
}

void TerminalRunDisplay::RunStarting(const RunStart& start) {
  stopKey_.Arm();
  if (start.plays && start.records) std::printf("Playing and Recording...\n");
  if (start.plays && !start.records) std::printf("Playing...\n");
  if (start.soloOnly) std::printf("Tracks are soloed\n");
  if (start.takeAudition) std::printf("Auditioning...\n");
  if (start.records && !start.plays) std::printf("Recording...\n");
  if (start.monitors) std::printf("Monitoring Input Peaks...\n");
  if (s_.interfaceMode != 1) return;
  if (start.plays) PrintPosition(s_, "playback start", start.startPosition);
  if (start.records) PrintPosition(s_, "record start  ", start.punchPoint);
  if (start.plays && start.records) PrintPosition(s_, "play/rec stop ", start.stopPosition);
  if (start.records && !start.plays) PrintPosition(s_, "record stop   ", start.stopPosition);
  if (start.plays && !start.records) PrintPosition(s_, "playback stop ", start.stopPosition);
}

void TerminalRunDisplay::ShowClock(std::int64_t position) {
  if (s_.tempoMode == 0) {
    const float seconds = s_.sampleRate == 0 ? 0.0f : SamplesToSeconds(position, s_.sampleRate);
    PrintClockPrefix(s_.clockMode);
    std::printf("clock = %.2f sec", static_cast<double>(seconds));
  } else if (s_.tempoMode == 1) {
    const ClockReading clock = ClockMeasureBeat(position, s_.sampleRate, s_.tempo, s_.beatsPerMeasure);
    PrintClockPrefix(s_.clockMode);
    std::printf("measure.beat = %i.%.2f ", clock.measure, static_cast<double>(clock.beat));
  }
  std::fflush(stdout);
}

void TerminalRunDisplay::ShowMeter(const MeterFrame& frame, bool startsLine) {
  if (startsLine) std::putchar('\r');
  std::printf("\t -%.0f dB [", static_cast<double>(frame.rangeDb));
  DrawMeterField(frame.barSteps, frame.peakBars, frame.channel);
  if (frame.over) {
    std::printf("] OVER CH %i", frame.overChannel);
  } else {
    std::printf("] %i dB", frame.topPeakDb);
  }
  std::printf("   ");
  std::fflush(stdout);
}

void TerminalRunDisplay::ShowMonitorLevels(std::span<const std::int64_t> inputPeak, std::span<const int> channels) {
  std::putchar('\r');
  for (const int channel : channels) {
    if (channel < 1 || static_cast<std::size_t>(channel) > inputPeak.size()) continue;
    std::printf("(%i/%.0f) ", channel, static_cast<double>(ReportLevel(inputPeak[channel - 1])));
  }
  // Blanks out what a longer previous line left behind.
  for (int i = 0; i < s_.inputs; ++i) std::putchar(' ');
  std::fflush(stdout);
}

void TerminalRunDisplay::MarkUnderrun() { std::printf("\nPX\n"); }

void TerminalRunDisplay::MarkOverrun() { std::printf("\nRX\n"); }

bool TerminalRunDisplay::StopRequested() { return stopKey_.Pressed(); }

void TerminalRunDisplay::RunFinished(const RunSummary& summary) {
  stopKey_.Disarm();
  std::printf("\n");
  if (summary.deviceLost) {
    std::printf("The audio device stopped answering: the run ended%s\n",
                summary.records ? ", and what it recorded is kept" : "");
  }
  if (summary.stopped) PrintStop(s_, summary.stopPosition);
  if (summary.records && s_.peakCheck == 1) PrintInputPeaks(summary.inputPeak, summary.armedInputs);
  if (summary.plays && s_.mixMode > 1) {
    std::printf("\nBus Peaks:\n\n");
    PrintBusPeakLines(*summary.mixPeaks, s_.busActive);
  }
  if (summary.plays) PrintOutputPeaks(s_.mixMode, *summary.mixPeaks);
  PrintXrunCounts(summary.underruns, summary.overruns);
  PrintDiskSilence(s_, summary.playbackStarvedFrames, summary.captureDroppedFrames);
}

}  // namespace sondrel
