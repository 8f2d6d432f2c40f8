// Sondrel on a real JACK server (the dummy backend at 48 kHz), reached
// through ALSA's jack PCM behind a plug definition, the one the README
// gives: the device list must show it and say whether it fits, and a take
// recorded through a JACK connection from Sondrel's output to its input
// must hold the track at one offset, the same in every run.
#include <unistd.h>

#include <sys/wait.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/vif_loop.h"

namespace sondrel::e2e {
namespace {

using namespace std::string_literals;

class JackTest : public VifLoopTest {
 protected:
  void SetUp() override {
    VifLoopTest::SetUp();
    if (!HasTool("jackd") || !HasTool("jack_connect")) {
      return ServerUnavailable("jackd is not installed (scripts/deps.sh installs jackd2)");
    }
    server_ = "sondrel-" + root_.filename().string();
    setenv("JACK_DEFAULT_SERVER", server_.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    jackd_ = fork();
    if (jackd_ == 0) {
      // What the server says goes to a file beside the project, for a failure.
      const std::string log = (root_ / "jackd.log").string();
      freopen(log.c_str(), "w", stdout);
      freopen(log.c_str(), "a", stderr);
      execlp("jackd", "jackd", "--no-realtime", "-n", server_.c_str(), "-d", "dummy", "-r", "48000", "-p", "256",
             "-C", "1", "-P", "1", static_cast<char*>(nullptr));
      _exit(127);
    }
    if (std::system("jack_wait -w -t 10 > /dev/null 2>&1") != 0) {
      return ServerUnavailable("jackd did not start; its log: " + Shell("cat '" + (root_ / "jackd.log").string() + "'"));
    }
    std::ofstream(home_ / ".asoundrc")
        << "pcm_type.sondrel_vif { lib \"" SONDREL_VIF_MODULE "\" }\n"
        << "pcm.vif { type sondrel_vif file \"" << SharedFile().string()
        << "\" hint { show on description \"virtual interface\" } }\n"
        << "pcm.jackraw { type jack name \"sondrel\" playback_ports { 0 system:playback_1 }"
           " capture_ports { 0 system:capture_1 } }\n"
        << "pcm.jackplug { type plug slave.pcm \"jackraw\" hint { show on description \"JACK, converted\" } }\n";
  }
  void TearDown() override {
    if (jackd_ > 0) kill(jackd_, SIGTERM), waitpid(jackd_, nullptr, 0);
    unsetenv("JACK_DEFAULT_SERVER");
    VifLoopTest::TearDown();
  }
  std::string server_;
  pid_t jackd_ = -1;
};

// "?" at the first-run device question lists what opens for both
// directions and whether it serves the project, then asks again; "cards"
// does the same at the prompt, judging by the project's rate.
TEST_F(JackTest, TheDeviceListShowsWhatFits) {
  const RunResult first = Run("c 1 1 1 ? null 2 cards x\n");
  ASSERT_EQ(first.status, 0) << first.err;
  const std::string fits = "\n      fits at 44100, 48000, 88200, 96000 Hz\n";
  for (const std::string& line :
       {"  vif\n      virtual interface" + fits, "  jackplug\n      JACK, converted" + fits,
        "  jackraw\n      no: takes no non-interleaved 24-bit samples"s, "  null\n      Discard all"s,
        "      in use by this project\n"s, "  vif\n      virtual interface\n      fits at 48000 Hz\n"s}) {
    EXPECT_NE(first.out.find(line), std::string::npos) << line << first.out;
  }
  EXPECT_EQ(CountOf(first.out, "Enter soundcard device name or 'd' for default: "), 2);
  EXPECT_NE(ReadFile("param.txt").find("dv\tnull\n"), std::string::npos);
}

// Output 1 is connected to input 1 inside JACK once the program has its
// ports; three takes must be the same, and the track at one offset.
TEST_F(JackTest, ALoopbackTakeIsTheSameInEveryRun) {
  const std::vector<int> track = WriteTrack("track.wav", 0, 48000);
  WriteLists("vox.wav\n", "track.wav\n");
  WriteFile("param.txt", "dv\tjackplug\nsr\t48000\ninputs\t1\noutputs\t1\nch\t1\nbuf\t256\ni\t0\ne\t0\no\t24064\n"
                         "clock\thc\nmeter\t0\n");
  const std::string connect =
      "until jack_lsp 2>/dev/null | grep -qx 'sondrel-01:in_000'; do sleep 0.05; done; "
      "jack_connect sondrel:out_000 sondrel-01:in_000 && cat ../stdin.txt";
  const RunResult r = Run("r_t1 r_t2 r_t3 x\n", 0, connect);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("\nPX\n"), std::string::npos);
  EXPECT_EQ(r.out.find("\nRX\n"), std::string::npos);
  const std::vector<int> take = ReadSamples("vox_t1.wav");
  ASSERT_EQ(take.size(), 24064u);
  EXPECT_EQ(ReadSamples("vox_t2.wav"), take);
  EXPECT_EQ(ReadSamples("vox_t3.wav"), take);
  // The offset, found from the first sound in the take.
  const auto first = std::find_if(take.begin(), take.end(), [](int v) { return v != 0; });
  ASSERT_NE(first, take.end());
  const auto heard = std::find(track.begin(), track.end(), *first) - track.begin();
  const auto offset = (first - take.begin()) - heard;
  for (std::size_t j = static_cast<std::size_t>(first - take.begin()); j < take.size(); ++j) {
    ASSERT_EQ(take[j], track[j - offset]) << "take sample " << j << ", offset " << offset;
  }
}

}  // namespace
}  // namespace sondrel::e2e
