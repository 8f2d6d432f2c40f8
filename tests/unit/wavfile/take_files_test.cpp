#include "wavfile/take_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <vector>

#include "console/terminal_dialog.h"
#include "core/file_io.h"
#include "tests/support/project.h"
#include "wavfile/punch_undo.h"
#include "wavfile/wav_format.h"

namespace sondrel {
namespace {

using namespace sondrel::test;  // NOLINT
using Samples = std::vector<int>;

// Says what the file operations tell, on standard output as the program does.
TerminalDialog dialog;

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

// What a file operation that must fail tells.
std::string ToldOnFailure(const std::function<bool()>& operation) {
  bool done = true;
  const std::string told = CapturedStdout([&] { done = operation(); });
  EXPECT_FALSE(done) << told;
  return told;
}

// Distinct samples of both signs.
const Samples kOld = Ramp(1000, -3000000, 6007);
const Samples kTake = Ramp(50, 4000000, -160001);

// Inside the file, across its end, then past it: the file is written in place. (Punch-ins that fail, sample-exact ones
// on a device, and that none leaves a work file behind are checked end to end.)
TEST_F(TakeFileTest, PunchInOverwritesInPlaceAndGrowsPastTheEnd) {
  WriteWav("track.wav", kOld);
  WriteWav("take.wav", kTake);
  struct stat before {}, after {};
  ASSERT_EQ(stat("track.wav", &before), 0);
  EXPECT_TRUE(PunchInPlace("track.wav", "take.wav", 100, 20, dialog));  // 20 of the 50
  EXPECT_TRUE(PunchInPlace("track.wav", "take.wav", 990, 50, dialog));
  EXPECT_TRUE(PunchInPlace("track.wav", "take.wav", 1100, 50, dialog));
  ASSERT_EQ(stat("track.wav", &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);  // the same file, not a rebuilt copy
  Samples expected = kOld;
  expected.resize(1150, 0);  // the gap from 1040 to 1100 is silence
  std::copy(kTake.begin(), kTake.begin() + 20, expected.begin() + 100);
  std::copy(kTake.begin(), kTake.end(), expected.begin() + 990);
  std::copy(kTake.begin(), kTake.end(), expected.begin() + 1100);
  EXPECT_EQ(ReadFile("track.wav"), MonoWavBytes(expected));
}

// A punch-in cut off part way (the process or the machine stopped) leaves its undo record; the next start puts the file
// back exactly, its size fields too (a plain recovery is checked end to end). A damaged record is never written over a
// track: it is reported and kept.
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
  const std::string record = ReadFile("punch-in.undo");
  WriteFile("punch-in.undo", record.substr(0, record.size() - 1));
  const std::string torn = ReadFile("track.wav");
  EXPECT_EQ(CapturedStdout([] { RecoverInterruptedPunch(dialog); }),
            "Could not read punch-in.undo: it is damaged\nIt is never applied, and no punch-in can be made while it is "
            "there: move " + (std::filesystem::current_path() / "punch-in.undo").string() + " out of the project to "
            "punch in again\n");
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
  // 2048 samples, over two of the fade's blocks. (Shorter fades are checked sample by sample end to end.)
  constexpr int kLevel = 4000000, kLength = 2048;
  WriteWav("level.wav", Samples(3000, kLevel));
  WriteWav("quiet.wav", Samples(3000, 0));
  const Samples down = Fade(1500, 1500, kLength, "level.wav", "quiet.wav", 1024);
  const Samples up = Fade(1500, 1500, kLength, "quiet.wav", "level.wav", 1024);
  ASSERT_TRUE(down.size() == kLength && up.size() == kLength);
  EXPECT_EQ(down[0], kLevel);  // starts as the destination
  EXPECT_LE(std::abs(up.back() - kLevel), 8);  // ends as the source
  EXPECT_NEAR(down[kLength / 2], kLevel / std::sqrt(2.0), kLevel * 1e-3);  // 3 dB down halfway
  for (int i = 1; i < kLength; ++i) {
    ASSERT_LE(down[i], down[i - 1]) << i;
    ASSERT_GE(up[i], up[i - 1]) << i;
    const double power = (std::pow(down[i], 2.0) + std::pow(up[i], 2.0)) / std::pow(kLevel, 2.0);
    ASSERT_NEAR(power, 1.0, 1e-5) << i;
  }
  // Samples are cut toward zero, so a negative signal fades as the mirror image.
  WriteWav("negative.wav", Samples(3000, -kLevel));
  Samples mirrored = Fade(1500, 1500, kLength, "negative.wav", "quiet.wav", 1024);
  for (int& sample : mirrored) sample = -sample;
  EXPECT_EQ(mirrored, down);
}

// Where a fade reads its two files is checked sample by sample end to end.
TEST_F(TakeFileTest, CrossfadeReadsSilencePastTheEndAndSaturates) {
  // From destination sample 8 of 10 the fade runs two samples past its end.
  WriteWav("d.wav", Samples(10, 1000000));
  WriteWav("s.wav", Samples(10, 0));
  const Samples past = Fade(9, 3, 4, "d.wav", "s.wav", 1);
  EXPECT_TRUE(past.at(0) == 1000000 && past[1] > 0 && past[2] == 0 && past[3] == 0) << testing::PrintToString(past);
  for (const int level : {8388607, -8388608}) {  // sums beyond full scale saturate instead of wrapping round
    WriteWav("full.wav", Samples(4, level));
    EXPECT_EQ(Fade(0, 0, 4, "full.wav", "full.wav", 0), Samples(4, level));
  }

  const struct { std::int64_t d, s; const char* told; } invalid[] = {
      {1, 5, "Invalid crossfade for destination file at sample -1\n"},
      {13, 5, "Invalid crossfade for destination file at sample 11\n"},
      {5, 13, "Invalid crossfade for source file at sample 11\n"}};
  ASSERT_TRUE(CreateWavFile("out.wav", 44100, 24, 4, 1));
  for (const auto& c : invalid) {
    EXPECT_EQ(ToldOnFailure([&] { return WriteCrossfade(c.d, c.s, 4, "d.wav", "s.wav", "out.wav", 2, dialog); }),
              c.told);
  }
  EXPECT_EQ(ReadFile("out.wav").size(), 44u);  // nothing written
}

// Refusals leave an older backup alone. (Backups made, byte for byte, are
// checked end to end and their names by the names fuzz target.)
TEST_F(TakeFileTest, BackupRefusalsAreToldAndKeepAnOlderBackup) {
  const auto refused = [](const std::string& path) {
    return ToldOnFailure([&] { return BackUpTrack(1, path.c_str(), dialog); });
  };
  EXPECT_EQ(refused("gone.wav"), "File gone.wav does not exist\n");
  const std::string longBase(246, 'a');  // its backup name would be 257 characters
  WriteFile(longBase + ".wav", "x");
  EXPECT_EQ(refused(longBase + ".wav"), "Cannot create backup file " + longBase + "_bkup_1.wav\n");
  WriteFile("bass.wav", "new");
  WriteFile("bass_bkup_1.wav", "old");
  std::filesystem::create_directory("bass_bkup_1.tmp");
  EXPECT_NE(refused("bass.wav").find("Cannot create backup file bass_bkup_1.wav\n"), std::string::npos);
  EXPECT_EQ(ReadFile("bass_bkup_1.wav"), "old");
}

TEST_F(TakeFileTest, ListOperationsPassOverDashesAndGoOnAfterAFailure) {
  for (const char* name : {"a.wav", "c.wav", "d.wav", "e.wav", "t1.wav", "t4.wav", "t5.wav"}) WriteFile(name, "1");
  std::filesystem::create_directory("dir");
  EXPECT_EQ(ToldOnFailure([] {
              return StampTakeNames(5, "a.wav\n\n-\ngone.wav\ne.wav\nc.wav\nd.wav", 44100, {1, 1, 1, 1, 0, 1}, dialog);
            }),
            "Could not rename gone.wav to gone_stp_44100.wav: No such file or directory\n");
  EXPECT_TRUE(Exists("a_stp_44100.wav") && Exists("e_stp_44100.wav")) << "nothing stops";
  EXPECT_TRUE(Exists("c.wav") && Exists("d.wav")) << "not recorded, beyond the count";

  EXPECT_EQ(ToldOnFailure([] {
              return RenameListedFiles(5, "t1.wav\n-\nmissing.wav\nt4.wav\nt5.wav", "r1.wav\nr2.wav\nr3.wav\n-\nr5.wav",
                                       dialog);
            }),
            "Could not rename missing.wav to r3.wav: No such file or directory\n");
  EXPECT_TRUE(Exists("r1.wav") && Exists("t4.wav") && Exists("r5.wav"));

  // A file already gone is fine; a directory is never deleted.
  EXPECT_EQ(
      ToldOnFailure([] { return DeleteListedFiles(5, "a_stp_44100.wav\n-\ndir\ngone.wav\nd.wav\nt4.wav", dialog); }),
      "Could not delete dir: Is a directory\n");
  EXPECT_FALSE(Exists("a_stp_44100.wav") || Exists("d.wav"));
  EXPECT_TRUE(std::filesystem::is_directory("dir") && Exists("t4.wav"));
}

}  // namespace
}  // namespace sondrel
