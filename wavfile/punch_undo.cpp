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

const char* Reason() { return errno != 0 ? std::strerror(errno) : "unexpected end of file"; }

// A rename or unlink is only durable once the directory holding it is.
void SyncProjectDirectory() {
  const int dir = open(".", O_RDONLY | O_DIRECTORY);
  if (dir < 0) return;
  fsync(dir);
  close(dir);
}

// Copies `count` bytes from `from` at `fromAt` to `to` at `toAt`, piecewise.
bool CopyBytes(std::FILE* from, std::int64_t fromAt, std::FILE* to, std::int64_t toAt, std::int64_t count) {
  std::array<std::uint8_t, kPieceBytes> piece;
  while (count > 0) {
    const auto size = static_cast<std::size_t>(std::min<std::int64_t>(count, kPieceBytes));
    if (!ReadAt(from, fromAt, piece.data(), size) || !WriteAt(to, toAt, piece.data(), size)) return false;
    fromAt += static_cast<std::int64_t>(size);
    toAt += static_cast<std::int64_t>(size);
    count -= static_cast<std::int64_t>(size);
  }
  return true;
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

bool WriteFields(std::FILE* file, const UndoFields& f) {
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
// damaged record is never written over a track.
bool ReadFields(std::FILE* file, UndoFields& f) {
  std::array<std::uint8_t, kFixedBytes> bytes{};
  if (!ReadAt(file, 0, bytes.data(), bytes.size())) return false;
  if (!std::equal(kMagic.begin(), kMagic.end(), bytes.begin())) return false;
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
  return sane && FileSizeBytes(file) == kFixedBytes + f.pathBytes + f.headerBytes + f.regionBytes;
}

bool ReadPath(std::FILE* record, const UndoFields& f, std::string& path) {
  path.assign(static_cast<std::size_t>(f.pathBytes), '\0');
  return ReadAt(record, kFixedBytes, path.data(), path.size());
}

bool WriteUndoRecord(std::FILE* record, std::FILE* target, const std::string& path, const UndoFields& f) {
  return WriteFields(record, f) && WriteAt(record, kFixedBytes, path.data(), path.size()) &&
         CopyBytes(target, 0, record, kFixedBytes + f.pathBytes, f.headerBytes) &&
         CopyBytes(target, f.regionAt, record, kFixedBytes + f.pathBytes + f.headerBytes, f.regionBytes) &&
         std::fflush(record) == 0 && fsync(fileno(record)) == 0;
}

// Puts the saved bytes back into the file the record names and cuts it to
// its old size; the record goes only once the file is durable again.
bool RestoreFromRecord(std::string& path) {
  errno = 0;
  FilePtr record = OpenFile(kUndoFile, "rb");
  UndoFields f;
  if (!record || !ReadFields(record.get(), f) || !ReadPath(record.get(), f, path)) {
    std::printf("Could not read %s: %s\n", kUndoFile, errno != 0 ? Reason() : "it is damaged");
    return false;
  }
  const std::int64_t saved = kFixedBytes + f.pathBytes;
  errno = 0;
  FilePtr target = OpenFile(path.c_str(), "r+b");
  const bool restored = target && CopyBytes(record.get(), saved, target.get(), 0, f.headerBytes) &&
                        CopyBytes(record.get(), saved + f.headerBytes, target.get(), f.regionAt, f.regionBytes) &&
                        std::fflush(target.get()) == 0 && ftruncate(fileno(target.get()), f.sizeBytes) == 0 &&
                        fsync(fileno(target.get())) == 0 && CloseFile(target);
  if (!restored) {
    std::printf("Could not undo the punch-in into %s: %s\n", path.c_str(), Reason());
    std::printf("Its old audio is kept in %s\n", kUndoFile);
    return false;
  }
  record.reset();
  unlink(kUndoFile);
  SyncProjectDirectory();
  return true;
}

}  // namespace

bool SavePunchUndo(std::FILE* target, const char* path, std::int64_t sizeBytes, std::int64_t headerBytes,
                   std::int64_t regionAt, std::int64_t regionBytes, PunchUndo& undo) {
  undo.saved = false;
  if (access(kUndoFile, F_OK) == 0) {
    std::printf("An earlier punch-in is still to be undone from %s: %s is left as it is\n", kUndoFile, path);
    return false;
  }
  const std::string name(path);
  UndoFields f;
  f.sizeBytes = sizeBytes;
  f.headerBytes = std::min(headerBytes, sizeBytes);
  f.regionAt = std::min(regionAt, sizeBytes);
  f.regionBytes = std::min(regionBytes, sizeBytes - f.regionAt);
  f.pathBytes = static_cast<std::int64_t>(name.size());
  errno = f.pathBytes <= kMaxPathBytes ? 0 : ENAMETOOLONG;
  FilePtr record = errno == 0 ? OpenFile(kUndoWorkFile, "wbx") : nullptr;
  const bool written = record && WriteUndoRecord(record.get(), target, name, f) && CloseFile(record);
  if (!written || std::rename(kUndoWorkFile, kUndoFile) != 0) {
    std::printf("Could not save the audio under the punch-in into %s: %s\n", path, Reason());
    record.reset();
    if (errno != EEXIST) unlink(kUndoWorkFile);
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

bool UndoPunch(PunchUndo& undo) {
  if (!undo.saved) return true;
  std::string path;
  undo.saved = !RestoreFromRecord(path);
  return !undo.saved;
}

void RecoverInterruptedPunch() {
  // An unfinished record means its punch-in never began.
  unlink(kUndoWorkFile);
  if (access(kUndoFile, F_OK) != 0) return;
  std::string path;
  if (RestoreFromRecord(path)) {
    std::printf("A punch-in into %s was cut off; the file was put back as it was before it\n", path.c_str());
  }
}

}  // namespace sondrel
