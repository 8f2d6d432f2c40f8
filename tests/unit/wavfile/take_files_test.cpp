#include "wavfile/take_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <vector>

#include "console/terminal_dialog.h"
#include "core/file_io.h"
#include "core/program_exit.h"
#include "tests/support/project.h"
#include "wavfile/punch_undo.h"
#include "wavfile/wav_format.h"

namespace sondrel {
namespace {

using namespace sondrel::test;  // NOLINT
namespace fs = std::filesystem;
using Samples = std::vector<int>;

// Says what the file operations tell, on standard output as the program does.
TerminalDialog dialog;

// The operations work on the current directory: each test runs in its project.
class TakeFileTest : public InProjectTest {
 protected:
  // The fade of `length` samples from one file into another, on a fresh output.
  Samples Fade(std::int64_t dPos, std::int64_t sPos, std::int64_t length, const char* d, const char* s,
               std::int64_t half) const {
    EXPECT_TRUE(CreateWavFile("out.wav", 44100, 24, length, 1));
    EXPECT_TRUE(WriteCrossfade(dPos, sPos, length, d, s, "out.wav", half, dialog));
    return ReadSamples("out.wav");
  }
};

// Distinct samples of both signs.
const Samples kOld = Ramp(1000, -3000000, 6007);
const Samples kTake = Ramp(50, 4000000, -160001);

TEST_F(TakeFileTest, PadPutsSilenceBeforeTheAudioAndFixesTheSizes) {
  WriteWav("take.wav", kOld);
  WriteWav("same.wav", kOld);
  EXPECT_TRUE(PadTrackStart("take.wav", 1000, dialog));
  EXPECT_TRUE(PadTrackStart("same.wav", 0, dialog));
  Samples expected(1000, 0);
  expected.insert(expected.end(), kOld.begin(), kOld.end());
  EXPECT_EQ(ReadFile("take.wav"), MonoWavBytes(expected));  // data and RIFF sizes too
  EXPECT_EQ(ReadFile("same.wav"), MonoWavBytes(kOld));
  EXPECT_EQ(StrayWorkFiles(), std::vector<std::string>{});

  // Failures leave the track as it was and no work file.
  fs::create_directory("temp_pad.wav");
  bool padded = true;
  EXPECT_EQ(CapturedStdout([&] { padded = PadTrackStart("same.wav", 10, dialog); }),
            "Could not create temp_pad.wav: Is a directory\n");
  EXPECT_FALSE(padded);
  EXPECT_EQ(ReadFile("same.wav"), MonoWavBytes(kOld));
  EXPECT_TRUE(fs::is_directory("temp_pad.wav"));
  fs::remove("temp_pad.wav");
  WriteFile("bad.wav", std::string(200, 'A'));  // no data marker
  int status = 0;
  EXPECT_EQ(CapturedStdout([&] {
              try {
                (void)PadTrackStart("bad.wav", 10, dialog);
              } catch (const ProgramExit& exit) {
                status = exit.status;
              }
            }),
            "Can't find data block in wave file!\n");
  EXPECT_EQ(status, 2);  // the program cannot go on
  EXPECT_EQ(StrayWorkFiles(), std::vector<std::string>{});
}

TEST_F(TakeFileTest, PunchInOverwritesInPlaceGrowsPastTheEndOrLeavesTheFileAlone) {
  for (const char* name : {"mid.wav", "near.wav", "past.wav"}) WriteWav(name, kOld);
  WriteWav("take.wav", kTake);
  struct stat before {}, after {};
  ASSERT_EQ(stat("mid.wav", &before), 0);
  EXPECT_TRUE(PunchInPlace("mid.wav", "take.wav", 100, 50, dialog));
  EXPECT_TRUE(PunchInPlace("mid.wav", "take.wav", 500, 20, dialog));  // 20 of the 50
  EXPECT_TRUE(PunchInPlace("near.wav", "take.wav", 990, 50, dialog));
  EXPECT_TRUE(PunchInPlace("past.wav", "take.wav", 1100, 50, dialog));
  ASSERT_EQ(stat("mid.wav", &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);  // the same file, not a rebuilt copy

  Samples expected = kOld;
  std::copy(kTake.begin(), kTake.end(), expected.begin() + 100);
  std::copy(kTake.begin(), kTake.begin() + 20, expected.begin() + 500);
  EXPECT_EQ(ReadFile("mid.wav"), MonoWavBytes(expected));
  expected.assign(kOld.begin(), kOld.begin() + 990);
  expected.insert(expected.end(), kTake.begin(), kTake.end());
  EXPECT_EQ(ReadFile("near.wav"), MonoWavBytes(expected));
  expected = kOld;
  expected.resize(1100, 0);  // the gap is silence
  expected.insert(expected.end(), kTake.begin(), kTake.end());
  EXPECT_EQ(ReadFile("past.wav"), MonoWavBytes(expected));
  EXPECT_EQ(StrayWorkFiles(), std::vector<std::string>{});  // no undo record either
  EXPECT_FALSE(Exists("punch-in.undo.tmp"));

  // Failures leave the destination as it was.
  WriteWav("track.wav", kOld);
  fs::create_directory("takes");
  const auto insert = [](const char* source) {
    bool inserted = true;
    const std::string text = CapturedStdout([&] { inserted = PunchInPlace("track.wav", source, 100, 50, dialog); });
    EXPECT_FALSE(inserted) << source;
    return text;
  };
  // An undo record still waiting to be put back is never overwritten.
  WriteFile("punch-in.undo", "\x07");
  EXPECT_EQ(insert("take.wav"),
            "An earlier punch-in is still to be undone from punch-in.undo: track.wav is left as it is\n");
  EXPECT_EQ(ReadFile("punch-in.undo"), "\x07");
  fs::remove("punch-in.undo");
  EXPECT_EQ(insert("takes"), "Could not open takes: Is a directory\n");
  EXPECT_EQ(ReadFile("track.wav"), MonoWavBytes(kOld));
  EXPECT_FALSE(Exists("punch-in.undo"));
}

// A punch-in cut off part way (the process or the machine stopped) leaves
// its undo record; the next start puts the file back exactly. A damaged
// record is never written over a track: it is reported and kept.
TEST_F(TakeFileTest, AnInterruptedPunchInIsPutBackAtStartUnlessItsRecordIsDamaged) {
  WriteWav("track.wav", kOld);
  const std::string original = ReadFile("track.wav");
  {
    FilePtr track = OpenFile("track.wav", "r+b");
    PunchUndo undo;
    // 200 samples from sample 900: 100 of them past the old end.
    ASSERT_TRUE(SavePunchUndo(track.get(), "track.wav", 3044, 44, 44 + 900 * 3, 600, undo, dialog));
    const std::string torn(450, 'U');  // half the punch, and a changed size field
    ASSERT_TRUE(WriteAt(track.get(), 44 + 900 * 3, torn.data(), torn.size()));
    ASSERT_TRUE(WriteAt(track.get(), 40, "\x01\x02\x03\x04", 4));
  }  // never committed or undone
  ASSERT_NE(ReadFile("track.wav"), original);
  const std::string record = ReadFile("punch-in.undo");
  WriteFile("punch-in.undo", record.substr(0, record.size() - 1));
  const std::string torn = ReadFile("track.wav");
  EXPECT_EQ(CapturedStdout([] { RecoverInterruptedPunch(dialog); }), "Could not read punch-in.undo: it is damaged\n");
  EXPECT_EQ(ReadFile("track.wav"), torn);
  EXPECT_TRUE(Exists("punch-in.undo"));

  WriteFile("punch-in.undo", record);
  WriteFile("punch-in.undo.tmp", "\x01\x02\x03");  // the unfinished record of a punch-in that never began
  EXPECT_EQ(CapturedStdout([] { RecoverInterruptedPunch(dialog); }),
            "A punch-in into track.wav was cut off; the file was put back as it was before it\n");
  EXPECT_EQ(ReadFile("track.wav"), original);
  EXPECT_FALSE(Exists("punch-in.undo") || Exists("punch-in.undo.tmp"));
  EXPECT_EQ(CapturedStdout([] { RecoverInterruptedPunch(dialog); }), "");  // nothing left to do
}

TEST_F(TakeFileTest, CrossfadeKeepsThePowerLevelAcrossTheFade) {
  // 2048 samples, over two of the fade's blocks.
  constexpr int kLevel = 4000000, kLength = 2048;
  WriteWav("level.wav", Samples(3000, kLevel));
  WriteWav("quiet.wav", Samples(3000, 0));
  const Samples down = Fade(1500, 1500, kLength, "level.wav", "quiet.wav", 1024);
  const Samples up = Fade(1500, 1500, kLength, "quiet.wav", "level.wav", 1024);
  ASSERT_EQ(down.size(), static_cast<std::size_t>(kLength));
  ASSERT_EQ(up.size(), down.size());
  EXPECT_EQ(down[0], kLevel);  // starts as the destination
  EXPECT_EQ(up[0], 0);
  EXPECT_LE(std::abs(up.back() - kLevel), 8);  // ends as the source
  EXPECT_LE(down.back(), kLevel / 1000);
  for (int i = 1; i < kLength; ++i) {
    ASSERT_LE(down[i], down[i - 1]) << i;
    ASSERT_GE(up[i], up[i - 1]) << i;
    const double power = (std::pow(down[i], 2.0) + std::pow(up[i], 2.0)) / std::pow(kLevel, 2.0);
    ASSERT_NEAR(power, 1.0, 1e-5) << i;
  }
  // Halfway, each side is 3 dB down, not 6 as in a straight-line fade.
  EXPECT_NEAR(up[kLength / 2], kLevel * std::sqrt(0.5), 2.0);
  // Samples are cut toward zero, so a negative signal fades as the mirror image.
  WriteWav("negative.wav", Samples(3000, -kLevel));
  Samples mirrored = Fade(1500, 1500, kLength, "negative.wav", "quiet.wav", 1024);
  for (int& sample : mirrored) sample = -sample;
  EXPECT_EQ(mirrored, down);
}

Samples Signs(Samples samples) {
  for (int& s : samples) s = (s > 0) - (s < 0);
  return samples;
}

TEST_F(TakeFileTest, CrossfadeReadsHalfAFadeBeforeItsPositionsAndSilencePastTheEnd) {
  // One click in each file shows where the fade read them: destination
  // sample 4 (positive), source sample 3 (negative).
  Samples d(10, 0), s(10, 0);
  d[4] = 1000000, s[3] = -1000000;
  WriteWav("d.wav", d);
  WriteWav("s.wav", s);
  // Reads start half a fade before the positions: destination 3, source 1.
  EXPECT_EQ(Signs(Fade(5, 3, 4, "d.wav", "s.wav", 2)), (Samples{0, 1, -1, 0}));
  // From destination sample 8 of 10 the fade runs two samples past its end.
  WriteWav("d.wav", Samples(10, 1000000));
  const Samples past = Fade(9, 3, 4, "d.wav", "s.wav", 1);
  EXPECT_EQ(Signs(past), (Samples{1, 1, 0, 0}));
  EXPECT_EQ(past.at(0), 1000000);
  // Sums beyond full scale saturate instead of wrapping round.
  WriteWav("loud.wav", Samples(4, 8388607));
  WriteWav("low.wav", Samples(4, -8388608));
  EXPECT_EQ(Fade(0, 0, 4, "loud.wav", "loud.wav", 0), Samples(4, 8388607));
  EXPECT_EQ(Fade(0, 0, 4, "low.wav", "low.wav", 0), Samples(4, -8388608));

  const struct { std::int64_t d, s; const char* told; } invalid[] = {
      {1, 5, "Invalid crossfade for destination file at sample -1\n"},
      {13, 5, "Invalid crossfade for destination file at sample 11\n"},
      {5, 13, "Invalid crossfade for source file at sample 11\n"}};
  ASSERT_TRUE(CreateWavFile("out.wav", 44100, 24, 4, 1));
  for (const auto& c : invalid) {
    bool made = true;
    EXPECT_EQ(CapturedStdout([&] { made = WriteCrossfade(c.d, c.s, 4, "d.wav", "s.wav", "out.wav", 2, dialog); }),
              c.told);
    EXPECT_FALSE(made);
  }
  EXPECT_EQ(ReadFile("out.wav").size(), 44u);  // nothing written
}

TEST_F(TakeFileTest, BackupCopiesEveryByteUnderTheStampedName) {
  std::string odd(2 * 4096 + 123, '\0');
  for (std::size_t i = 0; i < odd.size(); ++i) odd[i] = static_cast<char>(i * 31 + 7);
  WriteFile("bass.wav", odd);
  WriteFile("notes", odd);
  const auto backUp = [](std::int64_t stamp, const std::string& path, bool made) {
    bool result = !made;
    const std::string text = CapturedStdout([&] { result = BackUpTrack(stamp, path.c_str(), dialog); });
    EXPECT_EQ(result, made) << path;
    return text;
  };
  EXPECT_EQ(backUp(4711, "bass.wav", true), "Copied bass.wav to bass_bkup_4711.wav\n");
  EXPECT_EQ(ReadFile("bass_bkup_4711.wav"), odd);
  // No '.' keeps the whole name; the stamp is taken as a 32-bit integer.
  backUp((std::int64_t{1} << 32) + 7, "notes", true);
  EXPECT_EQ(ReadFile("notes_bkup_7.wav"), odd);

  // Refusals leave an older backup alone.
  EXPECT_EQ(backUp(1, "gone.wav", false), "File gone.wav does not exist\n");
  const std::string longBase(246, 'a');  // its backup name would be 257 characters
  WriteFile(longBase + ".wav", "x");
  EXPECT_EQ(backUp(1, longBase + ".wav", false), "Cannot create backup file " + longBase + "_bkup_1.wav\n");
  WriteFile("bass_bkup_1.wav", "old");
  fs::create_directory("bass_bkup_1.tmp");
  EXPECT_NE(backUp(1, "bass.wav", false).find("Cannot create backup file bass_bkup_1.wav\n"), std::string::npos);
  EXPECT_EQ(ReadFile("bass_bkup_1.wav"), "old");
}

TEST_F(TakeFileTest, ListOperationsPassOverDashesAndGoOnAfterAFailure) {
  for (const char* name : {"a.wav", "c.wav", "d.wav", "e.wav", "x_stp_88200.wav", "t1.wav", "t4.wav", "t5.wav"}) {
    WriteFile(name, "1");
  }
  WriteFile("r1.wav", "9");
  fs::create_directory("dir");
  std::array<int, kMaxChannels> recorded{1, 1, 1, 1, 0, 1};
  bool done = true;
  EXPECT_EQ(CapturedStdout([&] {
              done = StampTakeNames(5, "a.wav\n\n-\nmissing.wav\ne.wav\nc.wav\nd.wav", 44100, recorded, dialog);
            }),
            "Could not rename missing.wav to missing_stp_44100.wav: No such file or directory\n");
  EXPECT_FALSE(done);
  EXPECT_TRUE(Exists("a_stp_44100.wav") && Exists("e_stp_44100.wav")) << "nothing stops";
  EXPECT_TRUE(Exists("c.wav") && Exists("d.wav")) << "not recorded, beyond the count";
  EXPECT_TRUE(RemoveTakeStamp("x_stp_88200.wav", dialog) && RemoveTakeStamp("c.wav", dialog) &&
              RemoveTakeStamp("-", dialog));
  EXPECT_TRUE(Exists("x.wav") && Exists("c.wav"));

  EXPECT_EQ(CapturedStdout([&] {
              done = RenameListedFiles(5, "t1.wav\n-\nmissing.wav\nt4.wav\nt5.wav", "r1.wav\nr2.wav\nr3.wav\n-\nr5.wav",
                                       dialog);
            }),
            "Could not rename missing.wav to r3.wav: No such file or directory\n");
  EXPECT_FALSE(done);
  EXPECT_EQ(ReadFile("r1.wav"), "1") << "an existing target is replaced";
  EXPECT_TRUE(Exists("t4.wav") && Exists("r5.wav"));

  // A file already gone is fine; a directory is never deleted.
  EXPECT_EQ(CapturedStdout([&] { done = DeleteListedFiles(5, "a_stp_44100.wav\n-\ndir\ngone.wav\nd.wav\nt4.wav", dialog); }),
            "Could not delete dir: Is a directory\n");
  EXPECT_FALSE(done);
  EXPECT_FALSE(Exists("a_stp_44100.wav") || Exists("d.wav"));
  EXPECT_TRUE(fs::is_directory("dir") && Exists("t4.wav"));
}

}  // namespace
}  // namespace sondrel
