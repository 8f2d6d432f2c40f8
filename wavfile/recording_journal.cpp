#include "wavfile/recording_journal.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "core/list_text.h"
#include "wavfile/wav_format.h"

namespace sondrel {

namespace {

constexpr const char* kJournalFile = "recording.takes";
constexpr const char* kJournalWorkFile = "recording.takes.tmp";

// Cuts a take to the whole samples it holds (a write cut off part way may
// have left one or two bytes of a sample), sets its sizes to match and puts
// it on the disk. The samples kept, or nothing after telling why.
std::optional<std::int64_t> KeepWholeSamples(const std::string& path, const TrackInfo& take, UserDialog& dialog) {
  FilePtr file = OpenFile(path.c_str(), "r+b");
  const std::int64_t sizeBytes = file ? FileSizeBytes(file.get()) : -1;
  if (sizeBytes < 0) {
    dialog.Tell({NoticeKind::CannotUpdateSize, path});
    return std::nullopt;
  }
  const std::int64_t samples = std::max<std::int64_t>(0, sizeBytes - take.dataOffsetBytes) / kTrackBytesPerSample;
  const std::int64_t wholeBytes = take.dataOffsetBytes + samples * kTrackBytesPerSample;
  const bool cut = wholeBytes >= sizeBytes || ::ftruncate(fileno(file.get()), static_cast<off_t>(wholeBytes)) == 0;
  const bool sized = cut && WriteTakeSizes(fileno(file.get()), samples) && FlushToDisk(file.get());
  if (!CloseFile(file) || !sized) {
    dialog.Tell({NoticeKind::SizeNotUpdated, path});
    return std::nullopt;
  }
  return samples;
}

}  // namespace

IoResult SaveRecordingJournal(std::span<const std::string> takeNames) {
  std::string text;
  for (const std::string& name : takeNames) text += name + "\n";
  return ReplaceFileDurably(kJournalFile, kJournalWorkFile, text);
}

void RemoveRecordingJournal() {
  // Synced, so a power cut cannot bring the record back after the takes
  // have been moved or deleted at the take menu.
  if (::unlink(kJournalFile) == 0) SyncProjectDirectory();
}

void RecoverInterruptedRecording(UserDialog& dialog) {
  ::unlink(kJournalWorkFile);  // never put in place: its run had not begun
  std::string text;
  if (::access(kJournalFile, F_OK) != 0) return;
  if (!ReadWholeFile(kJournalFile, text)) {
    dialog.Tell({NoticeKind::CouldNotRead, kJournalFile, {}, errno});
    return;
  }
  const ListLines names = SplitListLines(text);
  for (int i = 0; i < names.count; ++i) {
    const std::string path(names.lines[i]);
    const TrackInfo take = InspectTrackFile(path.c_str());
    if (take.check == TrackCheck::Missing) {
      dialog.Tell({NoticeKind::CutOffTakeMissing, path});
    } else if (take.check != TrackCheck::Accepted) {
      dialog.Tell({NoticeKind::CutOffTakeUnfixable, path});
    } else if (const auto samples = KeepWholeSamples(path, take, dialog)) {
      dialog.Tell({NoticeKind::CutOffTakeKept, path, {}, 0, *samples, take.rateHz});
    }
  }
  RemoveRecordingJournal();
}

}  // namespace sondrel
