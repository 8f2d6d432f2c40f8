// End to end on the "pipewire" ALSA device of a PipeWire server of the test's own, with no hardware and no session
// manager: the test links the program's streams itself.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <optional>

#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

constexpr int kStop = 47 * 1024;  // about a second, on the block grid the program keeps its points on

// At 48 kHz: a null sink, which drives the graph, and a null source. Without the access module clients wait forever.
constexpr const char* kServerConfig = R"( default.clock.rate = 48000 default.clock.quantum = 1024 support.dbus = false }
context.spa-libs = { audio.convert.* = audioconvert/libspa-audioconvert support.* = support/libspa-support }
context.modules = [ { name = libpipewire-module-protocol-native } { name = libpipewire-module-access }
  { name = libpipewire-module-metadata } { name = libpipewire-module-client-node }
  { name = libpipewire-module-adapter } { name = libpipewire-module-link-factory } ]
context.objects = [
  { factory = adapter args = { factory.name = support.null-audio-sink node.name = null-sink media.class = Audio/Sink
    audio.position = [ FL FR ] adapter.auto-port-config = { mode = dsp monitor = true position = preserve } } }
  { factory = adapter args = { factory.name = support.null-audio-sink node.name = null-source
    media.class = Audio/Source/Virtual adapter.auto-port-config = { mode = dsp monitor = true } } } ]
)";
// The program's streams get ports, as a session manager would give them.
constexpr const char* kPorts = "{ adapter.auto-port-config = { mode = dsp } }";

class PipeWireTest : public ProjectTest {
 protected:
  // Starts the server with a socket of its own in a private runtime directory.
  void SetUp() override {
    ProjectTest::SetUp();
    if (!HasTool("pipewire") || !HasTool("pw-link")) return ServerUnavailable("pipewire or pw-link is not installed");
    const std::filesystem::path runtime = root_ / "runtime", config = root_ / "pipewire.conf";
    const std::string name = root_.filename().string(), log = (root_ / "pipewire.log").string();
    std::filesystem::create_directory(runtime);
    WriteFile("../pipewire.conf", "context.properties = { core.daemon = true core.name = " + name + kServerConfig);
    const std::string env[][2] = {{"XDG_RUNTIME_DIR", runtime}, {"PIPEWIRE_REMOTE", name}, {"PIPEWIRE_PROPS", kPorts}};
    for (const auto& [key, value] : env) {
      const char* old = std::getenv(key.c_str());
      savedEnv_.emplace_back(key, old ? std::optional<std::string>(old) : std::nullopt);
      setenv(key.c_str(), value.c_str(), 1);
    }
    if ((server_ = fork()) == 0) {
      dup2(open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      dup2(1, 2);
      execlp("pipewire", "pipewire", "-c", config.c_str(), nullptr);
      _exit(127);
    }
    for (int tries = 0; !std::filesystem::exists(runtime / name); ++tries, usleep(50000)) {
      if (waitpid(server_, nullptr, WNOHANG) == server_) server_ = -1;  // it ended; TearDown stops it otherwise
      if (server_ < 0 || tries == 100) return ServerUnavailable("pipewire did not start; its log: " + Shell("cat " + log));
    }
  }
  void TearDown() override {
    if (server_ > 0 && kill(server_, SIGTERM) == 0) waitpid(server_, nullptr, 0);
    for (const auto& [key, value] : savedEnv_) value ? setenv(key.c_str(), value->c_str(), 1) : unsetenv(key.c_str());
    ProjectTest::TearDown();
  }
  pid_t server_ = -1;
  std::vector<std::pair<std::string, std::optional<std::string>>> savedEnv_;
};

// The program's playback is linked straight to its capture, in the graph the null sink drives: it plays, then
// records, paced and without an xrun, and the take is the track sample for sample. At the exit the capture, which
// nothing drives once the playback stops, is dropped, not drained (a drain there never returned).
TEST_F(PipeWireTest, PlaysAndRecordsInRealTimeThroughALoop) {
  const std::vector<int> track = Ramp(kStop, -80 * kStop, 160);
  WriteWav("track.wav", track, 48000);
  WriteLists("vox.wav\n", "track.wav\n");
  WriteFile("param.txt", "dv\tpipewire\nsr\t48000\ninputs\t2\noutputs\t2\nch\t2\nbuf\t1024\ni\t0\ne\t0\no\t" +
                             std::to_string(kStop) + "\nclock\thc\nmeter\t0\n");
  // Once the program has opened its streams (`p C` names their ports of channel C), the feeder links them.
  const std::string feeder =
      "p() { pw-link -o | grep -i \"playback[^:]*:output_$1$\"; pw-link -i | grep -i \"capture[^:]*:input_$1$\"; }; "
      "for i in $(seq 100); do [ \"$(p FR | wc -l)\" = 2 ] && break; sleep 0.1; done; for c in FL FR; do "
      "pw-link \"$(p $c | head -1)\" \"$(p $c | tail -1)\"; "
      "done; printf 'p r_t1 cards x\\n'";
  auto run = std::async(std::launch::async, [&] { return Run("", 0, feeder); });
  const bool hung = run.wait_for(std::chrono::seconds(30)) == std::future_status::timeout && !kill(server_, SIGTERM);
  const RunResult r = run.get();
  ASSERT_FALSE(hung) << "The run hung until the server was stopped.\n" << r.out;
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Play\t1024\t4\t48000\t2\nRecord\t1024\t4\t48000\t2\n"), std::string::npos) << r.out;
  // The device list shows the server's PCM, the one this project holds.
  EXPECT_NE(r.out.find("  pipewire\n      PipeWire Sound Server\n      in use by this project\n"), std::string::npos);
  for (const char* x : {"\nPX\n", "\nRX\n", "Underruns", "Overruns"}) EXPECT_EQ(r.out.find(x), std::string::npos) << x;
  EXPECT_TRUE(r.seconds > 2.0 * kStop / 48000 - 0.2 && r.seconds < 8.0) << r.seconds << " s for two 1 s runs";
  const std::vector<int> take = ReadSamples("vox_t1.wav");
  ASSERT_EQ(take.size(), std::size_t{kStop});
  EXPECT_EQ(take, track);
}

}  // namespace
}  // namespace sondrel::e2e
