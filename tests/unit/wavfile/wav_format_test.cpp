#include "wavfile/wav_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/terminal_dialog.h"
#include "tests/support/project.h"

namespace sondrel {
namespace {

using namespace sondrel::test;  // NOLINT
using namespace std::string_literals;

// Says what the readers tell, on standard output as the program does.
TerminalDialog dialog;

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

using WavFileTest = InProjectTest;

TEST_F(WavFileTest, HeaderOfANewFile) {
  // A new take over an old file truncates it to a valid empty track. (The
  // header of a finished take is checked end to end.)
  WriteFile("t.wav", MonoWavBytes(Ramp(100)));
  ASSERT_TRUE(CreateWavFile("t.wav", 44100, 24, 0, 1));
  EXPECT_EQ(ReadFile("t.wav"), MonoWavBytes({}));
  // Sizes hold their value modulo 2^32: 2^31 frames of 3 bytes give 2^31.
  EXPECT_EQ(ReadLe32(&MakeHeaderBytes(48000, 24, std::int64_t{1} << 31, 1)[40]), INT32_MIN);
}

// Both extremes and both signs, and nothing past the samples asked for.
TEST(WavCodecTest, DecodesAndEncodesOnlyTheSamplesAskedFor) {
  const std::vector<std::uint8_t> bytes = {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0xFF, 0xFF,
                                           0xFF, 0x01, 0x00, 0x00, 0x22, 0x22, 0x22};
  std::vector<std::int64_t> samples(5, 42);
  DecodeSamples24(bytes.data(), samples.data(), 4);
  EXPECT_EQ(samples, (std::vector<std::int64_t>{8388607, -8388608, -1, 1, 42}));
  std::vector<std::uint8_t> encoded(bytes.size(), 0x22);
  EncodeSamples24(samples.data(), encoded.data(), 4);
  EXPECT_EQ(encoded, bytes);
}

// The length a track is measured at, and what is said of files that cannot
// play. (The player shares the file's inspection: what it says of damaged
// files, cut headers and missing or unformatted ones included, is checked end
// to end, and offsets and lengths against the bytes by the WAV fuzz target.
// These are the edges its corpus does not reach.)
TEST_F(WavFileTest, ReadersFindTheDataAndRejectWhatCannotPlay) {
  const std::string junk(131072 - 44, '\0');  // data at 131072
  const struct {
    std::string file;
    std::int64_t length;
    std::string told = "";
  } cases[] = {
      // The smaller of declared and present, less a partial sample.
      {MonoTrack(3000, 32), 10}, {MonoTrack(30, 300), 10},
      // Data is looked for at even offsets up to 131072.
      {MonoTrack(30, 30, Chunk("JUNK", junk)), 10},
      {MonoTrack(30, 30, Chunk("JUNK", junk + "\0\0"s)), 0, "Can't find data block in wave file!\n"},
      {RiffAndFormat(2, 48000, 24) + Chunk("data", std::string(60, '\0')), 0, "Mono files only\n"},
      {RiffAndFormat(1, 48000, 16) + Chunk("data", std::string(20, '\0')), 0, "24 bit wave files only!\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    WriteFile("t.wav", c.file);
    EXPECT_EQ(CapturedStdout([&] { EXPECT_EQ(TrackLengthSamples("t.wav", dialog), c.length); }), c.told);
  }
}

// How the sizes are fixed, and that a file without a data marker ends the
// program, are checked by the WAV fuzz target; that it ends with status 2,
// by the hostile input test's junk take.
TEST_F(WavFileTest, FixSizeToldOfAMissingFile) {
  EXPECT_EQ(CapturedStdout([] { EXPECT_FALSE(FixSizeFields("gone.wav", dialog)); }),
            "Cannot open gone.wav to update its size!\n");
}

// Lists are measured end to end ("f"). Empty lines are no entries, a missing
// track counts as 0 after its message, and only the first `count` entries count.
TEST_F(WavFileTest, LongestTrackMeasuresTheFirstEntriesOfTheList) {
  WriteWav("a.wav", std::vector<int>(10));
  WriteWav("b.wav", std::vector<int>(30));
  WriteFile("play.txt", "a.wav\n-\n\ngone.wav\nb.wav\n");
  EXPECT_EQ(CapturedStdout([] { EXPECT_EQ(LongestTrackSamples(3, '-', "play.txt", dialog), 10); }),
            "Checking file a.wav\nCannot find file in track list called gone.wav!!\nChecking file gone.wav\n");
}

}  // namespace
}  // namespace sondrel
