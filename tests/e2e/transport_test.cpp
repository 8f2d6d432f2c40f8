// End to end: transport runs on ALSA's null device, and on a file-backed
// device whose capture input is a known ramp and whose playback is kept.
#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

using TransportTest = ProjectTest;

TEST_F(TransportTest, TakesAreNamedAndHoldExactlyTheTakeLength) {
  WriteParams("i\t2048\ne\t0\no\t10240\n");
  WriteLists("vox.wav\n-\n", "");
  const RunResult r = RunChecked("r stp e0.1 r stp x\n", 0);
  // "r" raised the punch point to the in point, so both takes start there.
  const auto first = NamesMatching("audio_ch_1_[0-9]+_stp_2048\\.wav");
  const auto later = NamesMatching("audio_ch_1_[0-9]+_stp_5120\\.wav");
  ASSERT_EQ(first.size(), 1u) << r.out;
  ASSERT_EQ(later.size(), 1u);
  EXPECT_TRUE(NamesMatching("audio_ch_2_.*").empty());
  // A plain header whose sizes match the take (the null device records silence).
  EXPECT_EQ(ReadFile(first[0]), MonoWavBytes(std::vector<int>(10240 - 2048)));
  EXPECT_EQ(ReadFile(later[0]), MonoWavBytes(std::vector<int>(10240 - 5120)));
  EXPECT_NE(r.out.find("Playing and Recording...\nplayback start = 0.05 sec\nrecord start   = 0.05 sec\n"
                       "play/rec stop  = 0.23 sec\n"),
            std::string::npos);
}

TEST_F(TransportTest, PlaybackStartsWithOneChunkOfSilenceThenTheTimeline) {
  WriteRampDevice(2, 40000);
  WriteFile("param.txt", "dv\tramp\nsr\t44100\ninputs\t2\noutputs\t2\nch\t2\nbuf\t1024\ni\t0\no\t8192\n");
  // Channel 1 is shorter than the run and padded with silence; channel 2's
  // line names a file that does not exist.
  WriteLists("", "a.wav\nmissing.wav\n");
  WriteWav("a.wav", Ramp(3000, 1));
  const RunResult r = RunChecked("p x\n", 0);
  EXPECT_NE(r.out.find("Cannot find file in track list called missing.wav!!\n"), std::string::npos);
  // 4096 frames of silence, then the timeline from 0 to 4096 + 1024.
  std::vector<int> expected(2 * (4096 + 4096 + 1024), 0);
  for (int n = 1; n <= 3000; ++n) expected[2 * (4096 + n - 1)] = n;
  EXPECT_EQ(ReadSamples("play.raw", 0), expected);
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
