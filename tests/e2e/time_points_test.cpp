// End to end: typing, jumping, nudging and copying the in, out, punch and
// memory times, read back through the saved settings. Null device, block
// 1024, 44100 Hz unless a test says otherwise.
#include <cstdlib>
#include <string>

#include "tests/support/project.h"
#include "timebase/time_conversions.h"

namespace sondrel::e2e {
namespace {

class TimePointTest : public ProjectTest {
 protected:
  void SetUp() override {
    ProjectTest::SetUp();
    WriteLists("", "");
  }

  RunResult RunOk(const std::string& input) const {
    RunResult r = Run(input);
    EXPECT_EQ(r.status, 0) << r.err;
    return r;
  }

  // The value saved under `key` in param.txt ("" when missing).
  std::string Saved(const std::string& key) const {
    const std::string text = ReadFile("param.txt");
    const std::string head = "\n" + key + "\t";
    const std::size_t at = text.find(head);
    if (at == std::string::npos) return {};
    const std::size_t from = at + head.size();
    return text.substr(from, text.find('\n', from) - from);
  }
};

TEST_F(TimePointTest, SecondsEntryDirectEntryAndCopies) {
  WriteParams("o\t440320\n");
  const RunResult r = RunOk("i 1.0 i.m ix e 2 e.o s i 1e30\n");
  EXPECT_NE(r.out.find("Enter in-time in seconds.\n"), std::string::npos);
  EXPECT_NE(r.out.find("Enter recording start time in seconds.\n"), std::string::npos);
  EXPECT_EQ(Saved("mem"), "45056");  // 44 blocks: the first not below 44100
  EXPECT_EQ(Saved("i"), "0");        // 'ix' has no number
  EXPECT_EQ(Saved("e"), "89088");
  EXPECT_EQ(Saved("o"), "89088");
  // A huge time is capped, not wrapped into a negative or small position.
  const std::string shown = "   'i' to set play start (";
  const double seconds = std::strtod(r.out.c_str() + r.out.rfind(shown) + shown.size(), nullptr);
  EXPECT_NEAR(seconds, static_cast<double>(kMaxRoundedPosition) / 44100.0, 1e9);
}

TEST_F(TimePointTest, OutPointInSecondsMayEqualButNotPrecedeTheInPoint) {
  WriteParams("i\t45056\no\t440320\n");
  const RunResult r = RunOk("o 0.5 o.m o 1 s\n");
  EXPECT_NE(r.out.find("Enter out-time in seconds.\n"), std::string::npos);
  EXPECT_EQ(Saved("mem"), "440320");
  EXPECT_EQ(Saved("o"), "45056");
}

TEST_F(TimePointTest, MeasureEntryPromptedAndDirect) {
  // 120 bpm, 4/4, 48000 Hz: a beat is 24000 samples.
  WriteParams("sr\t48000\ntmode\t1\no\t480256\nmem\t1024\n");
  RunResult r = RunOk("i3.1 o3.1 o 3 1 o.m o4 e 0 2 s\n");
  EXPECT_NE(r.out.find("Enter measure for stop time.\nEnter beat for stop time.\n"), std::string::npos);
  EXPECT_NE(r.out.find("Enter measure for recording start time.\nEnter beat for recording start time.\n"),
            std::string::npos);
  EXPECT_EQ(Saved("i"), "192512");  // 8 beats, rounded up to 188 blocks
  EXPECT_EQ(Saved("mem"), "480256");  // neither stop on the start was taken
  EXPECT_EQ(Saved("o"), "288768");
  EXPECT_EQ(Saved("e"), "24576");  // a prompted measure 0 counts as 1

  WriteParams("sr\t48000\ntmode\t1\ne\t480256\n");
  r = RunOk("e0.6 i3.000000000000199 s\n");
  EXPECT_EQ(Saved("e"), "0");  // a typed measure 0 is the project start
  EXPECT_EQ(Saved("i"), "192512");  // only the first 16 characters count
}

TEST_F(TimePointTest, JumpsMoveTheWindow) {
  WriteParams("i\t88064\no\t440320\n");
  RunOk("J s\n");
  EXPECT_EQ(Saved("i"), "0");
  EXPECT_EQ(Saved("o"), "88064");

  WriteParams("o\t177152\n");
  RunOk("j j s\n");
  EXPECT_EQ(Saved("i"), "354304");
  EXPECT_EQ(Saved("o"), "531456");
}

TEST_F(TimePointTest, NudgesAndNudgeAmount) {
  // The default 0.25 s nudge is 11 blocks.
  WriteParams("i\t5120\no\t440320\ne\t44032\nmem\t1024\n");
  const RunResult r = RunOk("b N bo ne n be nn 0.5 n nn 0 n s\n");
  EXPECT_NE(r.out.find("\nNudge Amount = 11264 samples, 0.255 sec\n"
                       "Enter new nudge amount (in sec) or '0' to keep settings\n"
                       "Nudge amount will be set to 22528 samples, 0.511 sec\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("\nNudge Amount = 22528 samples, 0.511 sec\n"), std::string::npos);
  EXPECT_EQ(CountOf(r.out, "Nudge amount will be set"), 1);
  EXPECT_EQ(Saved("nudge"), "0.5000");
  EXPECT_EQ(Saved("i"), "67584");
  EXPECT_EQ(Saved("o"), "440320");
  EXPECT_EQ(Saved("e"), "55296");
  EXPECT_EQ(Saved("mem"), "1024");
}

TEST_F(TimePointTest, StopAtLongestPlaylistFile) {
  WriteParams("ch\t2\no\t440320\n");
  WriteFile("play.txt", "-\n-\n");
  RunResult r = RunOk("f s\n");
  EXPECT_EQ(Saved("o"), "0");
  EXPECT_EQ(r.out.find("Checking file"), std::string::npos);

  if (std::system("command -v sox > /dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
  const std::string sox = "cd '" + project_.string() + "' && sox -n -r 44100 -b 24 -c 1 ";
  ASSERT_EQ(std::system((sox + "a.wav synth 1.5 sine 440").c_str()), 0);
  ASSERT_EQ(std::system((sox + "b.wav synth 2 sine 440").c_str()), 0);
  WriteFile("play.txt", "a.wav\nb.wav\n");
  r = RunOk("f s\n");
  EXPECT_NE(r.out.find("Checking file a.wav\nChecking file b.wav\n"), std::string::npos) << r.out;
  EXPECT_EQ(Saved("o"), "88200");  // the exact length, off the block grid
}

}  // namespace
}  // namespace sondrel::e2e
