// End to end on a pseudo terminal the test types into, recording on the paced virtual interface.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/support/vif_loop.h"

namespace sondrel::e2e {
namespace {

using namespace std::chrono_literals;
constexpr int kRate = 48000;

// The program on a pseudo terminal of its own, in the project directory.
class TerminalRun {
 public:
  TerminalRun(const std::filesystem::path& project, const std::filesystem::path& home) {
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0 && chdir(project.c_str()) == 0 && setenv("HOME", home.c_str(), 1) == 0) {
      execl(SONDREL_BINARY, "sondrel", nullptr);
    }
    if (pid_ == 0) _exit(127);
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);  // to look at the terminal's settings
    tcgetattr(slave_, &before_);
  }
  ~TerminalRun() {
    if (pid_ > 0 && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
    close(master_);
    close(slave_);
  }
  // Reads what the program prints until `text` shows up after what was waited for before; false after 30 s.
  bool WaitFor(const std::string& text) {
    std::size_t at = 0;
    for (const auto end = std::chrono::steady_clock::now() + 30s; (at = out_.find(text, seen_)) == std::string::npos;) {
      if (std::chrono::steady_clock::now() > end) return false;
      Drain(10);
    }
    seen_ = at + text.size();
    return true;
  }
  void Type(const std::string& text) const { EXPECT_EQ(write(master_, text.data(), text.size()), std::ssize(text)); }
  // At the prompt, types `words` and waits until the run they start prints `running`.
  bool StartRun(const std::string& words, const std::string& running) {
    if (!WaitFor("'x' to exit")) return false;
    Type(words);
    return WaitFor(running);
  }
  void Signal(int signal) const { kill(pid_, signal); }
  // The exit status once the program has ended; -1 when a signal killed it, -2 when it still runs after 30 s.
  int Status() {
    int raw = 0;
    for (const auto end = std::chrono::steady_clock::now() + 30s; waitpid(pid_, &raw, WNOHANG) == 0; Drain(10)) {
      if (std::chrono::steady_clock::now() > end) return -2;  // the destructor kills it
    }
    pid_ = -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  bool TerminalAsBefore() const {
    termios now{};
    tcgetattr(slave_, &now);
    return now.c_lflag == before_.c_lflag && std::equal(now.c_cc, now.c_cc + NCCS, before_.c_cc);
  }
  const std::string& Output() const { return out_; }

 private:
  void Drain(int waitMs) {
    pollfd master{master_, POLLIN, 0};
    char bytes[4096];
    for (ssize_t n; poll(&master, 1, waitMs) > 0 && (n = read(master_, bytes, sizeof bytes)) > 0; waitMs = 0) {
      out_.append(bytes, static_cast<std::size_t>(n));
    }
  }

  int master_ = -1;
  int slave_ = -1;
  pid_t pid_ = -1;
  termios before_{};
  std::string out_;
  std::size_t seen_ = 0;
};

class InterruptionTest : public VifLoopTest {
 protected:
  // A guide of 5 s on output 1 and input 1 recording vox.wav, on the paced interface with a cable of no latency, so a
  // take lines up with the guide.
  void SetUp() override {
    VifLoopTest::SetUp();
    guide_ = WriteTrack("guide.wav", 0, 5 * kRate);
    WriteLists("vox.wav\n", "guide.wav\n");
    WriteVif(1, 1, 1024, "i\t0\ne\t0\no\t" + std::to_string(5 * kRate) + "\n", 0, "paced true");
  }
  // The takes; each holds whole samples and its sizes say how many.
  std::vector<std::string> HonestTakes() const {
    const std::vector<std::string> takes = NamesMatching("audio_ch_1_[0-9]+\\.wav|vox\\.wav");
    for (const std::string& name : takes) {
      const std::string wav = ReadFile(name);
      EXPECT_EQ((wav.size() - 44) % 3, 0u) << name;
      EXPECT_EQ(wav.substr(4, 4) + wav.substr(40, 4), Le(wav.size() - 8, 4) + Le(wav.size() - 44, 4)) << name;
    }
    return takes;
  }
  // The first sound of a take, and how far the guide sample it holds lies past it.
  std::pair<std::size_t, std::ptrdiff_t> GuideOffset(const std::vector<int>& take) const {
    const std::size_t first = std::find_if(take.begin(), take.end(), [](int v) { return v != 0; }) - take.begin();
    EXPECT_LT(first, take.size());
    if (first == take.size()) return {first, 0};
    return {first, std::find(guide_.begin(), guide_.end(), take[first]) - guide_.begin() - first};
  }
  // A take holds the guide from where the cable brought it in, sample for sample, up to a stop between a tenth of a
  // second and 4 s in (unless the machine was too busy for real time, when the interface drops blocks).
  void ExpectTheGuideFrom(const std::string& name, const std::string& output) const {
    const std::vector<int> take = ReadSamples(name);
    EXPECT_TRUE(take.size() > kRate / 10u && take.size() < 4u * kRate) << take.size();
    if (output.find("\nPX\n") != std::string::npos || output.find("\nRX\n") != std::string::npos) return;
    const auto [first, offset] = GuideOffset(take);
    for (std::size_t j = first; j < take.size(); ++j) ASSERT_EQ(take[j], guide_.at(j + offset)) << j;
  }
  std::vector<int> guide_;
};

// Stopping a run: a key (signal 0 here) or a signal, half a second in. A stopped recording keeps what was captured up
// to the stop and the take menu follows; "ins" punches exactly that into vox.wav, lined up with the guide. After SIGINT
// the program goes on; SIGTERM and SIGHUP end it once the takes are finished, and any of them ends it at the prompt.
// A stop during a count-in (4 bars at 60 bpm, 16 s of click before the take) records nothing and no take menu comes.
// Whatever happens the takes are honest, no work file stays and the terminal is as it was.
TEST_F(InterruptionTest, AKeyOrASignalStopsARunAndASignalEndsThePrompt) {
  const struct {
    const char* start;    // the words that start a run; none: the signal comes at the prompt
    const char* running;  // what the run prints once it goes
    int signal;
    const char* after;  // typed once the run stopped
    int status;
    std::size_t takes;
    bool countIn = false;
  } cases[] = {{"r\n", "Playing and Recording...", 0, "ins\n x\n", 0, 1},
               {"p\n", "Playing...", SIGINT, "x\n", 0, 0},
               {"ma 30\n", "Monitoring Input Peaks...", SIGINT, "x\n", 0, 0},
               {"r\n", "Playing and Recording...", SIGINT, "del x\n", 0, 0},
               {"r\n", "Playing and Recording...", SIGTERM, "", 128 + SIGTERM, 1},
               {"R\n", "Recording...", SIGHUP, "", 128 + SIGHUP, 1},
               {"", "", SIGINT, "", 128 + SIGINT, 0},
               {"", "", SIGTERM, "", 128 + SIGTERM, 0},
               {"r\n", "Playing and Recording...", 0, "x\n", 0, 0, true}};  // the last: it changes the settings
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.start) + " " + strsignal(c.signal) + (c.countIn ? " in the count-in" : ""));
    for (const std::string& take : NamesMatching("audio_ch_.*|vox\\.wav")) std::filesystem::remove(project_ / take);
    if (c.countIn)
      WriteVif(1, 1, 1024, "i\t0\ne\t0\no\t240000\ntempo\t60.00\nclick\t1\t-6.00\ncnt\t4\n", 0, "paced true");
    TerminalRun run(project_, home_);
    ASSERT_TRUE(run.StartRun(c.start, c.running));
    if (*c.start != '\0') std::this_thread::sleep_for(500ms);
    c.signal == 0 ? run.Type("k") : run.Signal(c.signal);
    if (*c.start != '\0') {
      ASSERT_TRUE(run.WaitFor("Stopped at ")) << run.Output();
    }
    run.Type(c.after);
    EXPECT_EQ(run.Status(), c.status) << run.Output();
    EXPECT_TRUE(run.TerminalAsBefore());
    EXPECT_EQ(StrayWorkFiles(), std::vector<std::string>{});
    EXPECT_EQ(HonestTakes().size(), c.takes);
    if (c.signal == 0 && !c.countIn) ExpectTheGuideFrom("vox.wav", run.Output());
    EXPECT_TRUE(!c.countIn || run.Output().find("take handling") == std::string::npos) << run.Output();
  }
}

// A stall of the whole program (SIGSTOP for 200 ms, a second into "r") costs at most one xrun on each stream, and the
// take holds the guide before and after the stretch the stall lost at one and the same offset: the devices ran on and
// the lost stretch was skipped on both.
TEST_F(InterruptionTest, AStallCostsOneXrunAndLeavesTheTakeInPlace) {
  TerminalRun run(project_, home_);
  ASSERT_TRUE(run.StartRun("r\n", "Playing and Recording..."));
  std::this_thread::sleep_for(1000ms);
  run.Signal(SIGSTOP);
  std::this_thread::sleep_for(200ms);
  run.Signal(SIGCONT);
  ASSERT_TRUE(run.WaitFor("Enter a take handling command."));
  run.Type("rep\n x\n");
  EXPECT_EQ(run.Status(), 0);
  EXPECT_LE(CountOf(run.Output(), "\nPX\n"), 1) << run.Output();
  EXPECT_LE(CountOf(run.Output(), "\nRX\n"), 1);
  const std::vector<int> take = ReadSamples("vox.wav");
  ASSERT_EQ(take.size(), 235u * 1024);  // the stop, on the block grid
  const auto [first, offset] = GuideOffset(take);
  std::size_t silent = 0;
  for (std::size_t j = first; j < take.size(); ++j) {
    silent += take[j] == 0;
    ASSERT_TRUE(take[j] == 0 || take[j] == guide_.at(j + offset)) << j;
  }
  // The guide has no zero sample (the take runs past its end): the silence is the stall's, and the guide goes on after
  // it.
  EXPECT_GT(silent, kRate / 10u + take.size() - 5u * kRate);
  EXPECT_NE(take[4 * kRate], 0);
}

// Killed outright a second and a half into "R": the take's header is at most a second behind, and the next start fixes
// it, keeps it and says so, and removes what an export cut off left.
TEST_F(InterruptionTest, ARecordingKilledOutrightIsKeptAtTheNextStart) {
  {
    TerminalRun run(project_, home_);
    ASSERT_TRUE(run.StartRun("R\n", "Recording..."));
    std::this_thread::sleep_for(1500ms);
    run.Signal(SIGKILL);
    EXPECT_EQ(run.Status(), -1);
  }
  const std::vector<std::string> takes = NamesMatching("audio_ch_1_[0-9]+\\.wav");
  ASSERT_EQ(takes.size(), 1u);
  const std::string cutOff = ReadFile(takes[0]);
  const std::vector<int> declared = Samples24(cutOff.substr(40, 3), 0);  // the data size, below 2^23
  EXPECT_LE(cutOff.size() - 44 - declared.at(0), 3u * kRate);
  WriteFile("mix.wav.part", cutOff);
  const RunResult r = RunChecked("x\n", 0, {takes[0]});
  EXPECT_NE(r.out.find("A recording was cut off: " + takes[0] + " was kept with "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("An export was cut off: its unfinished mix.wav.part was removed"), std::string::npos);
  EXPECT_EQ(HonestTakes(), takes);
  EXPECT_EQ(ReadFile(takes[0]).substr(44), cutOff.substr(44, (cutOff.size() - 44) / 3 * 3));
  const std::string checks = Shell("cd '" + project_.string() + "' && sox " + takes[0] + " -n stat && sndfile-info " + takes[0]);
  EXPECT_EQ(checks.find("WARN"), std::string::npos) << checks;
  EXPECT_EQ(checks.find("should be"), std::string::npos) << checks;
}

}  // namespace
}  // namespace sondrel::e2e
