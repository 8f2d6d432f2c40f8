// The WAV marker scan, the track readers and the size fixer on any file. The readers take paths, so each input is
// written to an in-memory file and read back through /proc/self/fd. Besides the sanitizers, every answer is compared
// with what the bytes themselves say.
#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "core/file_io.h"
#include "core/user_dialog.h"
#include "fuzz_check.h"
#include "wavfile/wav_format.h"

namespace {

using sondrel::Notice;
using Offset = std::optional<std::int64_t>;

// Hears what the readers tell; the checks only need to know whether a notice would have ended the program.
struct QuietDialog final : sondrel::UserDialog {
  bool endsProgram = false;
  void Tell(const Notice& n) override { endsProgram |= n.kind == sondrel::NoticeKind::NoDataBlockEndsProgram; }
  void TellAndWaitForContinue(const Notice& notice) override { Tell(notice); }
  std::string Ask(const Notice& question) override {
    Tell(question);
    return {};
  }
};

// The path of one in-memory file for the whole run, refilled with each input.
const char* MemoryFile() {
  static const int fd = memfd_create("wav_fuzz", 0);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  FUZZ_CHECK(fd >= 0);
  return path.c_str();
}

// A little-endian field of `size` bytes, read the plain way; 0 where the bytes end first.
std::uint64_t Field(std::string_view bytes, std::int64_t at, int size) {
  if (at < 0 || at + size > std::ssize(bytes)) return 0;
  std::uint64_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

// RF64: with the data marker after the ds64 chunk, its 64-bit sizes stand in for the 32-bit fields.
bool UsesDs64(std::string_view bytes, std::int64_t dataAt) {
  return dataAt >= 44 && bytes.substr(0, 4) == "RF64" && bytes.substr(12, 4) == "ds64";
}

// The first even offset from 2 to the scan's end where the whole marker lies in the file, the plain way (no memcmp:
// libFuzzer hooks it). Not instrumented for coverage: its branches say nothing about the program, and on the longest
// inputs they would take most of the run.
#if defined(__clang__)
#define SONDREL_NOT_COVERED __attribute__((no_sanitize("coverage")))
#else
#define SONDREL_NOT_COVERED  // the corpus replay builds without coverage
#endif
SONDREL_NOT_COVERED Offset ExpectedMarker(std::string_view bytes, std::string_view marker) {
  const auto limit = static_cast<std::size_t>(sondrel::kMarkerScanLastOffsetBytes);
  for (std::size_t at = 2; at + marker.size() <= bytes.size() && at <= limit; at += 2) {
    std::size_t same = 0;
    while (same < marker.size() && bytes[at + same] == marker[same]) ++same;
    if (same == marker.size()) return static_cast<std::int64_t>(at);
  }
  return std::nullopt;
}

struct Markers {
  Offset fmt;
  Offset data;
};

// The scan of the file (which holds `bytes`) must find the markers the bytes hold.
Markers CheckMarkers(std::string_view bytes) {
  const Markers expected{ExpectedMarker(bytes, "fmt"), ExpectedMarker(bytes, "data")};
  const sondrel::FilePtr file = sondrel::OpenFile(MemoryFile(), "rb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(sondrel::FindFormatMarker(file.get()) == expected.fmt);
  FUZZ_CHECK(sondrel::FindDataMarker(file.get()) == expected.data);
  return expected;
}

// The length of an accepted track, or -1. An accepted track is mono 24-bit, its audio starts after the data marker and
// its size field, and its length is what both the header and the file allow.
std::int64_t CheckReaders(std::string_view bytes, const Markers& markers) {
  QuietDialog dialog;
  const std::optional<sondrel::TrackInfo> accepted = sondrel::CheckPlayableTrack(MemoryFile(), dialog);
  const std::int64_t length = sondrel::TrackLengthSamples(MemoryFile(), dialog);
  if (!accepted) {
    FUZZ_CHECK(length == 0);
    return -1;
  }
  FUZZ_CHECK(length == accepted->lengthSamples);
  FUZZ_CHECK(markers.fmt && markers.data && accepted->channels == 1 && accepted->bits == 24);
  const std::int64_t held = static_cast<std::int64_t>(bytes.size()) - accepted->dataOffsetBytes;
  FUZZ_CHECK(accepted->dataOffsetBytes == *markers.data + 8 && held >= 0);
  const std::uint64_t declared =
      UsesDs64(bytes, *markers.data) ? Field(bytes, 28, 8) : Field(bytes, *markers.data + 4, 4);
  const auto samples = static_cast<std::uint64_t>(length);
  FUZZ_CHECK(length >= 0 && length * 3 <= held && samples <= declared / 3);
  FUZZ_CHECK(length == held / 3 || samples == declared / 3);
  return length;
}

// Where the fixed file ends: it grows only to hold the data size field,
// and audio ending inside a frame of the format is cut to whole frames.
std::int64_t FixedEnd(std::string_view before, const Markers& markers) {
  const std::int64_t dataStart = *markers.data + 8;
  const auto size = static_cast<std::int64_t>(before.size());
  const std::uint64_t bits = markers.fmt ? Field(before, *markers.fmt + 10, 2) * Field(before, *markers.fmt + 22, 2) : 0;
  const auto frame = static_cast<std::int64_t>(bits / 8);  // channels x bits, in bytes
  if (frame <= 0 || size <= dataStart) return std::max(size, dataStart);
  return size - (size - dataStart) % frame;
}

// After the fix both size fields describe the file as it is and nothing else has changed; the file grows only when it
// ended inside the data size field, and loses only a partial frame at its end. A data marker that overlaps the RIFF
// size field (offsets 2 to 6: no real WAV file) is overwritten by the fix itself, so such a file is only checked for
// ending the program when it has no marker at all.
void CheckFixSize(std::string_view before, const Markers& markers) {
  QuietDialog dialog;
  const bool fixed = sondrel::FixSizeFields(MemoryFile(), dialog);
  FUZZ_CHECK(fixed != dialog.endsProgram && dialog.endsProgram == !markers.data);
  if (!fixed || *markers.data < 8) return;
  const std::int64_t data = *markers.data;
  std::ifstream file(MemoryFile(), std::ios::binary);
  const std::string after{std::istreambuf_iterator<char>(file), {}};
  const auto end = static_cast<std::int64_t>(after.size());
  FUZZ_CHECK(end == FixedEnd(before, markers));
  if (UsesDs64(before, data)) {
    // The ds64 sizes follow the file; the rest stays.
    FUZZ_CHECK(after.substr(0, 20) == before.substr(0, 20) && after.substr(44, data - 40) == before.substr(44, data - 40));
    FUZZ_CHECK(Field(after, 20, 8) == static_cast<std::uint64_t>(end - 8));
    FUZZ_CHECK(Field(after, 28, 8) == static_cast<std::uint64_t>(end - data - 8));
    return;
  }
  FUZZ_CHECK(after.substr(0, 4) == before.substr(0, 4) && after.substr(8, data - 4) == before.substr(8, data - 4));
  FUZZ_CHECK(after.substr(data + 8) == before.substr(std::min<std::size_t>(data + 8, before.size()), end - data - 8));
  FUZZ_CHECK(Field(after, 4, 4) == static_cast<std::uint32_t>(end - 8));
  FUZZ_CHECK(Field(after, data + 4, 4) == static_cast<std::uint32_t>(end - data - 8));
  const Markers now = CheckMarkers(after);
  const std::int64_t length = CheckReaders(after, now);
  if (length >= 0 && now.data == markers.data) FUZZ_CHECK(length == (end - data - 8) / 3);
}

void CheckFile(std::string_view bytes) {
  std::ofstream(MemoryFile(), std::ios::binary | std::ios::trunc).write(bytes.data(), std::ssize(bytes));
  const Markers markers = CheckMarkers(bytes);
  CheckReaders(bytes, markers);
  CheckFixSize(bytes, markers);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckFile(bytes);
  // Short inputs are also tried after silence, straddling the end of the marker scan. Such a 128 KiB file costs many
  // times a short one: only some lengths take the trip, keeping most of the run for real headers.
  if (size <= 48 && size % 4 == 0) {
    CheckFile(std::string(static_cast<std::size_t>(sondrel::kMarkerScanLastOffsetBytes) - 24, '\0').append(bytes));
  }
  return 0;
}
