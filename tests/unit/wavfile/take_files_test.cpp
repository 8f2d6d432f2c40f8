#include "wavfile/take_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "console/input.h"
#include "console/terminal_dialog.h"
#include "core/file_io.h"
#include "wavfile/punch_undo.h"
#include "wavfile/wav_format.h"

namespace sondrel {
namespace {

// Says what the file operations tell, on standard output as the program does.
TerminalDialog dialog;

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::int64_t>;

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

std::int64_t Le32At(const std::string& path, std::size_t at) {
  return static_cast<std::uint32_t>(ReadLe32(&ReadBytes(path)[at]));
}

// Distinct samples of both signs, different per seed.
Samples Pattern(std::size_t count, std::int64_t seed) {
  Samples samples(count);
  for (std::size_t i = 0; i < count; ++i) {
    samples[i] = (static_cast<std::int64_t>(i + 1) * seed * 7919 % 8000000) * (i % 2 ? -1 : 1);
  }
  return samples;
}

// A track as the recorder writes it: the canonical header, then the samples.
void WriteTrack(const std::string& path, const Samples& samples) {
  const auto count = static_cast<std::int64_t>(samples.size());
  const WavHeader header = MakeHeaderBytes(44100, 24, count, 1);
  Bytes bytes(kWavHeaderBytes + samples.size() * 3);
  std::copy(header.begin(), header.end(), bytes.begin());
  EncodeSamples24(samples.data(), bytes.data() + kWavHeaderBytes, count);
  WriteBytes(path, bytes);
}

Samples SamplesOf(const std::string& path) {
  const Bytes bytes = ReadBytes(path);
  Samples samples((bytes.size() - kWavHeaderBytes) / 3);
  DecodeSamples24(bytes.data() + kWavHeaderBytes, samples.data(),
                   static_cast<std::int64_t>(samples.size()));
  return samples;
}

template <typename Action>
std::string StdoutOf(Action&& action) {
  testing::internal::CaptureStdout();
  action();
  return testing::internal::GetCapturedStdout();
}

// Each test works in a fresh project directory.
class TakeFileTest : public testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/sondrel_takes_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    EXPECT_EQ(chdir(previous_.c_str()), 0);
    fs::remove_all(dir_);
  }
  const fs::path previous_ = fs::current_path();
  fs::path dir_;
};

using TakeFilePadTest = TakeFileTest;
using TakeFileInsertTest = TakeFileTest;
using TakeFileCrossfadeTest = TakeFileTest;
using TakeFileCopyTest = TakeFileTest;
using TakeFileListTest = TakeFileTest;

TEST_F(TakeFilePadTest, PutsSilenceBeforeTheAudioAndFixesTheSizes) {
  const Samples take = Pattern(5000, 3);
  WriteTrack("take.wav", take);
  WriteTrack("same.wav", take);
  EXPECT_TRUE(PadTrackStart("take.wav", 1000, dialog));
  EXPECT_TRUE(PadTrackStart("same.wav", 0, dialog));
  Samples expected(1000, 0);
  expected.insert(expected.end(), take.begin(), take.end());
  EXPECT_EQ(SamplesOf("take.wav"), expected);
  EXPECT_EQ(Le32At("take.wav", 40), 18000);
  EXPECT_EQ(Le32At("take.wav", 4), 18036);
  EXPECT_EQ(SamplesOf("same.wav"), take);
  EXPECT_FALSE(fs::exists("temp_pad.wav") || fs::exists("temp_data.wav"));
}

TEST_F(TakeFilePadTest, FailuresLeaveTheTrackAsItWasAndNoWorkFile) {
  WriteTrack("take.wav", Pattern(100, 2));
  const Bytes original = ReadBytes("take.wav");
  fs::create_directory("temp_pad.wav");
  bool padded = true;
  EXPECT_EQ(StdoutOf([&] { padded = PadTrackStart("take.wav", 10, dialog); }),
            "Could not create temp_pad.wav: Is a directory\n");
  EXPECT_FALSE(padded);
  EXPECT_EQ(ReadBytes("take.wav"), original);
  EXPECT_TRUE(fs::is_directory("temp_pad.wav"));

  fs::remove("temp_pad.wav");
  WriteBytes("bad.wav", Bytes(200, 0x41));  // no data marker
  int status = 0;
  EXPECT_EQ(StdoutOf([&] {
              try {
                EXPECT_FALSE(PadTrackStart("bad.wav", 10, dialog));
              } catch (const ProgramExit& exit) {
                status = exit.status;
              }
            }),
            "Can't find data block in wave file!\n");
  EXPECT_EQ(status, 2);
  EXPECT_FALSE(fs::exists("temp_pad.wav"));
}

TEST_F(TakeFileInsertTest, OverwritesThePunchedSamplesAndGrowsPastTheEnd) {
  const Samples old_audio = Pattern(1000, 3);
  const Samples take = Pattern(50, 11);
  for (const char* name : {"mid.wav", "near.wav", "past.wav"}) WriteTrack(name, old_audio);
  WriteTrack("take.wav", take);
  const Bytes before = ReadBytes("mid.wav");
  EXPECT_TRUE(PunchInPlace("mid.wav", "take.wav", 100, 50, dialog));
  EXPECT_TRUE(PunchInPlace("mid.wav", "take.wav", 500, 20, dialog));  // 20 of the 50
  EXPECT_TRUE(PunchInPlace("near.wav", "take.wav", 990, 50, dialog));
  EXPECT_TRUE(PunchInPlace("past.wav", "take.wav", 1100, 50, dialog));

  const Bytes mid = ReadBytes("mid.wav");
  ASSERT_EQ(mid.size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + 44, mid.begin())) << "header kept";
  Samples expected = old_audio;
  std::copy(take.begin(), take.end(), expected.begin() + 100);
  std::copy(take.begin(), take.begin() + 20, expected.begin() + 500);
  EXPECT_EQ(SamplesOf("mid.wav"), expected);

  expected.assign(old_audio.begin(), old_audio.begin() + 990);
  expected.insert(expected.end(), take.begin(), take.end());
  EXPECT_EQ(SamplesOf("near.wav"), expected);
  EXPECT_EQ(Le32At("near.wav", 40), 3120);
  EXPECT_EQ(Le32At("near.wav", 4), 3156);

  expected = old_audio;
  expected.resize(1100, 0);  // the gap is silence
  expected.insert(expected.end(), take.begin(), take.end());
  EXPECT_EQ(SamplesOf("past.wav"), expected);
  EXPECT_EQ(Le32At("past.wav", 40), 3450);
  EXPECT_FALSE(fs::exists("mid.wav.tmp"));
}

TEST_F(TakeFileInsertTest, FailuresLeaveTheDestinationAsItWas) {
  WriteTrack("track.wav", Pattern(1000, 3));
  WriteTrack("take.wav", Pattern(50, 11));
  const Bytes original = ReadBytes("track.wav");
  fs::create_directory("takes");
  const auto insert = [](const char* source) {
    bool inserted = true;
    const std::string text =
        StdoutOf([&] { inserted = PunchInPlace("track.wav", source, 100, 50, dialog); });
    EXPECT_FALSE(inserted) << source;
    return text;
  };
  // An undo record still waiting to be put back is never overwritten.
  WriteBytes("punch-in.undo", {7});
  EXPECT_EQ(insert("take.wav"),
            "An earlier punch-in is still to be undone from punch-in.undo: track.wav is left as it is\n");
  EXPECT_EQ(ReadBytes("punch-in.undo"), Bytes{7});
  fs::remove("punch-in.undo");
  EXPECT_EQ(insert("takes"), "Could not open takes: Is a directory\n");
  EXPECT_EQ(ReadBytes("track.wav"), original);
  EXPECT_FALSE(fs::exists("punch-in.undo"));
}

TEST_F(TakeFileInsertTest, PunchInWritesInPlaceAndLeavesNoUndoRecord) {
  WriteTrack("track.wav", Pattern(1000, 3));
  WriteTrack("take.wav", Pattern(50, 11));
  struct stat before {};
  struct stat after {};
  ASSERT_EQ(stat("track.wav", &before), 0);
  ASSERT_TRUE(PunchInPlace("track.wav", "take.wav", 100, 50, dialog));
  ASSERT_EQ(stat("track.wav", &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);  // the same file, not a rebuilt copy
  EXPECT_FALSE(fs::exists("punch-in.undo"));
  EXPECT_FALSE(fs::exists("punch-in.undo.tmp"));
}

// A punch-in cut off part way (the process or the machine stopped) leaves
// its undo record; the next start puts the file back exactly.
TEST_F(TakeFileInsertTest, AnInterruptedPunchInIsPutBackAtStart) {
  WriteTrack("track.wav", Pattern(1000, 3));
  const Bytes original = ReadBytes("track.wav");
  {
    FilePtr track = OpenFile("track.wav", "r+b");
    PunchUndo undo;
    // 200 samples from sample 900: 100 of them past the old end.
    ASSERT_TRUE(SavePunchUndo(track.get(), "track.wav", 3044, 44, 44 + 900 * 3, 600, undo, dialog));
    const Bytes torn(450, 0x55);  // half the punch, and a changed size field
    ASSERT_TRUE(WriteAt(track.get(), 44 + 900 * 3, torn.data(), torn.size()));
    const std::uint8_t size_field[4] = {1, 2, 3, 4};
    ASSERT_TRUE(WriteAt(track.get(), 40, size_field, 4));
  }  // never committed or undone
  ASSERT_NE(ReadBytes("track.wav"), original);
  WriteBytes("punch-in.undo.tmp", {1, 2, 3});  // an unfinished record of a punch-in that never began
  EXPECT_EQ(StdoutOf([] { RecoverInterruptedPunch(dialog); }),
            "A punch-in into track.wav was cut off; the file was put back as it was before it\n");
  EXPECT_EQ(ReadBytes("track.wav"), original);
  EXPECT_FALSE(fs::exists("punch-in.undo"));
  EXPECT_FALSE(fs::exists("punch-in.undo.tmp"));
  EXPECT_EQ(StdoutOf([] { RecoverInterruptedPunch(dialog); }), "");  // nothing left to do
}

// A damaged record must never be written over a track: it is reported and
// kept, and punch-ins are refused until someone looks at it.
TEST_F(TakeFileInsertTest, ADamagedUndoRecordIsNotApplied) {
  WriteTrack("track.wav", Pattern(1000, 3));
  {
    FilePtr track = OpenFile("track.wav", "r+b");
    PunchUndo undo;
    ASSERT_TRUE(SavePunchUndo(track.get(), "track.wav", 3044, 44, 44 + 100 * 3, 300, undo, dialog));
  }
  const Bytes record = ReadBytes("punch-in.undo");
  WriteBytes("punch-in.undo", Bytes(record.begin(), record.end() - 1));
  const Bytes track = ReadBytes("track.wav");
  EXPECT_EQ(StdoutOf([] { RecoverInterruptedPunch(dialog); }), "Could not read punch-in.undo: it is damaged\n");
  EXPECT_EQ(ReadBytes("track.wav"), track);
  EXPECT_TRUE(fs::exists("punch-in.undo"));
}

// Destination and source of 10 samples each, and an output holding a header.
const Samples kDest = Pattern(10, 5);
const Samples kSource = Pattern(10, 17);

void WriteFadeFiles() {
  WriteTrack("d.wav", kDest);
  WriteTrack("s.wav", kSource);
  ASSERT_TRUE(CreateWavFile("out.wav", 44100, 24, 4, 1));
}

std::int64_t Faded(std::int64_t d, std::int64_t s, int i) {
  const double theta = (i / 4.0) * 1.570796327;
  return static_cast<std::int64_t>(std::trunc(d * std::cos(theta) + s * std::sin(theta)));
}

TEST_F(TakeFileCrossfadeTest, FollowsTheEqualPowerCurveWithSilencePastTheEnd) {
  WriteFadeFiles();
  // Reads start half a fade before the positions: destination 3, source 1.
  EXPECT_TRUE(WriteCrossfade(5, 3, 4, "d.wav", "s.wav", "out.wav", 2, dialog));
  Samples expected;
  for (int i = 0; i < 4; ++i) expected.push_back(Faded(kDest[3 + i], kSource[1 + i], i));
  EXPECT_EQ(SamplesOf("out.wav"), expected);

  // From destination sample 8 the fade runs two samples past its end.
  ASSERT_TRUE(CreateWavFile("out.wav", 44100, 24, 4, 1));
  EXPECT_TRUE(WriteCrossfade(9, 3, 4, "d.wav", "s.wav", "out.wav", 1, dialog));
  expected = {Faded(kDest[8], kSource[2], 0), Faded(kDest[9], kSource[3], 1),
              Faded(0, kSource[4], 2), Faded(0, kSource[5], 3)};
  EXPECT_EQ(SamplesOf("out.wav"), expected);
}

TEST_F(TakeFileCrossfadeTest, InvalidStartsWriteNothing) {
  WriteFadeFiles();
  const auto fade = [](std::int64_t d_pos, std::int64_t s_pos, const std::string& message) {
    bool made = true;
    EXPECT_EQ(StdoutOf([&] { made = WriteCrossfade(d_pos, s_pos, 4, "d.wav", "s.wav", "out.wav", 2, dialog); }),
              message);
    return made;
  };
  EXPECT_FALSE(fade(1, 5, "Invalid crossfade for destination file at sample -1\n"));
  EXPECT_FALSE(fade(13, 5, "Invalid crossfade for destination file at sample 11\n"));
  EXPECT_FALSE(fade(5, 13, "Invalid crossfade for source file at sample 11\n"));
  EXPECT_EQ(ReadBytes("out.wav").size(), 44u);
}

TEST_F(TakeFileCrossfadeTest, SumsBeyondFullScaleSaturate) {
  WriteTrack("loud.wav", Samples(4, 8388607));
  WriteTrack("low.wav", Samples(4, -8388608));
  for (const char* out : {"up.wav", "down.wav"}) ASSERT_TRUE(CreateWavFile(out, 44100, 24, 4, 1));
  EXPECT_TRUE(WriteCrossfade(0, 0, 4, "loud.wav", "loud.wav", "up.wav", 0, dialog));
  EXPECT_TRUE(WriteCrossfade(0, 0, 4, "low.wav", "low.wav", "down.wav", 0, dialog));
  EXPECT_EQ(SamplesOf("up.wav"), Samples(4, 8388607));
  EXPECT_EQ(SamplesOf("down.wav"), Samples(4, -8388608));
}

TEST_F(TakeFileCopyTest, CopiesEveryByteUnderTheStampedName) {
  Bytes odd(2 * 4096 + 123);
  for (std::size_t i = 0; i < odd.size(); ++i) odd[i] = static_cast<std::uint8_t>(i * 31 + 7);
  WriteBytes("bass.wav", odd);
  WriteBytes("notes", odd);
  int result = 0;
  EXPECT_EQ(StdoutOf([&] { result = BackUpTrack(4711, "bass.wav", dialog); }),
            "Copied bass.wav to bass_bkup_4711.wav\n");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(ReadBytes("bass_bkup_4711.wav"), odd);
  // No '.' keeps the whole name; the stamp is taken as a 32-bit integer.
  StdoutOf([&] { result = BackUpTrack((std::int64_t{1} << 32) + 7, "notes", dialog); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(ReadBytes("notes_bkup_7.wav"), odd);
}

TEST_F(TakeFileCopyTest, RefusalsLeaveAnOlderBackupAlone) {
  const auto copy = [](const std::string& path) {
    int result = 1;
    const std::string text = StdoutOf([&] { result = BackUpTrack(1, path.c_str(), dialog); });
    EXPECT_EQ(result, 0) << path;
    return text;
  };
  EXPECT_EQ(copy("gone.wav"), "File gone.wav does not exist\n");
  const std::string long_base(246, 'a');  // its backup name would be 257 characters
  WriteBytes(long_base + ".wav", {1});
  EXPECT_EQ(copy(long_base + ".wav"), "Cannot create backup file " + long_base + "_bkup_1.wav\n");
  WriteBytes("bass.wav", {1, 2, 3});
  WriteBytes("bass_bkup_1.wav", {9});
  fs::create_directory("bass_bkup_1.tmp");
  EXPECT_NE(copy("bass.wav").find("Cannot create backup file bass_bkup_1.wav\n"),
            std::string::npos);
  EXPECT_EQ(ReadBytes("bass_bkup_1.wav"), Bytes{9});
}

TEST_F(TakeFileListTest, StampsRecordedEntriesAndRemovesStamps) {
  for (const char* name : {"a.wav", "c.wav", "d.wav", "e.wav", "x_stp_88200.wav"}) {
    WriteBytes(name, {1});
  }
  std::array<int, kMaxChannels> recorded{};
  recorded = {1, 1, 1, 1, 0, 1};
  bool done = true;
  EXPECT_EQ(StdoutOf([&] {
              done =
                  StampTakeNames(5, "a.wav\n\n-\nmissing.wav\ne.wav\nc.wav\nd.wav", 44100, recorded, dialog);
            }),
            "Could not rename missing.wav to missing_stp_44100.wav: No such file or directory\n");
  EXPECT_FALSE(done);
  EXPECT_TRUE(fs::exists("a_stp_44100.wav") && fs::exists("e_stp_44100.wav")) << "nothing stops";
  EXPECT_TRUE(fs::exists("c.wav") && fs::exists("d.wav")) << "not recorded, beyond the count";
  EXPECT_TRUE(RemoveTakeStamp("x_stp_88200.wav", dialog) && RemoveTakeStamp("c.wav", dialog) && RemoveTakeStamp("-", dialog));
  EXPECT_TRUE(fs::exists("x.wav") && fs::exists("c.wav"));
}

TEST_F(TakeFileListTest, RenamesAndRemovalsPassOverDashesAndGoOnAfterAFailure) {
  for (const char* name : {"t1.wav", "t4.wav", "t5.wav", "a.wav", "b.wav"}) WriteBytes(name, {1});
  WriteBytes("r1.wav", {9});
  fs::create_directory("dir");
  bool done = true;
  EXPECT_EQ(StdoutOf([&] {
              done = RenameListedFiles(5, "t1.wav\n-\nmissing.wav\nt4.wav\nt5.wav",
                                  "r1.wav\nr2.wav\nr3.wav\n-\nr5.wav", dialog);
            }),
            "Could not rename missing.wav to r3.wav: No such file or directory\n");
  EXPECT_FALSE(done);
  EXPECT_EQ(ReadBytes("r1.wav"), Bytes{1}) << "an existing target is replaced";
  EXPECT_TRUE(fs::exists("t4.wav") && fs::exists("r5.wav"));

  // A file already gone is fine; a directory is never deleted.
  EXPECT_EQ(StdoutOf([&] { done = DeleteListedFiles(5, "a.wav\n-\ndir\ngone.wav\nb.wav\nt4.wav", dialog); }),
            "Could not delete dir: Is a directory\n");
  EXPECT_FALSE(done);
  EXPECT_FALSE(fs::exists("a.wav") || fs::exists("b.wav"));
  EXPECT_TRUE(fs::is_directory("dir") && fs::exists("t4.wav"));
}

}  // namespace
}  // namespace sondrel
