// Sondrel on a real JACK server (the dummy backend at 48 kHz), reached
// through ALSA's jack PCM behind a plug definition, the one the README
// gives: the device list must show it and say whether it fits, and a take
// recorded through a JACK connection from Sondrel's output to its input
// must hold the track sample for sample, in every run that reports no xrun.
#include <unistd.h>

#include <sys/wait.h>

#include <csignal>
#include <filesystem>
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
    // A server that did not end cleanly leaves its socket and semaphores behind.
    std::error_code absent;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", absent)) {
      if (entry.path().filename().string().find(server_) != std::string::npos) std::filesystem::remove(entry, absent);
    }
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
// ports. The server takes each stream into its cycle in a turn of its own,
// sometimes a cycle apart, and on a busy machine it may let one of them miss
// a cycle: every take must still be the track sample for sample (the
// connection has no latency), or its run must have said that it lost a
// stretch. Five takes, so that a busy machine shows what it does.
TEST_F(JackTest, ALoopbackTakeIsTheTrackOrItsRunSaysWhatWasLost) {
  const std::vector<int> track = WriteTrack("track.wav", 0, 48000);
  WriteLists("vox.wav\n", "track.wav\n");
  WriteFile("param.txt", "dv\tjackplug\nsr\t48000\ninputs\t1\noutputs\t1\nch\t1\nbuf\t256\ni\t0\ne\t0\no\t24064\n"
                         "clock\thc\nmeter\t0\n");
  const std::string connect =
      "until jack_lsp 2>/dev/null | grep -qx 'sondrel-01:in_000'; do sleep 0.05; done; "
      "jack_connect sondrel:out_000 sondrel-01:in_000 && cat ../stdin.txt";
  constexpr int kTakes = 5;
  std::string words;
  for (int t = 1; t <= kTakes; ++t) words += "r_t" + std::to_string(t) + " ";
  const RunResult r = Run(words + "x\n", 0, connect);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<int> heard(track.begin(), track.begin() + 24064);
  const std::string runStart = "Playing and Recording...\n";
  int clean = 0;
  std::size_t at = r.out.find(runStart);
  for (int t = 1; t <= kTakes; ++t) {
    ASSERT_NE(at, std::string::npos) << r.out;
    const std::size_t next = r.out.find(runStart, at + runStart.size());
    const std::string run = r.out.substr(at, next == std::string::npos ? std::string::npos : next - at);
    const bool lost = run.find("\nPX\n") != std::string::npos || run.find("\nRX\n") != std::string::npos;
    const std::vector<int> take = ReadSamples("vox_t" + std::to_string(t) + ".wav");
    EXPECT_EQ(take.size(), heard.size()) << "take " << t;
    if (!lost) {
      EXPECT_TRUE(take == heard) << "take " << t << " moved, and its run reported no xrun:\n" << run;
      ++clean;
    }
    at = next;
  }
  // Five takes that all lost a stretch would prove nothing about alignment.
  EXPECT_GT(clean, 0) << r.out;
}

// The click through the server, after a bar of count-in, on an output with
// no track: its take holds a burst starting at every beat of the grid and
// nowhere else, unless the run said it lost a stretch.
TEST_F(JackTest, TheClickLinesUpWithTheGridThroughTheServer) {
  WriteLists("vox.wav\n", "-\n");
  WriteFile("param.txt", "dv\tjackplug\nsr\t48000\ninputs\t1\noutputs\t1\nch\t1\nbuf\t256\ni\t0\ne\t0\no\t96000\n"
                         "clock\thc\nmeter\t0\ntempo\t97.30\nclick\t1\t-6.00\ncnt\t1\n");
  const RunResult r = Run("r_c x\n", 0,
                          "until jack_lsp 2>/dev/null | grep -qx 'sondrel-01:in_000'; do sleep 0.05; done; "
                          "jack_connect sondrel:out_000 sondrel-01:in_000 && cat ../stdin.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  // A run that lost a stretch has said so, which is all it promises.
  if (r.out.find("\nPX\n") != std::string::npos || r.out.find("\nRX\n") != std::string::npos) return;
  std::vector<std::int64_t> grid;
  for (std::int64_t k = 0; GridBeat(k, 48000, 97.3f) < 96000; ++k) grid.push_back(GridBeat(k, 48000, 97.3f));
  EXPECT_EQ(Onsets(ReadSamples("vox_c.wav"), 48), grid);
}

// The server killed half a second into a take: the run ends by itself with
// the take so far kept in whole samples, and the next run says the device
// is gone. SIGTERM, as a server killed outright (SIGKILL, which its
// clients see the same way: their streams stop) keeps its entry in JACK's
// shared registry for good, and a handful of those stop any server from
// starting on the machine.
TEST_F(JackTest, AKilledServerEndsTheTakeAndTheNextRunSaysSo) {
  WriteLists("vox.wav\n", "-\n");
  WriteFile("param.txt", "dv\tjackplug\nsr\t48000\ninputs\t1\noutputs\t1\nch\t1\nbuf\t256\ni\t0\ne\t0\no\t960000\n"
                         "clock\thc\nmeter\t0\n");
  const RunResult r =
      Run("", 0,
          "until jack_lsp 2>/dev/null | grep -qx 'sondrel-01:in_000'; do sleep 0.05; done; "
          "jack_connect sondrel:out_000 sondrel-01:in_000; echo r_t; "
          "for i in $(seq 400); do [ \"$(stat -c %s vox_t.wav 2>/dev/null)\" -gt 80000 ] 2>/dev/null && break; "
          "sleep 0.05; done; kill -TERM " + std::to_string(jackd_) +
              "; for i in $(seq 200); do grep -q 'Stopped at' ../stdout.txt && break; sleep 0.1; done; echo r_u x");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_LT(r.seconds, 15.0);
  EXPECT_NE(r.out.find("The audio device stopped answering: the run ended, and what it recorded is kept\nStopped at "),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("The audio device jackplug is still gone, so the run does not start\n"), std::string::npos)
      << r.out;
  const std::vector<int> take = ReadSamples("vox_t.wav");
  EXPECT_GT(take.size(), 24000u) << r.out;
  EXPECT_LT(take.size(), 48000u * 4);
  EXPECT_FALSE(Exists("vox_u.wav"));
}

}  // namespace
}  // namespace sondrel::e2e
