// WAV track files and 24-bit sample conversions.
//
// Every track is a mono, 24-bit, uncompressed PCM WAV file. A new file gets a
// canonical 44-byte header before any audio exists, and the samples are
// appended afterwards, so the declared data size is only what the writer
// expected to produce: a recording stopped early leaves a header claiming
// more than the file holds. Readers therefore never trust the declared size
// alone, and they find the "fmt" and "data" markers by probing even offsets
// near the start of the file instead of walking the chunk list, so a file
// with unknown chunks (or an extensible format chunk) still plays as long as
// the fields sit at their usual distances from the markers.
//
// Stored samples are 3 bytes, least significant first, two's complement.
// In memory a sample is a signed 64-bit integer so that mixing can sum many
// tracks without overflow; the encoders keep only the low 24 bits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>
#include <vector>

#include "core/audio_constants.h"
#include "core/byte_order.h"
#include "core/file_io.h"
#include "core/user_dialog.h"

namespace sondrel {

inline constexpr std::size_t kWavHeaderBytes = 44;
// A file whose data passes 4 GiB is RF64: "RF64" in place of "RIFF", a
// "ds64" chunk after "WAVE" carrying the 64-bit RIFF size, data size and
// frame count, and both 32-bit size fields set to 0xFFFFFFFF.
inline constexpr std::size_t kRf64HeaderBytes = 80;
inline constexpr std::int64_t kDs64RiffSizeAt = 20;
inline constexpr std::int64_t kDs64DataSizeAt = 28;
// Markers are looked for at even offsets 2 .. this one, inclusive.
inline constexpr std::int64_t kMarkerScanLastOffsetBytes = 131072;

using WavHeader = std::vector<std::uint8_t>;

// ---- Sample conversions -------------------------------------------------

// One stored 24-bit sample, sign-extended.
constexpr std::int64_t DecodeSample24(const std::uint8_t* bytes) {
  return static_cast<std::int64_t>(bytes[0]) +
         256 * static_cast<std::int64_t>(bytes[1]) +
         65536 * static_cast<std::int64_t>(static_cast<std::int8_t>(bytes[2]));
}

// x modulo 2^24: out-of-range mix sums wrap, callers clip where they must.
constexpr void EncodeSample24(std::int64_t sample, std::uint8_t* bytes) {
  WriteLe24(static_cast<std::uint64_t>(sample), bytes);
}

// Decodes and encodes `countSamples` packed 24-bit samples. Nothing
// allocates, so the fades of a punch-in can run them per block.
void DecodeSamples24(const std::uint8_t* bytes, std::int64_t* samples, std::int64_t countSamples);
void EncodeSamples24(const std::int64_t* samples, std::uint8_t* bytes, std::int64_t countSamples);

// ---- Header and marker scan ---------------------------------------------

// The header bytes for `frames` frames: the plain 44 while the RIFF size of
// `layoutFrames` frames (`frames` when not given) fits 32 bits, else the 80
// of RF64. Each 2-byte field holds its value modulo 2^16.
WavHeader MakeHeaderBytes(std::uint32_t rateHz, std::uint32_t bits, std::int64_t frames, std::uint32_t channels,
                          std::int64_t layoutFrames = -1);

// Creates or truncates `path` and writes exactly the header bytes, laid out
// for `layoutFrames` (a take planned that long that declares no audio yet)
// or for `frames`. On failure the errno of the call that failed; the caller
// tells the user.
[[nodiscard]] IoResult CreateWavFile(const char* path, std::uint32_t rateHz, std::uint32_t bits, std::int64_t frames,
                                     std::uint32_t channels, std::int64_t layoutFrames = -1);

// Sets the size fields of a file made by CreateWavFile (mono, 24-bit, plain
// or RF64) to `samples`, wherever the descriptor's offset stands.
// Two 4-byte positioned writes and nothing allocated: a recording brings its
// takes' headers up to date while it runs, so a take read after a crash
// claims no more than it holds.
[[nodiscard]] IoResult WriteTakeSizes(int fd, std::int64_t samples);

// Offset of the first even offset in 2 .. kMarkerScanLastOffsetBytes where
// the file holds "fmt" / "data"; nothing when there is none (a marker that
// would run past the end of the file does not count).
[[nodiscard]] std::optional<std::int64_t> FindFormatMarker(std::FILE* file);
[[nodiscard]] std::optional<std::int64_t> FindDataMarker(std::FILE* file);

// ---- Readers and fixers -------------------------------------------------

enum class TrackCheck { Accepted, Missing, NoFormat, NotMono, Not24Bit, NoData };

// What a track file's header says, as far as it could be read: fields after
// the point of rejection keep their zero values.
struct TrackInfo {
  TrackCheck check = TrackCheck::Missing;
  int channels = 0;
  int bits = 0;
  std::int64_t rateHz = 0;
  std::int64_t dataOffsetBytes = 0;  // the first sample byte
  std::int64_t lengthSamples = 0;    // what can be played: never past the file's end
};

// Reads the header facts of a track file; tells nothing.
TrackInfo InspectTrackFile(const char* path);

// A track for playing or mixing: its facts when it is mono, 24-bit, has a
// data block and, when `projectRateHz` is given, that sample rate; otherwise
// nothing, after telling why it will not be played.
[[nodiscard]] std::optional<TrackInfo> CheckPlayableTrack(const char* path, UserDialog& dialog,
                                                          std::uint32_t projectRateHz = 0);

// Length in samples, or 0 after telling why when the file is missing or not
// a mono 24-bit file with a data marker.
[[nodiscard]] std::int64_t TrackLengthSamples(const char* path, UserDialog& dialog);

// True when the file's format marker declares anything but one channel of
// 24-bit samples (a field the file is too short to hold reads as 0). The
// operations that rewrite a track lay 24-bit mono samples at 3-byte steps:
// in any other format they would turn the old audio and the take into
// noise, so their callers refuse such a file. A file without a format
// marker is not judged here.
[[nodiscard]] bool HasForeignFormat(const char* path);

// Rewrites the data size after the data marker and the RIFF size at offset 4
// to match the file as it now is, so padded and punched-in files stay valid
// for other programs. False, after telling why, when the file cannot be
// opened or updated, or has no data marker (the console ends the program
// then: there is no telling where its audio is).
[[nodiscard]] bool FixSizeFields(const char* path, UserDialog& dialog);

// Length in samples of the longest file among the first `count` entries of
// the list file; entries starting with `skipMarker` count but are not
// measured. Tells which files it checks. 0 when nothing could be measured.
[[nodiscard]] std::int64_t LongestTrackSamples(int count, char skipMarker, const char* listPath, UserDialog& dialog);

}  // namespace sondrel
