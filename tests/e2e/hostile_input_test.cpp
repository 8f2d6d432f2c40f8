// End to end: hostile settings files, track lists, WAV files and typed
// words, and input that ends at any prompt. Every case runs the real program
// and goes through RunChecked (exit status, no sanitizer report, no work file
// left, no existing WAV file changed unless the user asked for it), then
// looks for the message that case must print.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

namespace fs = std::filesystem;

using HostileInputTest = ProjectTest;

std::string Repeat(const std::string& text, std::size_t times) {
  std::string out;
  out.reserve(text.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += text;
  return out;
}

// Reproducible noise: the same bytes on every run.
std::string Noise(std::size_t size, bool withNul) {
  std::string out;
  std::uint32_t state = 12345;
  while (out.size() < size) {
    state = state * 1103515245u + 12345u;
    const char c = static_cast<char>(state >> 24);
    if (c != '\0' || withNul) out += c;
  }
  return out;
}

bool Contains(const RunResult& r, const std::string& text) {
  return r.out.find(text) != std::string::npos || r.err.find(text) != std::string::npos;
}

// ------------------------------------------------------------ param.txt

struct SettingsCase {
  std::string name;
  std::string text;     // the whole param.txt
  std::string input;    // typed at the prompt
  int status;
  std::string message;  // printed on either stream
  std::set<std::string> changing = {};
};

// Every numeric key of the settings file, plain and indexed, set to `value`.
std::string EveryNumericKey(const std::string& value, bool measures) {
  std::string text = "dv\tnull\n";
  for (const char* key : {"sr", "inputs", "outputs", "ch", "buf", "odcomp", "meter", "sig", "safe", "i", "o", "e",
                          "mem", "nudge", "proll", "xfade", "tempo", "aud", "int", "mix", "solo"}) {
    text += std::string(key) + "\t" + value + "\n";
  }
  text += measures ? "tmode\t1\n" : "tmode\t" + value + "\n";
  for (const char* key : {"v", "p", "busvl"}) text += std::string(key) + "\t1\t" + value + "\n" + key + "\t" + value + "\t1\n";
  text += "bus\t1\t" + value + ",2,\nbus\t" + value + "\t1,\n";
  text += "range\t" + value + "\t" + value + "\tverse\nloc\t" + value + "\tchorus\n";
  text += "play\t" + value + "\tother.txt\nrec\t" + value + "\tother.txt\n";
  // A value that reads as list slot 1 would name a list that is not there.
  return text + "play\t1\tplay.txt\nrec\t1\trecord.txt\n";
}

std::vector<SettingsCase> SettingsCases() {
  const std::string tail = "ll c lio c x\n";
  std::vector<SettingsCase> cases = {
      {"1 MB of words", "dv\tnull\n" + Repeat("zz 12 \t range\n", 70000), tail, 0, "Returned Driver Parameters"},
      {"binary garbage", "dv\tnull\n" + Noise(100000, false), tail, 0, "Returned Driver Parameters"},
      {"garbage before the device", Noise(100000, false) + "\n\ndv\tnull\n", tail, 0, "Returned Driver Parameters"},
      {"NUL bytes end the text", "dv\tnull\ninputs\t3\n" + std::string(3, '\0') + "inputs\t7\n", tail, 0,
       "Interface inputs  = 3\n"},
      {"100 000 range lines", "dv\tnull\n" + Repeat("range\t1024\t2048\tverse\n", 100000), tail, 0,
       "\n64\t0.02\t0.05\tverse\n"},
      {"10 KB device name", "dv\t" + std::string(10240, 'n') + "\n", tail, 1,
       "Device\t" + std::string(63, 'n') + "\n"},
      {"a key without a value", "dv\tnull\nsr", tail, 0, "Returned Driver Parameters"},
      {"lines cut short", "dv\tnull\nrange\t5\nloc", tail, 0, "Returned Driver Parameters"},
      {"a crossfade beyond float", "dv\tnull\nxfade\t1e39\ne\t0\no\t2048\n", "R ins x\n", 0,
       "The crossfade is longer than ", {"a.wav"}},
      {"a delay compensation of 2^31 periods", "dv\tnull\nodcomp\t2147483647\ni\t0\ne\t1024\no\t2048\n",
       "r del x\n", 0, "Input Channel Peaks"},
      {"an audition length beyond float", "dv\tnull\naud\t1e39\ni\t1024\no\t2048\n", "ai ao ae x\n", 0,
       "Playing..."},
  };
  for (const char* value : {"-1", "-2147483649", "2147483647", "99999999999999999999999", "1e39", "-1e39", "nan",
                            "-inf", "0"}) {
    for (const bool measures : {false, true}) {
      cases.push_back({std::string("every key at ") + value + (measures ? " in measures" : ""),
                       EveryNumericKey(value, measures), "p R c c mix d ll c lio c s x\n", 0, "Stored Settings"});
    }
  }
  return cases;
}

TEST_F(HostileInputTest, SettingsFiles) {
  WriteLists("a.wav\n", "a.wav\n");
  WriteWav("a.wav", std::vector<int>(5000, 77));
  for (const SettingsCase& c : SettingsCases()) {
    SCOPED_TRACE(c.name);
    WriteFile("param.txt", c.text);
    const RunResult r = RunChecked(c.input, c.status, c.changing);
    EXPECT_TRUE(Contains(r, c.message)) << c.message;
    for (const std::string& take : NamesMatching("audio_ch_.*")) fs::remove(project_ / take);
  }
}

// ------------------------------------------------------------ track lists

struct ListCase {
  std::string name;
  std::string list;     // the playlist and the recordlist
  std::string input;
  std::string message;
};

TEST_F(HostileInputTest, TrackLists) {
  WriteParams("inputs\t2\nch\t2\ne\t1024\no\t4096\n");
  WriteWav("a.wav", std::vector<int>(5000, 77));
  WriteWav("good.wav", std::vector<int>(5000, 5));
  WriteFile("good.txt", "good.wav\n-\n");
  fs::create_directory(project_ / "dir.wav");
  const std::string longName = std::string(4096, 'n') + ".wav";
  const std::string commands = "lp c lr c p R ins exp-i mix c f x\n";
  const std::vector<ListCase> cases = {
      {"1 MB", Repeat("a.wav\n", 180000), commands, "Mixing channels  1 2\n"},
      {"10 000 lines", Repeat("missing.wav\n-\n", 5000), commands, "Cannot find file in track list called missing.wav!!"},
      {"4 KB names", longName + "\n" + longName + "\n", commands, ", padded to the project start\n"},
      {"directories", "dir.wav\ndir.wav\n", commands, "Could not open dir.wav: Is a directory\n"},
      {"a directory as the list", "", "lp c lr c p good.txt good.txt R ins x\n",
       "Cannot find playlist file called play.txt\nCreate the file or enter a different name\n"},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* list : {"play.txt", "record.txt"}) {
      fs::remove_all(project_ / list);
      if (c.list.empty()) {
        fs::create_directory(project_ / list);
      } else {
        WriteFile(list, c.list);
      }
    }
    for (const std::string& made : NamesMatching("audio_ch_.*|mix\\.wav")) fs::remove(project_ / made);
    // A punch-in into a.wav and good.wav is what the user asked for.
    const RunResult r = RunChecked(c.input, 0, {"a.wav", "good.wav"});
    EXPECT_TRUE(Contains(r, c.message)) << c.message;
  }
}

TEST_F(HostileInputTest, UnreadableListsAndTracks) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
  WriteParams("inputs\t2\nch\t2\no\t4096\n");
  WriteWav("a.wav", std::vector<int>(5000, 77));
  WriteFile("play.txt", "a.wav\n");
  WriteFile("record.txt", "a.wav\n");
  fs::permissions(project_ / "a.wav", fs::perms::none);
  RunResult r = RunChecked("p f exp-i mix c R ins x\n", 0);
  EXPECT_TRUE(Contains(r, "Cannot find file in track list called a.wav!!"));
  fs::permissions(project_ / "play.txt", fs::perms::none);
  r = RunChecked("lp c p good.txt x good.txt\n", 0);
  EXPECT_TRUE(Contains(r, "Playlist file called play.txt was not found!"));
}

// ------------------------------------------------------------ WAV files

std::string Le(std::uint32_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

std::string Chunk(const std::string& id, const std::string& body) { return id + Le(body.size(), 4) + body; }

std::string Riff(const std::string& chunks) { return "RIFF" + Le(chunks.size() + 4, 4) + "WAVE" + chunks; }

std::string Fmt(int tag, int channels, int bits) {
  const int align = channels * bits / 8;
  return Chunk("fmt ", Le(tag, 2) + Le(channels, 2) + Le(44100, 4) + Le(44100 * align, 4) + Le(align, 2) + Le(bits, 2));
}

// WAVE_FORMAT_EXTENSIBLE with the PCM sub-format.
std::string ExtensibleFmt(int bits) {
  const int align = bits / 8;
  return Chunk("fmt ", Le(0xFFFE, 2) + Le(1, 2) + Le(44100, 4) + Le(44100 * align, 4) + Le(align, 2) + Le(bits, 2) +
                           Le(22, 2) + Le(bits, 2) + Le(4, 4) + Le(1, 2) +
                           std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14));
}

// 1000 samples of a 24-bit ramp.
std::string Audio24() {
  std::string audio;
  for (int n = 0; n < 1000; ++n) audio += Le(static_cast<std::uint32_t>(n * 1000), 3);
  return audio;
}

// What a crossfaded punch-in into the file does.
enum class Punch {
  Exits,    // no data marker: the program ends with status 2
  Refused,  // not a mono 24-bit track: said so, the take stays
  TakesIn,  // the take is punched in
};

struct WavCase {
  std::string name;
  std::string bytes;
  std::string message;  // what "p" says about it; empty when it plays
  Punch punch;
};

// The 24-bit mono file cut at every byte of its header: the format marker
// needs 3 bytes at 12, the channels 2 at 22, the bits 2 at 34, the data
// marker 4 at 36 and its size 4 at 40.
WavCase CutHeader(const std::string& good, std::size_t cut) {
  const std::string name = "cut_" + std::to_string(cut) + ".wav";
  if (cut < 15) return {name, good.substr(0, cut), "Can't find format chunk in wave file!", Punch::Exits};
  if (cut < 24) return {name, good.substr(0, cut), " is not a mono file", Punch::Refused};
  if (cut < 36) return {name, good.substr(0, cut), " is not a 24 bit file", Punch::Refused};
  if (cut < 40) return {name, good.substr(0, cut), "Cannot find data block in file ", Punch::Exits};
  // The file operations need only the marker: they rebuild the size field.
  if (cut < 44) return {name, good.substr(0, cut), "Cannot find data block in file ", Punch::TakesIn};
  return {name, good.substr(0, cut), "", Punch::TakesIn};
}

std::vector<WavCase> WavCases() {
  const std::string good = Riff(Fmt(1, 1, 24) + Chunk("data", Audio24()));
  const std::string noData = "Cannot find data block in file ";
  std::vector<WavCase> cases;
  for (std::size_t cut = 0; cut <= 44; ++cut) cases.push_back(CutHeader(good, cut));
  std::string topBit = good;
  topBit.replace(40, 4, Le(0x80000000u, 4));
  std::string allBits = good;
  allBits.replace(40, 4, Le(0xFFFFFFFFu, 4));
  allBits.replace(4, 4, Le(0xFFFFFFFFu, 4));
  const std::string past128k = Riff(Fmt(1, 1, 24) + Chunk("junk", std::string(131072, 'j')) + Chunk("data", Audio24()));
  const std::string oddMarker = Riff(Fmt(1, 1, 24) + "junk" + Le(5, 4) + "12345" + Chunk("data", Audio24()));
  const std::string fakeData = Riff(Fmt(1, 1, 24) + Chunk("junk", "xxdata" + Le(9, 4)) + Chunk("data", Audio24()));
  const std::string notMono = " is not a mono file";
  const std::string not24 = " is not a 24 bit file";
  cases.insert(cases.end(), {
      {"top_bit.wav", topBit, "", Punch::TakesIn},
      {"all_bits.wav", allBits, "", Punch::TakesIn},
      {"past_128k.wav", past128k, noData, Punch::Exits},
      {"odd_marker.wav", oddMarker, noData, Punch::Exits},
      {"fake_data.wav", fakeData, "", Punch::TakesIn},
      {"pcm8.wav", Riff(Fmt(1, 1, 8) + Chunk("data", std::string(1000, '\x80'))), not24, Punch::Refused},
      {"pcm16.wav", Riff(Fmt(1, 1, 16) + Chunk("data", Noise(2000, true))), not24, Punch::Refused},
      {"pcm32.wav", Riff(Fmt(1, 1, 32) + Chunk("data", Noise(4000, true))), not24, Punch::Refused},
      {"float32.wav", Riff(Fmt(3, 1, 32) + Chunk("data", Noise(4000, true))), not24, Punch::Refused},
      {"stereo24.wav", Riff(Fmt(1, 2, 24) + Chunk("data", Audio24())), notMono, Punch::Refused},
      {"no_channels.wav", Riff(Fmt(1, 0, 24) + Chunk("data", Audio24())), notMono, Punch::Refused},
      {"extensible24.wav", Riff(ExtensibleFmt(24) + Chunk("data", Audio24())), "", Punch::TakesIn},
      {"extensible16.wav", Riff(ExtensibleFmt(16) + Chunk("data", Noise(2000, true))), not24, Punch::Refused},
  });
  return cases;
}

// Every hostile file at once on its own channel: listed, measured, played
// and exported.
TEST_F(HostileInputTest, WavFilesPlayedListedAndExported) {
  const std::vector<WavCase> cases = WavCases();
  std::string list;
  for (const WavCase& c : cases) {
    WriteFile(c.name, c.bytes);
    list += c.name + "\n";
  }
  WriteFile("play.txt", list);
  WriteFile("record.txt", "");
  WriteParams("mix\t1\nch\t" + std::to_string(cases.size()) + "\ni\t0\no\t4096\n");
  const RunResult r = RunChecked("lp c p exp-i mix c f p x\n", 0);
  for (const WavCase& c : cases) {
    if (!c.message.empty()) {
      EXPECT_TRUE(Contains(r, c.message)) << c.name;
    }
  }
  EXPECT_TRUE(Exists("mix.wav"));
}

// Each hostile file as the record file of a crossfaded punch-in.
TEST_F(HostileInputTest, WavFilesAsPunchInTargets) {
  WriteParams("inputs\t1\nch\t1\ne\t1024\no\t2048\nxfade\t1.0\n");
  WriteFile("play.txt", "");
  for (const WavCase& c : WavCases()) {
    SCOPED_TRACE(c.name);
    for (const std::string& wav : NamesMatching(".*\\.wav")) fs::remove(project_ / wav);
    WriteFile(c.name, c.bytes);
    WriteFile("record.txt", c.name + "\n");
    const bool takesIn = c.punch == Punch::TakesIn;
    const RunResult r = RunChecked("R ins x\n", c.punch == Punch::Exits ? 2 : 0,
                                   takesIn ? std::set<std::string>{c.name} : std::set<std::string>{});
    const std::vector<std::string> takes = NamesMatching("audio_ch_1_.*\\.wav");
    EXPECT_EQ(takes.size(), takesIn ? 0u : 1u) << r.out;
    if (c.punch == Punch::Exits) {
      EXPECT_TRUE(Contains(r, "Can't find data block in wave file!"));
    }
    if (c.punch == Punch::Refused) {
      EXPECT_TRUE(Contains(r, "could not be punched into " + c.name));
    }
    // The take ends at the out point, 2048 samples into the file.
    if (takesIn) {
      EXPECT_GE(ReadFile(c.name).size(), 44u + 3u * 2048u);
    }
  }
}

// ------------------------------------------------------------ long words

// After each opening a word of 100 KB is typed; the menus must bound it,
// and a number made of it must not break anything that follows.
TEST_F(HostileInputTest, WordsOf100KBAtEveryPrompt) {
  const auto freshProject = [this] {
    for (const std::string& made : NamesMatching("audio_ch_.*|a.*|.*_bkup_.*|w.*|9.*")) fs::remove_all(project_ / made);
    WriteParams("inputs\t1\nch\t1\ne\t1024\no\t2048\nrange\t1024\t2048\tverse\nloc\t1024\tchorus\n");
    WriteLists("a.wav\n", "a.wav\n");
    WriteWav("a.wav", std::vector<int>(5000, 77));
  };
  const std::string digits(100 * 1024, '9');
  const std::string letters(100 * 1024, 'w');
  const std::vector<std::string> openings = {
      "", "i", "o", "e", "nn", "mtr", "pre", "cf", "aa", "tempo", "tempo 2", "tempo 3", "opt", "safe",
      "io.", "io. 1", ".io", "lio n", "lio n 1", "ll n", "ll n 1", "ll k", "i.l", "l.i", "pf", "pf a",
      "pf a name", "pf rem", "pf ac", "rf", "so a", "so r", "mix", "bus a", "bus a 1", "bus r 1", "mod",
      "ma", "mr", "exp-i", "exp-s", "h", "lr", "lp", "R", "R app", "R aud", "R_", "R rep y"};
  // Enough plain answers to close whatever menu the word left open.
  const std::string closing = " 1 2 d c 0 4 d c d c d 2 x x\n";
  for (const std::string& opening : openings) {
    for (const std::string* word : {&digits, &letters}) {
      SCOPED_TRACE(opening + (word == &digits ? " <digits>" : " <letters>"));
      freshProject();
      const std::string glue = opening.ends_with('_') ? "" : " ";
      const RunResult r = RunChecked(opening + glue + *word + closing, 0);
      EXPECT_LT(r.out.size(), 2u * 1024 * 1024);
    }
  }
}

// ------------------------------------------------------------ end of input

// Input that stops right after each opening: the program ends at once with
// status 0, with no work file left and every take it recorded kept whole.
TEST_F(HostileInputTest, EndOfInputAtEveryPrompt) {
  const std::string params = "inputs\t2\nch\t2\ne\t0\no\t4096\nsafe\t1\nrange\t1024\t2048\tverse\n";
  const std::vector<std::string> openings = {
      "", "+", "h", "lr", "lp", "i", "o", "e", "tempo", "tempo 2", "tempo 3", "tempo 1", "nn", "mtr", "pre",
      "cf", "aa", "opt", "opt sc", "safe", "io.", "io. 1", ".io", "lio", "lio n", "lio n 1", "lio k", "ll",
      "ll n", "ll n 1", "ll k", "i.l", "l.i", "pf", "pf rem", "pf a", "pf a list.txt", "pf ac", "rf", "so",
      "so a", "so r", "mix", "mix h", "bus", "bus a", "bus a 1", "bus r", "mod", "ma", "mr", "exp-i",
      "exp-i mix", "exp-s", "o 0 R", "o 0 R c", "pf none.txt p", "pf none.txt x", "R", "R app",
      "R app mix", "R app mix n", "R rep", "R rep y", "R aud", "R aud 0", "R_take", "R_take take2",
      "R ins", "R cin", "R del", "R awp", "R aws", "R pad", "R stp", "r", "ri", "sp", "p", "ai", "f", "s",
      "j", "n", "rf rem", "rf a"};
  for (const std::string& opening : openings) {
    SCOPED_TRACE(opening);
    for (const std::string& name : NamesMatching(".*\\.wav|.*\\.txt")) fs::remove(project_ / name);
    WriteParams(params);
    WriteLists("a.wav\nb.wav\n", "");
    WriteWav("a.wav", std::vector<int>(5000, 77));
    WriteWav("a_mix.wav", {1});
    WriteWav("b_take.wav", {2});
    const bool decided = opening == "R ins" || opening == "R cin" || opening == "R del";
    const RunResult r = RunChecked(opening, 0, decided ? std::set<std::string>{"a.wav"} : std::set<std::string>{});
    EXPECT_LT(r.seconds, 1.0);
    const std::vector<std::string> takes = NamesMatching("audio_ch_[12]_[0-9]+(_stp_0)?\\.wav");
    if (opening.starts_with("R ") || opening == "R") {
      EXPECT_EQ(takes.size(), decided ? 0u : 2u) << r.out;
      for (const std::string& take : takes) EXPECT_EQ(ReadSamples(take).size(), 4096u);
    }
    // Input 2's take name was asked about after input 1's had been settled:
    // a question never answered leaves no file for either.
    if (opening == "R_take") {
      EXPECT_EQ(NamesMatching("[ab]_take.*"), std::vector<std::string>{"b_take.wav"});
    }
    if (opening == "R_take take2") {
      EXPECT_EQ(ReadSamples("a_take.wav").size(), 4096u);
      EXPECT_EQ(ReadSamples("b_take2.wav").size(), 4096u);
    }
  }
}

TEST_F(HostileInputTest, FirstRunAnswersOf100KB) {
  const std::string digits(100 * 1024, '9');
  const std::string letters(100 * 1024, 'w');
  RunResult r = RunChecked("c " + digits + " " + digits + " " + digits + " null " + digits + " x\n", 0);
  EXPECT_TRUE(Contains(r, "Interface inputs  = 256\nInterface outputs = 256\nTracks (maximum)  = 256\n"));
  fs::remove(project_ / "param.txt");
  r = RunChecked("c 2 2 2 " + letters + " 1 x\n", 1);
  EXPECT_TRUE(Contains(r, "Device\t" + std::string(63, 'w') + "\n"));
  EXPECT_FALSE(Exists("param.txt"));
}

TEST_F(HostileInputTest, EndOfInputInTheFirstRunQuestions) {
  for (const char* opening : {"", "c", "c 2", "c 2 2", "c 2 2 2", "c 2 2 2 null"}) {
    SCOPED_TRACE(opening);
    const RunResult r = RunChecked(opening, 0);
    EXPECT_LT(r.seconds, 1.0);
    EXPECT_FALSE(Exists("param.txt"));
  }
}

}  // namespace
}  // namespace sondrel::e2e
