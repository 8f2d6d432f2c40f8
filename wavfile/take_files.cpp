#include "wavfile/take_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "core/program_exit.h"
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

// ---- Messages ---------------------------------------------------------------

// A read that stops at the end of a file sets no errno.
const char* ReasonOf(int error) {
  return error != 0 ? std::strerror(error) : "unexpected end of file";
}

// Prints why `path` could not be handled, from errno; always false so a
// failing step can return it directly.
bool ReportFailure(const char* verb, const char* path) {
  const int error = errno;
  std::printf("Could not %s %s: %s\n", verb, path, ReasonOf(error));
  return false;
}

bool RenameReported(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  const int error = errno;
  std::printf("Could not rename %s to %s: %s\n", from.c_str(), to.c_str(), ReasonOf(error));
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

// Opens and measures a track without printing: each caller words its own
// message, and errno still says why. A directory opens as a stream here but
// cannot be read, so it is refused at once.
bool OpenTrack(Track& track, const char* path, const char* mode) {
  track.path = path;
  track.file = OpenFile(path, mode);
  if (!track.file) return false;
  struct stat info {};
  if (fstat(fileno(track.file.get()), &info) != 0) return false;
  if (S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return false;
  }
  track.sizeBytes = static_cast<std::int64_t>(info.st_size);
  return true;
}

bool FindAudioStart(Track& track) {
  const std::optional<std::int64_t> data_at = FindDataMarker(track.file.get());
  if (!data_at) return false;
  track.audioStartBytes = *data_at + 8;
  return true;
}

// Without a data marker there is no telling where the audio starts, and
// rebuilding the file on a guess could ruin it: the program ends instead.
// Callers look before they create any work file, so none is left behind.
void RequireAudioStart(Track& track) {
  if (FindAudioStart(track)) return;
  std::fputs("Can't find data block in wave file!\n", stdout);
  throw ProgramExit{2};
}

bool DiscardWorkFile(WorkFile& work) {
  work.file.reset();
  unlink(work.path.c_str());
  return false;
}

// The work file will take the track's place (or sit beside it as its
// backup), so it gets the track's permissions.
bool CreateWorkFile(WorkFile& work, const char* mode, const Track& like) {
  work.file = OpenFile(work.path.c_str(), mode);
  if (!work.file) return ReportFailure("create", work.path.c_str());
  struct stat info {};
  if (fstat(fileno(like.file.get()), &info) == 0 &&
      fchmod(fileno(work.file.get()), info.st_mode & 07777) == 0) {
    return true;
  }
  ReportFailure("create", work.path.c_str());
  return DiscardWorkFile(work);
}

// Everything written must be on the disk before the file is trusted: before
// a work file takes the track's name (a crash then leaves the old file or
// the complete new one, never a torn one), and before a punched track's
// undo record goes. The size fields are fixed through the path while the
// file is still open, and the sync then covers them too.
bool SyncWritten(std::FILE* file, const char* path, bool fix_sizes) {
  errno = 0;
  if (std::fflush(file) != 0) return ReportFailure("write", path);
  if (fix_sizes && !FixSizeFields(path)) return false;
  errno = 0;
  if (fsync(fileno(file)) != 0) return ReportFailure("write", path);
  return true;
}

bool FinishWorkFile(WorkFile& work, bool fix_sizes) {
  if (!SyncWritten(work.file.get(), work.path.c_str(), fix_sizes)) return false;
  if (!CloseFile(work.file)) return ReportFailure("write", work.path.c_str());
  return true;
}

// ---- Piecewise copies -------------------------------------------------------

// Writes `count_bytes` of `from`, starting at `offset_bytes`, where `to`
// stands, one piece at a time: tracks can be far larger than memory allows.
bool AppendCopy(const Track& from, std::int64_t offset_bytes, std::int64_t count_bytes,
                std::FILE* to, const char* to_path, std::size_t piece_bytes) {
  std::array<std::uint8_t, kCopyPieceBytes> buffer;
  while (count_bytes > 0) {
    const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(count_bytes, piece_bytes));
    errno = 0;
    if (!ReadAt(from.file.get(), offset_bytes, buffer.data(), piece)) {
      return ReportFailure("read", from.path);
    }
    errno = 0;
    if (!WriteAll(to, buffer.data(), piece)) {
      return ReportFailure("write", to_path);
    }
    offset_bytes += static_cast<std::int64_t>(piece);
    count_bytes -= static_cast<std::int64_t>(piece);
  }
  return true;
}

// Zero bytes are silence in 24-bit PCM.
bool AppendSilence(std::FILE* to, const char* to_path, std::int64_t count_bytes, std::size_t piece_bytes) {
  static constexpr std::array<std::uint8_t, kCopyPieceBytes> kZeros{};
  while (count_bytes > 0) {
    const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(count_bytes, piece_bytes));
    errno = 0;
    if (!WriteAll(to, kZeros.data(), piece)) {
      return ReportFailure("write", to_path);
    }
    count_bytes -= static_cast<std::int64_t>(piece);
  }
  return true;
}

// ---- Padding ----------------------------------------------------------------

bool WritePadded(const Track& original, std::int64_t samples, WorkFile& padded) {
  const std::int64_t silence_bytes = std::max<std::int64_t>(samples, 0) * kTrackBytesPerSample;
  const std::int64_t start = original.audioStartBytes;
  std::FILE* to = padded.file.get();
  const char* to_path = padded.path.c_str();
  return AppendCopy(original, 0, start, to, to_path, kPadPieceBytes) &&
         AppendSilence(to, to_path, silence_bytes, kPadPieceBytes) &&
         AppendCopy(original, start, original.sizeBytes - start, to, to_path, kPadPieceBytes);
}

// The old file steps aside as "temp_data.wav" before the padded one takes
// its name, and comes back if that fails, so the name is never left without
// the track.
bool SwapInPadded(const char* path) {
  if (!RenameReported(path, kPadOldFile)) {
    unlink(kPadWorkFile);
    return false;
  }
  if (!RenameReported(kPadWorkFile, path)) {
    RenameReported(kPadOldFile, path);
    unlink(kPadWorkFile);
    return false;
  }
  // The padded file is in place; a left-over old copy is only clutter.
  errno = 0;
  if (unlink(kPadOldFile) != 0) ReportFailure("delete", kPadOldFile);
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
Punch PunchOf(const Track& destination, const Track& source, std::int64_t position,
              std::int64_t length) {
  const std::int64_t available =
      std::max<std::int64_t>(0, source.sizeBytes - source.audioStartBytes);
  std::int64_t count_bytes = 0;
  if (length >= 1) {
    count_bytes =
        length > available / kTrackBytesPerSample ? available : length * kTrackBytesPerSample;
  }
  return {destination.audioStartBytes + position * kTrackBytesPerSample, count_bytes};
}

// Writes over the destination where the source lands: silence first when
// the punch starts past the old end, then the source's audio. Nothing else
// of the destination is touched, however long it is.
bool WritePunchInPlace(const Track& destination, const Track& source, const Punch& punch) {
  std::FILE* to = destination.file.get();
  const std::int64_t old_end = std::min(punch.atBytes, destination.sizeBytes);
  errno = 0;
  if (fseeko(to, static_cast<off_t>(old_end), SEEK_SET) != 0) return ReportFailure("write", destination.path);
  return AppendSilence(to, destination.path, punch.atBytes - old_end, kCopyPieceBytes) &&
         AppendCopy(source, source.audioStartBytes, punch.countBytes, to, destination.path, kCopyPieceBytes);
}

// ---- Crossfade --------------------------------------------------------------

// A fade may start at the very end of a file (it then reads silence), but not
// before its first sample or past its end.
bool StartsInside(const Track& track, std::int64_t first_sample) {
  return first_sample >= 0 && first_sample <= track.sizeBytes / kTrackBytesPerSample &&
         track.audioStartBytes + first_sample * kTrackBytesPerSample <= track.sizeBytes;
}

// Samples the file does not hold (past its end, or a trailing partial
// sample) are silence: a punch-in that starts shortly before the end of a
// track then fades from the track's last sound into quiet, not into noise.
bool ReadSamplesOrSilence(const Track& track, std::int64_t first_sample, std::int64_t* samples,
                          std::int64_t count) {
  std::array<std::uint8_t, kFadeBlockSamples * kTrackBytesPerSample> bytes{};
  const std::int64_t offset = track.audioStartBytes + first_sample * kTrackBytesPerSample;
  const std::int64_t held =
      std::clamp<std::int64_t>((track.sizeBytes - offset) / kTrackBytesPerSample, 0, count);
  errno = 0;
  if (held > 0 && !ReadAt(track.file.get(), offset, bytes.data(),
                          static_cast<std::size_t>(held * kTrackBytesPerSample))) {
    return ReportFailure("read", track.path);
  }
  DecodeSamples24(bytes.data(), samples, count);
  return true;
}

// Equal power: the weights cos θ and sin θ keep cos² + sin² = 1, so the
// loudness stays level through the fade. A sum past full scale is held at
// full scale; wrapping round would turn a loud peak into a full-scale click
// of the opposite sign.
std::int64_t FadeSample(std::int64_t from, std::int64_t to, std::int64_t index,
                        std::int64_t length) {
  const double theta = (static_cast<double>(index) / static_cast<double>(length)) * kQuarterTurn;
  const double mixed =
      static_cast<double>(from) * std::cos(theta) + static_cast<double>(to) * std::sin(theta);
  // The conversion truncates toward zero.
  return std::clamp(static_cast<std::int64_t>(mixed), kSampleMin, kSampleMax);
}

// Appends the fade to the output; 0, or the code of the file that failed.
int AppendFade(const Track& from, std::int64_t from_first, const Track& to, std::int64_t to_first,
               std::int64_t length, Track& output) {
  std::array<std::int64_t, kFadeBlockSamples> from_samples;
  std::array<std::int64_t, kFadeBlockSamples> to_samples;
  std::array<std::int64_t, kFadeBlockSamples> mixed;
  std::array<std::uint8_t, kFadeBlockSamples * kTrackBytesPerSample> bytes;
  std::FILE* out = output.file.get();
  // The marker scan read the output; an update stream must seek before it
  // writes, and the fade goes after whatever the output holds.
  errno = 0;
  if (fseeko(out, 0, SEEK_END) != 0) {
    ReportFailure("write", output.path);
    return 3;
  }
  for (std::int64_t done = 0; done < length; done += kFadeBlockSamples) {
    const std::int64_t count = std::min(kFadeBlockSamples, length - done);
    if (!ReadSamplesOrSilence(from, from_first + done, from_samples.data(), count)) return 1;
    if (!ReadSamplesOrSilence(to, to_first + done, to_samples.data(), count)) return 2;
    for (std::int64_t i = 0; i < count; ++i) {
      mixed[i] = FadeSample(from_samples[i], to_samples[i], done + i, length);
    }
    EncodeSamples24(mixed.data(), bytes.data(), count);
    errno = 0;
    if (!WriteAll(out, bytes.data(), static_cast<std::size_t>(count * kTrackBytesPerSample))) {
      ReportFailure("write", output.path);
      return 3;
    }
  }
  errno = 0;
  if (!CloseFile(output.file)) {
    ReportFailure("write", output.path);
    return 3;
  }
  return 0;
}

int ReportOpenFailure(const char* path, int code) {
  ReportFailure("open", path);
  return code;
}

int ReportNoDataBlock(int code) {
  std::fputs("Data block not found error\n", stdout);
  return code;
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
  const std::size_t stamp_at = name.find("_stp");
  if (!NamesAFile(name) || stamp_at == std::string_view::npos) return {};
  return std::string(name.substr(0, stamp_at)) + ".wav";
}

std::string ListEntry(std::string_view list, int index) {
  return std::string(EntryOf(SplitListLines(list), index));
}

bool PadTrackStart(const char* path, std::int64_t samples) {
  Track original;
  if (!OpenTrack(original, path, "r+b")) return ReportFailure("open", path);
  RequireAudioStart(original);
  WorkFile padded{kPadWorkFile, nullptr};
  if (!CreateWorkFile(padded, "wb", original)) return false;
  const bool built = WritePadded(original, samples, padded) && FinishWorkFile(padded, true);
  original.file.reset();
  if (!built) return DiscardWorkFile(padded);
  return SwapInPadded(path);
}

bool StampTakeNames(int count, std::string_view list, std::int64_t stamp,
                 const std::array<int, kMaxChannels>& recorded) {
  const ListLines lines = SplitListLines(list);
  bool all_renamed = true;
  for (int i = 0; i < std::min(count, kMaxChannels); ++i) {
    const std::string_view entry = EntryOf(lines, i);
    if (recorded[i] != 1 || !NamesAFile(entry)) continue;
    all_renamed = RenameReported(std::string(entry), StampedFileName(entry, stamp)) && all_renamed;
  }
  return all_renamed;
}

bool RemoveTakeStamp(const char* path) {
  const std::string_view name = path != nullptr ? path : "";
  const std::string unstamped = UnstampedFileName(name);
  if (unstamped.empty()) return true;
  return RenameReported(std::string(name), unstamped);
}

bool RenameListedFiles(int count, std::string_view fromList, std::string_view toList) {
  const ListLines from = SplitListLines(fromList);
  const ListLines to = SplitListLines(toList);
  bool all_renamed = true;
  for (int i = 0; i < count && i < from.count; ++i) {
    const std::string_view old_name = EntryOf(from, i);
    const std::string_view new_name = EntryOf(to, i);
    if (!NamesAFile(old_name) || !NamesAFile(new_name)) continue;
    all_renamed = RenameReported(std::string(old_name), std::string(new_name)) && all_renamed;
  }
  return all_renamed;
}

bool DeleteListedFiles(int count, std::string_view list) {
  const ListLines lines = SplitListLines(list);
  bool all_removed = true;
  for (int i = 0; i < count && i < lines.count; ++i) {
    const std::string_view entry = EntryOf(lines, i);
    if (!NamesAFile(entry)) continue;
    const std::string name(entry);
    // unlink, not remove: a list entry naming a directory must not empty it
    // away. A file that is already gone (renamed by an earlier step) is fine.
    if (unlink(name.c_str()) != 0 && errno != ENOENT) {
      ReportFailure("delete", name.c_str());
      all_removed = false;
    }
  }
  return all_removed;
}

int BackUpTrack(std::int64_t stamp, const char* path) {
  Track original;
  if (!OpenTrack(original, path, "rb")) {
    std::printf("File %s does not exist\n", path);
    return 0;
  }
  const std::string backup = BackupFileName(stamp, path, ".wav");
  if (backup.size() > kMaxBackupNameChars) {
    std::printf("Cannot create backup file %s\n", backup.c_str());
    return 0;
  }
  // Same length as the backup's name, so it fits wherever the backup does.
  // Created exclusively: whatever already has that name is not ours.
  WorkFile copy{BackupFileName(stamp, path, ".tmp"), nullptr};
  if (!CreateWorkFile(copy, "wbx", original)) {
    std::printf("Cannot create backup file %s\n", backup.c_str());
    return 0;
  }
  const bool copied = AppendCopy(original, 0, original.sizeBytes, copy.file.get(), copy.path.c_str(),
                                 kCopyPieceBytes) &&
                      FinishWorkFile(copy, false);
  original.file.reset();
  if (!copied || !RenameReported(copy.path, backup)) {
    // The reason named the work file; the user knows the backup's name.
    DiscardWorkFile(copy);
    std::printf("Cannot create backup file %s\n", backup.c_str());
    return 0;
  }
  std::printf("Copied %s to %s\n", path, backup.c_str());
  return 1;
}

bool PunchInPlace(const char* destination, const char* source, std::int64_t position,
                 std::int64_t length) {
  Track old_track;
  Track take;
  if (!OpenTrack(old_track, destination, "r+b")) return ReportFailure("open", destination);
  if (!OpenTrack(take, source, "rb")) return ReportFailure("open", source);
  RequireAudioStart(old_track);
  RequireAudioStart(take);
  if (position < 0) {
    std::printf("Cannot insert %s into %s before its first sample\n", source, destination);
    return false;
  }
  const Punch punch = PunchOf(old_track, take, position, length);
  if (punch.countBytes == 0) return true;  // nothing to lay over the old audio

  // The bytes about to be overwritten are saved first, so a failure (or a
  // crash) at any point can put the file back exactly as it was.
  PunchUndo undo;
  if (!SavePunchUndo(old_track.file.get(), destination, old_track.sizeBytes, old_track.audioStartBytes,
                     punch.atBytes, punch.countBytes, undo)) {
    return false;
  }
  const bool grows = punch.atBytes + punch.countBytes > old_track.sizeBytes;
  const bool written = WritePunchInPlace(old_track, take, punch) &&
                       SyncWritten(old_track.file.get(), destination, grows);
  // Closed before anything else writes to it; whatever a failed close could
  // not write is undone next.
  old_track.file.reset();
  take.file.reset();
  if (!written) {
    UndoPunch(undo);
    return false;
  }
  CommitPunch(undo);
  return true;
}

int WriteCrossfade(std::int64_t destinationPosition, std::int64_t sourcePosition, std::int64_t length,
              const char* destination, const char* source, const char* output, std::int64_t half) {
  Track from;
  Track to;
  Track out;
  // The output is opened for update, not append, so a missing output is an
  // error rather than a new empty file.
  if (!OpenTrack(from, destination, "rb")) return ReportOpenFailure(destination, 1);
  if (!OpenTrack(to, source, "rb")) return ReportOpenFailure(source, 2);
  if (!OpenTrack(out, output, "r+b")) return ReportOpenFailure(output, 3);
  if (!FindAudioStart(from)) return ReportNoDataBlock(1);
  if (!FindAudioStart(to)) return ReportNoDataBlock(2);
  if (!FindAudioStart(out)) return ReportNoDataBlock(3);

  const std::int64_t from_first = destinationPosition - half;
  const std::int64_t to_first = sourcePosition - half;
  if (!StartsInside(from, from_first)) {
    std::printf("Invalid crossfade for destination file at sample %li\n",
                static_cast<long>(from_first));
    return 1;
  }
  if (!StartsInside(to, to_first)) {
    std::printf("Invalid crossfade for source file at sample %li\n", static_cast<long>(to_first));
    return 2;
  }
  if (length < 1) return 0;

  const int result = AppendFade(from, from_first, to, to_first, length, out);
  if (result != 0) {
    // A half-written fade must not be laid over a take: the output goes back
    // to the header it held.
    out.file.reset();
    errno = 0;
    if (truncate(output, static_cast<off_t>(out.sizeBytes)) != 0) {
      ReportFailure("restore", output);
    }
  }
  return result;
}

}  // namespace sondrel
