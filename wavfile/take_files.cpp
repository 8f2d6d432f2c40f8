#include "wavfile/take_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "core/file_io.h"
#include "core/list_text.h"
#include "wavfile/punch_undo.h"
#include "wavfile/wav_format.h"

namespace sondrel {
namespace {

constexpr const char* kPadWorkFile = "temp_pad.wav";
constexpr const char* kPadOldFile = "temp_data.wav";
constexpr std::size_t kPadPieceBytes = 3072;  // 1024 samples
constexpr std::size_t kCopyPieceBytes = 4096;
constexpr std::int64_t kFadeBlockSamples = 1024;
constexpr std::size_t kMaxBackupNameChars = 255;
// A quarter turn, to ten digits: the fade's angle runs from 0 towards it.
constexpr double kQuarterTurn = 1.570796327;

// ---- Telling what failed ----------------------------------------------------

// Tells why `path` could not be handled; always false so a failing step can
// return it directly.
bool Told(UserDialog& dialog, NoticeKind kind, const char* path, int error) {
  dialog.Tell({kind, path, {}, error});
  return false;
}

bool Told(UserDialog& dialog, NoticeKind kind, const char* path, const IoResult& result) {
  return Told(dialog, kind, path, result.error);
}

bool RenameTold(const std::string& from, const std::string& to, UserDialog& dialog) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  dialog.Tell({NoticeKind::CouldNotRename, from, to, errno});
  return false;
}

// ---- Tracks and work files --------------------------------------------------

// An open track, its size and where its audio starts (just after the data
// marker and its size field).
struct Track {
  const char* path = nullptr;
  FilePtr file;
  std::int64_t sizeBytes = 0;
  std::int64_t audioStartBytes = 0;
};

// A file being built to replace or back up a track.
struct WorkFile {
  std::string path;
  FilePtr file;
};

// Opens and measures a track; each caller tells its own notice. A
// directory opens as a stream here but cannot be read, so it is refused at
// once.
IoResult OpenTrack(Track& track, const char* path, const char* mode) {
  track.path = path;
  track.file = OpenFile(path, mode);
  if (!track.file) return IoResult::FromErrno();
  struct stat info {};
  if (fstat(fileno(track.file.get()), &info) != 0) return IoResult::FromErrno();
  if (S_ISDIR(info.st_mode)) return IoResult::Failed(EISDIR);
  track.sizeBytes = static_cast<std::int64_t>(info.st_size);
  return {};
}

bool FindAudioStart(Track& track) {
  const std::optional<std::int64_t> dataAt = FindDataMarker(track.file.get());
  if (!dataAt) return false;
  track.audioStartBytes = *dataAt + 8;
  return true;
}

// Without a data marker there is no telling where the audio starts, and
// rebuilding the file on a guess could ruin it: the program ends instead.
// Callers look before they create any work file, so none is left behind.
bool RequireAudioStart(Track& track, UserDialog& dialog) {
  if (FindAudioStart(track)) return true;
  dialog.Tell({NoticeKind::NoDataBlockEndsProgram});
  return false;
}

bool DiscardWorkFile(WorkFile& work) {
  work.file.reset();
  unlink(work.path.c_str());
  return false;
}

// The work file will take the track's place (or sit beside it as its
// backup), so it gets the track's permissions.
bool CreateWorkFile(WorkFile& work, const char* mode, const Track& like, UserDialog& dialog) {
  work.file = OpenFile(work.path.c_str(), mode);
  if (!work.file) return Told(dialog, NoticeKind::CouldNotCreate, work.path.c_str(), errno);
  struct stat info {};
  if (fstat(fileno(like.file.get()), &info) == 0 && fchmod(fileno(work.file.get()), info.st_mode & 07777) == 0) {
    return true;
  }
  Told(dialog, NoticeKind::CouldNotCreate, work.path.c_str(), errno);
  return DiscardWorkFile(work);
}

// Everything written must be on the disk before the file is trusted: before
// a work file takes the track's name (a crash then leaves the old file or
// the complete new one, never a torn one), and before a punched track's
// undo record goes. The size fields are fixed through the path while the
// file is still open, and the sync then covers them too.
bool SyncWritten(std::FILE* file, const char* path, bool fixSizes, UserDialog& dialog) {
  if (std::fflush(file) != 0) return Told(dialog, NoticeKind::CouldNotWrite, path, errno);
  if (fixSizes && !FixSizeFields(path, dialog)) return false;
  if (fsync(fileno(file)) != 0) return Told(dialog, NoticeKind::CouldNotWrite, path, errno);
  return true;
}

bool FinishWorkFile(WorkFile& work, bool fixSizes, UserDialog& dialog) {
  if (!SyncWritten(work.file.get(), work.path.c_str(), fixSizes, dialog)) return false;
  if (const IoResult closed = CloseFile(work.file); !closed) {
    return Told(dialog, NoticeKind::CouldNotWrite, work.path.c_str(), closed);
  }
  return true;
}

// ---- Piecewise copies -------------------------------------------------------

// Writes `countBytes` of `from`, starting at `offsetBytes`, where `to`
// stands, one piece at a time: tracks can be far larger than memory allows.
bool AppendCopy(const Track& from, std::int64_t offsetBytes, std::int64_t countBytes, std::FILE* to,
                const char* toPath, std::size_t pieceBytes, UserDialog& dialog) {
  std::array<std::uint8_t, kCopyPieceBytes> buffer;
  while (countBytes > 0) {
    const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(countBytes, pieceBytes));
    if (const IoResult read = ReadAt(from.file.get(), offsetBytes, buffer.data(), piece); !read) {
      return Told(dialog, NoticeKind::CouldNotRead, from.path, read);
    }
    if (const IoResult written = WriteAll(to, buffer.data(), piece); !written) {
      return Told(dialog, NoticeKind::CouldNotWrite, toPath, written);
    }
    offsetBytes += static_cast<std::int64_t>(piece);
    countBytes -= static_cast<std::int64_t>(piece);
  }
  return true;
}

// Zero bytes are silence in 24-bit PCM.
bool AppendSilence(std::FILE* to, const char* toPath, std::int64_t countBytes, std::size_t pieceBytes,
                   UserDialog& dialog) {
  static constexpr std::array<std::uint8_t, kCopyPieceBytes> kZeros{};
  while (countBytes > 0) {
    const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(countBytes, pieceBytes));
    if (const IoResult written = WriteAll(to, kZeros.data(), piece); !written) {
      return Told(dialog, NoticeKind::CouldNotWrite, toPath, written);
    }
    countBytes -= static_cast<std::int64_t>(piece);
  }
  return true;
}

// ---- Padding ----------------------------------------------------------------

bool WritePadded(const Track& original, std::int64_t samples, WorkFile& padded, UserDialog& dialog) {
  const std::int64_t silenceBytes = std::max<std::int64_t>(samples, 0) * kTrackBytesPerSample;
  const std::int64_t start = original.audioStartBytes;
  std::FILE* to = padded.file.get();
  const char* toPath = padded.path.c_str();
  return AppendCopy(original, 0, start, to, toPath, kPadPieceBytes, dialog) &&
         AppendSilence(to, toPath, silenceBytes, kPadPieceBytes, dialog) &&
         AppendCopy(original, start, original.sizeBytes - start, to, toPath, kPadPieceBytes, dialog);
}

// The old file steps aside as "temp_data.wav" before the padded one takes
// its name, and comes back if that fails, so the name is never left without
// the track.
bool SwapInPadded(const char* path, UserDialog& dialog) {
  if (!RenameTold(path, kPadOldFile, dialog)) {
    unlink(kPadWorkFile);
    return false;
  }
  if (!RenameTold(kPadWorkFile, path, dialog)) {
    RenameTold(kPadOldFile, path, dialog);
    unlink(kPadWorkFile);
    return false;
  }
  // The padded file is in place; a left-over old copy is only clutter.
  if (unlink(kPadOldFile) != 0) Told(dialog, NoticeKind::CouldNotDelete, kPadOldFile, errno);
  return true;
}

// ---- Punch-in ---------------------------------------------------------------

// Where the source's audio lands in the destination, in bytes.
struct Punch {
  std::int64_t atBytes = 0;
  std::int64_t countBytes = 0;
};

// The source's audio from its first byte, cut to `length` samples; a
// shorter source gives all it has, a trailing partial sample included.
Punch PunchOf(const Track& destination, const Track& source, std::int64_t position, std::int64_t length) {
  const std::int64_t available = std::max<std::int64_t>(0, source.sizeBytes - source.audioStartBytes);
  std::int64_t countBytes = 0;
  if (length >= 1) countBytes = length > available / kTrackBytesPerSample ? available : length * kTrackBytesPerSample;
  return {destination.audioStartBytes + position * kTrackBytesPerSample, countBytes};
}

// Writes over the destination where the source lands: silence first when
// the punch starts past the old end, then the source's audio. Nothing else
// of the destination is touched, however long it is.
bool WritePunchInPlace(const Track& destination, const Track& source, const Punch& punch, UserDialog& dialog) {
  std::FILE* to = destination.file.get();
  const std::int64_t oldEnd = std::min(punch.atBytes, destination.sizeBytes);
  if (fseeko(to, static_cast<off_t>(oldEnd), SEEK_SET) != 0) {
    return Told(dialog, NoticeKind::CouldNotWrite, destination.path, errno);
  }
  return AppendSilence(to, destination.path, punch.atBytes - oldEnd, kCopyPieceBytes, dialog) &&
         AppendCopy(source, source.audioStartBytes, punch.countBytes, to, destination.path, kCopyPieceBytes, dialog);
}

// ---- Crossfade --------------------------------------------------------------

// A fade may start at the very end of a file (it then reads silence), but not
// before its first sample or past its end.
bool StartsInside(const Track& track, std::int64_t firstSample) {
  return firstSample >= 0 && firstSample <= track.sizeBytes / kTrackBytesPerSample &&
         track.audioStartBytes + firstSample * kTrackBytesPerSample <= track.sizeBytes;
}

// Samples the file does not hold (past its end, or a trailing partial
// sample) are silence: a punch-in that starts shortly before the end of a
// track then fades from the track's last sound into quiet, not into noise.
bool ReadSamplesOrSilence(const Track& track, std::int64_t firstSample, std::int64_t* samples, std::int64_t count,
                          UserDialog& dialog) {
  std::array<std::uint8_t, kFadeBlockSamples * kTrackBytesPerSample> bytes{};
  const std::int64_t offset = track.audioStartBytes + firstSample * kTrackBytesPerSample;
  const std::int64_t held = std::clamp<std::int64_t>((track.sizeBytes - offset) / kTrackBytesPerSample, 0, count);
  if (held > 0) {
    const IoResult read =
        ReadAt(track.file.get(), offset, bytes.data(), static_cast<std::size_t>(held * kTrackBytesPerSample));
    if (!read) return Told(dialog, NoticeKind::CouldNotRead, track.path, read);
  }
  DecodeSamples24(bytes.data(), samples, count);
  return true;
}

// Equal power: the weights cos θ and sin θ keep cos² + sin² = 1, so the
// loudness stays level through the fade. A sum past full scale is held at
// full scale; wrapping round would turn a loud peak into a full-scale click
// of the opposite sign.
std::int64_t FadeSample(std::int64_t from, std::int64_t to, std::int64_t index, std::int64_t length) {
  const double theta = (static_cast<double>(index) / static_cast<double>(length)) * kQuarterTurn;
  const double mixed = static_cast<double>(from) * std::cos(theta) + static_cast<double>(to) * std::sin(theta);
  // The conversion truncates toward zero.
  return std::clamp(static_cast<std::int64_t>(mixed), kSampleMin, kSampleMax);
}

// Appends the fade to the output.
bool AppendFade(const Track& from, std::int64_t fromFirst, const Track& to, std::int64_t toFirst,
                std::int64_t length, Track& output, UserDialog& dialog) {
  std::array<std::int64_t, kFadeBlockSamples> fromSamples;
  std::array<std::int64_t, kFadeBlockSamples> toSamples;
  std::array<std::int64_t, kFadeBlockSamples> mixed;
  std::array<std::uint8_t, kFadeBlockSamples * kTrackBytesPerSample> bytes;
  std::FILE* out = output.file.get();
  // The marker scan read the output; an update stream must seek before it
  // writes, and the fade goes after whatever the output holds.
  if (fseeko(out, 0, SEEK_END) != 0) return Told(dialog, NoticeKind::CouldNotWrite, output.path, errno);
  for (std::int64_t done = 0; done < length; done += kFadeBlockSamples) {
    const std::int64_t count = std::min(kFadeBlockSamples, length - done);
    if (!ReadSamplesOrSilence(from, fromFirst + done, fromSamples.data(), count, dialog)) return false;
    if (!ReadSamplesOrSilence(to, toFirst + done, toSamples.data(), count, dialog)) return false;
    for (std::int64_t i = 0; i < count; ++i) mixed[i] = FadeSample(fromSamples[i], toSamples[i], done + i, length);
    EncodeSamples24(mixed.data(), bytes.data(), count);
    const IoResult written = WriteAll(out, bytes.data(), static_cast<std::size_t>(count * kTrackBytesPerSample));
    if (!written) return Told(dialog, NoticeKind::CouldNotWrite, output.path, written);
  }
  if (const IoResult closed = CloseFile(output.file); !closed) {
    return Told(dialog, NoticeKind::CouldNotWrite, output.path, closed);
  }
  return true;
}

// Opens one file of a crossfade and finds its audio.
bool OpenFadeTrack(Track& track, const char* path, const char* mode, UserDialog& dialog) {
  if (const IoResult opened = OpenTrack(track, path, mode); !opened) {
    return Told(dialog, NoticeKind::CouldNotOpen, path, opened);
  }
  return true;
}

// ---- Names ------------------------------------------------------------------

// The part of `name` before the first `mark`; all of it when there is none.
std::string_view Before(std::string_view name, std::string_view mark) {
  return name.substr(0, name.find(mark));
}

bool NamesAFile(std::string_view entry) { return !entry.empty() && !IsSkipLine(entry); }

std::string_view EntryOf(const ListLines& lines, int index) {
  return index >= 0 && index < lines.count ? lines.lines[index] : std::string_view{};
}

}  // namespace

std::string BackupFileName(std::int64_t stamp, std::string_view path, std::string_view extension) {
  std::string name(Before(path, "."));
  name += "_bkup_";
  name += std::to_string(static_cast<std::int32_t>(stamp));
  name += extension;
  return name;
}

std::string StampedFileName(std::string_view entry, std::int64_t stamp) {
  return std::string(Before(entry, ".")) + "_stp_" + std::to_string(stamp) + ".wav";
}

std::string UnstampedFileName(std::string_view name) {
  const std::size_t stampAt = name.find("_stp");
  if (!NamesAFile(name) || stampAt == std::string_view::npos) return {};
  return std::string(name.substr(0, stampAt)) + ".wav";
}

bool PadTrackStart(const char* path, std::int64_t samples, UserDialog& dialog) {
  Track original;
  if (const IoResult opened = OpenTrack(original, path, "r+b"); !opened) {
    return Told(dialog, NoticeKind::CouldNotOpen, path, opened);
  }
  if (!RequireAudioStart(original, dialog)) return false;
  WorkFile padded{kPadWorkFile, nullptr};
  if (!CreateWorkFile(padded, "wb", original, dialog)) return false;
  const bool built = WritePadded(original, samples, padded, dialog) && FinishWorkFile(padded, true, dialog);
  original.file.reset();
  if (!built) return DiscardWorkFile(padded);
  return SwapInPadded(path, dialog);
}

bool StampTakeNames(int count, std::string_view list, std::int64_t stamp,
                    const std::array<int, kMaxChannels>& recorded, UserDialog& dialog) {
  const ListLines lines = SplitListLines(list);
  bool allRenamed = true;
  for (int i = 0; i < std::min(count, kMaxChannels); ++i) {
    const std::string_view entry = EntryOf(lines, i);
    if (recorded[i] != 1 || !NamesAFile(entry)) continue;
    allRenamed = RenameTold(std::string(entry), StampedFileName(entry, stamp), dialog) && allRenamed;
  }
  return allRenamed;
}

bool RemoveTakeStamp(const char* path, UserDialog& dialog) {
  const std::string_view name = path != nullptr ? path : "";
  const std::string unstamped = UnstampedFileName(name);
  if (unstamped.empty()) return true;
  return RenameTold(std::string(name), unstamped, dialog);
}

bool RenameListedFiles(int count, std::string_view fromList, std::string_view toList, UserDialog& dialog) {
  const ListLines from = SplitListLines(fromList);
  const ListLines to = SplitListLines(toList);
  bool allRenamed = true;
  for (int i = 0; i < count && i < from.count; ++i) {
    const std::string_view oldName = EntryOf(from, i);
    const std::string_view newName = EntryOf(to, i);
    if (!NamesAFile(oldName) || !NamesAFile(newName)) continue;
    allRenamed = RenameTold(std::string(oldName), std::string(newName), dialog) && allRenamed;
  }
  return allRenamed;
}

bool DeleteListedFiles(int count, std::string_view list, UserDialog& dialog) {
  const ListLines lines = SplitListLines(list);
  bool allRemoved = true;
  for (int i = 0; i < count && i < lines.count; ++i) {
    const std::string_view entry = EntryOf(lines, i);
    if (!NamesAFile(entry)) continue;
    const std::string name(entry);
    // unlink, not remove: a list entry naming a directory must not empty it
    // away. A file that is already gone (renamed by an earlier step) is fine.
    if (unlink(name.c_str()) != 0 && errno != ENOENT) {
      allRemoved = Told(dialog, NoticeKind::CouldNotDelete, name.c_str(), errno);
    }
  }
  return allRemoved;
}

bool BackUpTrack(std::int64_t stamp, const char* path, UserDialog& dialog) {
  Track original;
  if (!OpenTrack(original, path, "rb")) return Told(dialog, NoticeKind::BackupSourceMissing, path, 0);
  const std::string backup = BackupFileName(stamp, path, ".wav");
  if (backup.size() > kMaxBackupNameChars) return Told(dialog, NoticeKind::BackupFailed, backup.c_str(), 0);
  // Same length as the backup's name, so it fits wherever the backup does.
  // Created exclusively: whatever already has that name is not ours.
  WorkFile copy{BackupFileName(stamp, path, ".tmp"), nullptr};
  if (!CreateWorkFile(copy, "wbx", original, dialog)) return Told(dialog, NoticeKind::BackupFailed, backup.c_str(), 0);
  const bool copied =
      AppendCopy(original, 0, original.sizeBytes, copy.file.get(), copy.path.c_str(), kCopyPieceBytes, dialog) &&
      FinishWorkFile(copy, false, dialog);
  original.file.reset();
  if (!copied || !RenameTold(copy.path, backup, dialog)) {
    // The reason named the work file; the user knows the backup's name.
    DiscardWorkFile(copy);
    return Told(dialog, NoticeKind::BackupFailed, backup.c_str(), 0);
  }
  dialog.Tell({NoticeKind::BackupMade, path, backup});
  return true;
}

bool PunchInPlace(const char* destination, const char* source, std::int64_t position, std::int64_t length,
                  UserDialog& dialog) {
  Track oldTrack;
  Track take;
  if (const IoResult opened = OpenTrack(oldTrack, destination, "r+b"); !opened) {
    return Told(dialog, NoticeKind::CouldNotOpen, destination, opened);
  }
  if (const IoResult opened = OpenTrack(take, source, "rb"); !opened) {
    return Told(dialog, NoticeKind::CouldNotOpen, source, opened);
  }
  if (!RequireAudioStart(oldTrack, dialog) || !RequireAudioStart(take, dialog)) return false;
  if (position < 0) {
    dialog.Tell({NoticeKind::InsertBeforeStart, source, destination});
    return false;
  }
  const Punch punch = PunchOf(oldTrack, take, position, length);
  if (punch.countBytes == 0) return true;  // nothing to lay over the old audio

  // The bytes about to be overwritten are saved first, so a failure (or a
  // crash) at any point can put the file back exactly as it was.
  PunchUndo undo;
  if (!SavePunchUndo(oldTrack.file.get(), destination, oldTrack.sizeBytes, oldTrack.audioStartBytes, punch.atBytes,
                     punch.countBytes, undo, dialog)) {
    return false;
  }
  const bool grows = punch.atBytes + punch.countBytes > oldTrack.sizeBytes;
  const bool written = WritePunchInPlace(oldTrack, take, punch, dialog) &&
                       SyncWritten(oldTrack.file.get(), destination, grows, dialog);
  // Closed before anything else writes to it; whatever a failed close could
  // not write is undone next.
  oldTrack.file.reset();
  take.file.reset();
  if (!written) {
    // An undo that fails has been told, and its record is kept for the next
    // start to put the file back.
    (void)UndoPunch(undo, dialog);
    return false;
  }
  CommitPunch(undo);
  return true;
}

bool WriteCrossfade(std::int64_t destinationPosition, std::int64_t sourcePosition, std::int64_t length,
                    const char* destination, const char* source, const char* output, std::int64_t half,
                    UserDialog& dialog) {
  Track from;
  Track to;
  Track out;
  // The output is opened for update, not append, so a missing output is an
  // error rather than a new empty file.
  if (!OpenFadeTrack(from, destination, "rb", dialog) || !OpenFadeTrack(to, source, "rb", dialog) ||
      !OpenFadeTrack(out, output, "r+b", dialog)) {
    return false;
  }
  if (!FindAudioStart(from) || !FindAudioStart(to) || !FindAudioStart(out)) {
    dialog.Tell({NoticeKind::CrossfadeDataNotFound});
    return false;
  }
  const std::int64_t fromFirst = destinationPosition - half;
  const std::int64_t toFirst = sourcePosition - half;
  if (!StartsInside(from, fromFirst)) {
    dialog.Tell({NoticeKind::CrossfadeOutsideDestination, {}, {}, 0, fromFirst});
    return false;
  }
  if (!StartsInside(to, toFirst)) {
    dialog.Tell({NoticeKind::CrossfadeOutsideSource, {}, {}, 0, toFirst});
    return false;
  }
  if (length < 1) return true;
  if (AppendFade(from, fromFirst, to, toFirst, length, out, dialog)) return true;
  // A half-written fade must not be laid over a take: the output goes back
  // to the header it held.
  out.file.reset();
  if (truncate(output, static_cast<off_t>(out.sizeBytes)) != 0) {
    Told(dialog, NoticeKind::CouldNotRestore, output, errno);
  }
  return false;
}

}  // namespace sondrel
