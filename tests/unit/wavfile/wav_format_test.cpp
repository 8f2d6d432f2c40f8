#include "wavfile/wav_format.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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

// A 44.1 kHz mono 24-bit file: an optional extra chunk, then data declaring and holding bytes.
std::string MonoTrack(std::int64_t declared, std::size_t held, const std::string& extra = "") {
  return WavFile(1, 1, 24, 44100, extra + Chunk("data", std::string(held, 0x22), declared));
}

using WavFileTest = InProjectTest;

TEST_F(WavFileTest, HeaderOfANewFile) {
  // A new take over an old file truncates it to a valid empty track. (The
  // header of a finished take is checked end to end.)
  WriteFile("t.wav", MonoWavBytes(Ramp(100)));
  ASSERT_TRUE(CreateWavFile("t.wav", 44100, 24, 0, 1));
  EXPECT_EQ(ReadFile("t.wav"), MonoWavBytes({}));
  EXPECT_EQ(MakeHeaderBytes(48000, 24, (0xFFFFFFFF - 36) / 3, 1).size(), 44u);  // the longest plain file
}

// The first bytes of a file too large to read whole.
std::string Head(const char* path, std::size_t bytes) {
  std::string head(bytes, '\0');
  std::ifstream(path, std::ios::binary).read(head.data(), static_cast<std::streamsize>(bytes));
  return head;
}

// Data past 4 GiB is RF64, read and fixed through its 64-bit sizes: a sparse file of 2^31 frames (6 GiB, no
// blocks written) grown as a punch-in past its end grows it, and a take planned that long whose running sizes
// sox and libsndfile read.
TEST_F(WavFileTest, FilesPast4GiBAreRf64) {
  const std::int64_t frames = std::int64_t{1} << 31;
  ASSERT_TRUE(CreateWavFile("big.wav", 48000, 24, frames, 1));
  EXPECT_EQ(Head("big.wav", 80), "RF64" + Le(0xFFFFFFFF, 4) + "WAVEds64" + Le(28, 4) + Le(3 * frames + 72, 8) +
                                     Le(3 * frames, 8) + Le(frames, 8) + Le(0, 4) + "fmt " + Le(16, 4) +
                                     Le(1, 2) + Le(1, 2) + Le(48000, 4) + Le(144000, 4) + Le(3, 2) + Le(24, 2) +
                                     "data" + Le(0xFFFFFFFF, 4));
  std::filesystem::resize_file("big.wav", 80 + 3 * frames + 3000);
  EXPECT_EQ(InspectTrackFile("big.wav").lengthSamples, frames);  // as the header declares
  ASSERT_TRUE(FixSizeFields("big.wav", dialog));
  EXPECT_EQ(Head("big.wav", 44).substr(20), Le(3 * frames + 3072, 8) + Le(3 * frames + 3000, 8) + Le(frames + 1000, 8));
  EXPECT_EQ(InspectTrackFile("big.wav").lengthSamples, frames + 1000);

  ASSERT_TRUE(CreateWavFile("take.wav", 48000, 24, 0, 1, frames));
  const int fd = ::open("take.wav", O_RDWR);  // as a recording opens its takes: not O_APPEND
  ASSERT_TRUE(::lseek(fd, 0, SEEK_END) == 80 && WriteAll(fd, MonoWavBytes(Ramp(1000)).substr(44).data(), 3000) &&
              WriteTakeSizes(fd, 1000));
  ::close(fd);
  EXPECT_EQ(InspectTrackFile("take.wav").lengthSamples, 1000);
  EXPECT_EQ(Shell("soxi -s take.wav && sox take.wav -t s24 - | od -An -tx1 | head -1"),
            "1000\n 00 00 00 01 00 00 02 00 00 03 00 00 04 00 00 05\n");
  EXPECT_NE(Shell("sndfile-info take.wav").find("Frames      : 1000\n"), std::string::npos);
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

// The length a track is measured at, and what is said of files that cannot play. (The player shares the file's
// inspection: what it says of damaged files, cut headers and missing or unformatted ones included, is checked end to
// end, and offsets and lengths against the bytes by the WAV fuzz target. These are the edges its corpus does not
// reach.)
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
      {WavFile(1, 2, 24, 48000, Chunk("data", std::string(60, '\0'))), 0, "Mono files only\n"},
      {WavFile(1, 1, 16, 48000, Chunk("data", std::string(20, '\0'))), 0, "24 bit wave files only!\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    WriteFile("t.wav", c.file);
    EXPECT_EQ(CapturedStdout([&] { EXPECT_EQ(TrackLengthSamples("t.wav", dialog), c.length); }), c.told);
  }
}

// How the sizes are fixed, and that a file without a data marker ends the program, are checked by the WAV fuzz target;
// that it ends with status 2, by the hostile input test's junk take.
TEST_F(WavFileTest, FixSizeToldOfAMissingFile) {
  EXPECT_EQ(CapturedStdout([] { EXPECT_FALSE(FixSizeFields("gone.wav", dialog)); }),
            "Cannot open gone.wav to update its size!\n");
}

}  // namespace
}  // namespace sondrel
