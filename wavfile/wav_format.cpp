#include "wavfile/wav_format.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/program_exit.h"
#include "core/file_io.h"
#include "core/list_text.h"

namespace sondrel {

// ---- Sample conversions ---------------------------------------------------

void DecodeSamples24(const std::uint8_t* bytes, std::int64_t* samples, std::int64_t count_samples) {
  for (std::int64_t i = 0; i < count_samples; ++i) samples[i] = DecodeSample24(bytes + kTrackBytesPerSample * i);
}

void EncodeSamples24(const std::int64_t* samples, std::uint8_t* bytes, std::int64_t count_samples) {
  for (std::int64_t i = 0; i < count_samples; ++i) EncodeSample24(samples[i], bytes + kTrackBytesPerSample * i);
}

// ---- Header ---------------------------------------------------------------

WavHeader MakeHeaderBytes(std::uint32_t rate_hz, std::uint32_t bits,
                          std::int64_t frames, std::uint32_t channels) {
  // 64-bit unsigned arithmetic wraps modulo 2^64, which keeps every field
  // right modulo 2^32 even for absurd frame counts.
  const std::uint64_t bytes_per_sample = bits / 8;
  const std::uint64_t data_bytes =
      bytes_per_sample * channels * static_cast<std::uint64_t>(frames);
  const std::uint64_t byte_rate = bytes_per_sample * rate_hz * channels;
  const std::uint64_t block_align = (std::uint64_t{bits} * channels) / 8;

  WavHeader h{};
  std::memcpy(&h[0], "RIFF", 4);
  WriteLe32(data_bytes + 36, &h[4]);
  std::memcpy(&h[8], "WAVE", 4);
  std::memcpy(&h[12], "fmt ", 4);
  WriteLe32(16, &h[16]);
  WriteLe16(1, &h[20]);  // PCM
  WriteLe16(static_cast<std::uint16_t>(channels), &h[22]);
  WriteLe32(rate_hz, &h[24]);
  WriteLe32(byte_rate, &h[28]);
  WriteLe16(static_cast<std::uint16_t>(block_align), &h[32]);
  WriteLe16(static_cast<std::uint16_t>(bits), &h[34]);
  std::memcpy(&h[36], "data", 4);
  WriteLe32(data_bytes, &h[40]);
  return h;
}

bool CreateWavFile(const char* path, std::uint32_t rate_hz, std::uint32_t bits,
                 std::int64_t frames, std::uint32_t channels) {
  const WavHeader header = MakeHeaderBytes(rate_hz, bits, frames, channels);
  FilePtr file = OpenFile(path, "wb");
  if (!file) return false;
  if (!WriteAll(file.get(), header.data(), header.size())) return false;
  return CloseFile(file);
}

// ---- Marker scan ----------------------------------------------------------

namespace {

std::optional<std::int64_t> FindMarker(std::FILE* file, std::string_view marker) {
  const std::int64_t size_bytes = FileSizeBytes(file);
  const auto marker_bytes = static_cast<std::int64_t>(marker.size());
  // Probes whose marker would run past the end of the file cannot match, so
  // the scan stops there instead of probing the rest of the range.
  const std::int64_t last =
      std::min(kMarkerScanLastOffsetBytes, size_bytes - marker_bytes);
  if (last < 2 || fseeko(file, 0, SEEK_SET) != 0) return std::nullopt;
  // The scanned range is read in one go: a seek and a read per probe cost
  // 65 536 system calls (tens of milliseconds) for every file without the
  // marker. A short read scans what arrived, as the probes did.
  std::vector<char> window(static_cast<std::size_t>(last + marker_bytes));
  const std::size_t got = std::fread(window.data(), 1, window.size(), file);
  const std::string_view scanned(window.data(), got);
  for (std::size_t at = scanned.find(marker, 2); at != std::string_view::npos;
       at = scanned.find(marker, at + 1)) {
    if (at % 2 == 0) return static_cast<std::int64_t>(at);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::int64_t> FindFormatMarker(std::FILE* file) {
  return FindMarker(file, "fmt");
}

std::optional<std::int64_t> FindDataMarker(std::FILE* file) {
  return FindMarker(file, "data");
}

// ---- Track readers --------------------------------------------------------

namespace {

enum class TrackCheck { kAccepted, kNoFormat, kNotMono, kNot24Bit, kNoData };

// What a track file's header says, as far as it could be read. Fields after
// the point of rejection keep their zero values.
struct TrackFacts {
  TrackCheck check = TrackCheck::kNoFormat;
  int channels = 0;
  int bits = 0;
  std::int64_t rate_hz = 0;
  std::int64_t data_offset_bytes = 0;
  std::int64_t length_samples = 0;
};

// Reads a 2-byte field; a field the file is too short to hold reads as 0,
// which every caller rejects.
int ReadField16(std::FILE* file, std::int64_t offset_bytes) {
  std::uint8_t raw[2] = {};
  if (!ReadAt(file, offset_bytes, raw, sizeof raw)) return 0;
  return static_cast<int>(ReadLe16(raw));
}

std::optional<std::int64_t> ReadField32(std::FILE* file, std::int64_t offset_bytes) {
  std::uint8_t raw[4] = {};
  if (!ReadAt(file, offset_bytes, raw, sizeof raw)) return std::nullopt;
  return ReadLe32(raw);
}

// The header may claim more than a stopped-early take holds, or less than a
// file holds; the smaller of the two is what can be played. A declared size
// with its top bit set reads negative and, taken as unsigned, is never the
// smaller one.
std::int64_t PlayableLength(std::int64_t declared_bytes, std::int64_t file_size_bytes,
                            std::int64_t data_offset_bytes) {
  const std::uint64_t declared_samples =
      static_cast<std::uint64_t>(declared_bytes) / kTrackBytesPerSample;
  const std::int64_t actual_samples =
      std::max<std::int64_t>(0, file_size_bytes - data_offset_bytes) /
      kTrackBytesPerSample;
  return std::min<std::uint64_t>(declared_samples,
                                 static_cast<std::uint64_t>(actual_samples));
}

void ReadDataFacts(std::FILE* file, TrackFacts& facts) {
  const std::optional<std::int64_t> data_at = FindDataMarker(file);
  if (!data_at) return;
  const std::optional<std::int64_t> declared_bytes = ReadField32(file, *data_at + 4);
  // A data marker without a complete size field after it is no data block.
  if (!declared_bytes) return;
  facts.data_offset_bytes = *data_at + 8;
  facts.length_samples =
      PlayableLength(*declared_bytes, FileSizeBytes(file), facts.data_offset_bytes);
  facts.check = TrackCheck::kAccepted;
}

TrackFacts InspectTrack(std::FILE* file) {
  TrackFacts facts;
  const std::optional<std::int64_t> fmt_at = FindFormatMarker(file);
  if (!fmt_at) return facts;
  facts.check = TrackCheck::kNotMono;
  facts.channels = ReadField16(file, *fmt_at + 10);
  if (facts.channels != 1) return facts;
  facts.check = TrackCheck::kNot24Bit;
  facts.bits = ReadField16(file, *fmt_at + 22);
  if (facts.bits != kTrackBits) return facts;
  // The rate field lies before the bits field, so it is always there.
  facts.rate_hz = ReadField32(file, *fmt_at + 12).value_or(0);
  facts.check = TrackCheck::kNoData;
  ReadDataFacts(file, facts);
  return facts;
}

template <typename T>
bool Holds(std::span<T> entries, int index) {
  return index >= 0 && static_cast<std::size_t>(index) < entries.size();
}

}  // namespace

namespace {

// Opens a track and reads its header facts. Both readers report a missing
// file and a missing format chunk the same way; the other rejections they
// word each in their own manner.
std::optional<TrackFacts> InspectTrackFile(const char* path) {
  const FilePtr file = OpenFile(path, "rb");
  if (!file) {
    std::printf("Cannot find file in track list called %s!!\n", path);
    return std::nullopt;
  }
  TrackFacts facts = InspectTrack(file.get());
  if (facts.check == TrackCheck::kNoFormat) std::fputs("Can't find format chunk in wave file!\n", stdout);
  return facts;
}

}  // namespace

int ReadTrackAttributes(int index, const char* path, std::span<int> channels,
                   std::span<std::int64_t> dataOffset,
                   std::span<std::int64_t> rate, std::span<std::int64_t> length,
                   std::span<int> bytesPerSample, std::span<int> bits) {
  if (!Holds(channels, index) || !Holds(dataOffset, index) || !Holds(rate, index) ||
      !Holds(length, index) || !Holds(bytesPerSample, index) || !Holds(bits, index)) {
    return 0;
  }
  const std::optional<TrackFacts> inspected = InspectTrackFile(path);
  if (!inspected) return 0;
  const TrackFacts& facts = *inspected;
  switch (facts.check) {
    case TrackCheck::kNoFormat:
      return 0;
    case TrackCheck::kNotMono:
      channels[index] = facts.channels;
      std::printf("%s is not a mono file and will not be played\n", path);
      return 0;
    case TrackCheck::kNot24Bit:
      channels[index] = facts.channels;
      bits[index] = facts.bits;
      std::printf("%s is not a 24 bit file and will not be played\n", path);
      return 0;
    case TrackCheck::kNoData:
    case TrackCheck::kAccepted:
      break;
  }
  channels[index] = facts.channels;
  bits[index] = facts.bits;
  bytesPerSample[index] = kTrackBytesPerSample;
  rate[index] = facts.rate_hz;
  if (facts.check == TrackCheck::kNoData) {
    std::printf("Cannot find data block in file %s!\n", path);
    return 0;
  }
  dataOffset[index] = facts.data_offset_bytes;
  length[index] = facts.length_samples;
  return 1;
}

std::int64_t TrackLengthSamples(const char* path) {
  const std::optional<TrackFacts> inspected = InspectTrackFile(path);
  if (!inspected) return 0;
  const TrackFacts& facts = *inspected;
  switch (facts.check) {
    case TrackCheck::kNoFormat:
      return 0;
    case TrackCheck::kNotMono:
      std::fputs("Mono files only\n", stdout);
      return 0;
    case TrackCheck::kNot24Bit:
      std::fputs("24 bit wave files only!\n", stdout);
      return 0;
    case TrackCheck::kNoData:
      std::fputs("Can't find data block in wave file!\n", stdout);
      return 0;
    case TrackCheck::kAccepted:
      break;
  }
  return facts.length_samples;
}

bool HasForeignFormat(const char* path) {
  const FilePtr file = OpenFile(path, "rb");
  if (!file) return false;
  const TrackCheck check = InspectTrack(file.get()).check;
  return check == TrackCheck::kNotMono || check == TrackCheck::kNot24Bit;
}

// ---- Size fixer -----------------------------------------------------------

namespace {

// Both size fields follow the file as it is now. A file that ends inside the
// data size field grows to hold it, so the sizes are taken from that end.
bool WriteSizeFields(std::FILE* file, std::int64_t data_at) {
  const std::int64_t size_bytes = FileSizeBytes(file);
  if (size_bytes < 0) return false;
  const std::int64_t end_bytes = std::max(size_bytes, data_at + 8);
  std::uint8_t data_size[4];
  std::uint8_t riff_size[4];
  WriteLe32(static_cast<std::uint64_t>(end_bytes - (data_at + 8)), data_size);
  WriteLe32(static_cast<std::uint64_t>(end_bytes - 8), riff_size);
  return WriteAt(file, data_at + 4, data_size, sizeof data_size) &&
         WriteAt(file, 4, riff_size, sizeof riff_size);
}

}  // namespace

bool FixSizeFields(const char* path) {
  FilePtr file = OpenFile(path, "r+b");
  if (!file) {
    std::printf("Cannot open %s to update its size!\n", path);
    return false;
  }
  const std::optional<std::int64_t> data_at = FindDataMarker(file.get());
  if (!data_at) {
    std::fputs("Can't find data block in wave file!\n", stdout);
    // Nothing sensible can be done with the file; the owner closes it as the
    // program unwinds to its exit.
    throw ProgramExit{2};
  }
  const bool written = WriteSizeFields(file.get(), *data_at);
  if (!CloseFile(file) || !written) {
    std::printf("Could not update the size of %s!\n", path);
    return false;
  }
  return true;
}

// ---- Longest file of a list -----------------------------------------------

std::int64_t LongestTrackSamples(int count, std::string_view skipMarker,
                            const char* listPath) {
  std::string text;
  if (!ReadWholeFile(listPath, text)) {
    std::printf("Playlist file called %s was not found!\n", listPath);
    return 0;
  }
  // An empty marker has '\0' as its first character, which no entry starts with.
  const char skip = skipMarker.empty() ? '\0' : skipMarker.front();
  const ListLines list = SplitListLines(text);
  std::int64_t longest_samples = 0;
  for (int i = 0; i < list.count && i < count; ++i) {
    if (IsSkipLine(list.lines[i], skip)) continue;
    const std::string entry(list.lines[i]);
    longest_samples = std::max(longest_samples, TrackLengthSamples(entry.c_str()));
    std::printf("Checking file %s\n", entry.c_str());
  }
  return longest_samples;
}

}  // namespace sondrel
