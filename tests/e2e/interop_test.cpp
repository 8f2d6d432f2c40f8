// End to end: other programs read every kind of file Sondrel writes, and
// Sondrel plays the files they write sample for sample. sox and soxi (sox)
// and sndfile-info and sndfile-convert (libsndfile) only check files here;
// a test is skipped when its tool is missing.
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

using InteropTest = ProjectTest;

// `samples` as raw signed 24-bit little-endian words.
std::string Raw24(const std::vector<int>& samples) { return MonoWavBytes(samples).substr(44); }

// An odd stop (the length of a 10001-sample track) gives takes and mixes of
// an odd number of samples. The record file comes from sox, so the backup
// and the punch-in start from a file another program wrote.
TEST_F(InteropTest, OtherProgramsReadEveryFileWeWrite) {
  if (!HasTool("soxi") || !HasTool("sox") || !HasTool("sndfile-info")) GTEST_SKIP() << "sox or sndfile-info missing";
  WriteRampDevice(1, 200000);
  WriteFile("param.txt", "dv\tramp\nsr\t44100\ninputs\t1\noutputs\t1\nch\t1\nbuf\t16\nmix\t1\ne\t0\n");
  WriteLists("song.wav\n", "song.wav\n");
  WriteFile("song.s24", Raw24(Ramp(10001, -3000000, 700)));
  ASSERT_EQ(Shell("cd '" + project_.string() + "' && sox -t raw -r 44100 -e signed -b 24 -c 1 song.s24 song.wav"), "");
  const RunResult r = Run("f R_take e0.05 R pad R stp e0 R stp e0.05 R cin exp-i mix c exp-s mix c x\n");
  ASSERT_EQ(r.status, 0) << r.out;

  // The take, padded, stamped by its record start and by "stp"; the punched-in
  // record file and its backup; the interleaved and the split exports.
  for (const std::string pattern : {"song_take", "audio_ch_1_[0-9]+", "audio_ch_1_[0-9]+_stp_2208",
                                    "audio_ch_1_[0-9]+_stp_0", "song", "song_bkup_[0-9]+", "mix", "mix_L", "mix_R"}) {
    const int frames = pattern.ends_with("2208") ? 7793 : 10001, channels = pattern == "mix" ? 2 : 1;
    const std::vector<std::string> names = NamesMatching(pattern + "\\.wav");
    ASSERT_EQ(names.size(), 1u) << pattern;
    SCOPED_TRACE(names[0]);
    const std::string path = "'" + (project_ / names[0]).string() + "'";
    // Samples, channels, bits and rate.
    EXPECT_EQ(Shell("soxi -s " + path + " && soxi -c " + path + " && soxi -b " + path + " && soxi -r " + path),
              std::to_string(frames) + "\n" + std::to_string(channels) + "\n24\n44100\n");
    // Reading every sample reports any mismatch between header and data.
    EXPECT_EQ(Shell("sox -V2 " + path + " -n"), "");
    const std::string info = Shell("sndfile-info " + path);
    EXPECT_NE(info.find("Frames      : " + std::to_string(frames) + "\n"), std::string::npos) << info;
    EXPECT_EQ(info.find("rror"), std::string::npos) << info;
    // libsndfile marks what it finds wrong with "***"; it notes an odd data length even on its own files.
    std::istringstream lines(info);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_TRUE(!line.starts_with("***") || line.find("'data' chunk should be an even number") != std::string::npos)
          << line;
    }
  }
}

// A ramp with negative values, through sox and libsndfile into the three
// header forms they write; each plays on its own output exactly.
TEST_F(InteropTest, FilesOtherProgramsWritePlaySampleExactly) {
  if (!HasTool("sox") || !HasTool("sndfile-convert")) GTEST_SKIP() << "sox or sndfile-convert missing";
  const int frames = 6001;
  const std::vector<int> ramp = Ramp(frames, -4000000, 1237);
  WriteFile("ramp.s24", Raw24(ramp));
  const std::string dir = "cd '" + project_.string() + "' && ";
  // sox writes 24 bits with the extensible header, and the plain one on request.
  ASSERT_EQ(Shell(dir + "sox -t raw -r 44100 -e signed -b 24 -c 1 ramp.s24 sox_ext.wav"), "");
  ASSERT_EQ(Shell(dir + "sox -t raw -r 44100 -e signed -b 24 -c 1 ramp.s24 -t wavpcm sox_pcm.wav"), "");
  Shell(dir + "sndfile-convert -pcm24 sox_ext.wav sndfile.wav");
  ASSERT_TRUE(Exists("sndfile.wav"));
  ASSERT_NE(ReadFile("sox_ext.wav").find("\xfe\xff"), std::string::npos) << "not an extensible header";

  WriteRampDevice(3, 100);
  WriteFile("param.txt", "dv\tramp\nsr\t44100\ninputs\t3\noutputs\t3\nch\t3\nbuf\t1024\ni\t0\no\t16384\n");
  WriteLists("", "sox_ext.wav\nsox_pcm.wav\nsndfile.wav\n");
  const RunResult r = RunChecked("p f x\n", 0);
  EXPECT_EQ(r.out.find("will not be played"), std::string::npos) << r.out;
  // "f" measured them: the stop is their length.
  EXPECT_NE(r.out.find("'o' to set play/record stop (0.14)"), std::string::npos) << r.out;

  // The device hears a first chunk of silence, then the timeline.
  const std::vector<int> played = ReadSamples("play.raw", 0);
  ASSERT_GE(played.size(), 3u * (4096 + frames));
  for (int channel = 0; channel < 3; ++channel) {
    std::vector<int> heard;
    for (int n = 0; n < frames; ++n) heard.push_back(played[3 * (4096 + n) + channel]);
    EXPECT_EQ(heard, ramp) << "channel " << channel + 1;
  }
}

}  // namespace
}  // namespace sondrel::e2e
