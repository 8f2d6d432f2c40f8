// End to end: the settings menus ("opt", "tempo", "safe", "pre", "cf", "aa"),
// their answers and what they leave in the word buffer for the rest of a pass.
#include <initializer_list>

#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

class MenusTest : public ProjectTest {
 protected:
  RunResult RunWith(const std::string& params, const std::string& input) {
    WriteParams(params);
    WriteLists("", "");
    return Run(input);
  }
  bool Saved(const std::string& line) const { return ReadFile("param.txt").find("\n" + line + "\n") != std::string::npos; }
};

// Each part must appear after the one before it.
void ExpectInOrder(const std::string& text, std::initializer_list<std::string> parts) {
  std::size_t from = 0;
  for (const std::string& part : parts) {
    const std::size_t at = text.find(part, from);
    ASSERT_NE(at, std::string::npos) << "missing in order: " << part << "\n" << text;
    from = at + part.size();
  }
}

TEST_F(MenusTest, TempoMenuReplacesOutOfRangeValuesAndTogglesOnACopy) {
  RunResult r = RunWith("tempo\t90\nsig\t7\n", "tempo 2 0.5 2 300 2 401 abc 2 400 3 0 1 1 4 s x\n");
  ExpectInOrder(r.out, {"1 = toggle tempo mode (off)\n2 = set tempo (90.00)\n3 = set beats per measure (7)\n4 = done\n",
                        "Enter tempo (beats per minute)\n", "(120.00)", "(300.00)", "(120.00)", "(120.00)",
                        "(400.00)", "Enter beats per measure\n", "3 = set beats per measure (4)", "mode (on)",
                        "mode (off)"});
  // A non-number at the menu shows it again instead of spinning.
  EXPECT_EQ(CountOf(r.out, "4 = done\n"), 9);
  EXPECT_TRUE(Saved("tmode\t0") && Saved("tempo\t400.00") && Saved("sig\t4")) << ReadFile("param.txt");

  // Non-finite answers never reach the session.
  r = RunWith("tempo\t90\nproll\t1.5\nxfade\t3\n", "tempo 2 nan 9 pre inf cf nan aa -inf s x\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Saved("tempo\t120.00") && Saved("proll\t0.000") && Saved("xfade\t0.0") && Saved("aud\t0.00"))
      << ReadFile("param.txt");
}

TEST_F(MenusTest, OptionsTakeEffectOnDoneAndDoneLeavesTheMixerView) {
  RunResult r = RunWith("", "opt hc np int0 zz d s x\n");
  EXPECT_EQ(CountOf(r.out, "\nOptions:\n\nClock: "), 5);
  ExpectInOrder(r.out, {"Clock: (now set to uc)\n\n  'sc' to stream clock\n", "Peaks: (now set to cp)\n",
                        "Interface: (now set to int1)\n  'int0' for minimal interface\n",
                        "\n  'd' if done changing options\n", "(now set to hc)", "(now set to np)", "(now set to int0)",
                        "Play: 0.00   Rec: 0.00   Stop: 0.00   Mem: 0.00\n"});
  EXPECT_TRUE(Saved("clock\thc") && Saved("peak\tnp")) << ReadFile("param.txt");
  EXPECT_EQ(ReadFile("param.txt").find("int\t1"), std::string::npos);

  // Without "d" the menu keeps every word, "s" included.
  r = RunWith("", "opt sc s\n");
  EXPECT_EQ(r.out.find("Stored Settings"), std::string::npos);

  // "d" closing the menu, and "d" put back by "cf", both end the mixer view.
  const std::string mixerPrompt = "Mix commands are active.  Enter 'h' for help.\n";
  r = RunWith("", "mix opt d x\n");
  EXPECT_EQ(CountOf(r.out, mixerPrompt), 1);
  r = RunWith("", "mix cf 10 x\n");
  EXPECT_EQ(CountOf(r.out, mixerPrompt), 1);
}

TEST_F(MenusTest, SafetyMenuWaitsForZeroOneOrTwo) {
  const RunResult r = RunWith("safe\t1\n", "safe x 2 safe 0 s x\n");
  EXPECT_EQ(CountOf(r.out, "Safety mode for replacing files is ON\nEnter '0' to turn off\n"
                           "Enter '2' to keep current settings\n"),
            2);
  EXPECT_EQ(CountOf(r.out, "Safety mode is OFF\n\n"), 1);
  EXPECT_TRUE(Saved("safe\t0"));
}

TEST_F(MenusTest, PrerollCrossfadeAndAuditionAnswers) {
  RunWith("proll\t1.5\nxfade\t3\n", "pre -3 cf -5 10 s x\n");
  EXPECT_TRUE(Saved("proll\t0.000") && Saved("xfade\t10.0")) << ReadFile("param.txt");
  RunResult r = RunWith("proll\t1.5\nxfade\t3\n", "pre d cf abc s x\n");
  EXPECT_NE(r.out.find("Preroll is set to 1.500 secs\nEnter new preroll or 'd' for done\n"), std::string::npos);
  EXPECT_NE(r.out.find("Crossfade is currently set to 3.0 milliseconds.\nEnter 'd' if done or enter a new value\n"),
            std::string::npos);
  EXPECT_TRUE(Saved("proll\t1.500") && Saved("xfade\t0.0")) << ReadFile("param.txt");

  // A length of 0 or less is kept as typed but auditions keep their length.
  r = RunWith("sr\t48000\n", "aa 2 aa 0 aa -1 s x\n");
  ExpectInOrder(r.out, {"Enter audition time (currently 3.0 sec)\n", "(currently 2.0 sec)", "(currently 2.0 sec)"});
  EXPECT_TRUE(Saved("aud\t-1.00"));
}

}  // namespace
}  // namespace sondrel::e2e
