#include "engine/transport.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <span>
#include <vector>

#include "core/interruption.h"
#include "core/list_text.h"
#include "engine/block_loop.h"
#include "timebase/time_conversions.h"
#include "wavfile/recording_journal.h"
#include "wavfile/take_files.h"
#include "wavfile/take_names.h"
#include "wavfile/wav_format.h"

namespace sondrel {

namespace {

struct RunShape {
  bool plays = false;
  bool records = false;
  bool monitors = false;
  bool soloOnly = false;
  bool audition = false;
  bool preRoll = false;
  bool takeAudition = false;
};

RunShape ShapeOf(RunKind kind) {
  RunShape shape;
  switch (kind) {
    case RunKind::Play: shape.plays = true; break;
    case RunKind::PlaySoloed: shape.plays = shape.soloOnly = true; break;
    case RunKind::RecordWithPlayback: shape.plays = shape.records = true; break;
    case RunKind::RecordWithoutPlayback: shape.records = true; break;
    case RunKind::RecordAtInPoint: shape.plays = shape.records = shape.preRoll = true; break;
    case RunKind::AuditionFromIn:
    case RunKind::AuditionFromOut:
    case RunKind::AuditionFromPunch: shape.plays = shape.audition = true; break;
    case RunKind::MonitorAll:
    case RunKind::MonitorArmed: shape.monitors = true; break;
    case RunKind::AuditionTake: shape.plays = shape.takeAudition = true; break;
    case RunKind::None: break;
  }
  return shape;
}

// ------------------------------------------------------- before the run

void PrepareRecordAtInPoint(SessionState& s, TransportState& t, int block, RunObserver& observer) {
  // A restore still pending from a cancelled pre-roll run keeps the points
  // the user set, not the moved ones.
  if (!t.preRollRestorePending) {
    t.savedInPoint = s.inPoint;
    t.savedPunchPoint = s.punchPoint;
    t.preRollRestorePending = true;
  }
  s.punchPoint = s.inPoint;
  std::int64_t preroll = 0;
  RoundSecondsToBlocks(block, s.sampleRate, s.preroll, &preroll);
  s.inPoint = std::max<std::int64_t>(0, s.inPoint - preroll);
  observer.PreRollSet(s.inPoint, s.punchPoint, s.outPoint);
}

// A recording needs a stop after its record start. Returns false, after
// telling the user and waiting until it was read, when it has none.
bool RecordingPositionsUsable(const SessionState& s, UserDialog& dialog) {
  const auto problem = [&dialog](NoticeKind kind) { dialog.TellAndWaitForContinue({kind}); };
  if (s.outPoint == 0) {
    problem(NoticeKind::StopTimeNotSet);
    problem(s.punchPoint > 0 ? NoticeKind::StopTimeBeforeRecordStart : NoticeKind::StopTimeAtRecordStart);
    return false;
  }
  if (s.punchPoint > s.outPoint) {
    problem(NoticeKind::StopTimeBeforeRecordStart);
    return false;
  }
  if (s.punchPoint == s.outPoint) {
    problem(NoticeKind::StopTimeAtRecordStart);
    return false;
  }
  return true;
}

// Recording over a file that is also being played: silence it from the
// punch point so the new take replaces it.
void MarkReplaceChannels(const SessionState& s, const ListLines& play, const ListLines& rec, RunPlan& plan) {
  for (int c = 0; c < s.inputs && c < rec.count && c < play.count; ++c) {
    if (rec.lines[c] == play.lines[c] && rec.lines[c] != "-") plan.replace[c] = 1;
  }
}

void ArmPlayback(const SessionState& s, const ListLines& play, bool soloOnly, const RunRequest& request,
                 RunPlan& plan, UserDialog& dialog) {
  const int count = std::min({play.count, s.tracks, kMaxChannels});
  for (int c = 0; c < count; ++c) {
    if (IsSkipLine(play.lines[c])) continue;
    const std::string path(play.lines[c]);
    const std::optional<TrackInfo> track = CheckPlayableTrack(path.c_str(), dialog, s.sampleRate);
    if (!track) continue;
    if (soloOnly && s.solo[c] != 1) continue;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      dialog.Tell({NoticeKind::PlaybackTrackUnopened, path});
      continue;
    }
    plan.playArmed[c] = 1;
    plan.playFiles[c] = UniqueFd(fd);
    plan.dataOffset[c] = track->dataOffsetBytes;
    plan.length[c] = track->lengthSamples;
    plan.timelineStart[c] = request.takeChannels[c] == 1 ? request.takeStart : 0;
  }
}

void ArmInputs(const SessionState& s, const ListLines& rec, RunPlan& plan) {
  const int count = std::min({rec.count, s.inputs, kMaxChannels});
  for (int c = 0; c < count; ++c) {
    if (!IsSkipLine(rec.lines[c])) plan.recordArmed[c] = 1;
  }
}

bool FileExists(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

// A preset take name may name files that already exist: ask before
// overwriting any of them.
struct PresetNaming {
  std::string takeName;
  bool overwriteAll = false;
  // Names already given to earlier inputs of this run: their files do not
  // exist yet, but two inputs must not share one.
  std::vector<std::string> given;
};

std::string ResolvePresetConflict(std::string_view entry, int channel, std::int64_t take, std::int64_t punch,
                                  const RunRequest& request, PresetNaming& naming, UserDialog& dialog) {
  for (;;) {
    std::string name = TakeFileName(entry, channel, take, punch, request.presetTakeNaming, naming.takeName);
    const bool given = std::find(naming.given.begin(), naming.given.end(), name) != naming.given.end();
    const bool taken = given || FileExists(name);
    if (!taken || naming.overwriteAll) return name;
    const std::string word = dialog.Ask({NoticeKind::TakeNameTaken, name});
    if (word == "w") return name;
    if (word == "W") {
      naming.overwriteAll = true;
      return name;
    }
    naming.takeName = BoundedTakeNamePart(word);
  }
}

// The number of a new take: the clock's, but above every earlier take of
// the session and clear of files that already carry the automatic names.
// Takes recorded within one second (typed-ahead commands, a script) would
// otherwise share names, and the later would overwrite a kept one; their
// backups would share a name too.
std::int64_t NextTakeNumber(const SessionState& s, const ListLines& rec, const RunPlan& plan, std::int64_t last) {
  const auto taken = [&](std::int64_t number) {
    for (int c = 0; c < s.inputs && c < kMaxChannels; ++c) {
      if (plan.recordArmed[c] == 1 && FileExists(TakeFileName(rec.lines[c], c + 1, number, s.punchPoint, false, {}))) {
        return true;
      }
    }
    return false;
  };
  std::int64_t number = std::max(TakeNumberNow(), last + 1);
  while (taken(number)) ++number;
  return number;
}

// Creates one take file per armed input, its header declaring no audio yet
// (the loop keeps it up to date), and lists them for the take menu. Every
// name is settled before any file is made: input that ends at a conflict
// question must not leave header-only files behind that claim to be takes.
// The names are then noted for the next start, in case the run is cut off.
void CreateTakes(const SessionState& s, const ListLines& rec, const RunRequest& request, TransportState& t,
                 RunPlan& plan, Recording& recording, UserDialog& dialog) {
  PresetNaming naming;
  naming.takeName = BoundedTakeNamePart(request.presetTakeName);
  std::array<std::string, kMaxChannels> names;
  t.lastTakeNumber = NextTakeNumber(s, rec, plan, t.lastTakeNumber);
  for (int c = 0; c < s.inputs && c < kMaxChannels; ++c) {
    if (plan.recordArmed[c] != 1) continue;
    names[c] = request.presetTakeNaming
                   ? ResolvePresetConflict(rec.lines[c], c + 1, t.lastTakeNumber, s.punchPoint, request, naming, dialog)
                   : TakeFileName(rec.lines[c], c + 1, t.lastTakeNumber, s.punchPoint, false, {});
    naming.given.push_back(names[c]);
  }
  for (int c = 0; c < s.inputs && c < kMaxChannels; ++c) {
    if (plan.recordArmed[c] != 1) {
      recording.takeList += "-\n";
      continue;
    }
    const std::string& name = names[c];
    // Laid out for the planned length: a take past 4 GiB is RF64 from the start.
    IoResult made = CreateWavFile(name.c_str(), s.sampleRate, kTrackBits, 0, 1, plan.takeLength);
    // Not O_APPEND: the header's sizes are rewritten in place while the
    // audio goes on at the end.
    int fd = made && CheckPlayableTrack(name.c_str(), dialog) ? ::open(name.c_str(), O_RDWR | O_CLOEXEC) : -1;
    if (made && (fd < 0 || ::lseek(fd, 0, SEEK_END) < 0)) made = IoResult::FromErrno();
    if (!made && fd >= 0) ::close(fd);
    if (!made || fd < 0) {
      // This input records nothing; the take menu must not treat whatever
      // stands under that name as a new take.
      dialog.Tell({NoticeKind::TakeUnopened, name, {}, made.error});
      plan.recordArmed[c] = 0;
      recording.takeList += "-\n";
      continue;
    }
    plan.takeFiles[c] = UniqueFd(fd);
    recording.takeList += name + "\n";
  }
  std::vector<std::string> created;
  for (int c = 0; c < s.inputs && c < kMaxChannels; ++c) {
    if (plan.takeFiles[c]) created.push_back(names[c]);
  }
  if (created.empty()) return;
  if (const IoResult saved = SaveRecordingJournal(created); !saved) {
    dialog.Tell({NoticeKind::RecordingJournalNotSaved, {}, {}, saved.error});
  }
}

// Whether the project's file system can hold every armed take whole. A full
// disk would otherwise show only after the run, with the performance cut.
bool RoomForTakes(const RunPlan& plan, UserDialog& dialog) {
  const auto armed = static_cast<double>(std::count(plan.recordArmed.begin(), plan.recordArmed.end(), 1));
  // In floating point: a hand-edited stop near 2^62 samples must not overflow.
  const double needed = armed * (static_cast<double>(kWavHeaderBytes) +
                                 static_cast<double>(plan.takeLength) * kTrackBytesPerSample);
  const std::int64_t free = FreeBytes(".");
  if (free < 0 || needed <= static_cast<double>(free)) return true;
  dialog.Tell({NoticeKind::NoRoomForTakes, {}, {}, 0, static_cast<std::int64_t>(std::min(needed, 9.0e18)), free});
  return false;
}

std::int64_t MonitorLengthSamples(float seconds, std::uint32_t rate) {
  const double samples = static_cast<double>(seconds) * rate;
  // "inf", or digits too many for a float, is no length at all: nothing can
  // stop a run once it has begun, so such a monitor would never end.
  if (!(samples > 0.0) || std::isinf(samples)) return 0;
  return samples < 9.0e15 ? static_cast<std::int64_t>(samples) : static_cast<std::int64_t>(9.0e15);
}

// -------------------------------------------------------- after the run

void ReportFinishedRun(const SessionState& s, const RunShape& shape, const RunPlan& plan, const RunMeasures& m,
                       RunObserver& observer) {
  std::array<int, kMaxChannels> armed{};
  int count = 0;
  for (int c = 0; c < s.inputs && c < kMaxChannels; ++c) {
    if (plan.recordArmed[c] == 1) armed[count++] = c + 1;
  }
  RunSummary summary;
  summary.plays = shape.plays;
  summary.records = shape.records;
  summary.armedInputs = std::span<const int>(armed.data(), static_cast<std::size_t>(count));
  summary.inputPeak = m.inputPeak;
  summary.mixPeaks = &m.mixPeaks;
  summary.underruns = m.underruns;
  summary.overruns = m.overruns;
  summary.stopped = m.stopped;
  summary.deviceLost = m.deviceLost;
  summary.stopPosition = m.stopPosition;
  summary.playbackStarvedFrames = m.playbackStarvedFrames;
  summary.captureDroppedFrames = m.captureDroppedFrames;
  observer.RunFinished(summary);
}

std::string IncompleteTakeName(std::string_view name) {
  if (name.ends_with(".wav")) name.remove_suffix(4);
  return std::string(name) + "_incomplete.wav";
}

// A take that could not be written completely may hold audio that cannot be
// played again, so it is kept; but it must not pass for a good take. Its
// sizes are made to say what it holds, and its name that it is incomplete.
// Returns the name the take is kept under.
std::string SetAsideIncompleteTake(const std::string& name, int input, int error, UserDialog& dialog) {
  dialog.Tell({NoticeKind::TakeCutShort, name, {}, error, input});
  // Sizes that cannot be fixed have been told; the audio is kept either way.
  (void)FixSizeFields(name.c_str(), dialog);
  const std::string incomplete = IncompleteTakeName(name);
  if (FileExists(incomplete)) {
    // An earlier incomplete take is not written over.
    dialog.Tell({NoticeKind::IncompleteNameTaken, incomplete});
  } else if (std::rename(name.c_str(), incomplete.c_str()) == 0) {
    dialog.Tell({NoticeKind::IncompleteTakeKept, incomplete});
    return incomplete;
  } else {
    dialog.Tell({NoticeKind::CouldNotRename, name, incomplete, errno});
  }
  return name;
}

// Gives a take the sizes of the samples recorded, puts it on the disk and
// closes it; the first failure's errno, or 0.
int FinishTake(UniqueFd& take, const RunMeasures& m, int c) {
  IoResult finished = m.takeWriteFailed[c] == 1 ? IoResult::Failed(m.takeWriteErrno[c]) : IoResult{};
  if (finished) finished = WriteTakeSizes(take.Get(), m.recordedSamples);
  if (finished) finished = FlushToDisk(take.Get());
  const IoResult closed = take.Close();
  if (finished) finished = closed;
  return finished ? 0 : finished.error != 0 ? finished.error : EIO;
}

// Closes the take files, each with its final sizes and on the disk; then
// the record of the run's takes goes. A take cut short leaves the take list
// and its input is no longer counted as recorded, so the take menu cannot
// replace or punch anything with it.
void CloseTakes(const SessionState& s, RunPlan& plan, const RunMeasures& m, Recording& recording,
                UserDialog& dialog) {
  const ListLines names = SplitListLines(recording.takeList);
  std::string kept;
  std::string setAside;
  for (int c = 0; c < names.count && c < s.inputs && c < kMaxChannels; ++c) {
    const std::string name(names.lines[c]);
    const int error = plan.takeFiles[c] ? FinishTake(plan.takeFiles[c], m, c) : 0;
    if (error != 0) {
      setAside += SetAsideIncompleteTake(name, c + 1, error, dialog);
      plan.recordArmed[c] = 0;
    } else {
      setAside += "-";
    }
    setAside += "\n";
    kept += (error != 0 ? std::string("-") : name) + "\n";
  }
  recording.takeList = kept;
  recording.setAsideList = setAside;
  RemoveRecordingJournal();
}

void RestorePreRoll(SessionState& s, TransportState& t) {
  if (!t.preRollRestorePending) return;
  s.inPoint = t.savedInPoint;
  s.punchPoint = t.savedPunchPoint;
  t.preRollRestorePending = false;
}

struct ListTexts {
  std::string play;
  std::string rec;
};

// Reads the current list file (slot 1 of its table). While it cannot be
// read, asks for another name and puts the answer in slot 1.
std::string ReadListAskingWhileMissing(ListFileTable& files, NoticeKind missing, UserDialog& dialog) {
  std::string text;
  while (!ReadWholeFile(files[0].data(), text)) SetText(files[0], dialog.Ask({missing, files[0].data()}));
  return text;
}

ListTexts ReadBothLists(SessionState& s, UserDialog& dialog) {
  ListTexts texts;
  texts.play = ReadListAskingWhileMissing(s.playlistFiles, NoticeKind::PlaylistMissingAsk, dialog);
  texts.rec = ReadListAskingWhileMissing(s.recordlistFiles, NoticeKind::RecordlistMissingAsk, dialog);
  return texts;
}

// The click sounds in every run that plays, from its start, on an output
// the interface has. A recording with playback first counts in: the bars
// of beats on the grid that end at its start, before the leading chunk,
// with as many silent chunks before that as they need.
void PlanClick(const SessionState& s, const RunShape& shape, const Click& click, int chunkFrames, RunPlan& plan) {
  if (!shape.plays || !click.Sounds() || s.clickOutput < 1 || s.clickOutput > s.outputs) return;
  plan.clickChannel = s.clickOutput - 1;
  plan.clickFrom = plan.startPosition;
  if (!shape.records || s.countInBars < 1) return;
  const std::int64_t beats = std::int64_t{std::min(s.countInBars, kMaxCountInBars)} * click.BeatsPerMeasure();
  plan.clickFrom = click.BeatPosition(click.FirstBeatFrom(plan.startPosition) - beats);
  const std::int64_t beforeLeadingChunk = plan.startPosition - plan.clickFrom - chunkFrames;
  if (beforeLeadingChunk > 0) plan.countInFrames = (beforeLeadingChunk + chunkFrames - 1) / chunkFrames * chunkFrames;
}

std::int64_t AuditionStart(const SessionState& s, RunKind kind) {
  if (kind == RunKind::AuditionFromOut) return s.outPoint;
  if (kind == RunKind::AuditionFromPunch) return s.punchPoint;
  return s.inPoint;
}

}  // namespace

Recording RunTransport(SessionState& s, AudioDevices& devices, TransportBuffers& buffers, TransportState& transport,
                       const MeterScale& meterScale, const RunRequest& request, UserDialog& dialog,
                       RunObserver& observer) {
  Recording recording;
  const RunShape shape = ShapeOf(request.kind);
  if (request.kind == RunKind::None) return recording;
  if (devices.lost && !ReopenLostDevices(s, devices)) {
    dialog.Tell({NoticeKind::DeviceStillGone, s.deviceName.data()});
    return recording;
  }

  if (request.kind == RunKind::RecordWithPlayback && s.punchPoint < s.inPoint) s.punchPoint = s.inPoint;
  if (shape.preRoll) PrepareRecordAtInPoint(s, transport, devices.blockFrames, observer);
  const std::int64_t savedIn = s.inPoint;
  const std::int64_t savedOut = s.outPoint;
  if (shape.audition) {
    s.inPoint = AuditionStart(s, request.kind);
    // A length from a hand-edited param.txt can reach past any position.
    if (__builtin_add_overflow(s.inPoint, request.auditionSamples, &s.outPoint)) s.outPoint = INT64_MAX;
  }
  if (shape.records && !RecordingPositionsUsable(s, dialog)) return recording;

  const ListTexts lists = ReadBothLists(s, dialog);
  const ListLines play = SplitListLines(shape.takeAudition ? std::string_view(request.takePlaylist) : lists.play);
  const ListLines rec = SplitListLines(lists.rec);

  auto plan = std::make_unique<RunPlan>();
  plan->plays = shape.plays;
  plan->records = shape.records;
  plan->monitors = shape.monitors;
  plan->punchPoint = s.punchPoint;
  plan->inEqualsPunch = s.inPoint == s.punchPoint;
  plan->odcomp = s.odcomp;
  plan->roundTripFrames = s.roundTripFrames;
  if (shape.records && s.inputs > 0) MarkReplaceChannels(s, play, rec, *plan);
  if (shape.plays) ArmPlayback(s, play, shape.soloOnly, request, *plan, dialog);
  if (request.kind == RunKind::MonitorAll) {
    std::fill_n(plan->recordArmed.begin(), std::clamp(s.inputs, 0, kMaxChannels), 1);
  } else if (shape.records || shape.monitors) {
    ArmInputs(s, rec, *plan);
  }
  if (shape.records) {
    plan->takeLength = s.outPoint - s.punchPoint;
    if (!RoomForTakes(*plan, dialog)) {
      RestorePreRoll(s, transport);
      return recording;
    }
    CreateTakes(s, rec, request, transport, *plan, recording, dialog);
    // A run that records nothing would play the whole stretch and then
    // offer a take menu for no takes.
    if (std::none_of(plan->takeFiles.begin(), plan->takeFiles.end(), [](const UniqueFd& fd) { return bool(fd); })) {
      dialog.Tell({NoticeKind::NothingToRecord, s.recordlistFiles[0].data()});
      RestorePreRoll(s, transport);
      return recording;
    }
  }

  plan->startPosition = shape.plays ? s.inPoint : shape.records ? s.punchPoint : 0;
  plan->stopPosition = s.outPoint;
  if (shape.takeAudition) {
    plan->startPosition = request.takeStart + request.startOffset;
    plan->stopPosition = s.outPoint - request.endCut;
  }
  transport.click.Prepare(s.sampleRate, s.tempo, s.beatsPerMeasure, s.clickLevelDb);
  PlanClick(s, shape, transport.click, std::max(devices.chunkFrames, std::max(devices.blockFrames, 1)), *plan);
  observer.RunStarting({shape.plays, shape.records, shape.monitors, shape.soloOnly, shape.takeAudition,
                        plan->startPosition, s.punchPoint, plan->stopPosition});
  if (shape.monitors) {
    s.outPoint = MonitorLengthSamples(request.monitorSeconds, s.sampleRate);
    plan->stopPosition = s.outPoint;
  }

  auto measures = std::make_unique<RunMeasures>();
  SilenceUnplayedChannels(buffers, plan->playArmed);
  if (s.mixMode != 0) {
    ComputeChannelGains(s.channelPan, s.channelVolume, transport.gains, s.tracks, plan->playArmed, kGainScale,
                        dialog);
  }
  PrepareDevicesForRun(devices, shape.records || shape.monitors, shape.plays);
  transport.refreshInterval = RefreshInterval(s.clockMode, s.sampleRate, transport.refreshInterval);

  LoopSettings settings;
  settings.session = &s;
  settings.gains = &transport.gains;
  settings.mixWork = transport.mixWork.get();
  settings.click = &transport.click;
  settings.meter = &transport.meter;
  settings.meterScale = meterScale;
  settings.refreshInterval = transport.refreshInterval;
  settings.observer = &observer;
  RunBlockLoop(devices, buffers, *plan, settings, *measures);
  if (measures->deviceLost) MarkDevicesLost(devices);

  if (shape.audition) {
    s.inPoint = savedIn;
    s.outPoint = savedOut;
  }
  if (shape.monitors) s.outPoint = savedOut;
  ReportFinishedRun(s, shape, *plan, *measures, observer);
  // Play files were only read: closing them cannot lose anything.
  for (auto& file : plan->playFiles) (void)file.Close();
  if (shape.records) {
    CloseTakes(s, *plan, *measures, recording, dialog);
    if (measures->stopped && measures->recordedSamples == 0) {
      // Stopped before the take began (in a count-in, say): nothing was
      // recorded, so there is no take to keep or to decide on.
      (void)DeleteListedFiles(s.inputs, recording.takeList, dialog);
    } else if (!request.presetTakeNaming) {
      recording.made = true;
      recording.recordArmed = plan->recordArmed;
      recording.takeLength = measures->recordedSamples;
      recording.punchPoint = plan->punchPoint;
    }
  }
  RestorePreRoll(s, transport);
  // A SIGINT stopped this run and is used up; one that came while the takes
  // were being finished does not end the program either.
  ClearRunInterruption();
  return recording;
}

void RunExitForm(SessionState& s, AudioDevices& devices, TransportState& transport, UserDialog& dialog) {
  ReadBothLists(s, dialog);
  PrepareDevicesForRun(devices, false, false);
  RestorePreRoll(s, transport);
  CloseAudioDevices(devices);
}

}  // namespace sondrel
