#include "wavfile/punch_undo.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "core/file_io.h"

namespace sondrel {
namespace {

constexpr const char* kUndoFile = "punch-in.undo";
constexpr const char* kUndoWorkFile = "punch-in.undo.tmp";
constexpr std::array<std::uint8_t, 8> kMagic{'S', 'N', 'D', 'L', 'U', 'N', 'D', 'O'};
constexpr std::size_t kFieldCount = 5;  // size, header, region offset, region size, path length
constexpr std::int64_t kFixedBytes = 8 + 8 * kFieldCount;
constexpr std::int64_t kMaxPathBytes = 4096;
constexpr std::size_t kPieceBytes = 4096;

// Copies `count` bytes from `from` at `fromAt` to `to` at `toAt`, piecewise.
IoResult CopyBytes(std::FILE* from, std::int64_t fromAt, std::FILE* to, std::int64_t toAt, std::int64_t count) {
  std::array<std::uint8_t, kPieceBytes> piece;
  while (count > 0) {
    const auto size = static_cast<std::size_t>(std::min<std::int64_t>(count, kPieceBytes));
    if (const IoResult read = ReadAt(from, fromAt, piece.data(), size); !read) return read;
    if (const IoResult written = WriteAt(to, toAt, piece.data(), size); !written) return written;
    fromAt += static_cast<std::int64_t>(size);
    toAt += static_cast<std::int64_t>(size);
    count -= static_cast<std::int64_t>(size);
  }
  return {};
}

// The record's fixed part, little-endian 64-bit fields after the magic:
// what it puts back and where.
struct UndoFields {
  std::int64_t sizeBytes = 0;
  std::int64_t headerBytes = 0;
  std::int64_t regionAt = 0;
  std::int64_t regionBytes = 0;
  std::int64_t pathBytes = 0;
};

IoResult WriteFields(std::FILE* file, const UndoFields& f) {
  std::array<std::uint8_t, kFixedBytes> bytes{};
  std::copy(kMagic.begin(), kMagic.end(), bytes.begin());
  const std::array<std::int64_t, kFieldCount> values{f.sizeBytes, f.headerBytes, f.regionAt, f.regionBytes,
                                                     f.pathBytes};
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    for (std::size_t b = 0; b < 8; ++b) {
      bytes[8 + 8 * i + b] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(values[i]) >> (8 * b));
    }
  }
  return WriteAt(file, 0, bytes.data(), bytes.size());
}

// Reads and checks the fixed part against the record's own size, so a
// damaged record is never written over a track. A damaged record fails with
// error 0.
IoResult ReadFields(std::FILE* file, UndoFields& f) {
  std::array<std::uint8_t, kFixedBytes> bytes{};
  if (const IoResult read = ReadAt(file, 0, bytes.data(), bytes.size()); !read) return read;
  if (!std::equal(kMagic.begin(), kMagic.end(), bytes.begin())) return IoResult::Failed(0);
  std::array<std::int64_t, kFieldCount> values{};
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    std::uint64_t value = 0;
    for (std::size_t b = 0; b < 8; ++b) value |= static_cast<std::uint64_t>(bytes[8 + 8 * i + b]) << (8 * b);
    values[i] = static_cast<std::int64_t>(value);
  }
  f = {values[0], values[1], values[2], values[3], values[4]};
  const bool sane = f.sizeBytes >= 0 && f.headerBytes >= 0 && f.regionAt >= f.headerBytes && f.regionBytes >= 0 &&
                    f.pathBytes >= 1 && f.pathBytes <= kMaxPathBytes && f.headerBytes <= f.sizeBytes &&
                    f.regionBytes <= f.sizeBytes && f.regionAt <= f.sizeBytes - f.regionBytes;
  const bool whole = FileSizeBytes(file) == kFixedBytes + f.pathBytes + f.headerBytes + f.regionBytes;
  return sane && whole ? IoResult{} : IoResult::Failed(0);
}

IoResult ReadPath(std::FILE* record, const UndoFields& f, std::string& path) {
  path.assign(static_cast<std::size_t>(f.pathBytes), '\0');
  return ReadAt(record, kFixedBytes, path.data(), path.size());
}

// Each step runs only while the ones before it succeeded; the result is
// the first failure.
template <typename... Steps>
IoResult InTurn(Steps&&... steps) {
  IoResult result;
  ((result = result ? steps() : result), ...);
  return result;
}

IoResult WriteUndoRecord(std::FILE* record, std::FILE* target, const std::string& path, const UndoFields& f) {
  const std::int64_t savedAt = kFixedBytes + f.pathBytes;
  return InTurn([&] { return WriteFields(record, f); },
                [&] { return WriteAt(record, kFixedBytes, path.data(), path.size()); },
                [&] { return CopyBytes(target, 0, record, savedAt, f.headerBytes); },
                [&] { return CopyBytes(target, f.regionAt, record, savedAt + f.headerBytes, f.regionBytes); },
                [&] { return FlushToDisk(record); });
}

IoResult PutBack(std::FILE* record, std::FILE* target, const UndoFields& f) {
  const std::int64_t savedAt = kFixedBytes + f.pathBytes;
  return InTurn([&] { return CopyBytes(record, savedAt, target, 0, f.headerBytes); },
                [&] { return CopyBytes(record, savedAt + f.headerBytes, target, f.regionAt, f.regionBytes); },
                [&] { return std::fflush(target) == 0 ? IoResult{} : IoResult::FromErrno(); },
                [&] { return ftruncate(fileno(target), f.sizeBytes) == 0 ? IoResult{} : IoResult::FromErrno(); },
                [&] { return fsync(fileno(target)) == 0 ? IoResult{} : IoResult::FromErrno(); });
}

// Puts the saved bytes back into the file the record names and cuts it to
// its old size; the record goes only once the file is durable again.
bool RestoreFromRecord(std::string& path, UserDialog& dialog) {
  FilePtr record = OpenFile(kUndoFile, "rb");
  UndoFields f;
  const IoResult read = !record ? IoResult::FromErrno()
                                : InTurn([&] { return ReadFields(record.get(), f); },
                                         [&] { return ReadPath(record.get(), f, path); });
  if (!read) {
    dialog.Tell({NoticeKind::UndoRecordUnreadable, kUndoFile, {}, read.error});
    return false;
  }
  FilePtr target = OpenFile(path.c_str(), "r+b");
  const IoResult restored = !target ? IoResult::FromErrno()
                                    : InTurn([&] { return PutBack(record.get(), target.get(), f); },
                                             [&] { return CloseFile(target); });
  if (!restored) {
    dialog.Tell({NoticeKind::UndoFailed, path, kUndoFile, restored.error});
    return false;
  }
  record.reset();
  unlink(kUndoFile);
  SyncProjectDirectory();
  return true;
}

}  // namespace

bool SavePunchUndo(std::FILE* target, const char* path, std::int64_t sizeBytes, std::int64_t headerBytes,
                   std::int64_t regionAt, std::int64_t regionBytes, PunchUndo& undo, UserDialog& dialog) {
  undo.saved = false;
  if (access(kUndoFile, F_OK) == 0) {
    dialog.Tell({NoticeKind::UndoStillPending, path, kUndoFile});
    return false;
  }
  const std::string name(path);
  UndoFields f;
  f.sizeBytes = sizeBytes;
  f.headerBytes = std::min(headerBytes, sizeBytes);
  f.regionAt = std::min(regionAt, sizeBytes);
  f.regionBytes = std::min(regionBytes, sizeBytes - f.regionAt);
  f.pathBytes = static_cast<std::int64_t>(name.size());
  FilePtr record;
  IoResult written = f.pathBytes <= kMaxPathBytes ? IoResult{} : IoResult::Failed(ENAMETOOLONG);
  written = InTurn([&] { return written; },
                   [&] {
                     record = OpenFile(kUndoWorkFile, "wbx");
                     return record ? IoResult{} : IoResult::FromErrno();
                   },
                   [&] { return WriteUndoRecord(record.get(), target, name, f); },
                   [&] { return CloseFile(record); },
                   [&] { return std::rename(kUndoWorkFile, kUndoFile) == 0 ? IoResult{} : IoResult::FromErrno(); });
  if (!written) {
    dialog.Tell({NoticeKind::UndoNotSaved, path, {}, written.error});
    record.reset();
    // A work file that already stood there is not ours to remove.
    if (written.error != EEXIST) unlink(kUndoWorkFile);
    return false;
  }
  SyncProjectDirectory();
  undo.saved = true;
  return true;
}

void CommitPunch(PunchUndo& undo) {
  if (!undo.saved) return;
  // Synced, so a crash after this never brings the old audio back over a
  // take that has by then been deleted.
  unlink(kUndoFile);
  SyncProjectDirectory();
  undo.saved = false;
}

bool UndoPunch(PunchUndo& undo, UserDialog& dialog) {
  if (!undo.saved) return true;
  std::string path;
  undo.saved = !RestoreFromRecord(path, dialog);
  return !undo.saved;
}

void RecoverInterruptedPunch(UserDialog& dialog) {
  // An unfinished record means its punch-in never began.
  unlink(kUndoWorkFile);
  if (access(kUndoFile, F_OK) != 0) return;
  std::string path;
  if (RestoreFromRecord(path, dialog)) dialog.Tell({NoticeKind::PunchInPutBack, path});
}

}  // namespace sondrel
