// End to end: transport runs on ALSA's null device, and on a file-backed
// device whose capture input is a known ramp. (Playback sample for sample is
// the played-stream test's, takes' names and lengths the console transcripts'.)
#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

using TransportTest = ProjectTest;

// Takes made within one second (typed-ahead words, a script) each get a
// number of their own: the backup a punch-in makes first must never replace
// the backup of the punch-in before it, which holds audio nothing else has.
TEST_F(TransportTest, TakesRecordedInOneSecondKeepApartTheirBackups) {
  WriteParams("e\t1024\no\t3072\n");
  WriteLists("song.wav\n", "");
  WriteWav("song.wav", Ramp(8192));
  RunChecked("R cin R cin R cin x\n", 0, {"song.wav"});
  const std::vector<std::string> backups = NamesMatching(R"(song_bkup_\d+\.wav)");
  ASSERT_EQ(backups.size(), 3u);
  EXPECT_EQ(ReadFile(backups[0]), MonoWavBytes(Ramp(8192)));  // the song as it was, byte for byte
}

TEST_F(TransportTest, MonitorShowsInputLevelsForItsTime) {
  WriteRampDevice(2, 200000);
  WriteFile("param.txt", "dv\tramp\nsr\t48000\ninputs\t2\noutputs\t2\nch\t2\nbuf\t1024\n");
  WriteLists("-\nb.wav\n", "");
  const RunResult r = RunChecked("mr 2 ma 2 x\n", 0);
  EXPECT_NE(r.out.find("Enter monitor time in seconds.\n\nMonitoring Input Peaks...\n"), std::string::npos);
  EXPECT_NE(r.out.find("\r(2/"), std::string::npos);
  EXPECT_NE(r.out.find("\r(1/"), std::string::npos);
  // 2 s at 48000 Hz: each run ends at the first block that takes the
  // monitor position past 96000 + 4096, 98 blocks of 1024. The device
  // keeps a copy of everything captured.
  EXPECT_EQ(ReadSamples("play.raw", 0).size(), 2u * 2u * 98u * 1024u);
}

}  // namespace
}  // namespace sondrel::e2e
