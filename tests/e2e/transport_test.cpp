// End to end: transport runs on ALSA's null device, and on a file-backed
// device whose capture input is a known ramp and whose playback is kept.
#include <filesystem>

#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

using TransportTest = ProjectTest;

TEST_F(TransportTest, RecordingRefusesAMissingStop) {
  WriteParams("");
  WriteLists("a.wav\n", "");
  const RunResult r = RunChecked("R yes c c x\n", 0);
  EXPECT_NE(r.out.find(">> Stop time is not set!\nEnter 'c' to continue and fix\n"
                       "\n>> Stop time is the same as record start!\nEnter 'c' to continue and fix\n"),
            std::string::npos);
  EXPECT_TRUE(NamesMatching(".*\\.wav").empty());
  EXPECT_EQ(r.out.find("Recording..."), std::string::npos);
}

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
  for (const auto& [name, length] : {std::pair{first[0], 10240 - 2048}, std::pair{later[0], 10240 - 5120}}) {
    const std::string wav = ReadFile(name);
    EXPECT_EQ(wav.size(), 44u + 3u * length) << name;
    EXPECT_EQ(wav.substr(0, 44), MonoWavBytes(std::vector<int>(length)).substr(0, 44)) << name;
  }
  EXPECT_NE(r.out.find("Playing and Recording...\nplayback start = 0.05 sec\nrecord start   = 0.05 sec\n"
                       "play/rec stop  = 0.23 sec\n"),
            std::string::npos);
}

TEST_F(TransportTest, PresetTakeNamesAndTheirConflicts) {
  WriteLists("-\nbass.wav\nvocals.wav\n", "");
  WriteParams("inputs\t3\nch\t3\no\t4096\n");
  WriteWav("vocals_take2.wav", {1, 2, 3});  // left as it is
  const RunResult r = RunChecked("R_bass r_take2 take3 x\n", 0);
  EXPECT_TRUE(Exists("bass_bass.wav"));
  EXPECT_TRUE(Exists("vocals_bass.wav"));
  EXPECT_NE(r.out.find("The file named vocals_take2.wav already exists!\n"
                       "Enter a different take name or 'w' to overwrite this file\n"
                       "or 'W' to overwrite all similar conflicts\n"),
            std::string::npos);
  EXPECT_EQ(ReadSamples("vocals_take3.wav").size(), 4096u);
  // bass_take2 did not exist, so only the vocal asked; the new name then
  // holds for the rest of the run.
  EXPECT_TRUE(Exists("bass_take2.wav"));
}

TEST_F(TransportTest, RecordingWithoutPlaybackCapturesTheInputExactly) {
  // A 16-frame period keeps 10000 on the block grid: the take is written as
  // chunks of 4096, 4096 and 1808 samples.
  WriteRampDevice(2, 40000);
  WriteFile("param.txt", "dv\tramp\nsr\t48000\ninputs\t2\noutputs\t2\nch\t2\nbuf\t16\ne\t0\no\t10000\n");
  WriteLists("a.wav\nb.wav\n", "");
  const RunResult r = RunChecked("R x\n", 0);
  const auto takes = NamesMatching("audio_ch_[12]_[0-9]+\\.wav");
  ASSERT_EQ(takes.size(), 2u) << r.out;
  EXPECT_EQ(ReadSamples(takes[0]), Ramp(10000));
  EXPECT_EQ(ReadSamples(takes[1]), Ramp(10000, 0, 2));
  EXPECT_NE(r.out.find("Input Channel Peaks:\n\tchannel 1: "), std::string::npos);
}

TEST_F(TransportTest, PlaybackStartsWithOneChunkOfSilenceThenTheTimeline) {
  WriteRampDevice(2, 40000);
  WriteFile("param.txt", "dv\tramp\nsr\t44100\ninputs\t2\noutputs\t2\nch\t2\nbuf\t1024\ni\t0\no\t8192\n");
  WriteFile("record.txt", "");
  // Channel 1 is shorter than the run and padded with silence; channel 2's
  // line names a file that does not exist.
  WriteWav("a.wav", Ramp(3000, 1));
  WriteFile("play.txt", "a.wav\nmissing.wav\n");
  const RunResult r = RunChecked("p x\n", 0);
  EXPECT_NE(r.out.find("Cannot find file in track list called missing.wav!!\n"), std::string::npos);
  const std::vector<int> played = ReadSamples("play.raw", 0);
  // 4096 frames of silence, then the timeline from 0 to 4096 + 1024.
  ASSERT_EQ(played.size(), 2u * (4096 + 4096 + 1024));
  std::vector<int> left;
  for (std::size_t i = 0; i < played.size(); i += 2) left.push_back(played[i]);
  std::vector<int> expected(4096, 0);
  for (int n = 1; n <= 3000; ++n) expected.push_back(n);
  expected.resize(4096 + 4096 + 1024, 0);
  EXPECT_EQ(left, expected);
}

TEST_F(TransportTest, SoloAuditionAndPreRollKeepTheirPoints) {
  WriteParams("ch\t2\nmix\t1\ni\t44032\ne\t88064\no\t176128\nproll\t2.0\nsolo\t2\n");
  WriteFile("record.txt", "-\n-\n");
  WriteWav("quiet.wav", std::vector<int>(50000, 1000));
  WriteWav("loud.wav", std::vector<int>(50000, 100000));
  WriteFile("play.txt", "loud.wav\nquiet.wav\n");
  const RunResult r = RunChecked("sp ai ri del s x\n", 0);
  EXPECT_NE(r.out.find("Playing...\nTracks are soloed\n"), std::string::npos);
  // Only the quiet channel sounds: 1000 at -3 dB, mixed to 707 a side.
  EXPECT_NE(r.out.find("Output Channel Peaks:\nchannel 1: -81.49 dBFS\nchannel 2: -81.49 dBFS\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Setting pre-roll\nplay 0 rec 44032 stop 176128\n"), std::string::npos);
  const std::string saved = ReadFile("param.txt");
  EXPECT_NE(saved.find("\ni\t44032\no\t176128\ne\t88064\n"), std::string::npos) << saved;
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

TEST_F(TransportTest, BusModesPrintBusAndOutputPeaks) {
  WriteParams("ch\t4\noutputs\t4\nmix\t3\no\t4096\nbus\t1\t1,\nbus\t2\t2,\n");
  WriteFile("record.txt", "");
  WriteWav("a.wav", std::vector<int>(8192, 8388607));
  WriteFile("play.txt", "a.wav\na.wav\n");
  const RunResult r = Run("p x\n");
  EXPECT_NE(r.out.find("\nBus Peaks:\n\nBus 2 L: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nOutput Channel Peaks:\nchannel 1: "), std::string::npos);
}

}  // namespace
}  // namespace sondrel::e2e
