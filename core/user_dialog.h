// What the layers below the console have to say to the user, and the few
// questions they must ask in the middle of their work.
//
// Lower layers never word a message: they describe what happened as a
// Notice (what kind of event, which files, the errno of a failed call) and
// hand it to a UserDialog. The console implements the dialog over the
// terminal and words every kind in one place; tests implement it in-process
// to script the answers and see what was told.
#pragma once

#include <cstdint>
#include <string>

namespace sondrel {

enum class NoticeKind {
  // ---- track files
  TrackMissing,            // path: a listed track that is not there
  NoFormatChunk,           // a track without a format chunk
  TrackNotMono,            // path: will not be played
  TrackNot24Bit,           // path: will not be played
  TrackWithoutData,        // path: a track without a data block
  TrackOtherRate,          // path, number: its rate, total: the project's; will not be played
  TakeNotMono,             // a take to be measured is not mono
  TakeNot24Bit,            // a take to be measured is not 24-bit
  NoDataBlock,             // a file whose audio cannot be found
  NoDataBlockEndsProgram,  // the same where nothing sensible can go on: the program ends
  CannotUpdateSize,        // path: the file could not be opened to fix its sizes
  SizeNotUpdated,          // path: the sizes could not be written
  CheckingTrack,           // path: measured for the longest playlist file
  PlaylistNotFound,        // path: the playlist file cannot be read
  RecordlistNotFound,      // path

  // ---- file operations; error is the failed call's errno (0: the file ended early)
  CouldNotOpen,     // path
  CouldNotCreate,   // path
  CouldNotRead,     // path
  CouldNotWrite,    // path
  CouldNotDelete,   // path
  CouldNotRestore,  // path
  CouldNotRename,   // path -> otherPath
  CrossfadeDataNotFound,
  CrossfadeOutsideDestination,  // number: the first sample
  CrossfadeOutsideSource,       // number: the first sample
  InsertBeforeStart,            // path: the take, otherPath: the record file
  BackupSourceMissing,          // path
  BackupFailed,                 // path: the backup's name
  BackupMade,                   // path -> otherPath

  // ---- the punch-in undo record
  UndoRecordUnreadable,  // path: the record; error 0 means it is damaged
  UndoFailed,            // path: the punched file, otherPath: the record keeping its audio
  UndoStillPending,      // path: the file left alone, otherPath: the pending record
  UndoNotSaved,          // path: the file the punch-in was for
  PunchInPutBack,        // path: the file put back at start-up

  // ---- the project
  ProjectInUse,  // number: the process id of the program that holds it, 0 if unknown

  // ---- the settings file
  SettingsRangesUnreadable,
  SettingsNotWritten,  // path: the settings file

  // ---- mixer settings repaired before a mix; number: the channel
  VolumeTooHigh,
  VolumeTooLow,
  PanTooFarRight,
  PanTooFarLeft,

  // ---- export
  ExportPlaylistMissing,  // path
  MixingChannelsStart,    // the start of the list of channels being mixed
  MixingChannel,          // number: a channel going into the mix
  MixingTrackUnopened,    // path: a track left out of the mix
  MixingChannelsEnd,
  ExportProgress,         // number: frames done, total: frames in all
  MixFileNotCreated,      // path
  MixFileWriteFailed,     // path: failed while the mix was being written
  MixFileCloseFailed,     // path: failed as it was closed
  MixFileNotNamed,        // path

  // ---- transport runs
  StopTimeNotSet,
  StopTimeBeforeRecordStart,
  StopTimeAtRecordStart,
  PlaylistMissingAsk,    // path: asks for another name
  RecordlistMissingAsk,  // path: asks for another name
  PlaybackTrackUnopened,  // path
  TakeNameTaken,          // path: asks for another take name, "w" or "W"
  TakeUnopened,           // path: the take that cannot record, error: why (0: told already)
  NothingToRecord,        // path: the recordlist; no take file could be made, so the run does not start
  NoRoomForTakes,         // number: bytes the takes need, total: bytes free; the run does not start
  TakeCutShort,           // path, number: the input
  IncompleteNameTaken,    // path: the name an incomplete take would get
  IncompleteTakeKept,     // path: the name it was kept under
  TakeSetAside,           // path: the name an incomplete take is kept under, number: the input
  TakeGone,               // path: a take no longer there, number: the input
  DeviceStillGone,        // path: the device a run found gone, which still cannot be opened
  RecordingJournalNotSaved,  // error: the takes of this run are not noted for the next start

  // ---- what the start found of work cut off by a crash, a kill or a power cut
  CutOffTakeKept,       // path, number: the samples it holds, total: its rate
  CutOffTakeMissing,    // path: a take of the cut-off run that is gone
  CutOffTakeUnfixable,  // path: not a file whose sizes can be fixed; left as it is
  CutOffExportRemoved,  // path: an unfinished export's work file
};

struct Notice {
  NoticeKind kind{};
  std::string path{};       // the file it is about
  std::string otherPath{};  // a second file: a rename's target, a backup
  int error = 0;            // errno of the call that failed
  std::int64_t number = 0;  // a channel, a sample or a count, as the kind says
  std::int64_t total = 0;
};

class UserDialog {
 public:
  // Tells the user what happened.
  virtual void Tell(const Notice& notice) = 0;
  // Tells it, then waits until the user has read it and typed "c".
  virtual void TellAndWaitForContinue(const Notice& notice) = 0;
  // Puts the question and returns the word typed in answer.
  virtual std::string Ask(const Notice& question) = 0;

 protected:
  ~UserDialog() = default;
};

}  // namespace sondrel
