// End to end: damaged settings, track lists and WAV files, words of 100 KB, input that ends at any prompt; a disk that
// refuses writes part way (a file-size cap), names a directory already holds, takes replaced behind its back. The
// program must not crash, must lose or corrupt no audio, must leave no work file and must say what failed.
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

namespace fs = std::filesystem;
constexpr auto npos = std::string::npos;

enum class Swap { kNone, kDirectory, kJunk };  // what becomes of the take between "R" and the next word

struct Case {
  std::string name, params, input;  // params: the whole param.txt, none for a first run in an empty directory
  int status = 0;
  std::vector<std::string> says = {};
  // How many names match afterwards; each such WAV file not set aside as incomplete holds the whole 4096-sample take.
  std::string match = "";
  int matches = 1;
  std::int64_t cap = 0;                 // bytes any one file may reach
  std::vector<std::string> dirs = {};   // names a directory holds first
  std::set<std::string> changing = {};  // files the user asked to change, param.txt when saved
  std::string record = "song.wav\n", play = "song.wav\n";
  std::vector<std::pair<std::string, std::string>> files = {};  // beside the 20000-sample song.wav
  Swap swap = Swap::kNone;
  std::pair<std::string, std::size_t> atLeast = {"", 0};  // a file that grows to at least so many bytes
};

std::string Params(const std::string& extra) { return "dv\tnull\n" + extra; }

std::string Repeat(const std::string& text, int times) {
  std::string out;
  while (times-- > 0) out += text;
  return out;
}

// A 44.1 kHz file of the format chunk, `between` and a data chunk of `audio`.
std::string Wav(int tag, int channels, int bits, const std::string& audio, const std::string& between = "") {
  return WavFile(tag, channels, bits, 44100, between + Chunk("data", audio));
}

// Every numeric key of the settings file, plain and indexed, set to `v`.
std::string EveryNumericKey(const std::string& v, bool measures) {
  std::string text = "dv\tnull\n";
  // The rate is left to the device test: most values of it are no rate a device runs at.
  for (const char* key : {"inputs", "outputs", "ch", "buf", "odcomp", "meter", "sig", "safe", "i", "o", "e",
                          "mem", "nudge", "proll", "xfade", "tempo", "aud", "int", "mix", "solo"}) {
    text += std::string(key) + "\t" + v + "\n";
  }
  for (const char* key : {"v", "p", "busvl"}) text += std::string(key) + "\t1\t" + v + "\n" + key + "\t" + v + "\t1\n";
  // A value that reads as list slot 1 would name a list that is not there.
  return text + (measures ? "tmode\t1\n" : "tmode\t" + v + "\n") + "bus\t1\t" + v + ",2,\nbus\t" + v + "\t1,\nrange\t" +
         v + "\t" + v + "\tverse\nloc\t" + v + "\tchorus\nplay\t" + v + "\tother.txt\nrec\t" + v +
         "\tother.txt\nplay\t1\tplay.txt\nrec\t1\trecord.txt\n";
}

// Each damaged WAV file, played and mixed with all the others, then alone as the record file of a crossfaded punch-in
// starting past its end: without a data marker the program ends (status 2), a file that is not mono 24-bit keeps the
// take beside it, any other takes it in up to the out point.
void AddWavCases(std::vector<Case>& cases) {
  const std::string good = MonoWavBytes(Ramp(1000, 0, 1000)), audio = good.substr(44), data = "data";
  std::string topBit = good, allBits = good;
  topBit.replace(40, 4, Le(0x80000000u, 4));
  allBits.replace(40, 4, Le(0xFFFFFFFFu, 4)).replace(4, 4, Le(0xFFFFFFFFu, 4));
  struct Damaged { std::string name, bytes, fault; bool exits = false; };  // fault: what "p" says of it
  std::vector<Damaged> wavs = {
      {"top_bit.wav", topBit, ""}, {"all_bits.wav", allBits, ""},
      {"past_128k.wav", Wav(1, 1, 24, audio, Chunk("junk", std::string(131072, 'j'))), data, true},
      {"odd_marker.wav", Wav(1, 1, 24, audio, "junk" + Le(5, 4) + "12345"), data, true},
      {"fake_data.wav", Wav(1, 1, 24, audio, Chunk("junk", "xxdata" + Le(9, 4))), ""},
      {"pcm8.wav", Wav(1, 1, 8, audio), "24"}, {"pcm16.wav", Wav(1, 1, 16, audio), "24"},
      {"pcm32.wav", Wav(1, 1, 32, audio), "24"}, {"float32.wav", Wav(3, 1, 32, audio), "24"},
      {"stereo24.wav", Wav(1, 2, 24, audio), "mono"}, {"no_channels.wav", Wav(1, 0, 24, audio), "mono"},
      {"extensible24.wav", Wav(0xFFFE, 1, 24, audio), ""}, {"extensible16.wav", Wav(0xFFFE, 1, 16, audio), "24"}};
  // The good file cut at every byte of its header: the format marker needs 3 bytes at 12, the channels 2 at 22, the
  // bits 2 at 34, the data marker 4 at 36 and its size 4 at 40 (which the file operations rebuild).
  for (std::size_t cut = 0; cut <= 44; ++cut) {
    wavs.push_back({"cut_" + std::to_string(cut) + ".wav", good.substr(0, cut),
                    cut < 15 ? "fmt" : cut < 24 ? "mono" : cut < 36 ? "24" : cut < 44 ? data : "", cut < 15 || (cut >= 36 && cut < 40)});
  }
  // The mix of 2048 stereo frames.
  Case played{"damaged WAV files played", Params("mix\t1\nch\t" + std::to_string(wavs.size()) + "\ni\t0\no\t2048\n"),
              "lp c p exp-i mix c f p x\n", 0, {}, "mix\\.wav"};
  played.record = played.play = "";
  for (const Damaged& w : wavs) {
    const std::map<std::string, std::string> says = {{"", ""}, {"fmt", "Can't find format chunk in wave file!"},
                                                      {"mono", w.name + " is not a mono file and will not be played"},
                                                      {"24", w.name + " is not a 24 bit file and will not be played"},
                                                      {"data", "Cannot find data block in file " + w.name + "!"}};
    played.says.push_back(says.at(w.fault));
    played.play += w.name + "\n";
    played.files.emplace_back(w.name, w.bytes);
    const bool in = !w.exits && (w.fault.empty() || w.fault == data);
    cases.push_back({.name = "punch-in into " + w.name, .params = Params("inputs\t1\nch\t1\ne\t1024\no\t5120\nxfade\t1\n"),
                     .input = "R ins x\n", .status = w.exits ? 2 : 0,
                     .says = {w.exits ? "Can't find data block in wave file!" : in ? "" : "could not be punched into " + w.name},
                     .match = "audio_ch_1_.*\\.wav", .matches = in ? 0 : 1, .changing = {in ? w.name : ""},
                     .record = w.name + "\n", .play = "", .files = {{w.name, w.bytes}}, .atLeast = {w.name, in ? 44 + 3 * 5120 : 0}});
  }
  cases.push_back(played);
}

std::vector<Case> HostileCases() {
  const std::string lists = "ll c lio c x\n", name4k = std::string(4096, 'n') + ".wav", nines(102400, '9');
  const std::string noise = Repeat(std::string("\x01\xfe\x7f\t\n\r \x80\xff=#\x1b", 12), 8000);  // no NUL bytes
  const std::string twoIn = Params("inputs\t2\nch\t2\ne\t1024\no\t4096\n");
  std::vector<Case> cases = {
      {"settings: noise, 1 MB of words and cut lines around the device",
       noise + "\n\ndv\tnull\n" + Repeat("zz 12 \t range\n", 70000) + noise + "\nrange\t5\nsr", lists, 0, {"Returned Driver Parameters"}},
      {"settings: NUL bytes end the text", Params("inputs\t3\n" + std::string(3, '\0') + "inputs\t7\n"), lists, 0, {"Interface inputs  = 3\n"}},
      {"settings: a 10 KB device name", "dv\t" + std::string(10240, 'n') + "\n", lists, 1, {"Device\t" + std::string(63, 'n') + "\n"}},
      {"settings: a crossfade beyond float", Params("xfade\t1e39\ne\t0\no\t2048\n"), "R ins x\n", 0,
       {"The crossfade is longer than "}, "", 1, 0, {}, {"song.wav"}},
      {"settings: a delay compensation of 2^31 periods", Params("odcomp\t2147483647\ni\t0\ne\t1024\no\t2048\n"), "r del x\n", 0,
       {"Input Channel Peaks"}},
      {"settings: an audition length beyond float", Params("aud\t1e39\ni\t1024\no\t2048\n"), "ai ao ae x\n", 0, {"Playing..."}},
      {"lists: directories", twoIn, "exp-i c lp c lr c p good.txt good.txt R ins x\n", 0,
       {"Cannot find playlist file called play.txt\nNothing was exported.\n", "Playlist file called play.txt was not "
        "found!\nEnter 'c' to continue\n", "Cannot find recordlist file called record.txt\nEnter 'c' to continue\n",
        "Cannot find playlist file called play.txt\nCreate the file or enter a different name\nCannot find recordlist "
        "file called record.txt\nCreate the file or enter a different name\n"}, "mix.*", 0, 0,
       {"play.txt", "record.txt"}, {"good.wav"}, "", "",
       {{"good.wav", MonoWavBytes(std::vector<int>(5000, 5))}, {"good.txt", "good.wav\n-\n"}}},
      // Answers of 100 KB to the first-run questions: numbers are bounded, a device name too long to open ends the
      // program with no settings.
      {"first run: numbers of 100 KB", "", "c " + Repeat(nines + " ", 3) + "null " + nines + " x\n", 0,
       {"Interface inputs  = 256\nInterface outputs = 256\nTracks (maximum)  = 256\n"}, "param\\.txt", 1, 0, {}, {"param.txt"}},
      {"first run: a device name of 100 KB", "", "c 2 2 2 " + std::string(102400, 'w') + " 1 x\n", 1,
       {"Device\t" + std::string(63, 'w') + "\n"}, "param\\.txt", 0},
  };
  for (const auto& [list, says] : std::vector<std::pair<std::string, std::string>>{
           {Repeat("song.wav\n", 180000), "Mixing channels  1 2\n"},
           {Repeat("missing.wav\n-\n", 5000), "Cannot find file in track list called missing.wav!!"},
           {name4k + "\n" + name4k + "\n", ", padded to the project start\n"},
           {"dir.wav\ndir.wav\n", "Could not open dir.wav: Is a directory\n"}}) {
    cases.push_back({.name = "lists: " + says, .params = twoIn, .input = "lp c lr c p R ins exp-i mix c f x\n", .says = {says},
                     .dirs = {"dir.wav"}, .changing = {"song.wav"}, .record = list, .play = list});
  }
  for (const char* value : {"-1", "-2147483649", "2147483647", "99999999999999999999999", "1e39", "-1e39", "nan", "-inf", "0"}) {
    for (const bool measures : {false, true}) {
      cases.push_back({.name = std::string("settings: every key at ") + value + (measures ? " in measures" : ""),
                       .params = EveryNumericKey(value, measures), .input = "p R c c mix d ll c lio c s x\n",
                       .says = {"Stored Settings"}, .changing = {"param.txt"}});
    }
  }
  AddWavCases(cases);
  // A word of 100 KB after each opening: the menus must bound it (checked: output that does not echo it over and over),
  // and a number made of it must break nothing that follows. (Read as a name it is any long word.)
  for (const std::string opening : {"", "i", "o", "e", "nn", "mtr", "pre", "cf", "aa", "tempo", "tempo 2", "tempo 3",
                                    "opt", "safe", "io.", "io. 1", ".io", "lio n", "lio n 1", "ll n", "ll n 1", "ll k",
                                    "i.l", "l.i", "pf", "pf a", "pf a name", "pf rem", "pf ac", "rf", "so a", "so r",
                                    "mix", "bus a", "bus a 1", "bus r 1", "mod", "ma", "mr", "exp-i", "exp-s", "h",
                                    "lr", "lp", "R", "R app", "R aud", "R_", "R rep y"}) {
    cases.push_back({"100 KB after " + opening, Params("inputs\t1\nch\t1\ne\t1024\no\t2048\nrange\t1024\t2048\tverse\nloc\t1024\tchorus\n"),
                     opening + (opening.ends_with('_') ? "" : " ") + nines + " 1 2 d c 0 4 d c d c d 2 x x\n"});
  }
  // Input that ends right after each opening (checked: the program ends at once) keeps whole every take recorded. A
  // take name asked for input 2 after input 1's was settled leaves no file for either.
  for (const std::string opening :
       {"", "+", "h", "lr", "lp", "i", "o", "e", "tempo", "tempo 2", "tempo 3", "tempo 1", "nn", "mtr", "pre", "cf", "aa",
        "opt", "opt sc", "safe", "io.", "io. 1", ".io", "lio", "lio n", "lio n 1", "lio k", "ll", "ll n", "ll n 1", "ll k",
        "i.l", "l.i", "pf", "pf rem", "pf a", "pf a list.txt", "pf ac", "rf", "so", "so a", "so r", "mix", "mix h", "bus",
        "bus a", "bus a 1", "bus r", "mod", "ma", "mr", "exp-i", "exp-i mix", "exp-s", "o 0 R", "o 0 R c", "pf none.txt p",
        "pf none.txt x", "R", "R app", "R app mix", "R app mix n", "R rep", "R rep y", "R aud", "R aud 0", "R_take",
        "R_take take2", "R ins", "R cin", "R del", "R awp", "R aws", "R pad", "R stp", "r", "ri", "sp", "p", "ai", "f",
        "s", "j", "n", "rf rem", "rf a"}) {
    const bool decided = opening == "R ins" || opening == "R cin" || opening == "R del";
    cases.push_back({.name = "input ends after " + opening,
                     .params = Params("inputs\t2\nch\t2\ne\t0\no\t4096\nsafe\t1\nrange\t1024\t2048\tverse\n"), .input = opening,
                     .match = opening == "R_take"         ? "song_take.*|b_take(?!\\.wav$).*"
                              : opening == "R_take take2" ? "song_take\\.wav|b_take2\\.wav"
                              : opening == "R" || opening.starts_with("R ") ? "audio_ch_[12]_[0-9]+(_stp_0)?\\.wav" : "",
                     .matches = decided || opening == "R_take" ? 0 : 2,
                     .changing = {decided ? "song.wav" : opening == "s" ? "param.txt" : ""}, .record = "song.wav\nb.wav\n",
                     .play = "", .files = {{"song_mix.wav", MonoWavBytes({1})}, {"b_take.wav", MonoWavBytes({2})}}});
  }
  for (const std::string opening : {"", "c", "c 2", "c 2 2", "c 2 2 2", "c 2 2 2 null"}) {
    cases.push_back({"first run: input ends after " + opening, "", opening, 0, {}, "param\\.txt", 0});
  }
  return cases;
}

std::vector<Case> FaultCases() {
  const std::string take = "audio_ch_1_[0-9]+\\.wav", stamped = "audio_ch_1_[0-9]+_stp_8192\\.wav";
  const std::string shortTake = Params("inputs\t1\nch\t1\ne\t0\no\t4096\n"), lateTake = Params("inputs\t1\nch\t1\ne\t8192\no\t12288\n");
  const std::string longTake = Params("inputs\t1\nch\t1\ne\t0\no\t20480\n"), settings = Params("inputs\t1\nch\t1\n");
  // Past the end of the song: the punch-in writes in place, so the cap stops it where it grows the file, or before
  // that, saving what it overwrites.
  const std::string endTake = Params("inputs\t1\nch\t1\ne\t18432\no\t22528\n"), endStamped = "audio_ch_1_[0-9]+_stp_18432\\.wav";
  const std::string unpunched = "could not be punched into song.wav", unpadded = "could not be padded";
  const std::string full = "Could not write song.wav: File too large", dir = ": Is a directory";
  const std::string mix = Params("inputs\t1\nch\t1\ni\t0\no\t4096\n"), open = "Could not open audio_ch_1_";
  std::vector<Case> cases = {
      // The cap falls inside a sample: the kept take is cut to whole ones. A take word says the take is not there.
      {"cap in a recording", longTake, "R ins x\n", 0, {"was cut short: File too large", "_incomplete.wav",
       "Input 1 has no take here: it was cut short, and what it holds is audio_ch_1_"},
       "audio_ch_1_[0-9]+_incomplete\\.wav", 1, 30000},
      {"cap in a punch-in", endTake, "R ins x\n", 0, {full, unpunched}, endStamped, 1, 64000},
      {"cap in a punch-in wholly past the end", Params("inputs\t1\nch\t1\ne\t20480\no\t24576\n"), "R ins x\n", 0,
       {full, unpunched}, "audio_ch_1_[0-9]+_stp_20480\\.wav", 1, 64000},
      // The take (12332 bytes) fits under the cap; the record of the audio under it (its 12288 bytes, the header and
      // its own fields) does not.
      {"cap in saving the punched region", shortTake, "R ins x\n", 0,
       {"Could not save the audio under the punch-in into song.wav: File too large", unpunched}, take, 1, 12360},
      {"cap in a padding", lateTake, "R pad x\n", 0, {"Could not write temp_pad.wav: File too large", unpadded}, stamped, 1, 20000},
      // The punch-in still goes ahead: it writes below the cap.
      {"cap in a backup", shortTake, "R cin x\n", 0, {"Cannot create backup file song_bkup_"}, "", 1, 40000, {}, {"song.wav"}},
      {"cap in an export", Params("inputs\t1\nch\t1\ni\t0\no\t20480\n"), "exp-i mix c exp-s mix c x\n", 0,
       {"Writing mix.wav failed: File too large", "Writing mix_L.wav failed: File too large", "Nothing was exported."}, "mix.*", 0, 30000},
      // A script can tell that the settings were not saved: the status is 1, at "x" or at the end of input.
      {"cap in a settings save", settings, "s x\n", 1, {"Could not write param.txt: File too large"}, "", 1, 100},
      {"cap in a settings save as input ends", settings, "s\n", 1, {"Could not write param.txt: File too large"}, "", 1, 100},
      {"cap on the first settings file", "", "c 1 1 1 null 1 x\n", 1, {"Could not write param.txt: File too large\n"},
       "param\\.txt", 0, 20},
      {"temp_pad.wav a directory", lateTake, "R pad x\n", 0, {"Could not create temp_pad.wav: Is a directory", unpadded},
       stamped, 1, 0, {"temp_pad.wav"}},
      {"temp_data.wav a directory", lateTake, "R pad x\n", 0, {"to temp_data.wav: Is a directory", unpadded}, stamped, 1, 0,
       {"temp_data.wav"}},
      {"xfade_temp1.wav a directory", shortTake + "xfade\t10\n", "R ins x\n", 0,
       {"Could not create the crossfade files: Is a directory"}, "", 1, 0, {"xfade_temp1.wav"}, {"song.wav"}},
      {"the punch-in's undo work name a directory", shortTake, "R ins x\n", 0,
       {"Could not save the audio under the punch-in into song.wav: File exists", unpunched}, take, 1, 0, {"punch-in.undo.tmp"}},
      {"the punch-in's undo record a directory", shortTake, "R ins x\n", 0,
       {"Could not read punch-in.undo: Is a directory",
        "An earlier punch-in is still to be undone from punch-in.undo: song.wav is left as it is", unpunched},
       take, 1, 0, {"punch-in.undo"}},
      {"the mix work file a directory", mix, "exp-i mix c x\n", 0, {"Can't create mix.wav for the mix: Is a directory"}, "",
       1, 0, {"mix.wav.part"}},
      {"the take name a directory", shortTake, "R_take w x\n", 0, {"Can't open song_take.wav for recording: Is a directory\nNothing to record"}, "", 1, 0,
       {"song_take.wav"}},
      {"the record file a directory for rep", shortTake, "R rep w x\n", 0, {" to dir.wav: Is a directory"}, take, 1, 0,
       {"dir.wav"}, {}, "dir.wav\n"},
      {"the record file a directory for ins", shortTake, "R ins x\n", 0,
       {"Could not open dir.wav: Is a directory", "could not be punched into dir.wav"}, take, 1, 0, {"dir.wav"}, {}, "dir.wav\n"},
      {"the appended name a directory", shortTake, "R app mix o x\n", 0,
       {"File song_mix.wav exists!", "Could not rename audio_ch_1_"}, take, 1, 0, {"song_mix.wav"}},
  };
  // The take replaced by a directory, or by junk without a data marker (which ends the program, as every file operation
  // does on such a file), between the recording and the take command: the replaced take stays where it was.
  for (const auto& [swap, input, says] : std::vector<std::tuple<Swap, std::string, std::vector<std::string>>>{
           {Swap::kDirectory, "pad x\n", {open, dir, unpadded}}, {Swap::kDirectory, "ins x\n", {open, unpunched}},
           {Swap::kDirectory, "del x\n", {"Could not delete audio_ch_1_", dir}},
           {Swap::kJunk, "ins x\n", {"Can't find data block in wave file!"}}}) {
    cases.push_back({.name = "the take swapped before " + input, .params = Params("inputs\t1\nch\t1\ne\t1024\no\t4096\nxfade\t5\n"),
                     .input = input, .status = swap == Swap::kJunk ? 2 : 0, .says = says, .match = "audio_ch_1_.*",
                     .play = "", .swap = swap});
  }
  return cases;
}

class HostileInputTest : public ProjectTest {
 protected:
  void Check(const Case& c) const;
};

void HostileInputTest::Check(const Case& c) const {
  SCOPED_TRACE(c.name.substr(0, 200));
  for (const auto& entry : fs::directory_iterator(project_)) fs::remove_all(entry.path());
  if (!c.params.empty()) {
    WriteFile("param.txt", c.params);
    WriteLists(c.record, c.play);
    WriteWav("song.wav", Ramp(20000, 0, 100));
  }
  for (const auto& [name, bytes] : c.files) WriteFile(name, bytes);
  for (const std::string& dir : c.dirs) {
    fs::remove(project_ / dir);
    fs::create_directory(project_ / dir);
  }
  const std::map<std::string, std::string> before = AudioFiles();
  const std::string settings = ReadFile("param.txt");
  // A swap types "R", waits for the take menu, replaces the take and types the rest.
  const std::string feeder = "echo R; for i in $(seq 1000); do grep -q 'Enter a take handling' ../stdout.txt && break; "
                             "sleep 0.01; done; t=$(ls audio_ch_1_*); rm $t; " +
                             std::string(c.swap == Swap::kJunk ? "printf %100s > $t" : "mkdir $t") + "; cat ../stdin.txt";
  const RunResult r = RunChecked(c.input, c.status, c.changing, c.cap, c.swap == Swap::kNone ? "" : feeder);
  for (const std::string& text : c.says) EXPECT_NE(r.out.find(text), npos) << text;
  EXPECT_LT(r.out.size(), (2u << 20) + 3 * c.params.size()) << "a long word echoed over and over";
  EXPECT_TRUE(c.input.ends_with("x\n") || r.seconds < 1.0) << "input that runs out must end the program at once";
  EXPECT_TRUE(c.changing.contains("param.txt") || ReadFile("param.txt") == settings) << "settings saved unasked";
  const std::vector<std::string> matching = c.match.empty() ? std::vector<std::string>{} : NamesMatching(c.match);
  EXPECT_EQ(matching.size(), c.match.empty() ? 0u : static_cast<std::size_t>(c.matches)) << c.match;
  for (const std::string& name : matching) {
    const std::string wav = ReadFile(name);
    EXPECT_TRUE(!wav.starts_with("RIFF") || name.ends_with("_incomplete.wav") || Samples24(wav).size() == 4096u) << name;
    EXPECT_TRUE(!wav.starts_with("RIFF") || (wav.size() - wav.find("data") - 8) % 3 == 0) << name << " ends inside a sample";
  }
  EXPECT_TRUE(c.atLeast.first.empty() || ReadFile(c.atLeast.first).size() >= c.atLeast.second) << c.atLeast.first;
  for (const std::string& dir : c.dirs) EXPECT_TRUE(fs::is_directory(project_ / dir)) << dir;
  // A new file whose header claims more audio than it holds (the swapped-in junk aside) would pass for a good take.
  for (const auto& [name, wav] : AudioFiles()) {
    const std::size_t data = before.contains(name) ? 0 : wav.find("data");
    EXPECT_TRUE(before.contains(name) || c.swap == Swap::kJunk ||
                (data != npos && wav.substr(data + 4, 4) == Le(wav.size() - data - 8, 4))) << name;
  }
}

TEST_F(HostileInputTest, HostileInput) {
  for (const Case& c : HostileCases()) Check(c);
}

TEST_F(HostileInputTest, Faults) {
  for (const Case& c : FaultCases()) Check(c);
}

}  // namespace
}  // namespace sondrel::e2e
