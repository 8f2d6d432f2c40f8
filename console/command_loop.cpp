#include "console/command_loop.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "core/interruption.h"
#include "core/program_exit.h"
#include "core/settings_file.h"
#include "console/device_choice.h"
#include "console/export_command.h"
#include "console/locates_ranges.h"
#include "console/menus.h"
#include "console/mixer_view.h"
#include "console/latency_command.h"
#include "console/meter_command.h"
#include "console/time_points.h"
#include "console/track_lists.h"
#include "engine/transport.h"
#include "mixer/mixer_settings.h"
#include "timebase/time_conversions.h"
#include "console/take_menu.h"

namespace sondrel {

namespace {

// ---------------------------------------------------------------- start-up

void RoundPositionsToBlocks(SessionState& s, int block) {
  auto round = [block](std::int64_t& position) { RoundSamplesToBlocks(block, position, &position); };
  round(s.inPoint);
  round(s.outPoint);
  round(s.punchPoint);
  round(s.memoryPoint);
  for (auto& p : s.rangeStart) round(p);
  for (auto& p : s.rangeEnd) round(p);
  for (auto& p : s.locatePoints) round(p);
}

// Puts a settings text in place as param.txt and says so, or why not; the
// program goes on either way, and ends with status 1 unless a later write
// succeeds.
void WriteSettingsAndTell(ConsoleState& console, const std::string& text, const char* done) {
  const IoResult written = WriteSettingsFile(text);
  console.settingsUnsaved = !written;
  if (!written) {
    console.dialog.Tell({NoticeKind::SettingsNotWritten, kSettingsFileName, {}, written.error});
    return;
  }
  std::fputs(done, stdout);
}

void StartConsole(ConsoleState& console) {
  SessionState& s = console.s;
  ReportDeviceSetup(OpenAudioDevices(s, console.devices));
  if (s.settingsCreated == 1) {
    WriteSettingsAndTell(console, BuildFirstRunText(s, console.devices.requestedPeriodFrames),
                         "Created param.txt file\n");
    s.settingsCreated = 0;
  }
  AllocateTransportBuffers(console.buffers, s.tracks, s.inputs, s.sampleRate, console.devices.chunkFrames);
  ReportRealtimeSupport(PrepareRealtime());
  CheckClickOutput(s);
  console.meter = MeterScaleFromRange(s.meterRange);
  ComputeDerivedLengths(console);
  RoundPositionsToBlocks(s, console.devices.blockFrames);
  // A level outside -144..+15 dB (a hand-edited param.txt) would leave its
  // bus at the raw gain of 1, 48 dB past full scale in the mix's fixed
  // point: such a bus starts at the nearest level the mixer allows instead.
  for (int b = 0; b < kBusCount; ++b) {
    const float db = std::isnan(s.busVolume[b]) ? 0.0f : std::clamp(s.busVolume[b], kMinLevelDb, kMaxBusLevelDb);
    // Clamped into the range the mixer takes, so the level is always set.
    (void)SetBusVolume(s.busGain, db, b);
  }
}

// ---------------------------------------------------------- status display

struct MeasureBeat {
  int measure;
  float beat;
};

MeasureBeat ToMeasureBeat(const SessionState& s, std::int64_t position) {
  MeasureBeat mb{};
  SampleToMeasures(s.beatsPerMeasure, s.tempo, position, &mb.measure, &mb.beat, s.sampleRate);
  return mb;
}

void PrintSmallMenu() {
  std::printf("\n");
  std::printf("   '+' for all functions\n");
  std::printf("   's' to save all settings to param.txt file\n");
  std::printf("   'x' to exit program\n");
}

void PrintFullStatusSeconds(const SessionState& s) {
  const float in = SamplesToSeconds(s.inPoint, s.sampleRate);
  const float out = SamplesToSeconds(s.outPoint, s.sampleRate);
  const float punch = SamplesToSeconds(s.punchPoint, s.sampleRate);
  const float memory = SamplesToSeconds(s.memoryPoint, s.sampleRate);
  // Recording with playback cannot start before playback does.
  const float recordFrom = s.punchPoint >= s.inPoint ? punch : in;
  std::printf("Time functions:  (memory = %.2f)\n\n", memory);
  std::printf("   'i' to set play start (%.2f)\n", in);
  std::printf("   'o' to set play/record stop (%.2f)\n", out);
  std::printf("   'e' to set record enter (%.2f)\n", punch);
  std::printf("\nTransport:\n\n");
  std::printf("   'p' to play from %.2f to %.2f.\n", in, out);
  std::printf("   'r' to play from %.2f and record from %.2f to %.2f.\n", in, recordFrom, out);
  std::printf("   'R' to record without playback from %.2f to %.2f.\n", punch, out);
}

void PrintFullStatusMeasures(const SessionState& s) {
  const MeasureBeat in = ToMeasureBeat(s, s.inPoint);
  const MeasureBeat out = ToMeasureBeat(s, s.outPoint);
  const MeasureBeat punch = ToMeasureBeat(s, s.punchPoint);
  const MeasureBeat memory = ToMeasureBeat(s, s.memoryPoint);
  const MeasureBeat recordFrom = s.inPoint <= s.punchPoint ? punch : in;
  std::printf("Time functions:  (memory = %i.%.2f)\n\n", memory.measure, memory.beat);
  std::printf("   'i' to set play start  (%i.%.2f)\n", in.measure, in.beat);
  std::printf("   'o' to set play/record stop (%i.%.2f)\n", out.measure, out.beat);
  std::printf("   'e' to set record enter (%i.%.2f)\n", punch.measure, punch.beat);
  std::printf("\nTransport:\n\n");
  std::printf("   'p' to play from %i.%.2f to %i.%.2f\n", in.measure, in.beat, out.measure, out.beat);
  std::printf("   'r' to play from %i.%.2f and record from %i.%.2f to %i.%.2f\n", in.measure, in.beat,
              recordFrom.measure, recordFrom.beat, out.measure, out.beat);
  std::printf("   'R' to record without playback from %i.%.2f to %i.%.2f\n", punch.measure, punch.beat,
              out.measure, out.beat);
}

// Shows the status of a pass and reads the command word; with the mixer view
// on, the word left by the mixer prompt is used again instead.
void ShowStatusAndReadWord(ConsoleState& console) {
  if (console.mixerView) return;
  const SessionState& s = console.s;
  if (s.interfaceMode == 1) {
    if (s.tempoMode == 0) PrintFullStatusSeconds(s);
    if (s.tempoMode == 1) PrintFullStatusMeasures(s);
    PrintSmallMenu();
  } else if (s.interfaceMode == 0) {
    PrintShortStatus(console);
  }
  ReadWord(console.word);
}

// ------------------------------------------------------------- full help

constexpr const char* kHelpLines[] = {
    "\nFunctions:\n",
    "Monitoring:",
    "   'ma' to monitor all input channels for peaks ",
    "   'mr' to monitor record enabled channels for peaks ",
    "Assignments:",
    "   'lr' to list record ready tracks.",
    "   'lp' to list play ready tracks.",
    "Mixing:",
    "   'mix' to show mixer and adjust volume and pan",
    "   'mod' to change mix mode",
    "   'bus' to change bus routing",
    "File Export:",
    "   'exp-i' to export mix as interleaved stereo file",
    "   'exp-s' to export mix as split L/R files",
    "   's' to save all settings",
    "Settings:",
    "   'mtr' to adjust meter range",
    "   'tempo' to adjust tempo mode and settings",
    "   'opt' for options (clock, peaks, interface)",
    "   'safe' to view and change safety mode",
    "   'so' to view and edit solo assignments",
    "   'pre' to set preroll amount",
    nullptr,  // the click and the count-in, as they stand
    "   'lat' to measure the interface's round-trip latency",
    "   'cards' to list the audio devices and whether each fits",
    "Transport:",
    "   'i'  'o' or 'e' to set in, out, and record start",
    "   'j'  to jump ahead and 'J' to jump backward",
    "   'p'  to play",
    "   'sp' to play soloed tracks",
    "   'pf' to select a playlist file",
    "   'rf' to select a recordlist file",
    "   'r'  to record with playback",
    "   'R'  to record without playback",
    "   'ri' to record at in-point with preroll",
    "   'R_takeName' to record with preemptive take naming",
    "   'f'  to set stop to longest playing file",
    "   'cf' to set crossfade length",
    "   'ai' to audition from play start",
    "   'ao' to audition from play finish",
    "   'ae' to audition from record start",
    "   'aa' to set audition length",
    "   'x'  to exit program",
    "Nudging:",
    "   'n'  to nudge start forward",
    "   'b'  to nudge start backward",
    "   'no' and 'bo' to nudge stop point forward/backward",
    "   'ne' and 'be' to nudge record start forward/backward",
    "   'N'  and 'B' to nudge all",
    "   'nn' to set nudge amount",
    "Time Copy:",
    "   'i.o' 'e.o' or 'm.o' to copy to stop time",
    "   'i.m' 'e.m' or 'o.m' to copy to memory",
    "   'i.e' 'm.e' or 'o.e' to copy to record start",
    "   'e.i' 'm.i' or 'o.i' to copy to play start",
    "Locate and Range Points:",
    "   'io.' store range and '.io' recall range",
    "   'll'  to list locate points",
    "   'lio' to view range points",
    "   'i.l' 'o.l' or 'e.l' to save times to locate point",
    "   'l.i' 'l.o' or 'l.e' to recall times from locate point",
    "",
    "Enter 'c' continue",
};

// ------------------------------------------------------------- the tests

using Predicate = bool (*)(std::string_view word);

enum class Match { Exact, Contains, Custom };

struct CommandTest {
  int group;  // tests sharing a non-zero group: only the first match runs
  Match match;
  std::string_view literal;
  Predicate custom;
  Handler handler;
};

constexpr CommandTest Exact(int group, std::string_view word, Handler handler) {
  return {group, Match::Exact, word, nullptr, handler};
}
constexpr CommandTest Contains(int group, std::string_view part, Handler handler) {
  return {group, Match::Contains, part, nullptr, handler};
}
constexpr CommandTest Custom(int group, Predicate predicate, Handler handler) {
  return {group, Match::Custom, {}, predicate, handler};
}

bool Matches(const CommandTest& test, std::string_view word) {
  switch (test.match) {
    case Match::Exact: return word == test.literal;
    case Match::Contains: return word.find(test.literal) != std::string_view::npos;
    case Match::Custom: return test.custom(word);
  }
  return false;
}

bool StartsWith(std::string_view word, char c) { return !word.empty() && word.front() == c; }
bool Has(std::string_view word, std::string_view part) { return word.find(part) != std::string_view::npos; }

// Direct time entries: a time typed straight after the point's letter.
bool IsDirectInEntry(std::string_view w) { return StartsWith(w, 'i') && !Has(w, "i.") && w != "io" && w != "io."; }
bool IsDirectOutEntry(std::string_view w) { return StartsWith(w, 'o') && !Has(w, "o.") && w != "opt"; }
bool IsDirectPunchEntry(std::string_view w) {
  return StartsWith(w, 'e') && !Has(w, "e.") && w != "exp-s" && w != "exp-i";
}
bool IsTakeNameSuffix(std::string_view w) { return Has(w, "r_") || Has(w, "R_") || Has(w, "ri_"); }

Flow ShowHelp(ConsoleState& console) {
  for (const char* line : kHelpLines) {
    if (line == nullptr) {
      PrintClickState(console.s);
    } else {
      std::printf("%s\n", line);
    }
  }
  WaitForWord(console.word, "c");
  return Flow::Continue;
}

Flow ToggleMixerView(ConsoleState& console) {
  console.mixerView = !console.mixerView;
  if (console.mixerView) console.word[0] = '\0';
  return Flow::Continue;
}

Flow LeaveMixerView(ConsoleState& console) {
  console.mixerView = false;
  return Flow::Continue;
}

Flow RequestExit(ConsoleState& console) {
  console.pending = PendingAction::Exit;
  return Flow::Continue;
}

Flow SaveSettings(ConsoleState& console) {
  WriteSettingsAndTell(console, BuildSettingsText(console.s, console.devices.requestedPeriodFrames),
                       "\nStored Settings\n\n");
  return Flow::Continue;
}

template <RunKind kind>
Flow RequestRun(ConsoleState& console) {
  console.pending = PendingAction::Run;
  console.runKind = kind;
  return Flow::Continue;
}

// "R_verse" records without playback into takes named after "verse"; the
// word goes on as "R".
Flow SplitTakeName(ConsoleState& console) {
  const std::string_view word = WordOf(console.word);
  const std::size_t underscore = word.find('_');
  SetText(console.presetTakeName, word.substr(underscore + 1));
  console.presetTakeNaming = true;
  console.word[underscore] = '\0';
  return Flow::Continue;
}

template <RunKind kind>
Flow RequestMonitor(ConsoleState& console) {
  std::printf("Enter monitor time in seconds.\n");
  console.monitorSeconds = ReadFloat();
  std::printf("\n");
  console.pending = PendingAction::Run;
  console.runKind = kind;
  return Flow::EndPass;
}

// Tests 1 to 7: the ones a word left at the mixer prompt meets at the start
// of the next pass.
constexpr std::array kTestsBeforeMixer = {
    Exact(0, "+", ShowHelp),
    Exact(0, "h", ShowHelp),
    Exact(0, "opt", OptionsMenu),
    Exact(0, "tempo", TempoMenu),
    Exact(0, "safe", SafetyMenu),
    Exact(0, "exp-i", ExportCommand),
    Exact(0, "exp-s", ExportCommand),
    Exact(0, "mix", ToggleMixerView),
    Exact(0, "d", LeaveMixerView),
};

constexpr std::array kTestsAfterMixer = {
    Exact(0, "io.", StoreRange),
    Exact(0, ".io", RecallRange),
    Exact(0, "x", RequestExit),
    Exact(0, "s", SaveSettings),
    Exact(0, "p", RequestRun<RunKind::Play>),
    Exact(0, "sp", RequestRun<RunKind::PlaySoloed>),
    // Time points, prompted or typed straight after the letter.
    Exact(14, "i", EnterTimePoint),
    Exact(14, "o", EnterTimePoint),
    Exact(14, "e", EnterTimePoint),
    Custom(14, IsDirectInEntry, EnterTimePointDirect),
    Custom(14, IsDirectOutEntry, EnterTimePointDirect),
    Custom(14, IsDirectPunchEntry, EnterTimePointDirect),
    // Jumps, nudges and the small settings prompts.
    Exact(15, "j", JumpAhead),
    Exact(15, "J", JumpBack),
    Exact(15, "n", NudgeTimePoints),
    Exact(15, "b", NudgeTimePoints),
    Exact(15, "N", NudgeTimePoints),
    Exact(15, "B", NudgeTimePoints),
    Exact(15, "no", NudgeTimePoints),
    Exact(15, "bo", NudgeTimePoints),
    Exact(15, "ne", NudgeTimePoints),
    Exact(15, "be", NudgeTimePoints),
    Exact(15, "nn", SetNudgeAmount),
    Exact(15, "mtr", MeterRangeCommand),
    Exact(15, "pre", PrerollMenu),
    Exact(15, "cf", CrossfadeMenu),
    Exact(0, "aa", AuditionLengthMenu),
    Exact(17, "ai", RequestRun<RunKind::AuditionFromIn>),
    Exact(17, "ao", RequestRun<RunKind::AuditionFromOut>),
    Exact(17, "ae", RequestRun<RunKind::AuditionFromPunch>),
    // Copies of one stored time to another.
    Exact(18, "i.e", CopyTimePoint),
    Exact(18, "e.i", CopyTimePoint),
    Exact(18, "o.e", CopyTimePoint),
    Exact(18, "e.o", CopyTimePoint),
    Exact(18, "o.i", CopyTimePoint),
    Exact(18, "i.o", CopyTimePoint),
    Exact(18, "i.m", CopyTimePoint),
    Exact(18, "o.m", CopyTimePoint),
    Exact(18, "e.m", CopyTimePoint),
    Exact(18, "m.i", CopyTimePoint),
    Exact(18, "m.o", CopyTimePoint),
    Exact(18, "m.e", CopyTimePoint),
    // Locate points, ranges, list files, busses, stop at the longest file.
    Contains(19, ".l", SaveTimeToLocate),
    Contains(19, "l.", RecallTimeFromLocate),
    Exact(19, "ll", LocateMenu),
    Exact(19, "lio", EditRanges),
    Exact(19, "pf", PlaylistFileMenu),
    Exact(19, "rf", RecordlistFileMenu),
    Exact(19, "bus", BusRoutingMenu),
    Exact(19, "f", StopAtLongestFile),
    Custom(0, IsTakeNameSuffix, SplitTakeName),
    Exact(21, "r", RequestRun<RunKind::RecordWithPlayback>),
    Exact(21, "R", RequestRun<RunKind::RecordWithoutPlayback>),
    Exact(21, "ri", RequestRun<RunKind::RecordAtInPoint>),
    Exact(0, "ma", RequestMonitor<RunKind::MonitorAll>),
    Exact(0, "mr", RequestMonitor<RunKind::MonitorArmed>),
    Exact(0, "lr", ListRecordlist),
    Exact(0, "lp", ListPlaylist),
    Exact(0, "so", SoloMenu),
    Exact(0, "mod", MixModeMenu),
    // Last, and exact: no word above matches "lat" or has it as a part.
    Exact(0, "lat", MeasureLatencyCommand),
    // Exact too, and safe for the same reasons.
    Exact(0, "cards", ListDevicesCommand),
    // Exact, and no word above matches either one or has it as a part.
    Exact(0, "clk", ClickMenu),
    Exact(0, "cnt", CountInMenu),
};

// Offers the buffer's word to each test in order. Returns false when a
// handler ended the pass.
template <std::size_t N>
bool RunTests(ConsoleState& console, const std::array<CommandTest, N>& tests) {
  int matchedGroup = 0;
  for (const CommandTest& test : tests) {
    if (test.group != 0 && test.group == matchedGroup) continue;
    // Handlers may rewrite the buffer, so read it afresh for every test.
    if (!Matches(test, WordOf(console.word))) continue;
    matchedGroup = test.group;
    const Flow flow = test.handler(console);
    if (flow == Flow::EndPassClearPending) console.pending = PendingAction::None;
    if (flow != Flow::Continue) return false;
  }
  return true;
}

void RunPass(ConsoleState& console) {
  console.pending = PendingAction::None;
  ShowStatusAndReadWord(console);
  if (!RunTests(console, kTestsBeforeMixer)) return;
  if (console.mixerView) MixerPrompt(console);
  RunTests(console, kTestsAfterMixer);
}

// Carries out the run a command asked for. A recording without a preset
// take name goes on to the take menu.
void RunPending(ConsoleState& console) {
  RunRequest request;
  request.kind = console.runKind;
  request.presetTakeNaming = console.presetTakeNaming;
  request.presetTakeName = std::string(TextOf(console.presetTakeName));
  request.monitorSeconds = console.monitorSeconds;
  request.auditionSamples = console.lengths.auditionSamples;
  const Recording recording = RunTransport(console.s, console.devices, console.buffers, console.transport,
                                           console.meter, request, console.dialog, console.display);
  console.presetTakeNaming = false;
  console.presetTakeName[0] = '\0';
  console.runKind = RunKind::None;
  if (recording.made) {
    TakeContext context{console.s,     console.devices,
                        console.buffers, console.transport,
                        console.meter, console.lengths.crossfadeSamples,
                        console.replaceOverwriteAll, console.dialog,
                        console.display};
    RunTakeMenu(context, recording);
  }
}

}  // namespace

void PrintShortStatus(const ConsoleState& console) {
  const SessionState& s = console.s;
  if (s.tempoMode == 0) {
    std::printf("Play: %.2f   Rec: %.2f   Stop: %.2f   Mem: %.2f\n", SamplesToSeconds(s.inPoint, s.sampleRate),
                SamplesToSeconds(s.punchPoint, s.sampleRate), SamplesToSeconds(s.outPoint, s.sampleRate),
                SamplesToSeconds(s.memoryPoint, s.sampleRate));
  } else if (s.tempoMode == 1) {
    const MeasureBeat in = ToMeasureBeat(s, s.inPoint);
    const MeasureBeat punch = ToMeasureBeat(s, s.punchPoint);
    const MeasureBeat out = ToMeasureBeat(s, s.outPoint);
    const MeasureBeat memory = ToMeasureBeat(s, s.memoryPoint);
    std::printf("Play: %i.%.2f   Rec: %i.%.2f   Stop: %i.%.2f   Mem: %i.%.2f\n", in.measure, in.beat,
                punch.measure, punch.beat, out.measure, out.beat, memory.measure, memory.beat);
  }
}

int RunConsole(SessionState& s) {
  ConsoleState console(s);
  StartConsole(console);
  try {
    for (;;) {
      RunPass(console);
      if (console.pending == PendingAction::Run) RunPending(console);
      if (console.pending == PendingAction::Exit) {
        RunExitForm(s, console.devices, console.transport, console.dialog);
        std::printf("\n");
        return console.settingsUnsaved ? 1 : 0;
      }
    }
  } catch (const EndOfInput&) {
    // Nothing more can be typed: leave the way "x" does, minus the questions.
    CloseAudioDevices(console.devices);
    if (console.settingsUnsaved && InterruptionExitStatus() == 0) {
      std::printf("\n");
      throw ProgramExit{1};
    }
    throw;
  }
}

}  // namespace sondrel
