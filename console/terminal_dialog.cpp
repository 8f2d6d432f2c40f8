#include "console/terminal_dialog.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "console/input.h"
#include "core/program_exit.h"

namespace sondrel {

namespace {

// A read that stops at the end of a file sets no errno.
std::string ReasonOf(int error) { return error != 0 ? std::strerror(error) : "unexpected end of file"; }

std::string Failed(const char* verb, const Notice& n) {
  return std::string("Could not ") + verb + " " + n.path + ": " + ReasonOf(n.error) + "\n";
}

std::string Channel(const char* what, const Notice& n) {
  return std::string(what) + " of channel " + std::to_string(n.number);
}

std::string Percent(const Notice& n) {
  const float percent = static_cast<float>(n.number) / static_cast<float>(n.total) * 100.0f;
  char text[64];
  std::snprintf(text, sizeof text, "\rExport Progress: %.0f %%", static_cast<double>(percent));
  return text;
}

std::string Megabytes(std::int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / 1e6);
  return text;
}

// number samples at total samples per second.
std::string Seconds(const Notice& n) {
  char text[32];
  const double seconds = n.total > 0 ? static_cast<double>(n.number) / static_cast<double>(n.total) : 0.0;
  std::snprintf(text, sizeof text, "%.2f", seconds);
  return text;
}

constexpr const char* kFixStopTime = "Enter 'c' to continue and fix\n";

}  // namespace

std::string NoticeText(const Notice& n) {
  switch (n.kind) {
    case NoticeKind::TrackMissing: return "Cannot find file in track list called " + n.path + "!!\n";
    case NoticeKind::NoFormatChunk: return "Can't find format chunk in wave file!\n";
    case NoticeKind::TrackNotMono: return n.path + " is not a mono file and will not be played\n";
    case NoticeKind::TrackNot24Bit: return n.path + " is not a 24 bit file and will not be played\n";
    case NoticeKind::TrackOtherRate:
      return n.path + " is a " + std::to_string(n.number) + " Hz file, not " + std::to_string(n.total) +
             " Hz, and will not be played\n";
    case NoticeKind::TrackWithoutData: return "Cannot find data block in file " + n.path + "!\n";
    case NoticeKind::TakeNotMono: return "Mono files only\n";
    case NoticeKind::TakeNot24Bit: return "24 bit wave files only!\n";
    case NoticeKind::NoDataBlock:
    case NoticeKind::NoDataBlockEndsProgram: return "Can't find data block in wave file!\n";
    case NoticeKind::CannotUpdateSize: return "Cannot open " + n.path + " to update its size!\n";
    case NoticeKind::SizeNotUpdated: return "Could not update the size of " + n.path + "!\n";
    case NoticeKind::CheckingTrack: return "Checking file " + n.path + "\n";
    case NoticeKind::PlaylistNotFound: return "Playlist file called " + n.path + " was not found!\n";
    case NoticeKind::RecordlistNotFound: return "Cannot find recordlist file called " + n.path + "\n";

    case NoticeKind::CouldNotOpen: return Failed("open", n);
    case NoticeKind::CouldNotCreate: return Failed("create", n);
    case NoticeKind::CouldNotRead: return Failed("read", n);
    case NoticeKind::CouldNotWrite: return Failed("write", n);
    case NoticeKind::CouldNotDelete: return Failed("delete", n);
    case NoticeKind::CouldNotRestore: return Failed("restore", n);
    case NoticeKind::CouldNotRename:
      return "Could not rename " + n.path + " to " + n.otherPath + ": " + ReasonOf(n.error) + "\n";
    case NoticeKind::CrossfadeDataNotFound: return "Data block not found error\n";
    case NoticeKind::CrossfadeOutsideDestination:
      return "Invalid crossfade for destination file at sample " + std::to_string(n.number) + "\n";
    case NoticeKind::CrossfadeOutsideSource:
      return "Invalid crossfade for source file at sample " + std::to_string(n.number) + "\n";
    case NoticeKind::InsertBeforeStart:
      return "Cannot insert " + n.path + " into " + n.otherPath + " before its first sample\n";
    case NoticeKind::BackupSourceMissing: return "File " + n.path + " does not exist\n";
    case NoticeKind::BackupFailed: return "Cannot create backup file " + n.path + "\n";
    case NoticeKind::BackupMade: return "Copied " + n.path + " to " + n.otherPath + "\n";

    case NoticeKind::UndoRecordUnreadable:
      return "Could not read " + n.path + ": " + (n.error != 0 ? std::strerror(n.error) : "it is damaged") + "\n" +
             "It is never applied, and no punch-in can be made while it is there: move " +
             std::filesystem::absolute(n.path).string() + " out of the project to punch in again\n";
    case NoticeKind::UndoFailed:
      return "Could not undo the punch-in into " + n.path + ": " + ReasonOf(n.error) + "\nIts old audio is kept in " +
             n.otherPath + "\n";
    case NoticeKind::UndoStillPending:
      return "An earlier punch-in is still to be undone from " + n.otherPath + ": " + n.path + " is left as it is\n";
    case NoticeKind::UndoNotSaved:
      return "Could not save the audio under the punch-in into " + n.path + ": " + ReasonOf(n.error) + "\n";
    case NoticeKind::PunchInPutBack:
      return "A punch-in into " + n.path + " was cut off; the file was put back as it was before it\n";

    case NoticeKind::ProjectInUse:
      return "Another Sondrel" + (n.number > 0 ? " (process " + std::to_string(n.number) + ")" : std::string()) +
             " is working in this project: only one may at a time. Nothing was changed.\n";
    case NoticeKind::SettingsRangesUnreadable: return "Error parsing time ranges in param.txt file!\n";
    case NoticeKind::SettingsNotWritten:
      return "Could not write " + n.path + ": " + std::strerror(n.error) +
             "\nThe settings were not saved; any previous " + n.path + " was left unchanged.\n";

    case NoticeKind::VolumeTooHigh:
      return Channel("Volume", n) + " is too high.\nIt has been reset to 12 dB, the maximum.\n";
    case NoticeKind::VolumeTooLow:
      return Channel("Volume", n) + " is too low.\nIt has been reset to -144 dB, the minimum.\n";
    case NoticeKind::PanTooFarRight:
      return Channel("Pan", n) + " is too extreme.\nIt has been reset to 100, fully right\n";
    case NoticeKind::PanTooFarLeft:
      return Channel("Pan", n) + " is too extreme.\nIt has been reset to -100, fully left\n";

    case NoticeKind::ExportPlaylistMissing: return "Cannot find playlist file called " + n.path + "\n";
    case NoticeKind::MixingChannelsStart: return "Mixing channels ";
    case NoticeKind::MixingChannel: return " " + std::to_string(n.number);
    case NoticeKind::MixingTrackUnopened: return "Can't open " + n.path + " for Mixing\n";
    case NoticeKind::MixingChannelsEnd: return "\n";
    case NoticeKind::ExportProgress: return Percent(n);
    case NoticeKind::MixFileNotCreated:
      return "Can't create " + n.path + " for the mix: " + std::strerror(n.error) + "\n";
    case NoticeKind::MixFileWriteFailed: return "\nWriting " + n.path + " failed: " + std::strerror(n.error) + "\n";
    case NoticeKind::MixFileCloseFailed: return "Writing " + n.path + " failed: " + std::strerror(n.error) + "\n";
    case NoticeKind::MixFileNotNamed: return "Can't name the mix " + n.path + ": " + std::strerror(n.error) + "\n";

    case NoticeKind::StopTimeNotSet: return std::string(">> Stop time is not set!\n") + kFixStopTime;
    case NoticeKind::StopTimeBeforeRecordStart:
      return std::string("\n>> Stop time is set before record start!\n") + kFixStopTime;
    case NoticeKind::StopTimeAtRecordStart:
      return std::string("\n>> Stop time is the same as record start!\n") + kFixStopTime;
    case NoticeKind::PlaylistMissingAsk:
      return "Cannot find playlist file called " + n.path + "\nCreate the file or enter a different name\n";
    case NoticeKind::RecordlistMissingAsk:
      return "Cannot find recordlist file called " + n.path + "\nCreate the file or enter a different name\n";
    case NoticeKind::PlaybackTrackUnopened: return "Can't open " + n.path + " for playback\n";
    case NoticeKind::TakeNameTaken:
      return "The file named " + n.path +
             " already exists!\nEnter a different take name or 'w' to overwrite this file\n"
             "or 'W' to overwrite all similar conflicts\n";
    case NoticeKind::TakeUnopened:
      return "Can't open " + n.path + " for recording" +
             (n.error != 0 ? std::string(": ") + std::strerror(n.error) : std::string()) + "\n";
    case NoticeKind::NoRoomForTakes:
      return "Not enough disk space for the takes: they need " + Megabytes(n.number) + " MB, " + Megabytes(n.total) +
             " MB are free, so the run does not start\n";
    case NoticeKind::NothingToRecord:
      return "Nothing to record: no input of " + n.path + " has a take file, so the run does not start\n";
    case NoticeKind::TakeCutShort:
      return "Recording into " + n.path + " on input " + std::to_string(n.number) +
             " was cut short: " + std::strerror(n.error) + "\n";
    case NoticeKind::IncompleteNameTaken: return "It keeps its name: " + n.path + " already exists\n";
    case NoticeKind::IncompleteTakeKept: return "What it holds is kept as " + n.path + "\n";
    case NoticeKind::TakeSetAside:
      return "Input " + std::to_string(n.number) + " has no take here: it was cut short, and what it holds is " +
             n.path + "\n";
    case NoticeKind::DeviceStillGone:
      return "The audio device " + n.path + " is still gone, so the run does not start\n";
    case NoticeKind::TakeGone:
      return "The take of input " + std::to_string(n.number) + ", " + n.path + ", is no longer there\n";
    case NoticeKind::RecordingJournalNotSaved:
      return std::string("Could not note the takes in recording.takes: ") + ReasonOf(n.error) +
             "\nIf the program is cut off, their sizes will not be fixed at the next start\n";
    case NoticeKind::CutOffTakeKept:
      return "A recording was cut off: " + n.path + " was kept with " + Seconds(n) + " sec\n";
    case NoticeKind::CutOffTakeMissing: return "A recording was cut off: " + n.path + " is no longer there\n";
    case NoticeKind::CutOffTakeUnfixable:
      return "A recording was cut off: " + n.path + " is not a take whose sizes can be fixed; it is left as it is\n";
    case NoticeKind::CutOffExportRemoved: return "An export was cut off: its unfinished " + n.path + " was removed\n";
  }
  return {};
}

void TerminalDialog::Tell(const Notice& notice) {
  const std::string text = NoticeText(notice);
  std::fputs(text.c_str(), stdout);
  if (notice.kind == NoticeKind::ExportProgress) std::fflush(stdout);
  if (notice.kind == NoticeKind::NoDataBlockEndsProgram) throw ProgramExit{2};
}

void TerminalDialog::TellAndWaitForContinue(const Notice& notice) {
  Tell(notice);
  WordBuffer word{};
  WaitForWord(word, "c");
}

std::string TerminalDialog::Ask(const Notice& question) {
  Tell(question);
  WordBuffer word{};
  ReadWord(word);
  return std::string(WordOf(word));
}

}  // namespace sondrel
