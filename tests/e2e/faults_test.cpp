// End to end: a disk that refuses writes part way (a file-size cap), names
// that directories already hold, and a project the program may not write.
// Whatever fails, the program says which file, goes on, loses no audio that
// was there before, and leaves no half-written file passing for a good one.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

namespace fs = std::filesystem;

class FaultsTest : public ProjectTest {
 protected:
  // Types `first`, waits until the program has printed `marker`, makes
  // `change` to the project behind its back, then types `rest`.
  RunResult RunWithChange(const std::string& first, const std::string& marker, const std::function<void()>& change,
                          const std::string& rest) const;
};

RunResult FaultsTest::RunWithChange(const std::string& first, const std::string& marker,
                                    const std::function<void()>& change, const std::string& rest) const {
  const std::string command = ProgramCommand() + " > ../stdout.txt 2> ../stderr.txt";
  fs::remove(root_ / "stdout.txt");
  // A program that died early must fail the test, not end it with SIGPIPE.
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  std::unique_ptr<FILE, int (*)(FILE*)> input(popen(command.c_str(), "w"), pclose);
  RunResult result;
  if (input) {
    std::fputs(first.c_str(), input.get());
    std::fflush(input.get());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ReadFile("../stdout.txt").find(marker) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    change();
    std::fputs(rest.c_str(), input.get());
    const int raw = pclose(input.release());
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  std::signal(SIGPIPE, previous);
  result.out = ReadFile("../stdout.txt");
  result.err = ReadFile("../stderr.txt");
  return result;
}

std::uint32_t Le32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

// A file that claims more audio than it holds would pass for a good take.
void ExpectHeaderMatchesContents(const std::string& name, const std::string& wav) {
  const std::size_t marker = wav.find("data");
  ASSERT_TRUE(marker != std::string::npos && marker + 8 <= wav.size()) << name;
  EXPECT_EQ(Le32(wav, marker + 4), wav.size() - (marker + 8)) << name;
}

struct FaultCase {
  std::string name;
  std::string params;                    // beyond the device line
  std::vector<std::string> directories;  // names taken before the run
  std::string input;
  std::int64_t fileSizeLimit;            // bytes; 0 for none
  std::vector<std::string> messages;     // each must be printed
  std::string keptTake = "";             // a take that must be there
  std::set<std::string> changing = {};   // files the user asked to change
  std::string recordList = "song.wav\n";
};

// Take numbers are seconds since a fixed date: the names a backup made in
// the next few seconds can get.
std::vector<std::string> BackupNamesSoon() {
  std::vector<std::string> names;
  const std::time_t now = std::time(nullptr) - 1349885340;
  for (std::time_t t = now - 1; t <= now + 10; ++t) names.push_back("song_bkup_" + std::to_string(t) + ".wav");
  return names;
}

std::vector<FaultCase> FaultCases() {
  const std::string take = "audio_ch_1_[0-9]+\\.wav";
  const std::string stampedTake = "audio_ch_1_[0-9]+_stp_8192\\.wav";
  const std::string shortTake = "e\t0\no\t4096\n";
  const std::string lateTake = "e\t8192\no\t12288\n";
  const std::string endTake = "e\t18432\no\t22528\n";  // runs past the end of the 20000-sample song
  const std::string stampedEndTake = "audio_ch_1_[0-9]+_stp_18432\\.wav";
  return {
      {"cap in a recording", "e\t0\no\t20480\n", {}, "R del x\n", 30000,
       {"was cut short: File too large", "_incomplete.wav"}, "audio_ch_1_[0-9]+_incomplete\\.wav"},
      {"cap in a named recording", "e\t0\no\t20480\n", {}, "R_take x\n", 30000,
       {"Recording into song_take.wav on input 1 was cut short: File too large"}, "song_take_incomplete\\.wav"},
      // The punch-in writes in place: the cap stops it where it grows the
      // record file past its end, or before that, while saving the audio
      // it would overwrite.
      {"cap in a punch-in", endTake, {}, "R ins x\n", 64000,
       {"Could not write song.wav: File too large", "could not be punched into song.wav"}, stampedEndTake},
      {"cap in a crossfaded punch-in", endTake + "xfade\t10\n", {}, "R ins x\n", 64000,
       {"Could not write song.wav: File too large", "could not be punched into song.wav"}, stampedEndTake},
      // The take (12332 bytes) fits under the cap; the record of the audio
      // under it (its 12288 bytes, the header and the record's own fields)
      // does not.
      {"cap in saving the punched region", shortTake, {}, "R ins x\n", 12360,
       {"Could not save the audio under the punch-in into song.wav: File too large",
        "could not be punched into song.wav"},
       take},
      {"cap in a padding", lateTake, {}, "R pad x\n", 20000,
       {"Could not write temp_pad.wav: File too large", "could not be padded"}, stampedTake},
      // The punch-in still goes ahead; it writes below the cap.
      {"cap in a backup", shortTake, {}, "R cin x\n", 40000, {"Cannot create backup file song_bkup_"}, "", {"song.wav"}},
      {"cap in an export", "i\t0\no\t20480\n", {}, "exp-i mix c exp-s mix c x\n", 30000,
       {"Writing mix.wav failed: File too large", "Writing mix_L.wav failed: File too large", "Nothing was exported."}},
      {"cap in a settings save", "", {}, "s x\n", 100, {"Could not write param.txt: File too large"}},
      {"temp_pad.wav a directory", lateTake, {"temp_pad.wav"}, "R pad x\n", 0,
       {"Could not create temp_pad.wav: Is a directory", "could not be padded"}, stampedTake},
      {"temp_data.wav a directory", lateTake, {"temp_data.wav"}, "R pad x\n", 0,
       {"to temp_data.wav: Is a directory", "could not be padded"}, stampedTake},
      {"xfade_temp1.wav a directory", shortTake + "xfade\t10\n", {"xfade_temp1.wav"}, "R ins x\n", 0,
       {"Could not create the crossfade files: Is a directory"}, "", {"song.wav"}},
      {"the punch-in's undo work name a directory", shortTake, {"punch-in.undo.tmp"}, "R ins x\n", 0,
       {"Could not save the audio under the punch-in into song.wav: File exists", "could not be punched into song.wav"},
       take},
      {"the punch-in's undo record a directory", shortTake, {"punch-in.undo"}, "R ins x\n", 0,
       {"Could not read punch-in.undo: Is a directory",
        "An earlier punch-in is still to be undone from punch-in.undo: song.wav is left as it is",
        "could not be punched into song.wav"},
       take},
      {"param.txt.tmp a directory", "", {"param.txt.tmp"}, "s x\n", 0, {"Could not write param.txt: Is a directory"}},
      {"the mix work file a directory", "i\t0\no\t4096\n", {"mix.wav.part"}, "exp-i mix c x\n", 0,
       {"Can't create mix.wav for the mix: Is a directory"}},
      {"the backup name a directory", shortTake, BackupNamesSoon(), "R cin x\n", 0,
       {"Cannot create backup file song_bkup_"}, "", {"song.wav"}},
      {"the take name a directory", shortTake, {"song_take.wav"}, "R_take w x\n", 0,
       {"Can't open song_take.wav for recording"}},
      {"the record file a directory for rep", shortTake, {"dir.wav"}, "R rep w x\n", 0,
       {" to dir.wav: Is a directory"}, take, {}, "dir.wav\n"},
      {"the record file a directory for ins", shortTake, {"dir.wav"}, "R ins x\n", 0,
       {"Could not open dir.wav: Is a directory", "could not be punched into dir.wav"}, take, {}, "dir.wav\n"},
      {"the appended name a directory", shortTake, {"song_mix.wav"}, "R app mix o x\n", 0,
       {"File song_mix.wav exists!", "Could not rename audio_ch_1_"}, take},
  };
}

TEST_F(FaultsTest, FailingWritesAndTakenNames) {
  std::vector<int> ramp(20000);
  for (int n = 0; n < 20000; ++n) ramp[n] = 100 * n;
  for (const FaultCase& c : FaultCases()) {
    SCOPED_TRACE(c.name);
    for (const auto& entry : fs::directory_iterator(project_)) fs::remove_all(entry.path());
    WriteParams("inputs\t1\nch\t1\n" + c.params);
    WriteLists(c.recordList, "song.wav\n");
    WriteWav("song.wav", ramp);
    for (const std::string& dir : c.directories) fs::create_directory(project_ / dir);
    const std::string settings = ReadFile("param.txt");
    const std::map<std::string, std::string> before = AudioFiles();

    const RunResult r = RunChecked(c.input, 0, c.changing, c.fileSizeLimit);
    for (const std::string& message : c.messages) EXPECT_NE(r.out.find(message), std::string::npos) << message;
    if (!c.keptTake.empty()) {
      const std::vector<std::string> kept = NamesMatching(c.keptTake);
      ASSERT_EQ(kept.size(), 1u) << c.keptTake << "\n" << r.out;
      // Only a take set aside as incomplete may hold less than all of it.
      if (!kept[0].ends_with("_incomplete.wav")) {
        EXPECT_EQ(ReadSamples(kept[0]).size(), 4096u);
      }
    }
    for (const auto& [name, wav] : AudioFiles()) {
      if (!before.contains(name)) ExpectHeaderMatchesContents(name, wav);
    }
    for (const std::string& dir : c.directories) EXPECT_TRUE(fs::is_directory(project_ / dir)) << dir;
    if (c.input.starts_with("s ")) {
      EXPECT_EQ(ReadFile("param.txt"), settings);
    }
  }
}

struct TakeChange {
  std::string name;
  bool junk;          // the take becomes junk; otherwise a directory
  std::string rest;   // typed after the change
  int status;
  std::vector<std::string> messages;
};

// Between the recording and the take command the take is replaced: by a
// directory, or by junk without a data marker (which ends the program, as
// every file operation does on such a file). The record file stays as it was.
TEST_F(FaultsTest, TakeReplacedBeforeATakeCommand) {
  const std::string dir = ": Is a directory";
  const std::vector<TakeChange> changes = {
      {"pad", false, "pad x\n", 0, {"Could not open audio_ch_1_", dir, "could not be padded"}},
      {"ins", false, "ins x\n", 0, {"Could not open audio_ch_1_", "could not be punched into song.wav"}},
      {"cin", false, "cin x\n", 0, {"Copied song.wav to song_bkup_", "could not be punched into song.wav"}},
      {"rep", false, "rep w x\n", 0, {"Could not open audio_ch_1_", "could not be padded"}},
      {"del", false, "del x\n", 0, {"Could not delete audio_ch_1_", dir}},
      {"ins into junk", true, "ins x\n", 2, {"Can't find data block in wave file!"}},
  };
  for (const TakeChange& c : changes) {
    SCOPED_TRACE(c.name);
    for (const auto& entry : fs::directory_iterator(project_)) fs::remove_all(entry.path());
    WriteParams("inputs\t1\nch\t1\ne\t1024\no\t4096\nxfade\t5\n");
    WriteLists("song.wav\n", "");
    WriteWav("song.wav", std::vector<int>(20000, 5));
    const std::string song = ReadFile("song.wav");
    const auto replaceTake = [&] {
      const std::vector<std::string> takes = NamesMatching("audio_ch_1_.*\\.wav");
      ASSERT_EQ(takes.size(), 1u);
      fs::remove(project_ / takes[0]);
      if (c.junk) {
        WriteFile(takes[0], std::string(100, 'j'));
      } else {
        fs::create_directory(project_ / takes[0]);
      }
    };
    const RunResult r = RunWithChange("R\n", "Enter a take handling command", replaceTake, c.rest);
    EXPECT_EQ(r.status, c.status) << r.out;
    for (const std::string& message : c.messages) EXPECT_NE(r.out.find(message), std::string::npos) << message;
    EXPECT_EQ(ReadFile("song.wav"), song);
    EXPECT_EQ(StrayWorkFiles(), std::vector<std::string>{});
    EXPECT_EQ(NamesMatching("audio_ch_1_.*").size(), 1u) << "the replaced take stays where it was";
  }
}

TEST_F(FaultsTest, CapOnTheFirstSettingsFile) {
  const RunResult r = RunChecked("c 1 1 1 null 1 x\n", 0, {}, 20);
  EXPECT_NE(r.out.find("Could not write param.txt: File too large\n"), std::string::npos) << r.out;
  EXPECT_FALSE(Exists("param.txt"));
}

// Permissions do not stop root, so these run only for other users.
TEST_F(FaultsTest, ReadOnlyProjectAndTracks) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
  WriteParams("inputs\t1\nch\t1\ne\t0\no\t4096\n");
  WriteLists("song.wav\n", "song.wav\n");
  WriteWav("song.wav", std::vector<int>(20000, 9));
  fs::permissions(project_ / "song.wav", fs::perms::owner_read);
  RunResult r = RunChecked("R ins x\n", 0);
  EXPECT_NE(r.out.find("Could not open song.wav: Permission denied"), std::string::npos) << r.out;
  EXPECT_EQ(NamesMatching("audio_ch_1_[0-9]+\\.wav").size(), 1u);

  fs::permissions(project_, fs::perms::owner_read | fs::perms::owner_exec);
  r = RunChecked("R del s exp-i mix c x\n", 0);
  fs::permissions(project_, fs::perms::owner_all);
  EXPECT_NE(r.out.find("Can't open audio_ch_1_"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Could not write param.txt: Permission denied"), std::string::npos);
  EXPECT_NE(r.out.find("Can't create mix.wav for the mix: Permission denied"), std::string::npos);
}

}  // namespace
}  // namespace sondrel::e2e
