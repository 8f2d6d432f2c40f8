// End to end: the program among other processes, and started without the
// descriptors a shell normally gives it, on ALSA's null device.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "tests/support/vif_loop.h"

namespace sondrel::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ReliabilityTest : public ProjectTest {
 protected:
  void SetUp() override {
    ProjectTest::SetUp();
    WriteParams("inputs\t2\noutputs\t2\nch\t2\n");
    WriteLists("a.wav\n", "b.wav\n");
    WriteWav("b.wav", Ramp(1000, 1));
  }
  // Every file of the project with its size and modification time.
  std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> Listing() const {
    std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> files;
    for (const auto& entry : fs::directory_iterator(project_)) {
      files[entry.path().filename().string()] = {entry.file_size(), entry.last_write_time()};
    }
    return files;
  }
  // The program at its prompt, its input a pipe this test holds: the id it
  // wrote into the lock file once it holds the project.
  pid_t StartWaiting() {
    fs::remove(root_ / "waiting.txt");
    waiting_ = popen(("cd '" + project_.string() + "' && HOME='" + home_.string() + "' exec '" SONDREL_BINARY
                      "' > ../waiting.txt 2>&1")
                         .c_str(),
                     "w");
    for (auto end = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < end;) {
      if (ReadFile("../waiting.txt").find("'x' to exit program") != std::string::npos) {
        return static_cast<pid_t>(std::stol(ReadFile(".sondrel.lock")));
      }
      std::this_thread::sleep_for(20ms);
    }
    return 0;
  }
  int EndWaiting(const char* words) {
    std::fputs(words, waiting_);
    const int raw = pclose(waiting_);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  FILE* waiting_ = nullptr;
};

// A second program in the same project is refused at once, names the one
// that holds it and changes nothing; the lock goes with the holder, however
// it ends, so the next start works.
TEST_F(ReliabilityTest, ASecondProgramInTheProjectIsRefusedUntilTheFirstHasGone) {
  for (const bool killed : {false, true}) {
    const pid_t first = StartWaiting();
    ASSERT_GT(first, 0) << ReadFile("../waiting.txt");
    const auto before = Listing();
    const RunResult second = Run("r x\n");
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.out.find("Another Sondrel (process " + std::to_string(first) +
                              ") is working in this project: only one may at a time. Nothing was changed.\n"),
              std::string::npos)
        << second.out;
    EXPECT_EQ(Listing(), before);
    if (killed) kill(first, SIGKILL);
    EXPECT_EQ(EndWaiting(killed ? "" : "x\n"), killed ? -1 : 0);
    EXPECT_EQ(Run("x\n").status, 0);
  }
}

// Started with standard input, output or error closed, the program takes a
// closed input as the end of input and ends with status 0 (it once polled
// a pipe of its own on descriptor 0 for ever).
TEST_F(ReliabilityTest, ClosedStandardDescriptorsAreTheEndOfInputOrNowhere) {
  for (const std::string closing : {"<&-", "<&- >&- 2>&-", "< ../words.txt >&- 2>&-"}) {
    WriteFile("../words.txt", "p s x\n");
    const std::string status = Shell("cd '" + project_.string() + "' && HOME='" + home_.string() +
                                     "' timeout 20 '" SONDREL_BINARY "' " + closing + "; echo \"status $?\"");
    EXPECT_NE(status.find("status 0"), std::string::npos) << closing << ": " << status;
  }
  EXPECT_NE(ReadFile("param.txt").find("clock\t"), std::string::npos);  // "s" saved with output closed
}

using DeviceLossTest = VifLoopTest;

// A device that stops answering mid-take (the interface freezes, as a
// killed server's streams do) ends the run by itself within a few seconds:
// the take keeps what was recorded, in whole samples, the run says what
// happened, and the prompt comes back.
TEST_F(DeviceLossTest, ADeviceThatStopsAnsweringEndsTheRunAndKeepsTheTake) {
  const std::vector<int> track = WriteTrack("track.wav", 0, 96000);
  WriteLists("vox.wav\n", "track.wav\n");
  WriteVif(1, 1, 256, "i\t0\ne\t0\no\t96000\n", 0, "freeze " + std::to_string(LeadIn(256) + 20000));
  const RunResult r = Run("r_t x\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_LT(r.seconds, 10.0);
  EXPECT_NE(r.out.find("The audio device stopped answering: the run ended, and what it recorded is kept\nStopped at "),
            std::string::npos) << r.out;
  const std::vector<int> take = ReadSamples("vox_t.wav");
  ASSERT_GT(take.size(), 16384u);
  ASSERT_LE(take.size(), 20000u + 512u);  // the block that reached the freeze, and the one in flight
  EXPECT_EQ(take, std::vector<int>(track.begin(), track.begin() + static_cast<std::ptrdiff_t>(take.size())));
}

}  // namespace
}  // namespace sondrel::e2e
