// Takes on a device that keeps real time: the paced virtual interface, whose clock runs on while the program works,
// with cables of known latency. The latency word must find each cable to the sample, and every take recorded with it
// must hold the track it heard at offset 0, run after run.
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/vif_loop.h"

namespace sondrel::e2e {
namespace {

struct LiveCase {
  int latency;
  int block;
  bool loaded = false;  // two processes spin on the processors meanwhile
};

class LiveAlignmentTest : public VifLoopTest, public ::testing::WithParamInterface<LiveCase> {};

// Busy processes for as long as the object lives.
struct CpuLoad {
  explicit CpuLoad(bool on) {
    for (int i = 0; on && i < 2; ++i) {
      if ((pids[i] = fork()) == 0) execlp("sha256sum", "sha256sum", "/dev/zero", static_cast<char*>(nullptr)), _exit(127);
    }
  }
  ~CpuLoad() {
    for (const pid_t pid : pids) {
      if (pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    }
  }
  pid_t pids[2] = {-1, -1};
};

constexpr int kRuns = 20;

// "lat" measures output 1 to input 1 and keeps the result; then 20 takes start with the play start and 20 at a punch
// point a twentieth of a second after it. Each take is the guide from its punch point on, sample for sample (a run the
// machine was too slow for shows an xrun and may carry silence where the lost blocks were, but nothing else).
TEST_P(LiveAlignmentTest, TheMeasuredLatencyPlacesEveryTakeOnTheSampleItHeard) {
  const LiveCase c = GetParam();
  const std::vector<int> guide = WriteTrack("guide.wav", 0, 48000);
  WriteLists("vox.wav\n", "guide.wav\n");
  WriteVif(1, 1, c.block, "i\t0\ne\t0\no\t4800\nclock\thc\nmeter\t0\n", c.latency, "paced true");
  std::string words = "lat 1 1 y s\n";
  for (int n = 1; n <= kRuns; ++n) words += "r_a" + std::to_string(n) + "\n";
  words += "e0.05\n";
  for (int n = 1; n <= kRuns; ++n) words += "r_b" + std::to_string(n) + "\n";
  RunResult r;
  {
    const CpuLoad load(c.loaded);
    r = Run(words + "x\n");
  }
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Round-trip latency: " + std::to_string(c.latency) + " samples ("), std::string::npos)
      << r.out.substr(0, 600);
  EXPECT_NE(ReadFile("param.txt").find("\nrtlat\t" + std::to_string(c.latency) + "\n"), std::string::npos);

  ASSERT_EQ(NamesMatching("vox_.*").size(), 2u * kRuns);
  const bool xruns = r.out.find("\nPX\n") != std::string::npos || r.out.find("\nRX\n") != std::string::npos;
  // The second twenty are stamped with their punch point, on the block grid.
  for (int n = 1; n <= 2 * kRuns; ++n) {
    const std::int64_t punch = n > kRuns ? RoundUp(2400, c.block) : 0;
    const std::string name = n > kRuns ? "vox_b" + std::to_string(n - kRuns) + "_stp_" + std::to_string(punch) + ".wav"
                                       : "vox_a" + std::to_string(n) + ".wav";
    const std::vector<int> take = ReadSamples(name);
    ASSERT_EQ(static_cast<std::int64_t>(take.size()), RoundUp(4800, c.block) - punch) << name;
    for (std::size_t j = 0; j < take.size(); ++j) {
      if (xruns && take[j] == 0) continue;
      ASSERT_EQ(take[j], guide[static_cast<std::size_t>(punch) + j]) << name << " sample " << j;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cables, LiveAlignmentTest,
                         ::testing::Values(LiveCase{0, 64}, LiveCase{0, 256}, LiveCase{0, 1024}, LiveCase{37, 64},
                                           LiveCase{37, 256}, LiveCase{37, 1024}, LiveCase{480, 64},
                                           LiveCase{480, 256}, LiveCase{480, 1024}, LiveCase{37, 64, true},
                                           LiveCase{480, 256, true}, LiveCase{0, 1024, true}),
                         [](const ::testing::TestParamInfo<LiveCase>& info) {
                           return "L" + std::to_string(info.param.latency) + "_B" + std::to_string(info.param.block) +
                                  (info.param.loaded ? "_loaded" : "");
                         });

using LatencyRefusalTest = VifLoopTest;

// What the word will not measure or not trust, on the unpaced interface: an input that does not exist, an input no
// output reaches (no cable), and a loop whose input gain clips it. Nothing is kept.
TEST_F(LatencyRefusalTest, NoInputNoCableOrAClippedLoopIsRefused) {
  WriteLists("vox.wav\n", "guide.wav\n");
  const struct {
    const char* device;
    const char* words;
    const char* says;
  } cases[] = {
      {"", "lat 1 3 s x\n", "There is no input 3: the interface has 2\n"},
      {"", "lat 1 2 s x\n", "Nothing came back on input 2 (peak -144.0 dBFS): check the cable"},
      {"gain 16", "lat 2 2 s x\n", "Input 2 clipped: turn its gain down and measure again\n"},
  };
  for (const auto& c : cases) {
    WriteVif(2, 2, 256, "", 0, c.device);
    const RunResult r = Run(c.words);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Enter 'y'"), std::string::npos) << c.words;
    EXPECT_EQ(ReadFile("param.txt").find("rtlat"), std::string::npos);
  }
}

}  // namespace
}  // namespace sondrel::e2e
