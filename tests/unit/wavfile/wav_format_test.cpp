#include "wavfile/wav_format.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "console/input.h"

namespace sondrel {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// ---- File building helpers ----------------------------------------------

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, std::string_view text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(text.data(), static_cast<std::streamsize>(text.size()));
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  WriteText(path, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

void AppendBytes(const std::string& path, std::size_t count) {
  const std::string fill(count, '\x11');
  std::ofstream(path, std::ios::binary | std::ios::app)
      .write(fill.data(), static_cast<std::streamsize>(fill.size()));
}

void PutLe(Bytes& out, std::uint64_t value, int width_bytes) {
  for (int i = 0; i < width_bytes; ++i) out.push_back((value >> (8 * i)) & 0xFF);
}

void PutText(Bytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

std::int64_t Le32At(const Bytes& bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(Assem4(&bytes[offset]));
}

// "RIFF" <size> "WAVE" and a plain 16-byte format chunk: 36 bytes, as in a
// header-written file up to the data chunk.
Bytes RiffAndFormat(std::uint16_t channels, std::uint32_t rate_hz, std::uint16_t bits) {
  Bytes out;
  PutText(out, "RIFF");
  PutLe(out, 0, 4);
  PutText(out, "WAVEfmt ");
  PutLe(out, 16, 4);
  PutLe(out, 1, 2);
  PutLe(out, channels, 2);
  PutLe(out, rate_hz, 4);
  PutLe(out, rate_hz * channels * (bits / 8u), 4);
  PutLe(out, channels * bits / 8u, 2);
  PutLe(out, bits, 2);
  return out;
}

void PutChunk(Bytes& out, std::string_view id, const Bytes& payload) {
  PutText(out, id);
  PutLe(out, payload.size(), 4);
  out.insert(out.end(), payload.begin(), payload.end());
}

// A data chunk declaring `declared_bytes` and holding `held_bytes`.
void PutData(Bytes& out, std::uint32_t declared_bytes, std::size_t held_bytes) {
  PutText(out, "data");
  PutLe(out, declared_bytes, 4);
  out.insert(out.end(), held_bytes, 0x22);
}

Bytes MonoTrack(std::uint32_t declared_bytes, std::size_t held_bytes) {
  Bytes out = RiffAndFormat(1, 44100, 24);
  PutData(out, declared_bytes, held_bytes);
  return out;
}

template <typename Action>
std::string StdoutOf(Action&& action) {
  testing::internal::CaptureStdout();
  action();
  return testing::internal::GetCapturedStdout();
}

constexpr int kUntouched = -7;

template <typename T>
std::array<T, 8> Untouched() {
  std::array<T, 8> entries;
  entries.fill(kUntouched);
  return entries;
}

// The six per-position arrays a caller lends to GET_ATTRIBUTES, pre-filled
// with a sentinel so writes to the wrong entries show.
struct Attributes {
  std::array<int, 8> channels = Untouched<int>();
  std::array<std::int64_t, 8> dataOffset = Untouched<std::int64_t>();
  std::array<std::int64_t, 8> rate = Untouched<std::int64_t>();
  std::array<std::int64_t, 8> length = Untouched<std::int64_t>();
  std::array<int, 8> bytesPerSample = Untouched<int>();
  std::array<int, 8> bits = Untouched<int>();

  int Get(int index, const char* path) {
    return GET_ATTRIBUTES(index, path, channels, dataOffset, rate, length,
                          bytesPerSample, bits);
  }
};

std::size_t OpenDescriptorCount() {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"),
                                                fs::directory_iterator()));
}

// Every test runs in a fresh directory, as the program runs in a project
// directory, and must not leave a file open behind it.
class WavDirTest : public testing::Test {
 protected:
  void SetUp() override {
    previous_dir_ = fs::current_path();
    char name[] = "/tmp/sondrel_wav_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    descriptors_ = OpenDescriptorCount();
  }
  void TearDown() override {
    EXPECT_EQ(OpenDescriptorCount(), descriptors_) << "a file was left open";
    EXPECT_EQ(chdir(previous_dir_.c_str()), 0);
    fs::remove_all(dir_);
  }

 private:
  fs::path previous_dir_;
  fs::path dir_;
  std::size_t descriptors_ = 0;
};

using WavHeaderTest = WavDirTest;
using WavReaderTest = WavDirTest;
using WavFixSizeTest = WavDirTest;
using WavLongestFileTest = WavDirTest;

// ---- Header ---------------------------------------------------------------

TEST_F(WavHeaderTest, MonoHeaderIsTheCanonical44Bytes) {
  ASSERT_TRUE(MAKE_HEADER("t.wav", 44100, 24, 1000, 1));
  const Bytes expected = {
      0x52, 0x49, 0x46, 0x46, 0xDC, 0x0B, 0x00, 0x00, 0x57, 0x41, 0x56,
      0x45, 0x66, 0x6D, 0x74, 0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00,
      0x01, 0x00, 0x44, 0xAC, 0x00, 0x00, 0xCC, 0x04, 0x02, 0x00, 0x03,
      0x00, 0x18, 0x00, 0x64, 0x61, 0x74, 0x61, 0xB8, 0x0B, 0x00, 0x00};
  EXPECT_EQ(ReadBytes("t.wav"), expected);
}

TEST_F(WavHeaderTest, ZeroFrameHeaderIsAValidEmptyTrack) {
  ASSERT_TRUE(MAKE_HEADER("t.wav", 48000, 24, 0, 1));
  const Bytes bytes = ReadBytes("t.wav");
  ASSERT_EQ(bytes.size(), 44u);
  EXPECT_EQ(Le32At(bytes, 4), 36);
  EXPECT_EQ(Le32At(bytes, 40), 0);

  Attributes a;
  EXPECT_EQ(a.Get(0, "t.wav"), 1);
  EXPECT_EQ(a.dataOffset[0], 44);
  EXPECT_EQ(a.length[0], 0);
  EXPECT_EQ(GET_LENGTH("t.wav"), 0);
}

TEST(WavHeaderBytesTest, StereoExportCountsSixBytesAndLongTakesWrap) {
  const WavHeader stereo = MakeHeaderBytes(48000, 24, 10, 2);
  EXPECT_EQ(Assem2(&stereo[22]), 2);
  EXPECT_EQ(Assem4(&stereo[28]), 6 * 48000);
  EXPECT_EQ(Assem2(&stereo[32]), 6);
  EXPECT_EQ(Assem4(&stereo[40]), 60);
  EXPECT_EQ(Assem4(&stereo[4]), 96);

  // 2^31 frames of 3 bytes = 3 * 2^31 bytes, which is 2^31 modulo 2^32.
  const WavHeader long_take = MakeHeaderBytes(48000, 24, std::int64_t{1} << 31, 1);
  EXPECT_EQ(static_cast<std::uint32_t>(Assem4(&long_take[40])), 0x80000000u);
  EXPECT_EQ(static_cast<std::uint32_t>(Assem4(&long_take[4])), 0x80000024u);
}

TEST_F(WavHeaderTest, RecreatingTruncatesAndUncreatablePathFailsSilently) {
  ASSERT_TRUE(MAKE_HEADER("t.wav", 44100, 24, 1000, 1));
  AppendBytes("t.wav", 300);
  ASSERT_TRUE(MAKE_HEADER("t.wav", 44100, 24, 1000, 1));
  EXPECT_EQ(fs::file_size("t.wav"), 44u);

  bool made = true;
  EXPECT_EQ(StdoutOf([&] { made = MAKE_HEADER("no/such/dir/t.wav", 44100, 24, 1, 1); }), "");
  EXPECT_FALSE(made);
}

// ---- Sample conversions --------------------------------------------------

TEST(WavCodecTest, Decodes24BitExtremesAndSign) {
  const Bytes bytes = {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0xFF, 0xFF,
                       0xFF, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00};
  std::array<std::int64_t, 5> samples{};
  CHAR_TO_NUM32(bytes.data(), samples.data(), 3, 5);
  EXPECT_EQ(samples, (std::array<std::int64_t, 5>{8388607, -8388608, -1, 1, 256}));
}

TEST(WavCodecTest, Decodes16BitIntoThe24BitRange) {
  Bytes bytes = {0x00, 0x80, 0xFF, 0x7F, 0xFF, 0xFF, 0x01, 0x00};
  bytes.resize(2 * kCodecBlockSamples, 0x81);
  std::vector<std::int64_t> general(kCodecBlockSamples);
  std::vector<std::int64_t> block(kCodecBlockSamples);
  CHAR_TO_NUM32(bytes.data(), general.data(), 2, kCodecBlockSamples);
  CHAR_TO_NUM32_BLOCK(bytes.data(), block.data(), 2);
  EXPECT_EQ(std::vector<std::int64_t>(general.begin(), general.begin() + 4),
            (std::vector<std::int64_t>{-8388608, 8388352, -256, 256}));
  EXPECT_EQ(general, block);
}

TEST(WavCodecTest, EncodingKeepsTheLow24BitsAndLeavesInputAlone) {
  const std::array<std::int64_t, 4> samples = {8388608, -8388609, -1, (1 << 24) + 5};
  const std::array<std::int64_t, 4> before = samples;
  Bytes bytes(12, 0xAA);
  NUM24MONO_TO_CHAR(samples.data(), bytes.data(), 4);
  EXPECT_EQ(bytes, (Bytes{0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF,
                          0x05, 0x00, 0x00}));
  EXPECT_EQ(samples, before);
}

TEST(WavCodecTest, EveryValueRoundTripsAndFastFormsMatchGeneralOnes) {
  std::vector<std::int64_t> in(kCodecBlockSamples);
  std::vector<std::int64_t> out_general(kCodecBlockSamples);
  std::vector<std::int64_t> out_block(kCodecBlockSamples);
  std::vector<std::int64_t> out_24(kCodecBlockSamples);
  Bytes general(kCodecBlockBytes);
  Bytes block(kCodecBlockBytes);
  for (std::int64_t first = -8388608; first < 8388608; first += kCodecBlockSamples) {
    for (std::int64_t i = 0; i < kCodecBlockSamples; ++i) in[i] = first + i;
    NUM24MONO_TO_CHAR(in.data(), general.data(), kCodecBlockSamples);
    NUM24MONO_TO_CHAR_BLOCK(in.data(), block.data());
    ASSERT_EQ(general, block) << "block starting at " << first;
    CHAR_TO_NUM32(general.data(), out_general.data(), 3, kCodecBlockSamples);
    CHAR_TO_NUM32_BLOCK(general.data(), out_block.data(), 3);
    CHAR_TO_NUM32_24(general.data(), out_24.data(), kCodecBlockSamples);
    ASSERT_EQ(out_general, in) << "block starting at " << first;
    ASSERT_EQ(out_block, in) << "block starting at " << first;
    ASSERT_EQ(out_24, in) << "block starting at " << first;
  }
}

TEST(WavCodecTest, PerByteRuleGivesTheSameBytesAsTheEncoder) {
  std::vector<std::int64_t> values = {-8388608, -8388607, -65537, -65536, -257, -256,
                                      -129, -128, -1, 0, 1, 127, 128, 255, 256, 65535,
                                      65536, 8388607};
  for (std::int64_t v = -8388608; v < 8388608; v += 9973) values.push_back(v);
  for (const std::int64_t x : values) {
    const int sign = x < 0 ? -1 : 1;
    int low = 0, mid = 0, high = 0;
    const int returned = BITS24_TO_BYTES3(x < 0 ? -x - 1 : x, low, mid, high);
    EXPECT_EQ(returned, low);
    TWOS_COMP24(low, mid, high, sign);
    std::uint8_t encoded[3];
    NUM24MONO_TO_CHAR(&x, encoded, 1);
    EXPECT_EQ(static_cast<std::uint8_t>(low), encoded[0]) << x;
    EXPECT_EQ(static_cast<std::uint8_t>(mid), encoded[1]) << x;
    EXPECT_EQ(static_cast<std::uint8_t>(high), encoded[2]) << x;
  }
}

TEST(WavCodecTest, EmptyCountsAndUnknownWidthsChangeNothing) {
  const Bytes bytes(2 * kCodecBlockBytes, 0x55);
  std::vector<std::int64_t> samples(kCodecBlockSamples, 42);
  CHAR_TO_NUM32(bytes.data(), samples.data(), 3, 0);
  CHAR_TO_NUM32(bytes.data(), samples.data(), 3, -1);
  CHAR_TO_NUM32(bytes.data(), samples.data(), 4, 10);
  CHAR_TO_NUM32_BLOCK(bytes.data(), samples.data(), 4);
  CHAR_TO_NUM32_24(bytes.data(), samples.data(), 0);
  EXPECT_EQ(samples, std::vector<std::int64_t>(kCodecBlockSamples, 42));

  Bytes out(6, 0xAA);
  NUM24MONO_TO_CHAR(samples.data(), out.data(), 0);
  NUM24MONO_TO_CHAR(samples.data(), out.data(), -3);
  EXPECT_EQ(out, Bytes(6, 0xAA));
}

// ---- Readers -------------------------------------------------------------

TEST_F(WavReaderTest, AcceptedTrackFillsOnlyItsOwnEntries) {
  ASSERT_TRUE(MAKE_HEADER("t.wav", 44100, 24, 100, 1));
  AppendBytes("t.wav", 300);
  Attributes a;
  EXPECT_EQ(StdoutOf([&] { EXPECT_EQ(a.Get(5, "t.wav"), 1); }), "");
  EXPECT_EQ(a.channels[5], 1);
  EXPECT_EQ(a.dataOffset[5], 44);
  EXPECT_EQ(a.rate[5], 44100);
  EXPECT_EQ(a.length[5], 100);
  EXPECT_EQ(a.bytesPerSample[5], 3);
  EXPECT_EQ(a.bits[5], 24);
  for (int i : {0, 4, 6, 7}) {
    EXPECT_EQ(a.channels[i], kUntouched);
    EXPECT_EQ(a.length[i], kUntouched);
  }
  // An index the arrays do not have is refused rather than written past.
  EXPECT_EQ(a.Get(8, "t.wav"), 0);
  EXPECT_EQ(a.Get(-1, "t.wav"), 0);
}

TEST_F(WavReaderTest, LengthIsTheSmallerOfDeclaredAndPresent) {
  struct Case {
    std::uint32_t declared_bytes;
    std::size_t held_bytes;
    std::int64_t length_samples;
  };
  const Case cases[] = {
      {3000, 30, 10},           // recording stopped early
      {3000, 31, 10},           // a trailing byte of a partial sample ignored
      {3000, 32, 10},           // and two
      {30, 300, 10},            // header declares fewer than the file holds
      {0x80000000u, 33, 11},    // top bit set: the bytes present decide
      {0xFFFFFFFFu, 33, 11},
  };
  for (const Case& c : cases) {
    WriteBytes("t.wav", MonoTrack(c.declared_bytes, c.held_bytes));
    Attributes a;
    EXPECT_EQ(a.Get(0, "t.wav"), 1);
    EXPECT_EQ(a.length[0], c.length_samples) << "declared " << c.declared_bytes;
    EXPECT_EQ(GET_LENGTH("t.wav"), c.length_samples) << "declared " << c.declared_bytes;
  }
}

TEST_F(WavReaderTest, DataAfterAnExtraChunkIsFoundAtAnEvenOffset) {
  Bytes file = RiffAndFormat(1, 48000, 24);
  PutChunk(file, "LIST", Bytes(10, 0));  // data chunk starts at 54
  PutData(file, 30, 30);
  WriteBytes("t.wav", file);
  Attributes a;
  EXPECT_EQ(a.Get(0, "t.wav"), 1);
  EXPECT_EQ(a.dataOffset[0], 62);
  EXPECT_EQ(a.length[0], 10);
  EXPECT_EQ(a.rate[0], 48000);
}

TEST_F(WavReaderTest, DataMarkerAtAnOddOffsetIsNotFound) {
  Bytes file = RiffAndFormat(1, 48000, 24);
  PutChunk(file, "LIST", Bytes(11, 0));  // data chunk starts at 55
  PutData(file, 30, 30);
  WriteBytes("t.wav", file);
  Attributes a;
  EXPECT_EQ(StdoutOf([&] { EXPECT_EQ(a.Get(0, "t.wav"), 0); }),
            "Cannot find data block in file t.wav!\n");
  // Everything before the data check was still recorded.
  EXPECT_EQ(a.channels[0], 1);
  EXPECT_EQ(a.bits[0], 24);
  EXPECT_EQ(a.rate[0], 48000);
  EXPECT_EQ(a.dataOffset[0], kUntouched);
  EXPECT_EQ(StdoutOf([] { EXPECT_EQ(GET_LENGTH("t.wav"), 0); }),
            "Can't find data block in wave file!\n");
}

TEST_F(WavReaderTest, FirstDataBytesWinEvenInsideAnotherChunk) {
  Bytes inner;
  PutData(inner, 6, 6);  // "data", size 6, 6 bytes: 18 bytes of payload
  Bytes file = RiffAndFormat(1, 48000, 24);
  PutChunk(file, "LIST", inner);  // inner "data" at 44
  PutData(file, 300, 300);
  WriteBytes("t.wav", file);
  Attributes a;
  EXPECT_EQ(a.Get(0, "t.wav"), 1);
  EXPECT_EQ(a.dataOffset[0], 52);
  EXPECT_EQ(a.length[0], 2);
}

TEST_F(WavReaderTest, MarkersAreLookedForFrom2To131072Only) {
  // A "data" at offset 0 is never probed.
  Bytes front = MonoTrack(30, 30);
  std::copy_n("data", 4, front.begin());
  std::copy_n("xxxx", 4, front.begin() + 36);
  WriteBytes("t.wav", front);
  EXPECT_EQ(StdoutOf([] { EXPECT_EQ(GET_LENGTH("t.wav"), 0); }),
            "Can't find data block in wave file!\n");

  // RIFF + fmt take 36 bytes, a JUNK header 8 more; its payload places the
  // data chunk.
  for (const std::int64_t data_at : {131072, 131074}) {
    Bytes file = RiffAndFormat(1, 48000, 24);
    PutChunk(file, "JUNK", Bytes(static_cast<std::size_t>(data_at - 44), 0));
    PutData(file, 30, 30);
    WriteBytes("t.wav", file);
    testing::internal::CaptureStdout();
    const std::int64_t length = GET_LENGTH("t.wav");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(length, data_at == 131072 ? 10 : 0) << "data at " << data_at;
  }
}

TEST_F(WavReaderTest, StereoAnd16BitFilesAreRejectedWithTheirMessages) {
  Bytes stereo = RiffAndFormat(2, 48000, 24);
  PutData(stereo, 60, 60);
  WriteBytes("stereo.wav", stereo);
  Bytes sixteen = RiffAndFormat(1, 48000, 16);
  PutData(sixteen, 20, 20);
  WriteBytes("sixteen.wav", sixteen);

  Attributes a;
  EXPECT_EQ(StdoutOf([&] { EXPECT_EQ(a.Get(0, "stereo.wav"), 0); }),
            "stereo.wav is not a mono file and will not be played\n");
  EXPECT_EQ(a.channels[0], 2);
  EXPECT_EQ(a.bits[0], kUntouched);
  EXPECT_EQ(StdoutOf([&] { EXPECT_EQ(a.Get(1, "sixteen.wav"), 0); }),
            "sixteen.wav is not a 24 bit file and will not be played\n");
  EXPECT_EQ(a.channels[1], 1);
  EXPECT_EQ(a.bits[1], 16);
  EXPECT_EQ(a.length[1], kUntouched);

  EXPECT_EQ(StdoutOf([] { EXPECT_EQ(GET_LENGTH("stereo.wav"), 0); }), "Mono files only\n");
  EXPECT_EQ(StdoutOf([] { EXPECT_EQ(GET_LENGTH("sixteen.wav"), 0); }),
            "24 bit wave files only!\n");
}

TEST_F(WavReaderTest, MissingFileAndMissingFormatChunkAreReported) {
  Attributes a;
  EXPECT_EQ(StdoutOf([&] { EXPECT_EQ(a.Get(0, "gone.wav"), 0); }),
            "Cannot find file in track list called gone.wav!!\n");
  EXPECT_EQ(StdoutOf([] { EXPECT_EQ(GET_LENGTH("gone.wav"), 0); }),
            "Cannot find file in track list called gone.wav!!\n");

  Bytes file;
  PutText(file, std::string_view("RIFF\0\0\0\0WAVE", 12));
  PutChunk(file, "JUNK", Bytes(20, 0));
  PutData(file, 30, 30);
  WriteBytes("nofmt.wav", file);
  EXPECT_EQ(StdoutOf([&] { EXPECT_EQ(a.Get(0, "nofmt.wav"), 0); }),
            "Can't find format chunk in wave file!\n");
  EXPECT_EQ(StdoutOf([] { EXPECT_EQ(GET_LENGTH("nofmt.wav"), 0); }),
            "Can't find format chunk in wave file!\n");
}

TEST_F(WavReaderTest, TruncatedHeadersAreRejectedNotReadPastTheEnd) {
  const Bytes full = MonoTrack(30, 30);
  Attributes a;

  // Ends before the bits field: the field is unreadable, so not 24-bit.
  WriteBytes("t.wav", Bytes(full.begin(), full.begin() + 30));
  EXPECT_EQ(StdoutOf([&] { EXPECT_EQ(a.Get(0, "t.wav"), 0); }),
            "t.wav is not a 24 bit file and will not be played\n");
  EXPECT_EQ(a.bits[0], 0);

  // Ends inside the data size field.
  WriteBytes("t.wav", Bytes(full.begin(), full.begin() + 42));
  EXPECT_EQ(StdoutOf([&] { EXPECT_EQ(a.Get(0, "t.wav"), 0); }),
            "Cannot find data block in file t.wav!\n");

  // A marker cut short by the end of the file does not match.
  WriteBytes("t.wav", Bytes(full.begin(), full.begin() + 39));
  EXPECT_EQ(StdoutOf([] { EXPECT_EQ(GET_LENGTH("t.wav"), 0); }),
            "Can't find data block in wave file!\n");

  WriteBytes("t.wav", Bytes{});
  EXPECT_EQ(StdoutOf([] { EXPECT_EQ(GET_LENGTH("t.wav"), 0); }),
            "Can't find format chunk in wave file!\n");
}

TEST_F(WavReaderTest, FileWrittenBySoxIsAccepted) {
  if (std::system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox not installed";
  ASSERT_EQ(std::system("sox -n -r 48000 -b 24 -c 1 t.wav synth 1 sine 440 2>/dev/null"), 0);
  // For 24 bits sox writes an extensible format chunk (40 bytes) and a fact
  // chunk, so the data chunk is not at 36; the fields the reader needs are
  // still at their usual distances from "fmt".
  const Bytes bytes = ReadBytes("t.wav");
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const std::size_t data_at = text.find("data");
  ASSERT_NE(data_at, std::string_view::npos);

  Attributes a;
  EXPECT_EQ(a.Get(0, "t.wav"), 1);
  EXPECT_EQ(a.channels[0], 1);
  EXPECT_EQ(a.bits[0], 24);
  EXPECT_EQ(a.rate[0], 48000);
  EXPECT_EQ(a.dataOffset[0], static_cast<std::int64_t>(data_at + 8));
  EXPECT_EQ(a.length[0], 48000);
  EXPECT_EQ(GET_LENGTH("t.wav"), 48000);
}

// ---- Size fixer ------------------------------------------------------------

TEST_F(WavFixSizeTest, BothSizesFollowAppendedAudio) {
  ASSERT_TRUE(MAKE_HEADER("t.wav", 44100, 24, 0, 1));
  AppendBytes("t.wav", 3001);
  EXPECT_TRUE(FIX_SIZE("t.wav"));
  const Bytes bytes = ReadBytes("t.wav");
  ASSERT_EQ(bytes.size(), 3045u);
  EXPECT_EQ(Le32At(bytes, 40), 3001);
  EXPECT_EQ(Le32At(bytes, 4), 3037);
  EXPECT_EQ(bytes[44], 0x11) << "audio must be left alone";
  EXPECT_EQ(GET_LENGTH("t.wav"), 1000);
}

TEST_F(WavFixSizeTest, DataSizeIsWrittenAfterTheDataMarkerWhereverItIs) {
  Bytes file = RiffAndFormat(1, 48000, 24);
  PutChunk(file, "LIST", Bytes(10, 0));  // data chunk at 54
  PutData(file, 3, 30);
  WriteBytes("t.wav", file);
  EXPECT_TRUE(FIX_SIZE("t.wav"));
  const Bytes bytes = ReadBytes("t.wav");
  EXPECT_EQ(Le32At(bytes, 58), 30);
  EXPECT_EQ(Le32At(bytes, 4), static_cast<std::int64_t>(bytes.size() - 8));
  EXPECT_EQ(Le32At(bytes, 40), 10) << "the LIST chunk must be left alone";
}

TEST_F(WavFixSizeTest, SizesWrapModulo2To32BeyondFourGigabytes) {
  ASSERT_TRUE(MAKE_HEADER("t.wav", 48000, 24, 0, 1));
  const std::uintmax_t size_bytes = (std::uintmax_t{1} << 32) + 44 + 12;
  std::error_code error;
  fs::resize_file("t.wav", size_bytes, error);  // sparse: no real disk use
  if (error) GTEST_SKIP() << "cannot make a sparse 4 GiB file here";
  EXPECT_TRUE(FIX_SIZE("t.wav"));
  const Bytes header = [] {
    std::ifstream in("t.wav", std::ios::binary);
    Bytes head(44);
    in.read(reinterpret_cast<char*>(head.data()), 44);
    return head;
  }();
  EXPECT_EQ(Le32At(header, 40), 12);
  EXPECT_EQ(Le32At(header, 4), 48);
  EXPECT_EQ(fs::file_size("t.wav"), size_bytes);
}

TEST_F(WavFixSizeTest, MissingFileIsRefusedAndMarkerlessFileEndsTheProgram) {
  bool fixed = true;
  EXPECT_EQ(StdoutOf([&] { fixed = FIX_SIZE("gone.wav"); }),
            "Cannot open gone.wav to update its size!\n");
  EXPECT_FALSE(fixed);

  Bytes file = RiffAndFormat(1, 48000, 24);
  file.insert(file.end(), 200000, 0);  // longer than the scanned range
  WriteBytes("t.wav", file);
  int status = -1;
  const std::string printed = StdoutOf([&] {
    try {
      FIX_SIZE("t.wav");
    } catch (const ProgramExit& exit) {
      status = exit.status;
    }
  });
  EXPECT_EQ(printed, "Can't find data block in wave file!\n");
  EXPECT_EQ(status, 2);
  EXPECT_EQ(ReadBytes("t.wav"), file);
}

// ---- Longest file of a list --------------------------------------------------

class WavLongestFileWithTracksTest : public WavDirTest {
 protected:
  void SetUp() override {
    WavDirTest::SetUp();
    MakeTrack("a.wav", 10);
    MakeTrack("b.wav", 30);
    MakeTrack("c.wav", 20);
  }
  static void MakeTrack(const char* path, std::int64_t length_samples) {
    ASSERT_TRUE(MAKE_HEADER(path, 48000, 24, length_samples, 1));
    AppendBytes(path, static_cast<std::size_t>(3 * length_samples));
  }
};

TEST_F(WavLongestFileTest, SkippedEntriesAndMissingListMeasureNothing) {
  WriteText("play.txt", "-\n-\n-\n");
  EXPECT_EQ(StdoutOf([] { EXPECT_EQ(SEEK_LONG_FILE(3, "-", "play.txt"), 0); }), "");
  EXPECT_EQ(StdoutOf([] { EXPECT_EQ(SEEK_LONG_FILE(3, "-", "none.txt"), 0); }),
            "Playlist file called none.txt was not found!\n");
}

TEST_F(WavLongestFileWithTracksTest, FindsTheLongestWithinTheCountOfEntries) {
  WriteText("play.txt", "a.wav\n-\n\nb.wav\nc.wav\n");
  EXPECT_EQ(StdoutOf([] { EXPECT_EQ(SEEK_LONG_FILE(10, "-", "play.txt"), 30); }),
            "Checking file a.wav\nChecking file b.wav\nChecking file c.wav\n");

  WriteText("play.txt", "a.wav\n-\n\n\nb.wav\nc.wav");
  testing::internal::CaptureStdout();
  EXPECT_EQ(SEEK_LONG_FILE(2, "-", "play.txt"), 10);  // "a.wav", "-"
  EXPECT_EQ(SEEK_LONG_FILE(3, "-", "play.txt"), 30);  // empty lines are no entries
  EXPECT_EQ(SEEK_LONG_FILE(0, "-", "play.txt"), 0);
  testing::internal::GetCapturedStdout();
}

TEST_F(WavLongestFileWithTracksTest, BadEntryPrintsItsOwnMessageFirstAndCountsAsZero) {
  WriteText("play.txt", "gone.wav\nc.wav");
  EXPECT_EQ(StdoutOf([] { EXPECT_EQ(SEEK_LONG_FILE(2, "-", "play.txt"), 20); }),
            "Cannot find file in track list called gone.wav!!\n"
            "Checking file gone.wav\n"
            "Checking file c.wav\n");
}

TEST_F(WavLongestFileWithTracksTest, LongListIsReadWhole) {
  std::string list;
  for (int i = 0; i < 200000; ++i) list += "-\n";
  list += "b.wav\n";
  WriteText("play.txt", list);
  EXPECT_EQ(StdoutOf([] { EXPECT_EQ(SEEK_LONG_FILE(200001, "-", "play.txt"), 30); }),
            "Checking file b.wav\n");
}

}  // namespace
}  // namespace sondrel
