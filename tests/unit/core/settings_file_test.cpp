#include "core/settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>
#include <tuple>

#include "tests/support/project.h"

namespace sondrel {
namespace {

namespace fs = std::filesystem;
using namespace sondrel::test;  // NOLINT
using namespace std::string_view_literals;

// The record is large; keep it on the heap.
std::unique_ptr<SessionState> Defaults() {
  auto s = std::make_unique<SessionState>();
  ResetSessionState(*s);
  return s;
}

int rangesWithoutName = 0;  // summed over every parse of a test

std::unique_ptr<SessionState> Parse(std::string_view text) {
  auto s = Defaults();
  rangesWithoutName += ParseSettingsText(*s, text).rangesWithoutName;
  return s;
}

// param.txt is relative: each test runs in its project.
using SettingsFileTest = InProjectTest;

// A known state writes exactly this text, which a save (keeping the user's file mode) and a read give back unchanged.
// Slot numbers are not stored: ranges and locate points close up their gaps. The table below reads each key.
TEST_F(SettingsFileTest, KnownStateWritesItsExactTextAndReadsItBack) {
  auto s = Defaults();
  s->tracks = s->inputs = s->outputs = 2, s->channelPan[1] = -100.0f;
  s->solo[0] = 2, s->solo[1] = 1;  // only exactly 1 means soloed
  // Positions past 2^31 samples (12.4 h at 48 kHz) and 2^40 are saved whole.
  s->inPoint = 2147483648LL, s->rangeStart[4] = 1099511627776LL + 5;
  s->rangeEnd[4] = 88200, SetText(s->rangeNames[4], "verse one");
  s->rangeEnd[10] = 5000, SetText(s->rangeNames[10], "tail");  // only the end set: still stored
  s->locatePoints[1] = 22050, SetText(s->locateNames[1], "intro");
  s->busActive[0] = s->busChannels[0][0] = s->busChannels[0][1] = 1, s->busVolume[0] = -6.5f;
  const std::string text = BuildSettingsText(*s, 256);
  EXPECT_EQ(text,
            "dv\tdefault\nsr\t44100\ninputs\t2\noutputs\t2\nch\t2\nbuf\t256\nint\t1\n"
            "clock\tuc\npeak\tcp\ni\t2147483648\no\t0\ne\t0\nnudge\t0.2500\nproll\t0.000\naud\t3.00\n"
            "xfade\t0.0\nmem\t0\nodcomp\t4\nmix\t0\nmeter\t-30\ntmode\t0\ntempo\t120.00\n"
            "sig\t4\nsafe\t0\n\nVolume Settings:\nv\t1\t0.00\nv\t2\t0.00\n\nPan Settings:\n"
            "p\t1\t0\np\t2\t-100\n\nSolo Settings:\nsolo\t2\n\nTime Ranges:\n"
            "range\t1099511627781\t88200\tverse one\nrange\t0\t5000\ttail\n\nLocate Points:\nloc\t22050\tintro\n\n"
            "Playlist Files:\nplay\t1\tplay.txt\n\nRecordlist Files:\nrec\t1\trecord.txt\n\n"
            "Bus Assignments:\nbus\t1\t1,2,\n\nBus Volumes (dB):\nbusvl\t1\t-6.50\n");
  WriteFile(kSettingsFileName, "old");
  ASSERT_EQ(chmod(kSettingsFileName, 0600), 0);
  EXPECT_TRUE(WriteSettingsFile(text));
  EXPECT_EQ(fs::status(kSettingsFileName).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  auto read = Defaults();
  EXPECT_EQ(ReadSettings(*read, OpenFile(kSettingsFileName, "r")).rangesWithoutName, 0);
  EXPECT_EQ(std::tuple(read->rangeEnd[1], read->locatePoints[0], read->periodFrames), std::tuple(5000, 22050, 256));
  EXPECT_EQ(BuildSettingsText(*read, 256), text);
}

// Each hand-written text read into a default state, then looked for in the text
// that state writes ("<end>" marks the end of that text).
TEST(GetParams, ReadsWhatEachLineMeans) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"clock\thc\n", "\nclock\thc\n"}, {"clock\thc \n", "\nclock\tuc\n"},  // compared exactly
      {"clock\tsc\nclock\tuc\n", "\nclock\tsc\n"}, {"mix\t7\n", "\nmix\t0\n"},  // uc never sets
      {"tmode\t-1\n", "\ntmode\t0\n"}, {"aud\t-2\n", "\naud\t0.00\n"}, {"peak\tnp\n", "\npeak\tnp\n"},
      {"nudge\t0.125\n", "\nnudge\t0.1250\n"}, {"range\t7\t9\ta  b\tc\n", "\nrange\t7\t9\ta  b\tc\n"},
      // Numbers: leading blanks and sign, base 10, counts held to 32 bits, positions 64-bit, saturation.
      {"sr\t  +48000xyz\n", "\nsr\t48000\n"}, {"meter\t0x40\n", "\nmeter\t0\n"}, {"sr\t4294967297\n", "\nsr\t4294967295\n"},
      {"meter\t-99999999999\n", "\nmeter\t-2147483648\n"},  // numbers stop at their ends, never wrap
      {"o\t4294967297\n", "\no\t4294967297\n"}, {"e\t99999999999999999999999\n", "\ne\t9223372036854775807\n"}, {"tempo\t1.2e2\n", "\ntempo\t120.00\n"},
      {"proll\t1e300\n", "\nproll\tinf\n"}, {"sr\n\n48000\n", "\nsr\t48000\n"},
      // A measured latency (0 is one) is kept; a negative one means none, and none is not written.
      {"rtlat\t0\n", "\nodcomp\t4\nrtlat\t0\nmix"}, {"rtlat\t480x\n", "\nrtlat\t480\nmix"},
      {"rtlat\t-1\n", "\nodcomp\t4\nmix"},
      // Keys: case-sensitive, any word may be one, and the text ends at a NUL.
      {"SR\t48000\n", "\nsr\t44100\n"}, {"sr\t48000 tempo\t90\n", "\ntempo\t120.00\n"}, {"junk dv\tx\n", "dv\tx\n"},
      {"dv hw:2 x\n", "dv\thw:2 x\n"}, {"sr\t48000\n\0dv\tx\n"sv, "dv\tdefault\n"},
      // Channel lines count only up to the ch read so far, and never past 256.
      {"v\t1\t-6\nch\t2\nv\t2\t-3\nv\t3\t-9\n", ":\nv\t1\t0.00\nv\t2\t-3.00\n\n"},
      {"ch\t2\np\t1\t-50\np\t0\t5\nsolo\t2\nsolo\t3\n", "\np\t1\t-50\np\t2\t0\n\nSolo Settings:\nsolo\t2\n\n"},
      {"ch\t1000\nv\t300\t-6\np\t257\t1\nsolo\t400\nv\t256\t-1\n", "\nv\t256\t-1.00\n\nPan"},
      // A range without a name gets one (and a message); a locate keeps its slot's.
      {"range\t100\t200\nrange\t3\t4\tb\n", "range\t100\t200\trange1\nrange\t3\t4\tb\n\n"},
      {"loc\t7\nloc\t8\tx\n", "\nloc\t7\t(name)\nloc\t8\tx\n\n"},
      {"play\t2\tmy list\n", "\nplay\t2\tmy list\n"}, {"rec\t128\tz.txt\n", "\nrec\t128\tz.txt\n"},
      {"play\t200\tsr\t48000\nplay\t0\tx\n", "\nsr\t48000\n"},  // bad slot: its words are keys
      {"bus\t3\t1,2,300,4,\nbus\t65\t1,\n", "Assignments:\nbus\t3\t1,2,4,\n\n"},
      {"bus\t5\t9,\nbus\t5\t10,11\n", "\nbus\t5\t10,11,\n\n"},  // the last line for a bus wins
      {"bus\t1\t0,-1,257,abc, 7,,8x\n", "\nbus\t1\t7,8,\n\n"},
      {"busvl\t2\t-12.5\nbusvl\t65\t3\nbusvl\t0\t3\n", "(dB):\nbusvl\t2\t-12.50\n<end>"},
      {"busvl\t1\t0.0\nbusvl\t2\t-0\n", "\nBus Volumes (dB):\n<end>"},  // 0 dB is not written
      // A last line cut short is skipped; a complete one is read, line end or not.
      {"sr", "\nsr\t44100\n"}, {"sr\t", "\nsr\t44100\n"}, {"dv", "dv\tdefault\n"}, {"range\t1\t2", ":\n\nLoc"},
      {"range\t1\t2\t", ":\n\nLoc"}, {"range\t1\t2\n \n", ":\n\nLoc"}, {"loc\t5", ":\n\nPlaylist"},
      {"loc\t5\t", ":\n\nPlaylist"}, {"ch\t2\nv\t2", "\nv\t2\t0.00\n"}, {"play\t1\t", "\nplay\t1\tplay.txt\n"},
      {"dv\tnull", "dv\tnull\n"}, {"range\t1\t2\tend", "\nrange\t1\t2\tend\n"}, {"loc\t5\tend", "\nloc\t5\tend\n"},
      {"ch\t2\nv\t2\t-4.5", "\nv\t2\t-4.50\n"}};
  rangesWithoutName = 0;
  for (const auto& [text, line] : cases) {
    SCOPED_TRACE(text);
    EXPECT_NE((BuildSettingsText(*Parse(text), 1) + "<end>").find(line), std::string::npos) << line;
  }
  EXPECT_EQ(rangesWithoutName, 1);  // from the nameless range only
  // Ranges past the 64 slots all go to the last one: the last of them stays.
  std::string ranges;
  for (int i = 1; i <= 70; ++i) ranges += "range\t" + std::to_string(i) + "\t9\tr" + std::to_string(i) + "\n";
  const std::string kept = BuildSettingsText(*Parse(ranges), 1);
  EXPECT_NE(kept.find("\nrange\t63\t9\tr63\nrange\t70\t9\tr70\n\n"), std::string::npos) << kept;
}

}  // namespace
}  // namespace sondrel
