// Edges that once went unchecked: the last slot of the locate and range
// tables, take numbers of takes recorded within one second, and the level
// meter of a recording.
#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

using EdgesTest = ProjectTest;

// Slot 64 is the last one of both tables, not one past it: it stores, and
// it is saved.
TEST_F(EdgesTest, TheLastLocateAndRangeSlotsStore) {
  WriteParams("");
  WriteLists("", "");
  RunChecked("i5 i.l 64 o6 io. 64 last s x\n", 0);
  const std::string saved = ReadFile("param.txt");
  EXPECT_NE(saved.find("\nloc\t221184\t"), std::string::npos) << saved;
  EXPECT_NE(saved.find("\nrange\t221184\t265216\tlast\n"), std::string::npos) << saved;
}

// Takes made within one second (typed-ahead words, a script) each get a
// number of their own: the backup a punch-in makes first must never replace
// the backup of the punch-in before it, which holds audio nothing else has.
TEST_F(EdgesTest, TakesRecordedInOneSecondKeepApartTheirBackups) {
  WriteParams("e\t1024\no\t3072\n");
  WriteLists("song.wav\n", "");
  WriteWav("song.wav", Ramp(8192));
  RunChecked("R cin R cin R cin x\n", 0, {"song.wav"});
  EXPECT_EQ(NamesMatching(R"(song_bkup_\d+\.wav)").size(), 3u);
}

// A recording long enough for the display to refresh draws the bar meter
// beside the clock.
TEST_F(EdgesTest, ARecordingDrawsTheLevelMeter) {
  WriteParams("e\t0\no\t44100\n");
  WriteLists("voice.wav\n", "");
  const RunResult r = RunChecked("R del x\n", 0);
  EXPECT_NE(r.out.find("\t -30 dB ["), std::string::npos) << r.out;
}

}  // namespace
}  // namespace sondrel::e2e
