// End to end: the program among other processes, and started without the
// descriptors a shell normally gives it, on ALSA's null device.
#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <tuple>

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

// A device that stops answering mid-run (the interface freezes, as a killed
// server's streams do, or its capture alone does while the playback goes
// on, as one client of a stuck server) ends the run by itself within a few
// seconds: a take keeps what was recorded, in whole samples, the run says
// what happened, and the prompt comes back. A monitor run too.
TEST_F(DeviceLossTest, ADeviceThatStopsAnsweringEndsTheRunAndKeepsTheTake) {
  const std::string lost = "The audio device stopped answering: the run ended";
  for (const auto& [freeze, words, said] :
       {std::tuple{"freeze", "r_t x\n", lost + ", and what it recorded is kept\nStopped at "},
        std::tuple{"freeze_capture", "r_t x\n", lost + ", and what it recorded is kept\nStopped at "},
        std::tuple{"freeze", "ma 5 x\n", lost + "\nStopped at "}}) {
    SCOPED_TRACE(freeze + (" " + std::string(words)));
    const std::vector<int> track = WriteTrack("track.wav", 0, 96000);
    WriteLists("vox.wav\n", "track.wav\n");
    WriteVif(1, 1, 256, "i\t0\ne\t0\no\t96000\n", 0,
             "paced true " + (freeze + (" " + std::to_string(LeadIn(256) + 20000))));
    const RunResult r = Run(words);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_LT(r.seconds, 10.0);
    EXPECT_NE(r.out.find(said), std::string::npos) << r.out;
    if (words[0] == 'm') continue;
    const std::vector<int> take = ReadSamples("vox_t.wav");
    ASSERT_GT(take.size(), 16384u);
    ASSERT_LE(take.size(), 20000u + 512u);  // the block that reached the freeze, and the one in flight
    EXPECT_EQ(take, std::vector<int>(track.begin(), track.begin() + static_cast<std::ptrdiff_t>(take.size())));
  }
}

// Bytes of a file that the page cache holds and the disk does not yet: dirty
// pages and pages on their way. -1 where the kernel cannot tell (before 6.5).
std::int64_t UnsyncedBytes(const fs::path& path) {
  constexpr long kCachestat = 451;  // the same number on every architecture
  struct {
    std::uint64_t offset = 0, length = 0;  // 0: to the end of the file
  } range;
  struct {
    std::uint64_t cached, dirty, writeback, evicted, recentlyEvicted;
  } pages{};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;  // not made yet
  const long done = ::syscall(kCachestat, fd, &range, &pages, 0);
  ::close(fd);
  return done == 0 ? static_cast<std::int64_t>((pages.dirty + pages.writeback) * ::sysconf(_SC_PAGESIZE)) : -1;
}

using PowerCutTest = VifLoopTest;

// A growing take goes to the disk about once a second, so a power cut costs
// at most the last second or so: from 2.5 s into a take on, the page cache
// never holds more than 1.6 s of it unwritten. (Left to the kernel's own
// writeback it would hold all of it for half a minute.)
TEST_F(PowerCutTest, AGrowingTakeIsOnTheDiskAllButItsLastSecond) {
  struct statfs where {};
  ASSERT_EQ(::statfs(project_.c_str(), &where), 0);
  if (where.f_type == TMPFS_MAGIC) GTEST_SKIP() << "the project is on a memory file system, which no sync keeps";
  constexpr std::int64_t kBytesPerSecond = 48000 * 3;
  const std::vector<int> track = WriteTrack("track.wav", 0, 5 * 48000);
  WriteLists("vox.wav\n", "track.wav\n");
  WriteVif(1, 1, 256, "i\t0\ne\t0\no\t240000\n", 0, "paced true");
  RunResult r;
  std::atomic<bool> ran{false};
  std::thread run([&] { r = Run("r_t x\n"), ran = true; });
  std::int64_t mostUnsynced = 0;
  int looks = 0;
  for (std::error_code noFile; !ran; std::this_thread::sleep_for(20ms)) {
    const fs::path take = project_ / "vox_t.wav";
    if (static_cast<std::int64_t>(fs::file_size(take, noFile)) + 1 < 5 * kBytesPerSecond / 2 || noFile) continue;
    const std::int64_t unsynced = UnsyncedBytes(take);
    mostUnsynced = unsynced < 0 ? -1 : std::max(mostUnsynced, unsynced);
    if (unsynced < 0) break;
    ++looks;
  }
  run.join();
  ASSERT_EQ(r.status, 0) << r.err;
  if (mostUnsynced < 0) GTEST_SKIP() << "this kernel cannot tell what of a file is not on the disk";
  EXPECT_GT(looks, 20);
  EXPECT_LE(mostUnsynced, kBytesPerSecond * 16 / 10);
  const std::vector<int> take = ReadSamples("vox_t.wav");
  ASSERT_GE(take.size(), track.size());
  EXPECT_TRUE(std::equal(track.begin(), track.end(), take.begin()));
}

}  // namespace
}  // namespace sondrel::e2e
