// The real-time loop run in-process: it allocates nothing once a run goes (every allocation on the loop's thread from
// its first pass until it returns is counted), and a disk that cannot keep up costs silence in the takes, never their
// length.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "engine/block_loop.h"
#include "tests/support/vif_loop.h"

namespace {
thread_local bool counting = false;
std::atomic<int> allocations{0};
}  // namespace

// The sanitizers own the allocator.
#if !defined(__SANITIZE_ADDRESS__)
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" void* __libc_realloc(void* pointer, std::size_t size);
extern "C" void* malloc(std::size_t size) {
  if (counting) ++allocations;
  return __libc_malloc(size);
}
extern "C" void* calloc(std::size_t count, std::size_t size) {
  if (counting) ++allocations;
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* pointer, std::size_t size) {
  if (counting) ++allocations;
  return __libc_realloc(pointer, size);
}
#endif

namespace sondrel {
namespace {

// Counts from the loop's first question on.
class CountingObserver final : public RunObserver {
 public:
  void PreRollSet(std::int64_t, std::int64_t, std::int64_t) override {}
  void RunStarting(const RunStart&) override {}
  void ShowClock(std::int64_t) override {}
  void ShowMeter(const MeterFrame&, bool) override {}
  void ShowMonitorLevels(std::span<const std::int64_t>, std::span<const int>) override {}
  void MarkUnderrun() override {}
  void MarkOverrun() override {}
  bool StopRequested() override { return counting = true, false; }
  void RunFinished(const RunSummary&) override {}
};

// A play and record run on `device` of `channels` tracks, inputs and outputs, playing the first track (silence) and
// recording the first input into `takeFd`.
struct LoopRun {
  LoopRun(const char* device, int takeFd, int channels, std::uint32_t rateHz, int period, std::int64_t length) {
    s.tracks = s.inputs = s.outputs = channels;
    SetText(s.deviceName, device);
    s.sampleRate = rateHz;
    s.periodFrames = period;
    s.mixMode = 1;
    EXPECT_EQ(OpenAudioDevices(s, devices).failedStep, DeviceSetupStep::None);
    AllocateTransportBuffers(buffers, s.tracks, s.inputs, s.sampleRate, devices.chunkFrames);
    PrepareDevicesForRun(devices, true, true);
    plan->plays = plan->records = true;
    plan->stopPosition = plan->takeLength = length;
    plan->playArmed[0] = plan->recordArmed[0] = 1;
    plan->playFiles[0] = UniqueFd(open("/dev/zero", O_RDONLY | O_CLOEXEC));
    plan->takeFiles[0] = UniqueFd(takeFd);
    plan->length[0] = length;
  }
  void Run() {
    LoopSettings settings{&s, &gains, mixWork.get(), &meter, MeterScaleFromRange(-30), &observer, 4800};
    RunBlockLoop(devices, buffers, *plan, settings, *measures);
  }
  SessionState s;
  AudioDevices devices;
  TransportBuffers buffers;
  std::unique_ptr<RunPlan> plan = std::make_unique<RunPlan>();
  ChannelGains gains;
  std::unique_ptr<MixWorkspace> mixWork = std::make_unique<MixWorkspace>();
  MeterState meter;
  CountingObserver observer;
  std::unique_ptr<RunMeasures> measures = std::make_unique<RunMeasures>();
};

#if !defined(__SANITIZE_ADDRESS__)
TEST(BlockLoopTest, APlayAndRecordRunAllocatesNothingOnceItGoes) {
  // ALSA's null device never makes the loop wait.
  LoopRun run("null", open("/dev/null", O_WRONLY | O_CLOEXEC), 2, 48000, 64, 96000);
  run.Run();
  counting = false;
  EXPECT_EQ(run.measures->recordedSamples, 96000);
  EXPECT_EQ(allocations.load(), 0);
}
#endif

using DiskStallTest = test::VifLoopTest;

// On the paced interface (whose capture runs on past an overrun, as a card told not to stop does), the take goes into a
// pipe nobody reads until the run is over: the capture ring (10 chunks of 256 channels) fills, further chunks are
// dropped and counted, and they are written as silence once the reader comes, so the take keeps its length. (Under a
// second of it at 96 kHz: the take's header is never rewritten, which a pipe would refuse.)
TEST_F(DiskStallTest, ATakeTheDiskCannotKeepUpWithKeepsItsLength) {
  WriteVif(256, 256, 1024, "", 0, "paced true channels 256");
  const std::string home = getenv("HOME");
  setenv("HOME", home_.c_str(), 1);
  snd_config_update_free_global();
  int pipeFds[2];
  ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
  fcntl(pipeFds[1], F_SETPIPE_SZ, 4096);
  LoopRun run("vif", pipeFds[1], 256, 96000, 1024, 80000);
  std::string take;
  std::thread reader([&take, fd = pipeFds[0]] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    char bytes[65536];
    for (ssize_t n; (n = read(fd, bytes, sizeof bytes)) > 0;) take.append(bytes, static_cast<std::size_t>(n));
  });
  run.Run();
  run.plan.reset();  // closes the pipe
  reader.join();
  close(pipeFds[0]);
  setenv("HOME", home.c_str(), 1);
  snd_config_update_free_global();
  EXPECT_GT(run.measures->captureDroppedFrames, 0);
  EXPECT_EQ(run.measures->takeWriteFailed[0], 0);
  EXPECT_EQ(take.size(), 3u * 80000);
}

}  // namespace
}  // namespace sondrel
