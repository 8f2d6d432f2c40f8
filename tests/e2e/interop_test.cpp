// End to end: other programs read every kind of file Sondrel writes, the ones it makes from a file another program
// wrote included. sox and soxi (sox) and sndfile-info (libsndfile) only make and check files here; the test is skipped
// when one is missing. (Playback of a header like sox's, sample for sample, is the played-stream test's.)
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

using InteropTest = ProjectTest;

// An odd stop (the length of a 10001-sample track) gives takes and mixes of an odd number of samples. The track comes
// from sox (an extensible header and a fact chunk), so the backup, the punch-in and the exports start from a file
// another program wrote.
TEST_F(InteropTest, EachReadsTheOthersFiles) {
  if (!HasTool("soxi") || !HasTool("sox") || !HasTool("sndfile-info")) GTEST_SKIP() << "sox or libsndfile's tools missing";
  WriteParams("inputs\t1\noutputs\t2\nch\t2\nbuf\t16\ne\t0\no\t16384\n");
  WriteLists("song.wav\n", "song.wav\n");
  WriteFile("song.s24", Pcm24(Ramp(10001, -3000000, 700)));  // raw signed 24-bit little-endian words
  ASSERT_EQ(Shell("cd '" + project_.string() + "' && sox -t raw -r 44100 -e signed -b 24 -c 1 song.s24 song.wav"), "");
  ASSERT_NE(ReadFile("song.wav").find("\xfe\xff"), std::string::npos) << "not an extensible header";
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

}  // namespace
}  // namespace sondrel::e2e
