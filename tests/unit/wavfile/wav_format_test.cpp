#include "wavfile/wav_format.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "console/terminal_dialog.h"
#include "core/program_exit.h"
#include "tests/support/project.h"

namespace sondrel {
namespace {

using namespace sondrel::test;  // NOLINT
using namespace std::string_literals;
using Bytes = std::vector<std::uint8_t>;

// Says what the readers tell, on standard output as the program does.
TerminalDialog dialog;

// A little-endian field, as file contents.
std::string Le(std::uint64_t value, int widthBytes) {
  std::string out;
  for (int i = 0; i < widthBytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

// An id, a 4-byte size (the payload's unless another is declared) and the payload.
std::string Chunk(const char* id, const std::string& payload, std::int64_t declared = -1) {
  return id + Le(declared < 0 ? payload.size() : static_cast<std::uint64_t>(declared), 4) + payload;
}

// "RIFF" <size 0> "WAVE" and a plain 16-byte format chunk.
std::string RiffAndFormat(int channels, std::uint32_t rateHz, int bits) {
  const int frameBytes = channels * bits / 8;
  return "RIFF" + Le(0, 4) + "WAVE" +
         Chunk("fmt ", Le(1, 2) + Le(channels, 2) + Le(rateHz, 4) + Le(rateHz * frameBytes, 4) + Le(frameBytes, 2) +
                           Le(bits, 2));
}

// A 44.1 kHz mono 24-bit file: an optional extra chunk, then data declaring and holding bytes.
std::string MonoTrack(std::int64_t declared, std::size_t held, const std::string& extra = "") {
  return RiffAndFormat(1, 44100, 24) + extra + Chunk("data", std::string(held, 0x22), declared);
}

// The readers work on the current directory: each test runs in its project.
class WavFileTest : public InProjectTest {
 protected:
  void Append(const std::string& name, const std::string& bytes) const { WriteFile(name, ReadFile(name) + bytes); }
};

TEST_F(WavFileTest, HeaderBytes) {
  ASSERT_TRUE(CreateWavFile("t.wav", 44100, 24, 1000, 1));
  EXPECT_EQ(ReadFile("t.wav"), "RIFF\xDC\x0B\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x44\xAC\0\0\xCC\x04\x02\0"
                               "\x03\0\x18\0data\xB8\x0B\0\0"s);
  // A new take over an old file truncates it to a valid empty track.
  Append("t.wav", std::string(300, '\x11'));
  ASSERT_TRUE(CreateWavFile("t.wav", 44100, 24, 0, 1));
  EXPECT_EQ(ReadFile("t.wav"), MonoWavBytes({}));
  // Sizes hold their value modulo 2^32: 2^31 frames of 3 bytes give 2^31.
  EXPECT_EQ(ReadLe32(&MakeHeaderBytes(48000, 24, std::int64_t{1} << 31, 1)[40]), INT32_MIN);
}

TEST(WavCodecTest, DecodesEncodesAndRoundTrips) {
  std::vector<std::int64_t> in(kChunkFrames), out(in.size(), 42);
  const Bytes b24 = {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00};
  DecodeSamples24(b24.data(), out.data(), 4);
  EXPECT_EQ(std::vector(out.begin(), out.begin() + 5), (std::vector<std::int64_t>{8388607, -8388608, -1, 1, 42}));
  // Encoding keeps the low 24 bits; every 24-bit value round-trips.
  Bytes general(kChunkBytes, 0xAA);
  const std::int64_t wide[] = {8388608, -8388609, -1, (1 << 24) + 5};
  EncodeSamples24(wide, general.data(), 4);
  EXPECT_EQ(Bytes(general.begin(), general.begin() + 13),
            (Bytes{0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x05, 0x00, 0x00, 0xAA}));
  for (std::int64_t first = -8388608; first < 8388608; first += kChunkFrames) {
    for (std::int64_t i = 0; i < kChunkFrames; ++i) in[i] = first + i;
    EncodeSamples24(in.data(), general.data(), kChunkFrames);
    DecodeSamples24(general.data(), out.data(), kChunkFrames);
    ASSERT_EQ(out, in) << "block from " << first;
  }
}

// What CheckPlayableTrack and TrackLengthSamples make of one file, and what they print.
TEST_F(WavFileTest, ReadersFindTheDataAndRejectWhatCannotPlay) {
  const int x = 0;  // a field not read
  const std::string full = MonoTrack(30, 30), junk(131072 - 44, '\0');  // junk: data at 131072
  const std::string noData = "Cannot find data block in file t.wav!\n", noDataBlock = "Can't find data block in wave file!\n",
                    noFormat = "Can't find format chunk in wave file!\n",
                    missing = "Cannot find file in track list called t.wav!!\n",
                    not24 = "t.wav is not a 24 bit file and will not be played\n";
  const struct {
    std::optional<std::string> file;  // none: the file is missing
    std::int64_t offset, length;      // data offset 0: rejected
    std::string printed = "", lengthPrinted = "";
    std::pair<int, int> channelsAndBits = {1, 24};  // as far as they were read
  } cases[] = {
      // The smaller of declared and present; a partial sample and a top-bit size are ignored.
      {MonoTrack(3000, 30), 44, 10}, {MonoTrack(3000, 32), 44, 10}, {MonoTrack(30, 300), 44, 10},
      {MonoTrack(0, 0), 44, 0}, {MonoTrack(0x80000000u, 33), 44, 11},
      // Data is looked for at even offsets 2 to 131072, and the first "data" wins.
      {MonoTrack(30, 30, Chunk("LIST", std::string(10, '\0'))), 62, 10},
      {MonoTrack(30, 30, Chunk("LIST", std::string(11, '\0'))), 0, 0, noData, noDataBlock},
      {MonoTrack(30, 30, Chunk("LIST", Chunk("data", std::string(6, '\0')))), 52, 2},
      {MonoTrack(30, 30, Chunk("JUNK", junk)), 131080, 10},
      {MonoTrack(30, 30, Chunk("JUNK", junk + "\0\0"s)), 0, 0, noData, noDataBlock},
      {RiffAndFormat(2, 48000, 24) + Chunk("data", std::string(60, '\0')), 0, 0,
       "t.wav is not a mono file and will not be played\n", "Mono files only\n", {2, x}},
      {RiffAndFormat(1, 48000, 16) + Chunk("data", std::string(20, '\0')), 0, 0, not24, "24 bit wave files only!\n",
       {1, 16}},
      {"RIFF\0\0\0\0WAVE"s + Chunk("data", "abc"), 0, 0, noFormat, noFormat, {x, x}},
      {std::nullopt, 0, 0, missing, missing, {x, x}},
      // Cut short before the bits field, inside the data size, inside the marker.
      {full.substr(0, 30), 0, 0, not24, "24 bit wave files only!\n", {1, 0}},
      {full.substr(0, 42), 0, 0, noData, noDataBlock},
      {full.substr(0, 39), 0, 0, noData, noDataBlock}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    std::filesystem::remove("t.wav");
    if (c.file) WriteFile("t.wav", *c.file);
    std::optional<TrackInfo> track;
    EXPECT_EQ(CapturedStdout([&] { track = CheckPlayableTrack("t.wav", dialog); }), c.printed);
    EXPECT_EQ(CapturedStdout([&] { EXPECT_EQ(TrackLengthSamples("t.wav", dialog), c.length); }), c.lengthPrinted);
    const TrackInfo info = InspectTrackFile("t.wav");
    EXPECT_EQ(std::pair(info.channels, info.bits), c.channelsAndBits);
    EXPECT_EQ(track.has_value(), c.offset != 0);
    if (track) {
      EXPECT_EQ(std::tuple(track->dataOffsetBytes, track->lengthSamples, track->rateHz),
                std::tuple(c.offset, c.length, 44100));
    }
  }
}

TEST_F(WavFileTest, FixSizeRewritesDataAndRiffSizes) {
  ASSERT_TRUE(CreateWavFile("t.wav", 44100, 24, 0, 1));
  Append("t.wav", std::string(3001, 0x22));
  EXPECT_TRUE(FixSizeFields("t.wav", dialog));
  EXPECT_EQ(ReadFile("t.wav"), MonoTrack(3001, 3001).replace(4, 4, Le(3037, 4)));
  // The data size goes after the data marker wherever it is; other chunks stay.
  const std::string list = Chunk("LIST", std::string(10, '\0'));
  WriteFile("t.wav", MonoTrack(3, 30, list));
  EXPECT_TRUE(FixSizeFields("t.wav", dialog));
  EXPECT_EQ(ReadFile("t.wav"), MonoTrack(30, 30, list).replace(4, 4, Le(84, 4)));
  EXPECT_EQ(CapturedStdout([] { EXPECT_FALSE(FixSizeFields("gone.wav", dialog)); }),
            "Cannot open gone.wav to update its size!\n");
  // Without a data marker nothing sensible can be done: the program ends.
  WriteFile("t.wav", std::string(1000, '\0'));
  int status = -1;
  EXPECT_EQ(CapturedStdout([&] {
              try {
                EXPECT_FALSE(FixSizeFields("t.wav", dialog));
              } catch (const ProgramExit& e) {
                status = e.status;
              }
            }),
            "Can't find data block in wave file!\n");
  EXPECT_EQ(status, 2);
}

TEST_F(WavFileTest, SeekLongFileMeasuresTheListedTracks) {
  for (const auto& [name, frames] : {std::pair{"a.wav", 10}, {"b.wav", 30}, {"c.wav", 20}}) {
    ASSERT_TRUE(CreateWavFile(name, 48000, 24, frames, 1));
    Append(name, std::string(3 * frames, '\0'));
  }
  WriteFile("play.txt", "-\n-\n-\n");
  EXPECT_EQ(CapturedStdout([] { EXPECT_EQ(LongestTrackSamples(3, '-', "play.txt", dialog), 0); }), "");
  // Empty lines are no entries; a missing track counts as 0 after its message.
  WriteFile("play.txt", "a.wav\n-\n\n\nb.wav\ngone.wav\nc.wav");
  EXPECT_EQ(CapturedStdout([] { EXPECT_EQ(LongestTrackSamples(10, '-', "play.txt", dialog), 30); }),
            "Checking file a.wav\nChecking file b.wav\n"
            "Cannot find file in track list called gone.wav!!\nChecking file gone.wav\nChecking file c.wav\n");
  std::string list;  // 255 long skipped entries first: a list far beyond one read buffer
  for (int i = 0; i < 255; ++i) list += "-" + std::string(200, 'x') + "\n";
  CapturedStdout([&] {
    EXPECT_EQ(LongestTrackSamples(2, '-', "play.txt", dialog), 10);  // "a.wav", "-"
    EXPECT_EQ(LongestTrackSamples(3, '-', "play.txt", dialog), 30);
    WriteFile("play.txt", list + "c.wav\n");
    EXPECT_EQ(LongestTrackSamples(256, '-', "play.txt", dialog), 20);
  });
}

}  // namespace
}  // namespace sondrel
