#include "app/settings_file.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

namespace sondrel {
namespace {

// The record is large; keep it on the heap.
std::unique_ptr<SessionState> Defaults() {
  auto s = std::make_unique<SessionState>();
  ResetSessionState(*s);
  return s;
}

std::unique_ptr<SessionState> Parse(std::string_view text) {
  auto s = Defaults();
  ParseSettingsText(*s, text);
  return s;
}

std::string ReadBytes(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteBytes(const char* path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

int OpenFdCount() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

// Every test runs in a fresh temporary directory: param.txt is relative.
class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    char pattern[] = "/tmp/sondrel_settings_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(dir_);
  }
  std::filesystem::path previous_;
  std::filesystem::path dir_;
};

// A state with every stored field away from its default, used slots with gaps.
std::unique_ptr<SessionState> FullState() {
  auto s = Defaults();
  s->tracks = 4;
  s->inputs = 3;
  s->outputs = 4;
  SetText(s->deviceName, "hw:CARD=Gen,DEV=0");
  s->sampleRate = 96000;
  s->inPoint = 1024;
  s->outPoint = 2147483647;
  s->punchPoint = 4096;
  s->memoryPoint = 8192;
  s->clockMode = 2;
  s->peakCheck = 0;
  s->interfaceMode = 0;
  s->odcomp = 6;
  s->channelVolume = {-3.5f, 0.0f, 6.25f, -60.0f};
  s->channelPan = {-100.0f, 0.0f, 35.0f, 100.0f};
  s->mixMode = 2;
  s->meterRange = -48;
  s->tempo = 98.25f;
  s->beatsPerMeasure = 3;
  s->tempoMode = 1;
  s->safeMode = 1;
  s->rangeStart[2] = 44100, s->rangeEnd[2] = 88200;
  SetText(s->rangeNames[2], "verse one");
  s->rangeStart[10] = 0, s->rangeEnd[10] = 5000;  // only the end set: still stored
  SetText(s->rangeNames[10], "tail");
  s->rangeStart[63] = 7, s->rangeEnd[63] = 9;
  SetText(s->rangeNames[63], "last  range\twith tab");
  s->locatePoints[1] = 22050;
  SetText(s->locateNames[1], "intro hit");
  s->locatePoints[30] = -64;
  SetText(s->locateNames[30], "pre");
  s->nudge = 0.125f;
  s->solo[1] = 1;
  s->solo[3] = 1;
  SetText(s->playlistFiles[0], "my play.txt");
  SetText(s->playlistFiles[4], "alt.txt");
  SetText(s->playlistFiles[127], "last.txt");
  SetText(s->recordlistFiles[1], "second rec.txt");
  s->busActive[0] = 1;
  s->busChannels[0][0] = s->busChannels[0][1] = s->busChannels[0][255] = 1;
  s->busActive[63] = 1;
  s->busChannels[63][2] = 1;
  s->preroll = 1.5f;
  s->crossfade = 12.5f;
  s->busVolume[0] = -6.0f;
  s->busVolume[63] = 3.5f;
  s->auditionLength = 4.25f;
  return s;
}

TEST_F(SettingsFileTest, FullStateRoundTripsThroughStoreAndGetParams) {
  const auto original = FullState();
  testing::internal::CaptureStdout();
  Store_Settings(*original, 512);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nStored Settings\n\n");
  EXPECT_FALSE(std::filesystem::exists(kSettingsTempFileName));

  auto read = Defaults();
  const int fdsBefore = OpenFdCount();
  std::FILE* stream = std::fopen(kSettingsFileName, "r");
  ASSERT_NE(stream, nullptr);
  GET_PARAMS(*read, stream);  // closes the stream
  EXPECT_EQ(OpenFdCount(), fdsBefore);

  // Ranges and locate points close up; everything else comes back in place.
  auto expected = FullState();
  expected->periodFrames = 512;
  expected->rangeStart = {44100, 0, 7};
  expected->rangeEnd = {88200, 5000, 9};
  for (auto& name : expected->rangeNames) SetText(name, "(name)");
  SetText(expected->rangeNames[0], "verse one");
  SetText(expected->rangeNames[1], "tail");
  SetText(expected->rangeNames[2], "last  range\twith tab");
  expected->locatePoints = {22050, -64};
  for (auto& name : expected->locateNames) SetText(name, "(name)");
  SetText(expected->locateNames[0], "intro hit");
  SetText(expected->locateNames[1], "pre");

  const SessionState& a = *read;
  const SessionState& e = *expected;
  EXPECT_EQ(a.tracks, e.tracks);
  EXPECT_EQ(a.inputs, e.inputs);
  EXPECT_EQ(a.outputs, e.outputs);
  EXPECT_EQ(TextOf(a.deviceName), TextOf(e.deviceName));
  EXPECT_EQ(a.sampleRate, e.sampleRate);
  EXPECT_EQ(a.inPoint, e.inPoint);
  EXPECT_EQ(a.outPoint, e.outPoint);
  EXPECT_EQ(a.punchPoint, e.punchPoint);
  EXPECT_EQ(a.memoryPoint, e.memoryPoint);
  EXPECT_EQ(a.clockMode, e.clockMode);
  EXPECT_EQ(a.peakCheck, e.peakCheck);
  EXPECT_EQ(a.periodFrames, e.periodFrames);
  EXPECT_EQ(a.interfaceMode, e.interfaceMode);
  EXPECT_EQ(a.odcomp, e.odcomp);
  EXPECT_EQ(a.channelVolume, e.channelVolume);
  EXPECT_EQ(a.channelPan, e.channelPan);
  EXPECT_EQ(a.mixMode, e.mixMode);
  EXPECT_EQ(a.meterRange, e.meterRange);
  EXPECT_EQ(a.tempo, e.tempo);
  EXPECT_EQ(a.beatsPerMeasure, e.beatsPerMeasure);
  EXPECT_EQ(a.tempoMode, e.tempoMode);
  EXPECT_EQ(a.safeMode, e.safeMode);
  EXPECT_EQ(a.rangeStart, e.rangeStart);
  EXPECT_EQ(a.rangeEnd, e.rangeEnd);
  EXPECT_EQ(a.locatePoints, e.locatePoints);
  for (int i = 0; i < kRangeCount; ++i) {
    EXPECT_EQ(TextOf(a.rangeNames[i]), TextOf(e.rangeNames[i])) << i;
    EXPECT_EQ(TextOf(a.locateNames[i]), TextOf(e.locateNames[i])) << i;
  }
  EXPECT_EQ(a.nudge, e.nudge);
  EXPECT_EQ(a.solo, e.solo);
  for (int i = 0; i < kListSlots; ++i) {
    EXPECT_EQ(TextOf(a.playlistFiles[i]), TextOf(e.playlistFiles[i])) << i;
    EXPECT_EQ(TextOf(a.recordlistFiles[i]), TextOf(e.recordlistFiles[i])) << i;
  }
  EXPECT_EQ(a.busActive, e.busActive);
  EXPECT_EQ(a.busChannels, e.busChannels);
  EXPECT_EQ(a.preroll, e.preroll);
  EXPECT_EQ(a.crossfade, e.crossfade);
  EXPECT_EQ(a.busVolume, e.busVolume);
  EXPECT_EQ(a.auditionLength, e.auditionLength);
  // Slot numbers of ranges and locates are not stored, so the text is stable.
  EXPECT_EQ(BuildSettingsText(a, 512), ReadBytes(kSettingsFileName));
}

TEST(SettingsText, ExactTextForAKnownState) {
  auto s = Defaults();
  s->tracks = s->inputs = s->outputs = 2;
  s->channelPan[1] = -100.0f;
  s->solo[1] = 1;
  s->solo[0] = 2;  // only exactly 1 means soloed
  s->rangeStart[4] = 44100, s->rangeEnd[4] = 88200;
  SetText(s->rangeNames[4], "verse one");
  s->locatePoints[1] = 22050;
  SetText(s->locateNames[1], "intro");
  s->busActive[0] = 1;
  s->busChannels[0][0] = s->busChannels[0][1] = 1;
  s->busVolume[0] = -6.5f;
  EXPECT_EQ(BuildSettingsText(*s, 256),
            "dv\tdefault\nsr\t44100\ninputs\t2\noutputs\t2\nch\t2\nbuf\t256\nint\t1\n"
            "clock\tuc\npeak\tcp\ni\t0\no\t0\ne\t0\nnudge\t0.2500\nproll\t0.000\naud\t3.00\n"
            "xfade\t0.0\nmem\t0\nodcomp\t4\nmix\t0\nmeter\t-30\ntmode\t0\ntempo\t120.00\n"
            "sig\t4\nsafe\t0\n"
            "\nVolume Settings:\nv\t1\t0.00\nv\t2\t0.00\n"
            "\nPan Settings:\np\t1\t0\np\t2\t-100\n"
            "\nSolo Settings:\nsolo\t2\n"
            "\nTime Ranges:\nrange\t44100\t88200\tverse one\n"
            "\nLocate Points:\nloc\t22050\tintro\n"
            "\nPlaylist Files:\nplay\t1\tplay.txt\n"
            "\nRecordlist Files:\nrec\t1\trecord.txt\n"
            "\nBus Assignments:\nbus\t1\t1,2,\n"
            "\nBus Volumes (dB):\nbusvl\t1\t-6.50\n");
}

TEST(SettingsText, FirstRunTextIsRowsOneToSeven) {
  auto s = Defaults();
  s->tracks = 16, s->inputs = 8, s->outputs = 8, s->sampleRate = 48000;
  SetText(s->deviceName, "a-device-name-well-beyond-27-characters");
  EXPECT_EQ(BuildFirstRunText(*s, 4096),
            "dv\ta-device-name-well-beyond-27-characters\nsr\t48000\ninputs\t8\noutputs\t8\n"
            "ch\t16\nbuf\t4096\nint\t1\n");
}

TEST(SettingsText, NoChannelRowsBelowOneTrackAndZeroBusVolumesLeaveOnlyHeaders) {
  auto s = Defaults();  // tracks -1
  const std::string text = BuildSettingsText(*s, 1024);
  EXPECT_NE(text.find("\nVolume Settings:\n\nPan Settings:\n\nSolo Settings:\n\nTime Ranges:\n"),
            std::string::npos);
  EXPECT_EQ(text.find("busvl"), std::string::npos);
  EXPECT_TRUE(text.ends_with("\nBus Volumes (dB):\n"));
}

TEST(SettingsText, PositionsBeyond32BitsDoNotSurvive) {
  auto s = Defaults();
  s->inPoint = 3000000000LL;
  s->rangeStart[0] = 4294967296LL + 5, s->rangeEnd[0] = 1;
  const std::string text = BuildSettingsText(*s, 1024);
  EXPECT_NE(text.find("\ni\t-1294967296\n"), std::string::npos);
  EXPECT_NE(text.find("range\t5\t1\t(name)\n"), std::string::npos);
  const auto read = Parse(text);
  EXPECT_EQ(read->inPoint, -1294967296LL);
  EXPECT_EQ(read->rangeStart[0], 5);
}

TEST(GetParams, SingleDeviceLineSetsOnlyTheDevice) {
  for (const char* text : {"dv\thw:1,0\n", "dv\thw:1,0"}) {
    const auto read = Parse(text);
    auto expected = Defaults();
    SetText(expected->deviceName, "hw:1,0");
    EXPECT_EQ(TextOf(read->deviceName), "hw:1,0");
    EXPECT_EQ(BuildSettingsText(*read, 1), BuildSettingsText(*expected, 1)) << text;
  }
  EXPECT_EQ(TextOf(Parse("dv hw:2 x\n")->deviceName), "hw:2 x");  // a blank ends the key too
}

TEST(GetParams, WordRules) {
  EXPECT_EQ(Parse("clock\tuc\n")->clockMode, 1);
  EXPECT_EQ(Parse("clock\tsc\n")->clockMode, 2);
  EXPECT_EQ(Parse("clock\thc\n")->clockMode, 0);
  EXPECT_EQ(Parse("clock\thc \n")->clockMode, 1);            // compared exactly
  EXPECT_EQ(Parse("clock\tsc\nclock\tuc\n")->clockMode, 2);  // uc never sets
  EXPECT_EQ(Parse("peak\tnp\n")->peakCheck, 0);
  EXPECT_EQ(Parse("peak\tcp\n")->peakCheck, 1);
  EXPECT_EQ(Parse("int\t0\n")->interfaceMode, 0);
  EXPECT_EQ(Parse("int\t5\n")->interfaceMode, 1);
  EXPECT_EQ(Parse("mix\t7\n")->mixMode, 0);
  EXPECT_EQ(Parse("mix\t3\n")->mixMode, 3);
  EXPECT_EQ(Parse("tmode\t-1\n")->tempoMode, 0);
  EXPECT_EQ(Parse("tmode\t1\n")->tempoMode, 1);
  EXPECT_EQ(Parse("tmode\t2\n")->tempoMode, 0);
  EXPECT_EQ(Parse("aud\t-2\n")->auditionLength, 0.0f);
  EXPECT_EQ(Parse("aud\t1.5\n")->auditionLength, 1.5f);
}

TEST(GetParams, NumberRules) {
  EXPECT_EQ(Parse("sr\t  +48000xyz\n")->sampleRate, 48000u);
  EXPECT_EQ(Parse("meter\tabc\n")->meterRange, 0);
  EXPECT_EQ(Parse("sig\t-3\n")->beatsPerMeasure, -3);
  EXPECT_EQ(Parse("buf\t0x40\n")->periodFrames, 0);  // base 10 only
  EXPECT_EQ(Parse("o\t4294967297\n")->outPoint, 1);
  EXPECT_EQ(Parse("mem\t-2147483648\n")->memoryPoint, INT_MIN);
  EXPECT_EQ(Parse("e\t99999999999999999999999\n")->punchPoint, -1);  // saturated, low 32 bits
  EXPECT_EQ(Parse("tempo\t1.2e2\n")->tempo, 120.0f);
  EXPECT_EQ(Parse("nudge\t.5\n")->nudge, 0.5f);
  EXPECT_EQ(Parse("xfade\tjunk\n")->crossfade, 0.0f);
  EXPECT_EQ(Parse("proll\t1e300\n")->preroll, HUGE_VALF);
}

TEST(GetParams, KeyScanning) {
  EXPECT_EQ(Parse("sr\n\n48000\n")->sampleRate, 48000u);  // value on the next non-empty line
  EXPECT_EQ(TextOf(Parse("junk dv\tx\n")->deviceName), "x");
  EXPECT_EQ(Parse("SR\t48000\n")->sampleRate, 44100u);       // case-sensitive
  EXPECT_EQ(Parse("sr\t48000 tempo\t90\n")->tempo, 120.0f);  // words after a value are ignored
  using namespace std::string_view_literals;
  EXPECT_EQ(TextOf(Parse("sr\t48000\n\0dv\tx\n"sv)->deviceName), "default");  // text ends at NUL
}

TEST(GetParams, ChannelLinesAreBoundedByTracksReadSoFar) {
  const auto read =
      Parse("v\t1\t-6\nch\t2\nv\t2\t-3\nv\t3\t-9\np\t1\t-50\np\t0\t5\nsolo\t2\nsolo\t3\n");
  EXPECT_EQ(read->channelVolume[0], 0.0f);
  EXPECT_EQ(read->channelVolume[1], -3.0f);
  EXPECT_EQ(read->channelVolume[2], 0.0f);
  EXPECT_EQ(read->channelPan[0], -50.0f);
  EXPECT_EQ(read->solo[1], 1);
  EXPECT_EQ(read->solo[2], 0);
  // A ch beyond the table never lets a line write past channel 256.
  const auto big = Parse("ch\t1000\nv\t300\t-6\np\t257\t10\nsolo\t400\nv\t256\t-1\nsolo\t256\n");
  EXPECT_EQ(big->tracks, 1000);
  EXPECT_EQ(big->channelVolume[255], -1.0f);
  EXPECT_EQ(big->solo[255], 1);
}

TEST(GetParams, RangesAndLocatesFillSlotsInFileOrder) {
  std::string text;
  for (int i = 1; i <= 70; ++i)
    text += "range\t" + std::to_string(i) + "\t" + std::to_string(i * 10) + "\tr " +
            std::to_string(i) + "\n";
  text += "loc\t0\tzero\nloc\t500\tfive hundred\n";
  const auto read = Parse(text);
  EXPECT_EQ(read->rangeStart[0], 1);
  EXPECT_EQ(TextOf(read->rangeNames[0]), "r 1");
  EXPECT_EQ(read->rangeStart[62], 63);
  EXPECT_EQ(read->rangeStart[63], 70);
  EXPECT_EQ(read->rangeEnd[63], 700);
  EXPECT_EQ(TextOf(read->rangeNames[63]), "r 70");
  EXPECT_EQ(read->locatePoints[0], 0);  // stored like any other position
  EXPECT_EQ(TextOf(read->locateNames[0]), "zero");
  EXPECT_EQ(read->locatePoints[1], 500);
  EXPECT_EQ(TextOf(read->locateNames[1]), "five hundred");
  EXPECT_EQ(TextOf(read->locateNames[2]), "(name)");
}

TEST(GetParams, RangeWithoutNameGetsDefaultNameAndMessage) {
  testing::internal::CaptureStdout();
  const auto read = Parse("range\t100\t200\nrange\t300\t400\tb\nloc\t7\nloc\t8\tx\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error parsing time ranges in param.txt file!\n");
  EXPECT_EQ(read->rangeStart[0], 100);
  EXPECT_EQ(read->rangeEnd[0], 200);
  EXPECT_EQ(TextOf(read->rangeNames[0]), "range1");
  EXPECT_EQ(TextOf(read->rangeNames[1]), "b");
  EXPECT_EQ(read->locatePoints[0], 7);  // a locate line without a name keeps the slot's name
  EXPECT_EQ(TextOf(read->locateNames[0]), "(name)");
  EXPECT_EQ(TextOf(read->locateNames[1]), "x");
}

TEST(GetParams, ListSlots) {
  const auto read = Parse(
      "play\t2\tmy list.txt\nrec\t128\tlast take.txt\nplay\t0\tfoo\n"
      "play\t200\tsr\t48000\nrec\t129\n");
  EXPECT_EQ(TextOf(read->playlistFiles[0]), "play.txt");
  EXPECT_EQ(TextOf(read->playlistFiles[1]), "my list.txt");
  EXPECT_EQ(TextOf(read->recordlistFiles[127]), "last take.txt");
  EXPECT_EQ(read->sampleRate, 48000u);  // out-of-range index: its words are tried as keys
}

TEST(GetParams, BusLines) {
  const auto read = Parse(
      "bus\t3\t1,2,300,4,\nbus\t65\t1,\nbus\t5\t9,\nbus\t5\t10,11\n"
      "busvl\t2\t-12.5\nbusvl\t65\t3\nbusvl\t0\t3\n");
  EXPECT_EQ(read->busActive[2], 1);
  EXPECT_EQ(read->busChannels[2][0] + read->busChannels[2][1] + read->busChannels[2][3], 3);
  EXPECT_EQ(read->busChannels[2][2], 0);
  EXPECT_EQ(read->busChannels[4][8], 0);  // the last line for a bus replaces the text
  EXPECT_EQ(read->busChannels[4][9] + read->busChannels[4][10], 2);
  int active = 0, routed = 0;
  for (int b = 0; b < kBusCount; ++b) {
    active += read->busActive[b];
    for (int c = 0; c < kMaxChannels; ++c) routed += read->busChannels[b][c];
  }
  EXPECT_EQ(active, 2);
  EXPECT_EQ(routed, 5);
  EXPECT_EQ(read->busVolume[1], -12.5f);
  EXPECT_EQ(read->busVolume[0] + read->busVolume[63], 0.0f);
}

TEST(ActivateBussesTest, SetsNeverClears) {
  auto s = Defaults();
  s->busChannels[0][99] = 1;
  BusListTexts lists;
  lists[0] = "0,-1,257,abc, 7,,8x";
  lists[1] = "0,";
  ActivateBusses(lists, s->busChannels, s->busActive);
  EXPECT_EQ(s->busChannels[0][99], 1);
  EXPECT_EQ(s->busChannels[0][6], 1);
  EXPECT_EQ(s->busChannels[0][7], 1);
  EXPECT_EQ(s->busActive[0], 1);
  EXPECT_EQ(s->busActive[1], 0);
}

TEST(GetParams, IncompleteLastLinesAreSkipped) {
  for (const char* text : {"sr", "sr\t", "sr\n\n", "sr ", "dv"}) {
    const auto read = Parse(text);
    EXPECT_EQ(read->sampleRate, 44100u) << text;
    EXPECT_EQ(TextOf(read->deviceName), "default") << text;
  }
  testing::internal::CaptureStdout();
  for (const char* text : {"range\t100\t200", "range\t100\t200\t", "range\t100\t200\n", "range\n\n",
                           "range\t100\t200\n \n", "loc\t500", "loc\t500\t", "loc\t500\n"}) {
    const auto read = Parse(text);
    EXPECT_EQ(read->rangeStart[0] + read->rangeEnd[0] + read->locatePoints[0], 0) << text;
    EXPECT_EQ(TextOf(read->rangeNames[0]), "(name)") << text;
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  // A last line that has its value is read, line end or not.
  EXPECT_EQ(TextOf(Parse("dv\tnull")->deviceName), "null");
  EXPECT_EQ(Parse("ch\t2\nv\t2\t-4.5")->channelVolume[1], -4.5f);
  EXPECT_EQ(Parse("range\t1\t2\tend")->rangeEnd[0], 2);
  EXPECT_EQ(TextOf(Parse("loc\t500\tend")->locateNames[0]), "end");
  EXPECT_EQ(Parse("ch\t2\nv\t2")->channelVolume[1], 0.0f);
  EXPECT_EQ(TextOf(Parse("play\t1\t")->playlistFiles[0]), "play.txt");
}

TEST(GetParams, LongTextsAreCutToTheirFields) {
  const std::string big(10000, 'a');
  const auto read = Parse("dv\t" + big + "\nrange\t1\t2\t" + big + "\nloc\t3\t" + big +
                          "\nplay\t1\t" + big + "\nbus\t1\t" + big + ",2,\nsr\t48000\n");
  EXPECT_EQ(TextOf(read->deviceName), big.substr(0, 63));
  EXPECT_EQ(TextOf(read->rangeNames[0]), big.substr(0, 63));
  EXPECT_EQ(TextOf(read->locateNames[0]), big.substr(0, 63));
  EXPECT_EQ(TextOf(read->playlistFiles[0]), big.substr(0, 127));
  EXPECT_EQ(read->busChannels[0][1], 1);
  EXPECT_EQ(read->sampleRate, 48000u);
}

TEST_F(SettingsFileTest, FilesLargerThan8192BytesAreReadWhole) {
  std::string text;
  for (int i = 1; i <= 100000; ++i)
    text += "range\t" + std::to_string(i) + "\t" + std::to_string(i + 1) + "\tname\n";
  text += "dv\tafter the ranges\n";
  WriteBytes(kSettingsFileName, text);
  auto read = Defaults();
  GET_PARAMS(*read, std::fopen(kSettingsFileName, "r"));
  EXPECT_EQ(read->rangeStart[63], 100000);
  EXPECT_EQ(TextOf(read->deviceName), "after the ranges");

  // Every bus with all 256 channels: bus lines of about 1 KB, a 64 KB file.
  auto full = Defaults();
  full->tracks = 256;
  full->busActive.fill(1);
  for (auto& row : full->busChannels) row.fill(1);
  testing::internal::CaptureStdout();
  Store_Settings(*full, 1024);
  testing::internal::GetCapturedStdout();
  EXPECT_GT(std::filesystem::file_size(kSettingsFileName), 60000u);
  auto back = Defaults();
  GET_PARAMS(*back, std::fopen(kSettingsFileName, "r"));
  EXPECT_EQ(back->busActive, full->busActive);
  EXPECT_EQ(back->busChannels, full->busChannels);
  EXPECT_EQ(back->tracks, 256);
}

TEST_F(SettingsFileTest, MakeParamFileWritesRowsOneToSeven) {
  auto s = Defaults();
  s->tracks = 16, s->inputs = 8, s->outputs = 8;
  testing::internal::CaptureStdout();
  MAKE_PARAM_FILE(*s, 128);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Created param.txt file\n");
  EXPECT_EQ(ReadBytes(kSettingsFileName), BuildFirstRunText(*s, 128));
  GET_PARAMS(*Defaults(), nullptr);  // a null stream is ignored
}

TEST_F(SettingsFileTest, WriteReplacesTheFileAndKeepsItsMode) {
  WriteBytes(kSettingsFileName, std::string(20000, 'x'));
  ASSERT_EQ(chmod(kSettingsFileName, 0600), 0);
  ASSERT_TRUE(WriteSettingsFile("sr\t48000\n"));
  EXPECT_EQ(ReadBytes(kSettingsFileName), "sr\t48000\n");
  EXPECT_EQ(std::filesystem::status(kSettingsFileName).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_FALSE(std::filesystem::exists(kSettingsTempFileName));
}

TEST_F(SettingsFileTest, FailedWriteLeavesTheOldFileUntouched) {
  const std::string old = "dv\told device\nsr\t48000\n";
  WriteBytes(kSettingsFileName, old);
  ASSERT_EQ(mkdir(kSettingsTempFileName, 0755), 0);  // the temporary file cannot be made
  errno = 0;
  EXPECT_FALSE(WriteSettingsFile("sr\t96000\n"));
  EXPECT_EQ(errno, EISDIR);
  testing::internal::CaptureStdout();
  Store_Settings(*FullState(), 512);
  MAKE_PARAM_FILE(*FullState(), 512);
  const std::string printed = testing::internal::GetCapturedStdout();
  const std::string failure =
      "Could not write param.txt: Is a directory\n"
      "The settings were not saved; any previous param.txt was left unchanged.\n";
  EXPECT_EQ(printed, failure + failure);
  EXPECT_EQ(ReadBytes(kSettingsFileName), old);
  EXPECT_TRUE(std::filesystem::is_directory(kSettingsTempFileName));
}

// Random texts made of the file's own words: the reader must never overrun a
// field (run under the sanitizer build too).
TEST(GetParams, RandomTextsStayInBounds) {
  static const char* const kPieces[] = {
      "dv",  "sr",  "ch",    "v",           "p",    "solo", "range", "loc", "play",
      "rec", "bus", "busvl", "clock",       "i",    "mix",  "\t",    "\t",  " ",
      "\n",  "\n",  "-",     "1",           "64",   "65",   "128",   "129", "256",
      "257", "300", ",",     "99999999999", "name", "1e40", "0"};
  std::mt19937 random(1234);
  auto s = Defaults();
  testing::internal::CaptureStdout();
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int count = static_cast<int>(random() % 80);
    for (int i = 0; i < count; ++i) text += kPieces[random() % std::size(kPieces)];
    ParseSettingsText(*s, text);
  }
  testing::internal::GetCapturedStdout();
  EXPECT_LT(strnlen(s->deviceName.data(), kDeviceNameSize), kDeviceNameSize);
  for (const auto& slot : s->playlistFiles)
    EXPECT_LT(strnlen(slot.data(), kListSlotSize), kListSlotSize);
  for (const auto& name : s->rangeNames) EXPECT_LT(strnlen(name.data(), kNameSize), kNameSize);
}

}  // namespace
}  // namespace sondrel
