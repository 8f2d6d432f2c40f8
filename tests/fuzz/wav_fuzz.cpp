// The WAV marker scan, the track readers and the size fixer on any file.
// The readers take paths, so each input is written to an in-memory file and
// read back through /proc/self/fd. Besides the sanitizers, every answer is
// compared with what the bytes themselves say.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "core/file_io.h"
#include "core/user_dialog.h"
#include "fuzz_check.h"
#include "wavfile/wav_format.h"

namespace {

using sondrel::FilePtr;
using sondrel::Notice;
using sondrel::NoticeKind;

// Hears what the readers tell; the checks only need to know whether a
// notice would have ended the program.
struct QuietDialog final : sondrel::UserDialog {
  bool endsProgram = false;
  void Tell(const Notice& notice) override { endsProgram |= notice.kind == NoticeKind::NoDataBlockEndsProgram; }
  void TellAndWaitForContinue(const Notice& notice) override { Tell(notice); }
  std::string Ask(const Notice& question) override {
    Tell(question);
    return {};
  }
};
using Offset = std::optional<std::int64_t>;

// One in-memory file for the whole run, refilled with each input.
int MemoryFile() {
  static const int fd = memfd_create("wav_fuzz", 0);
  FUZZ_CHECK(fd >= 0);
  return fd;
}

const std::string& MemoryFilePath() {
  static const std::string path = "/proc/self/fd/" + std::to_string(MemoryFile());
  return path;
}

void Refill(std::string_view bytes) {
  FUZZ_CHECK(ftruncate(MemoryFile(), 0) == 0);
  FUZZ_CHECK(pwrite(MemoryFile(), bytes.data(), bytes.size(), 0) ==
             static_cast<ssize_t>(bytes.size()));
}

std::string Contents() {
  std::string bytes;
  char chunk[4096];
  ssize_t got = 0;
  for (off_t at = 0; (got = pread(MemoryFile(), chunk, sizeof chunk, at)) > 0; at += got) {
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
  return bytes;
}

// The first even offset from 2 to the scan's end where the whole marker lies
// in the file, the plain way (no memcmp: libFuzzer hooks it). Not
// instrumented for coverage: its branches say nothing about the program,
// and on the longest inputs they would take most of the run.
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

Markers ExpectedMarkers(std::string_view bytes) {
  return {ExpectedMarker(bytes, "fmt"), ExpectedMarker(bytes, "data")};
}

Offset ScanFile(std::string_view marker) {
  const FilePtr file = sondrel::OpenFile(MemoryFilePath().c_str(), "rb");
  FUZZ_CHECK(file != nullptr);
  return marker == "data" ? sondrel::FindDataMarker(file.get())
                          : sondrel::FindFormatMarker(file.get());
}

std::int64_t Field32(std::string_view bytes, std::int64_t at) {
  std::array<std::uint8_t, 4> raw{};
  std::memcpy(raw.data(), bytes.data() + at, raw.size());
  return sondrel::ReadLe32(raw.data());
}

void CheckMarkers(const Markers& expected) {
  FUZZ_CHECK(ScanFile("fmt") == expected.fmt);
  FUZZ_CHECK(ScanFile("data") == expected.data);
}

// An accepted track is mono 24-bit, its audio starts after the data marker
// and its size field, and its length is what both the header and the file
// allow.
void CheckAccepted(std::string_view bytes, const Markers& markers, const sondrel::TrackInfo& a) {
  FUZZ_CHECK(markers.fmt && markers.data && a.channels == 1 && a.bits == 24);
  FUZZ_CHECK(a.dataOffsetBytes == *markers.data + 8);
  FUZZ_CHECK(a.dataOffsetBytes <= static_cast<std::int64_t>(bytes.size()));
  const auto declared = static_cast<std::uint32_t>(Field32(bytes, *markers.data + 4));
  const auto held = static_cast<std::int64_t>(bytes.size()) - a.dataOffsetBytes;
  const std::int64_t length = a.lengthSamples;
  FUZZ_CHECK(length >= 0 && length * 3 <= held && length <= declared / 3);
  FUZZ_CHECK(length == held / 3 || length == declared / 3);
}

// The length of an accepted track, or -1.
std::int64_t CheckReaders(std::string_view bytes, const Markers& markers) {
  QuietDialog dialog;
  const std::optional<sondrel::TrackInfo> accepted = sondrel::CheckPlayableTrack(MemoryFilePath().c_str(), dialog);
  const std::int64_t measured = sondrel::TrackLengthSamples(MemoryFilePath().c_str(), dialog);
  if (!accepted) {
    FUZZ_CHECK(measured == 0);
    return -1;
  }
  CheckAccepted(bytes, markers, *accepted);
  FUZZ_CHECK(measured == accepted->lengthSamples);
  return measured;
}

// The fix writes the two size fields and nothing else; the file grows only
// when it ended inside the data size field.
void CheckOnlySizesWritten(std::string_view before, std::string_view after, std::int64_t data) {
  const auto end = std::max<std::int64_t>(static_cast<std::int64_t>(before.size()), data + 8);
  FUZZ_CHECK(static_cast<std::int64_t>(after.size()) == end);
  FUZZ_CHECK(after.substr(8, data - 4) == before.substr(8, data - 4));
  FUZZ_CHECK(after.substr(data + 8) == before.substr(std::min<std::size_t>(data + 8, before.size())));
  FUZZ_CHECK(after.substr(0, 4) == before.substr(0, 4));
}

// After the fix both size fields describe the file as it is. A data marker
// that overlaps the RIFF size field (offsets 2 to 6: no real WAV file) is
// overwritten by the fix itself, so such a file is only checked for ending
// the program when it has no marker at all.
void CheckFixSize(std::string_view before, const Markers& markers) {
  QuietDialog dialog;
  const bool fixed = sondrel::FixSizeFields(MemoryFilePath().c_str(), dialog);
  const bool ended = dialog.endsProgram;
  FUZZ_CHECK(fixed != ended);
  FUZZ_CHECK(ended == !markers.data.has_value());
  if (ended || *markers.data < 8) return;
  const std::int64_t data = *markers.data;
  const std::string after = Contents();
  CheckOnlySizesWritten(before, after, data);
  const auto end = static_cast<std::int64_t>(after.size());
  FUZZ_CHECK(static_cast<std::uint32_t>(Field32(after, 4)) == static_cast<std::uint32_t>(end - 8));
  FUZZ_CHECK(static_cast<std::uint32_t>(Field32(after, data + 4)) ==
             static_cast<std::uint32_t>(end - data - 8));
  const Markers now = ExpectedMarkers(after);
  const std::int64_t length = CheckReaders(after, now);
  if (length >= 0 && now.data == markers.data) FUZZ_CHECK(length == (end - data - 8) / 3);
}

void CheckFile(std::string_view bytes) {
  const Markers markers = ExpectedMarkers(bytes);
  Refill(bytes);
  CheckMarkers(markers);
  CheckReaders(bytes, markers);
  CheckFixSize(bytes, markers);
}

// Short inputs are also tried straddling the end of the marker scan, after
// silence, so markers just inside and just past the last probed offset are
// both met. Such a file is 128 KiB and costs many times a short one to
// check: only the lengths divisible by 4 take the trip, which keeps most of
// the run for the files' first bytes, where real headers differ.
constexpr std::size_t kFarInputBytes = 48;

bool GoesFar(std::size_t size) { return size <= kFarInputBytes && size % 4 == 0; }

std::string AtScanEnd(std::string_view bytes) {
  std::string far(static_cast<std::size_t>(sondrel::kMarkerScanLastOffsetBytes) - 24, '\0');
  far += bytes;
  return far;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckFile(bytes);
  if (GoesFar(size)) CheckFile(AtScanEnd(bytes));
  return 0;
}
