// End to end: the take menu after real recordings. Takes come from a
// file-backed device whose first input is the ramp 0, 1, 2, ...
#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

class TakeMenuTest : public ProjectTest {
 protected:
  void SetUp() override {
    ProjectTest::SetUp();
    WriteRampDevice(1, 200000);
    WriteLists("song.wav\n", "");
  }
  // Settings for one input on the ramp device; `extra` sets the points.
  void Params(const std::string& extra) {
    WriteFile("param.txt", "dv\tramp\nsr\t44100\ninputs\t1\noutputs\t1\nch\t1\nbuf\t1024\n" + extra);
  }
  std::vector<std::string> Wavs() const { return NamesMatching(".*\\.wav"); }
};

TEST_F(TakeMenuTest, ReplaceAsksAboutExistingFilesAndHonoursTheSafetySwitch) {
  Params("e\t1024\no\t3072\nsafe\t1\n");  // a take from 1024 replaces the file padded to the project start
  WriteWav("song.wav", std::vector<int>(100, 7));
  const RunResult r = Run("R rep n rep y r rep y W R rep y del\n");
  EXPECT_NE(r.out.find("The file safety switch is on.\n"
                       "Do you really want to replace a whole file rather than insert? (y,n)\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("-------------------------\n1 file exists!\nEnter 'w' to overwrite\n"
                       "Enter 'W' to overwrite and don't ask again.\nEnter 'r' to return to previous menu.\n"),
            std::string::npos);
  // "W" replaced the file and stopped the question for the second take.
  // (The device's input goes on where the first take ended.)
  EXPECT_EQ(CountOf(r.out, "1 file exists!"), 2);
  const std::vector<int> song = ReadSamples("song.wav");
  ASSERT_EQ(song.size(), 3072u);
  EXPECT_EQ(std::vector<int>(song.begin(), song.begin() + 1024), std::vector<int>(1024, 0));
  EXPECT_EQ(song[3071] - song[1024], 2047);
  EXPECT_EQ(Wavs(), std::vector<std::string>{"song.wav"});
}

TEST_F(TakeMenuTest, AppendedNamesAskBeforeReplacing) {
  Params("e\t1024\no\t3072\n");
  WriteWav("song_mix.wav", {1});
  const RunResult r = Run("R app mix n alt R aws v R awp v2\n");
  EXPECT_NE(r.out.find("\nFile song_mix.wav exists!\n\n'o' to overwrite one file\n"
                       "'O' (shift-o) to overwrite all conflicts,\n'n' to try a new append name\n"
                       "Enter new append name\n"),
            std::string::npos);
  EXPECT_EQ(ReadSamples("song_mix.wav"), std::vector<int>{1});
  EXPECT_EQ(ReadSamples("song_alt.wav"), Ramp(2048));
  EXPECT_EQ(ReadSamples("song_v_stp_1024.wav").size(), 2048u);
  const std::vector<int> padded = ReadSamples("song_v2.wav");
  ASSERT_EQ(padded.size(), 1024u + 2048u);
  EXPECT_EQ(std::vector<int>(padded.begin(), padded.begin() + 1024), std::vector<int>(1024, 0));
  EXPECT_NE(r.out.find(" -> song_alt.wav\n"), std::string::npos);
}

}  // namespace
}  // namespace sondrel::e2e
