#include "console/take_menu.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console/input.h"
#include "console/overwrite_question.h"
#include "core/list_text.h"
#include "wavfile/take_files.h"
#include "wavfile/wav_format.h"

namespace sondrel {

namespace {

constexpr std::size_t kMaxSuffix = 63;
constexpr const char* kFadeInFile = "xfade_temp1.wav";
constexpr const char* kFadeOutFile = "xfade_temp2.wav";

constexpr std::array kFullMenu = {
    "\nRecording finished.  Enter a take handling command.\n",
    "Current take files:",
    "\t'aud' to audition current take",
    "\t'del' to delete current take",
    "\nChange files in record.txt (permanently):",
    "\t'rep' to replace files in record.txt with current take",
    "\t'ins' to insert new take into record.txt files",
    "\t'cin' to make a backup copy before inserting",
    "\nMake new files using record.txt names as base:",
    "\t'awp' to append base name, with padding (audio in sync)",
    "\t'aws' to append base name, with time stamp",
    "\t'app' to append base name, no padding or time stamp",
    "\nMake file names automatically:",
    "\t'pad' to save as padded files (audio in sync)",
    "\t'stp' to save with time stamp\n",
};

// The take being decided on, with the lists it is decided against.
struct Take {
  UserDialog& dialog;
  const Recording& recording;
  std::string recordList;  // the current record list file as it reads now
  std::int64_t punch = 0;  // P: where the take starts on the timeline
  int inputs = 0;
  // The audition window, cut from the front and the back of the take.
  std::int64_t startOffset = 0;
  std::int64_t endCut = 0;
};

bool Recorded(const Take& take, int c) { return take.recording.recordArmed[c] == 1; }
std::string TakeFile(const Take& take, int c) { return ListEntry(take.recording.takeList, c); }
std::string RecordFile(const Take& take, int c) { return ListEntry(take.recordList, c); }

void PrintMenu(int interfaceMode) {
  if (interfaceMode == 1) {
    for (const char* line : kFullMenu) std::printf("%s\n", line);
  } else {
    std::printf("Recording finished.  Enter a take handling command.\n");
  }
}

std::string ReadSuffix() {
  std::printf("Enter characters to append with.\n");
  WordBuffer word{};
  ReadWord(word);
  return std::string(WordOf(word).substr(0, kMaxSuffix));
}


// Renames each recorded channel's take file to "<record base>_<suffix>.wav",
// asking before replacing an existing file.
void RenameTakesWithSuffix(int count, std::string_view takeList, std::string_view recordList, std::string suffix,
                           UserDialog& dialog, const std::array<int, kMaxChannels>& recorded) {
  bool overwriteAll = false;
  for (int c = 0; c < count && c < kMaxChannels; ++c) {
    if (recorded[c] != 1) continue;
    const std::string takeFile = ListEntry(takeList, c);
    if (takeFile.empty() || takeFile == "-") continue;
    const std::string entry = ListEntry(recordList, c);
    const std::string base = entry.substr(0, entry.find('.'));
    std::string name = base + "_" + suffix + ".wav";
    while (FileReadable(name) && !overwriteAll) {
      std::printf("\nFile %s exists!\n", name.c_str());
      char choice = '\0';
      while (choice != 'o' && choice != 'O' && choice != 'n') {
        std::printf("\n'o' to overwrite one file\n");
        std::printf("'O' (shift-o) to overwrite all conflicts,\n");
        std::printf("'n' to try a new append name\n");
        WordBuffer answer{};
        ReadWord(answer);
        choice = answer[0];
      }
      if (choice == 'o') break;
      if (choice == 'O') {
        overwriteAll = true;
        break;
      }
      std::printf("Enter new append name\n");
      WordBuffer answer{};
      ReadWord(answer);
      suffix = std::string(WordOf(answer).substr(0, kMaxSuffix));
      name = base + "_" + suffix + ".wav";
    }
    if (std::rename(takeFile.c_str(), name.c_str()) == 0) {
      std::printf("%s -> %s\n", takeFile.c_str(), name.c_str());
    } else {
      dialog.Tell({NoticeKind::CouldNotRename, takeFile, name, errno});
    }
  }
}

// The audition's play list: the take on each recorded channel, the playlist
// entry on every other one ("-" where a list has no entry).
std::string AuditionPlaylist(std::string_view playList, std::string_view takeList,
                             const std::array<int, kMaxChannels>& recorded, int count) {
  std::string playlist;
  for (int c = 0; c < count && c < kMaxChannels; ++c) {
    std::string entry = recorded[c] == 1 ? ListEntry(takeList, c) : ListEntry(playList, c);
    playlist += (entry.empty() ? std::string("-") : entry) + "\n";
  }
  return playlist;
}

// Pads one take so that it starts at the project start. The padding works
// through fixed work-file names, so a failure names those; this says which
// take was left as it was.
bool PadTake(const std::string& file, std::int64_t punch, UserDialog& dialog) {
  if (PadTrackStart(file.c_str(), punch, dialog)) return true;
  std::printf("Take %s was kept as it was: it could not be padded\n", file.c_str());
  return false;
}

// Pads every recorded take with P samples of silence so that it starts at
// the project start. Returns the take list with "-" for each take that could
// not be padded: those keep their names, out of sync, rather than being
// renamed over anything.
std::string PadTakes(const Take& take) {
  std::string padded;
  for (int c = 0; c < take.inputs; ++c) {
    const std::string file = TakeFile(take, c);
    const bool ok = !Recorded(take, c) || PadTake(file, take.punch, take.dialog);
    padded += (ok && !file.empty() ? file : std::string("-")) + "\n";
  }
  return padded;
}

// ---------------------------------------------------------------- replace

bool Replace(TakeContext& context, Take& take) {
  const SessionState& s = context.s;
  if (s.safeMode == 1) {
    std::printf("The file safety switch is on.\n");
    std::printf("Do you really want to replace a whole file rather than insert? (y,n)\n");
    WordBuffer answer{};
    ReadWord(answer);
    if (WordOf(answer) != "y") return false;
  }
  if (!context.replaceOverwriteAll && !ConfirmOverwrite(take.inputs, take.recordList, context.replaceOverwriteAll)) {
    return false;
  }
  const std::string takes = take.punch != 0 ? PadTakes(take) : take.recording.takeList;
  // Each rename that failed has been told; the others went ahead, and the
  // decision on the take is made either way.
  (void)RenameListedFiles(take.inputs, takes, take.recordList, take.dialog);
  return true;
}

// ---------------------------------------------------------------- punch-in

// Blends both edges of the take into the record file's audio: the first L
// samples fade from the old audio into the take, the last L from the take
// back into the old audio. A fade that cannot be made leaves a hard edge.
void BlendTakeEdges(const std::string& record, const std::string& takeFile, std::int64_t punch,
                    std::int64_t length, std::int64_t fade, std::uint32_t rate, UserDialog& dialog) {
  const std::int64_t half = fade / 2;
  IoResult headers = CreateWavFile(kFadeInFile, rate, kTrackBits, fade, 1);
  if (headers) headers = CreateWavFile(kFadeOutFile, rate, kTrackBits, fade, 1);
  if (headers) {
    const bool in =
        WriteCrossfade(punch + half, half, fade, record.c_str(), takeFile.c_str(), kFadeInFile, half, dialog);
    const bool out = WriteCrossfade(length - half, punch + length - half, fade, takeFile.c_str(), record.c_str(),
                                    kFadeOutFile, half, dialog);
    // A fade that cannot be laid over the take has been told, and leaves
    // that edge hard.
    if (in) (void)PunchInPlace(takeFile.c_str(), kFadeInFile, 0, fade, dialog);
    if (out) (void)PunchInPlace(takeFile.c_str(), kFadeOutFile, length - fade, fade, dialog);
  } else {
    std::printf("Could not create the crossfade files: %s\n", std::strerror(headers.error));
  }
  // unlink, not remove: a directory squatting on a work file's name is the
  // user's, not ours to delete.
  unlink(kFadeInFile);
  unlink(kFadeOutFile);
}

// The take was padded to start with the project but could not take the
// record file's name: a stamp left in its own name would now place it wrong.
void KeepPaddedTake(const std::string& file, UserDialog& dialog) {
  const std::string unstamped = UnstampedFileName(file);
  const bool renamed = !unstamped.empty() && RemoveTakeStamp(file.c_str(), dialog);
  std::printf("Take %s was kept as %s, padded to the project start\n", file.c_str(),
              renamed ? unstamped.c_str() : file.c_str());
}

// Returns true when the take is now part of the record file (and so may go).
bool PunchIn(const TakeContext& context, const Take& take, int c) {
  const std::string record = RecordFile(take, c);
  const std::string takeFile = TakeFile(take, c);
  if (!FileReadable(record)) {
    // Nothing to punch into: the padded take becomes the record file.
    if (!PadTrackStart(takeFile.c_str(), take.punch, take.dialog)) return false;
    if (!RenameListedFiles(1, takeFile, record, take.dialog)) KeepPaddedTake(takeFile, take.dialog);
    return false;  // renamed, not copied: nothing is left to delete
  }
  if (HasForeignFormat(record.c_str())) {
    std::printf("%s is not a mono 24 bit file\n", record.c_str());
    return false;
  }
  const std::int64_t length = TrackLengthSamples(takeFile.c_str(), take.dialog);
  const std::int64_t fade = context.crossfadeSamples;
  if (fade > length) {
    // Both fades lie inside the take, so a longer one has nowhere to go; and
    // a length from a hand-edited param.txt could fill the disk with the
    // fade's work files.
    std::printf("The crossfade is longer than %s: its edges stay hard\n", takeFile.c_str());
  } else if (fade > 0) {
    BlendTakeEdges(record, takeFile, take.punch, length, fade, context.s.sampleRate, take.dialog);
  }
  return PunchInPlace(record.c_str(), takeFile.c_str(), take.punch, length, take.dialog);
}

void Insert(TakeContext& context, const Take& take, bool backupFirst) {
  std::string done;
  for (int c = 0; c < take.inputs; ++c) {
    if (!Recorded(take, c)) continue;
    // A backup that fails has been told; the punch-in still goes ahead, as
    // it always has, under its own undo record.
    if (backupFirst) (void)BackUpTrack(context.transport.lastTakeNumber, RecordFile(take, c).c_str(), take.dialog);
    if (PunchIn(context, take, c)) {
      done += TakeFile(take, c) + "\n";
    } else if (FileReadable(TakeFile(take, c))) {
      std::printf("Take %s was kept: it could not be punched into %s\n", TakeFile(take, c).c_str(),
                  RecordFile(take, c).c_str());
    }
  }
  // Only takes that are safely inside their record files are deleted; one
  // that cannot be is told, and stays.
  (void)DeleteListedFiles(take.inputs, done, take.dialog);
}

// ------------------------------------------------------------------ names

void PadAndUnstamp(const Take& take) {
  for (int c = 0; c < take.inputs; ++c) {
    if (!Recorded(take, c)) continue;
    const std::string file = TakeFile(take, c);
    // A stamp that cannot be removed has been told; the padded take keeps it.
    if (PadTake(file, take.punch, take.dialog)) (void)RemoveTakeStamp(file.c_str(), take.dialog);
  }
}

std::string StampSuffix(std::string suffix, std::int64_t punch) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "_stp_%i", static_cast<int>(static_cast<std::uint32_t>(punch)));
  return suffix + stamp;
}

// -------------------------------------------------------------- audition

void ChooseAuditionWindow(Take& take, std::int64_t outPoint) {
  std::printf("0 = hear whole take   1 = 1st 1/4   2 = 2nd 1/4   3 = 3rd 1/4   4 = 4th 1/4\n");
  WordBuffer answer{};
  ReadWord(answer);
  const std::string_view word = WordOf(answer);
  const std::int64_t q = (outPoint - take.punch) / 4;
  if (word == "0") take.startOffset = 0, take.endCut = 0;
  if (word == "1") take.startOffset = 0, take.endCut = 3 * q;
  if (word == "2") take.startOffset = q, take.endCut = 2 * q;
  if (word == "3") take.startOffset = 2 * q, take.endCut = q;
  if (word == "4") take.startOffset = 3 * q, take.endCut = 0;
}

void Audition(TakeContext& context, Take& take) {
  SessionState& s = context.s;
  ChooseAuditionWindow(take, s.outPoint);
  // Without a readable playlist the take is heard alone.
  std::string playList;
  if (!ReadWholeFile(s.playlistFiles[0].data(), playList)) playList.clear();
  RunRequest request;
  request.kind = RunKind::AuditionTake;
  request.takePlaylist = AuditionPlaylist(playList, take.recording.takeList, take.recording.recordArmed, s.tracks);
  request.takeChannels = take.recording.recordArmed;
  request.takeStart = take.punch;
  request.startOffset = take.startOffset;
  request.endCut = take.endCut;
  RunTransport(s, context.devices, context.buffers, context.transport, context.meterScale, request, context.dialog,
               context.observer);
}

void AppendNames(const Take& take, std::string_view command) {
  std::string suffix = ReadSuffix();
  std::string takes = take.recording.takeList;
  if (command == "awp") takes = PadTakes(take);
  if (command == "aws") suffix = StampSuffix(suffix, take.punch);
  RenameTakesWithSuffix(take.inputs, takes, take.recordList, suffix, take.dialog, take.recording.recordArmed);
}

bool IsTakeWord(std::string_view word) {
  for (const std::string_view known : {"rep", "aud", "del", "ins", "cin", "awp", "aws", "app", "pad", "stp"}) {
    if (word == known) return true;
  }
  return false;
}

// A take word leaves out the inputs whose takes are not there, and says
// why: cut short (a full disk) and set aside under another name, or
// removed since the run by something else.
void TellMissingTakes(const Take& take) {
  for (int c = 0; c < take.inputs && c < kMaxChannels; ++c) {
    const std::string aside = ListEntry(take.recording.setAsideList, c);
    if (!aside.empty() && aside != "-") {
      take.dialog.Tell({NoticeKind::TakeSetAside, aside, {}, 0, c + 1});
    } else if (Recorded(take, c) && access(TakeFile(take, c).c_str(), F_OK) != 0) {
      take.dialog.Tell({NoticeKind::TakeGone, TakeFile(take, c), {}, 0, c + 1});
    }
  }
}

// Carries out one menu word. False when the word is no command, or the
// command sends the user back to the menu.
bool Decide(TakeContext& context, Take& take, std::string_view word) {
  if (IsTakeWord(word)) TellMissingTakes(take);
  if (word == "rep") return Replace(context, take);
  if (word == "aud") {
    Audition(context, take);
    return false;
  }
  if (word == "del") {
    // A take that cannot be deleted has been told, and stays.
    (void)DeleteListedFiles(take.inputs, take.recording.takeList, take.dialog);
  } else if (word == "ins" || word == "cin") {
    Insert(context, take, word == "cin");
  } else if (word == "awp" || word == "aws" || word == "app") {
    AppendNames(take, word);
  } else if (word == "pad") {
    PadAndUnstamp(take);
  } else if (word == "stp") {
    // A take from a later record start already carries its stamp.
    if (take.punch == 0) {
      // A take that cannot be renamed has been told, and keeps its name.
      (void)StampTakeNames(take.inputs, take.recording.takeList, 0, take.recording.recordArmed, take.dialog);
    }
  } else {
    return false;
  }
  return true;
}

}  // namespace

void RunTakeMenu(TakeContext& context, const Recording& recording) {
  Take take{context.dialog, recording, {}, recording.punchPoint, std::clamp(context.s.inputs, 0, kMaxChannels)};
  if (!ReadWholeFile(context.s.recordlistFiles[0].data(), take.recordList)) take.recordList.clear();
  for (;;) {
    PrintMenu(context.s.interfaceMode);
    WordBuffer word{};
    ReadWord(word);
    if (Decide(context, take, WordOf(word))) return;
  }
}

}  // namespace sondrel
