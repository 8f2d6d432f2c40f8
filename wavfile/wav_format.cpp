#include "wavfile/wav_format.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/list_text.h"

namespace sondrel {

// ---- Sample conversions ---------------------------------------------------

void DecodeSamples24(const std::uint8_t* bytes, std::int64_t* samples, std::int64_t countSamples) {
  for (std::int64_t i = 0; i < countSamples; ++i) samples[i] = DecodeSample24(bytes + kTrackBytesPerSample * i);
}

void EncodeSamples24(const std::int64_t* samples, std::uint8_t* bytes, std::int64_t countSamples) {
  for (std::int64_t i = 0; i < countSamples; ++i) EncodeSample24(samples[i], bytes + kTrackBytesPerSample * i);
}

// ---- Header ---------------------------------------------------------------

namespace {

bool NeedsRf64(std::uint64_t dataBytes) { return dataBytes + 36 > 0xFFFFFFFFu; }

}  // namespace

WavHeader MakeHeaderBytes(std::uint32_t rateHz, std::uint32_t bits, std::int64_t frames, std::uint32_t channels,
                          std::int64_t layoutFrames) {
  const std::uint64_t bytesPerSample = bits / 8;
  const std::uint64_t frameBytes = bytesPerSample * channels;
  const std::uint64_t dataBytes = frameBytes * static_cast<std::uint64_t>(frames);
  const std::uint64_t byteRate = bytesPerSample * rateHz * channels;
  const std::uint64_t blockAlign = (std::uint64_t{bits} * channels) / 8;
  const bool rf64 = NeedsRf64(frameBytes * static_cast<std::uint64_t>(layoutFrames < 0 ? frames : layoutFrames));

  WavHeader h(rf64 ? kRf64HeaderBytes : kWavHeaderBytes);
  std::size_t at = 12;
  std::memcpy(&h[0], rf64 ? "RF64" : "RIFF", 4);
  WriteLe32(rf64 ? 0xFFFFFFFFu : dataBytes + 36, &h[4]);
  std::memcpy(&h[8], "WAVE", 4);
  if (rf64) {
    std::memcpy(&h[12], "ds64", 4);
    WriteLe32(28, &h[16]);
    WriteLe64(dataBytes + kRf64HeaderBytes - 8, &h[kDs64RiffSizeAt]);
    WriteLe64(dataBytes, &h[kDs64DataSizeAt]);
    WriteLe64(static_cast<std::uint64_t>(frames), &h[kDs64DataSizeAt + 8]);
    at = 48;  // after the ds64 chunk and its empty table
  }
  std::memcpy(&h[at], "fmt ", 4);
  WriteLe32(16, &h[at + 4]);
  WriteLe16(1, &h[at + 8]);  // PCM
  WriteLe16(static_cast<std::uint16_t>(channels), &h[at + 10]);
  WriteLe32(rateHz, &h[at + 12]);
  WriteLe32(byteRate, &h[at + 16]);
  WriteLe16(static_cast<std::uint16_t>(blockAlign), &h[at + 20]);
  WriteLe16(static_cast<std::uint16_t>(bits), &h[at + 22]);
  std::memcpy(&h[at + 24], "data", 4);
  WriteLe32(rf64 ? 0xFFFFFFFFu : dataBytes, &h[at + 28]);
  return h;
}

IoResult CreateWavFile(const char* path, std::uint32_t rateHz, std::uint32_t bits, std::int64_t frames,
                       std::uint32_t channels, std::int64_t layoutFrames) {
  const WavHeader header = MakeHeaderBytes(rateHz, bits, frames, channels, layoutFrames);
  FilePtr file = OpenFile(path, "wb");
  if (!file) return IoResult::FromErrno();
  if (const IoResult written = WriteAll(file.get(), header.data(), header.size()); !written) return written;
  return CloseFile(file);
}

namespace {

IoResult PutField(int fd, std::int64_t offset, const std::uint8_t* bytes, std::size_t size) {
  const ssize_t written = ::pwrite(fd, bytes, size, static_cast<off_t>(offset));
  if (written < 0) return IoResult::FromErrno();
  if (static_cast<std::size_t>(written) != size) return IoResult::Failed(EIO);
  return {};
}

// The ds64 RIFF size, data size and frame count of a file whose data starts
// at `dataStart` and holds `dataBytes` in frames of `frameBytes`: 24 bytes.
void MakeDs64Sizes(std::uint64_t dataStart, std::uint64_t dataBytes, std::uint64_t frameBytes, std::uint8_t* fields) {
  WriteLe64(dataStart + dataBytes - 8, &fields[0]);
  WriteLe64(dataBytes, &fields[8]);
  WriteLe64(frameBytes == 0 ? 0 : dataBytes / frameBytes, &fields[16]);
}

}  // namespace

IoResult WriteTakeSizes(int fd, std::int64_t samples) {
  const std::uint64_t dataBytes = kTrackBytesPerSample * static_cast<std::uint64_t>(samples);
  // The layout was chosen when the file was made; a descriptor that cannot
  // be read from fails here rather than have an RF64 header taken for plain.
  std::uint8_t id[4] = {};
  const ssize_t got = ::pread(fd, id, sizeof id, 0);
  if (got < 0) return IoResult::FromErrno();
  if (got == 4 && std::memcmp(id, "RF64", 4) == 0) {
    std::uint8_t fields[24];
    MakeDs64Sizes(kRf64HeaderBytes, dataBytes, kTrackBytesPerSample, fields);
    return PutField(fd, kDs64RiffSizeAt, fields, sizeof fields);
  }
  std::uint8_t riffSize[4];
  std::uint8_t dataSize[4];
  WriteLe32(dataBytes + 36, riffSize);
  WriteLe32(dataBytes, dataSize);
  if (const IoResult written = PutField(fd, 4, riffSize, 4); !written) return written;
  return PutField(fd, 40, dataSize, 4);
}

// ---- Marker scan ----------------------------------------------------------

namespace {

std::optional<std::int64_t> FindMarker(std::FILE* file, std::string_view marker) {
  const std::int64_t sizeBytes = FileSizeBytes(file);
  const auto markerBytes = static_cast<std::int64_t>(marker.size());
  // Probes whose marker would run past the end of the file cannot match, so
  // the scan stops there instead of probing the rest of the range.
  const std::int64_t last = std::min(kMarkerScanLastOffsetBytes, sizeBytes - markerBytes);
  if (last < 2 || fseeko(file, 0, SEEK_SET) != 0) return std::nullopt;
  // The scanned range is read in one go: a seek and a read per probe cost
  // 65 536 system calls (tens of milliseconds) for every file without the
  // marker. A short read scans what arrived, as the probes did.
  std::vector<char> window(static_cast<std::size_t>(last + markerBytes));
  const std::size_t got = std::fread(window.data(), 1, window.size(), file);
  const std::string_view scanned(window.data(), got);
  for (std::size_t at = scanned.find(marker, 2); at != std::string_view::npos; at = scanned.find(marker, at + 1)) {
    if (at % 2 == 0) return static_cast<std::int64_t>(at);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::int64_t> FindFormatMarker(std::FILE* file) { return FindMarker(file, "fmt"); }

std::optional<std::int64_t> FindDataMarker(std::FILE* file) { return FindMarker(file, "data"); }

// ---- Track readers --------------------------------------------------------

namespace {

// Reads a 2-byte field; a field the file is too short to hold reads as 0,
// which every caller rejects.
int ReadField16(std::FILE* file, std::int64_t offsetBytes) {
  std::uint8_t raw[2] = {};
  if (!ReadAt(file, offsetBytes, raw, sizeof raw)) return 0;
  return static_cast<int>(ReadLe16(raw));
}

std::optional<std::int64_t> ReadField32(std::FILE* file, std::int64_t offsetBytes) {
  std::uint8_t raw[4] = {};
  if (!ReadAt(file, offsetBytes, raw, sizeof raw)) return std::nullopt;
  return ReadLe32(raw);
}

// The header may claim more than a stopped-early take holds, or less than a
// file holds; the smaller of the two is what can be played. A declared size
// with its top bit set reads negative and, taken as unsigned, is never the
// smaller one.
std::int64_t PlayableLength(std::int64_t declaredBytes, std::int64_t fileSizeBytes, std::int64_t dataOffsetBytes) {
  const std::uint64_t declaredSamples = static_cast<std::uint64_t>(declaredBytes) / kTrackBytesPerSample;
  const std::int64_t actualSamples = std::max<std::int64_t>(0, fileSizeBytes - dataOffsetBytes) / kTrackBytesPerSample;
  return std::min<std::uint64_t>(declaredSamples, static_cast<std::uint64_t>(actualSamples));
}

// An RF64 file: "RF64" first, the ds64 chunk right after "WAVE" and the
// data marker after the ds64 sizes, which then stand in for the 32-bit fields.
bool UsesDs64(std::FILE* file, std::int64_t dataAt) {
  std::uint8_t head[kDs64DataSizeAt + 8] = {};
  return dataAt >= kDs64DataSizeAt + 16 && ReadAt(file, 0, head, sizeof head) &&
         std::memcmp(head, "RF64", 4) == 0 && std::memcmp(head + 12, "ds64", 4) == 0;
}

std::optional<std::int64_t> DeclaredDataBytes(std::FILE* file, std::int64_t dataAt) {
  if (!UsesDs64(file, dataAt)) return ReadField32(file, dataAt + 4);
  std::uint8_t raw[8] = {};
  if (!ReadAt(file, dataAt + 4, raw, 4) || !ReadAt(file, kDs64DataSizeAt, raw, sizeof raw)) return std::nullopt;
  return static_cast<std::int64_t>(ReadLe64(raw));
}

void ReadDataFacts(std::FILE* file, TrackInfo& info) {
  const std::optional<std::int64_t> dataAt = FindDataMarker(file);
  if (!dataAt) return;
  const std::optional<std::int64_t> declaredBytes = DeclaredDataBytes(file, *dataAt);
  // A data marker without a complete size field after it is no data block.
  if (!declaredBytes) return;
  info.dataOffsetBytes = *dataAt + 8;
  info.lengthSamples = PlayableLength(*declaredBytes, FileSizeBytes(file), info.dataOffsetBytes);
  info.check = TrackCheck::Accepted;
}

TrackInfo InspectTrack(std::FILE* file) {
  TrackInfo info;
  info.check = TrackCheck::NoFormat;
  const std::optional<std::int64_t> fmtAt = FindFormatMarker(file);
  if (!fmtAt) return info;
  info.check = TrackCheck::NotMono;
  info.channels = ReadField16(file, *fmtAt + 10);
  if (info.channels != 1) return info;
  info.check = TrackCheck::Not24Bit;
  info.bits = ReadField16(file, *fmtAt + 22);
  if (info.bits != kTrackBits) return info;
  // The rate field lies before the bits field, so it is always there.
  info.rateHz = ReadField32(file, *fmtAt + 12).value_or(0);
  info.check = TrackCheck::NoData;
  ReadDataFacts(file, info);
  return info;
}

// Both readers tell of a missing file and a missing format chunk the same
// way; the other rejections they word each in their own manner.
bool ToldMissingOrUnformatted(const TrackInfo& info, const char* path, UserDialog& dialog) {
  if (info.check == TrackCheck::Missing) dialog.Tell({NoticeKind::TrackMissing, path});
  if (info.check == TrackCheck::NoFormat) dialog.Tell({NoticeKind::NoFormatChunk});
  return info.check == TrackCheck::Missing || info.check == TrackCheck::NoFormat;
}

}  // namespace

TrackInfo InspectTrackFile(const char* path) {
  const FilePtr file = OpenFile(path, "rb");
  if (!file) return {};
  return InspectTrack(file.get());
}

std::optional<TrackInfo> CheckPlayableTrack(const char* path, UserDialog& dialog, std::uint32_t projectRateHz) {
  const TrackInfo info = InspectTrackFile(path);
  if (ToldMissingOrUnformatted(info, path, dialog)) return std::nullopt;
  switch (info.check) {
    case TrackCheck::NotMono: dialog.Tell({NoticeKind::TrackNotMono, path}); return std::nullopt;
    case TrackCheck::Not24Bit: dialog.Tell({NoticeKind::TrackNot24Bit, path}); return std::nullopt;
    case TrackCheck::NoData: dialog.Tell({NoticeKind::TrackWithoutData, path}); return std::nullopt;
    default: break;
  }
  // Played at the project's rate, a track of another rate would sound at
  // the wrong pitch and speed.
  if (projectRateHz != 0 && info.rateHz != projectRateHz) {
    dialog.Tell({NoticeKind::TrackOtherRate, path, {}, 0, info.rateHz, projectRateHz});
    return std::nullopt;
  }
  return info;
}

std::int64_t TrackLengthSamples(const char* path, UserDialog& dialog) {
  const TrackInfo info = InspectTrackFile(path);
  if (ToldMissingOrUnformatted(info, path, dialog)) return 0;
  switch (info.check) {
    case TrackCheck::NotMono: dialog.Tell({NoticeKind::TakeNotMono}); return 0;
    case TrackCheck::Not24Bit: dialog.Tell({NoticeKind::TakeNot24Bit}); return 0;
    case TrackCheck::NoData: dialog.Tell({NoticeKind::NoDataBlock}); return 0;
    default: return info.lengthSamples;
  }
}

bool HasForeignFormat(const char* path) {
  const TrackCheck check = InspectTrackFile(path).check;
  return check == TrackCheck::NotMono || check == TrackCheck::Not24Bit;
}

// ---- Size fixer -----------------------------------------------------------

namespace {

// Both size fields follow the file as it is now. A file that ends inside the
// data size field grows to hold it, so the sizes are taken from that end.
IoResult WriteSizeFields(std::FILE* file, std::int64_t dataAt) {
  const std::int64_t sizeBytes = FileSizeBytes(file);
  if (sizeBytes < 0) return IoResult::FromErrno();
  const std::int64_t endBytes = std::max(sizeBytes, dataAt + 8);
  if (UsesDs64(file, dataAt)) {
    // The 32-bit fields stay 0xFFFFFFFF; the frame is the format's.
    const std::optional<std::int64_t> fmtAt = FindFormatMarker(file);
    const std::int64_t frameBytes =
        fmtAt ? std::int64_t{ReadField16(file, *fmtAt + 10)} * ReadField16(file, *fmtAt + 22) / 8 : 0;
    std::uint8_t fields[24];
    MakeDs64Sizes(static_cast<std::uint64_t>(dataAt + 8), static_cast<std::uint64_t>(endBytes - (dataAt + 8)),
                  static_cast<std::uint64_t>(frameBytes), fields);
    if (endBytes > sizeBytes) {
      // Grows the file to hold the data size field, as the plain branch does.
      const std::uint8_t none[4] = {0xFF, 0xFF, 0xFF, 0xFF};
      if (const IoResult written = WriteAt(file, dataAt + 4, none, sizeof none); !written) return written;
    }
    return WriteAt(file, kDs64RiffSizeAt, fields, sizeof fields);
  }
  std::uint8_t dataSize[4];
  std::uint8_t riffSize[4];
  WriteLe32(static_cast<std::uint64_t>(endBytes - (dataAt + 8)), dataSize);
  WriteLe32(static_cast<std::uint64_t>(endBytes - 8), riffSize);
  if (const IoResult written = WriteAt(file, dataAt + 4, dataSize, sizeof dataSize); !written) return written;
  return WriteAt(file, 4, riffSize, sizeof riffSize);
}

// A file cut off in the middle of a write (a full disk, a kill) can end
// inside a frame. The partial frame is cut off, so the file and the sizes
// taken from it hold whole frames, and every reader sees the same samples.
IoResult CutToWholeFrames(std::FILE* file, std::int64_t dataAt) {
  const std::optional<std::int64_t> fmtAt = FindFormatMarker(file);
  if (!fmtAt) return {};
  const std::int64_t frameBytes = std::int64_t{ReadField16(file, *fmtAt + 10)} * ReadField16(file, *fmtAt + 22) / 8;
  const std::int64_t sizeBytes = FileSizeBytes(file);
  const std::int64_t dataStart = dataAt + 8;
  if (frameBytes <= 0 || sizeBytes <= dataStart) return {};
  const std::int64_t partial = (sizeBytes - dataStart) % frameBytes;
  if (partial == 0) return {};
  if (std::fflush(file) != 0 || ftruncate(fileno(file), static_cast<off_t>(sizeBytes - partial)) != 0) {
    return IoResult::FromErrno();
  }
  return {};
}

}  // namespace

bool FixSizeFields(const char* path, UserDialog& dialog) {
  FilePtr file = OpenFile(path, "r+b");
  if (!file) {
    dialog.Tell({NoticeKind::CannotUpdateSize, path});
    return false;
  }
  const std::optional<std::int64_t> dataAt = FindDataMarker(file.get());
  if (!dataAt) {
    dialog.Tell({NoticeKind::NoDataBlockEndsProgram});
    return false;
  }
  const bool written = CutToWholeFrames(file.get(), *dataAt).ok && WriteSizeFields(file.get(), *dataAt).ok;
  if (!CloseFile(file) || !written) {
    dialog.Tell({NoticeKind::SizeNotUpdated, path});
    return false;
  }
  return true;
}

// ---- Longest file of a list -----------------------------------------------

std::int64_t LongestTrackSamples(int count, char skipMarker, const char* listPath, UserDialog& dialog) {
  std::string text;
  if (!ReadWholeFile(listPath, text)) {
    dialog.Tell({NoticeKind::PlaylistNotFound, listPath});
    return 0;
  }
  const ListLines list = SplitListLines(text);
  std::int64_t longestSamples = 0;
  for (int i = 0; i < list.count && i < count; ++i) {
    if (IsSkipLine(list.lines[i], skipMarker)) continue;
    const std::string entry(list.lines[i]);
    longestSamples = std::max(longestSamples, TrackLengthSamples(entry.c_str(), dialog));
    dialog.Tell({NoticeKind::CheckingTrack, entry});
  }
  return longestSamples;
}

}  // namespace sondrel
