// The real-time loop allocates nothing once a run goes: on ALSA's null
// device, which never makes it wait, every allocation made on the loop's
// thread from its first pass until it returns is counted.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "engine/block_loop.h"

#if !defined(__SANITIZE_ADDRESS__)
namespace {
thread_local bool counting = false;
std::atomic<int> allocations{0};
}  // namespace

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

TEST(BlockLoopTest, APlayAndRecordRunAllocatesNothingOnceItGoes) {
  SessionState s;
  s.tracks = s.inputs = s.outputs = 2;
  SetText(s.deviceName, "null");
  s.sampleRate = 48000;
  s.periodFrames = 64;
  s.mixMode = 1;
  AudioDevices devices;
  ASSERT_EQ(OpenAudioDevices(s, devices).failedStep, DeviceSetupStep::None);
  TransportBuffers buffers;
  AllocateTransportBuffers(buffers, s.tracks, s.inputs, s.sampleRate, devices.chunkFrames);
  PrepareDevicesForRun(devices, true, true);

  auto plan = std::make_unique<RunPlan>();
  plan->plays = plan->records = true;
  plan->stopPosition = plan->takeLength = 2 * 48000;
  for (int c = 0; c < 2; ++c) {
    plan->playArmed[c] = plan->recordArmed[c] = 1;
    plan->playFiles[c] = UniqueFd(open("/dev/zero", O_RDONLY | O_CLOEXEC));
    plan->takeFiles[c] = UniqueFd(open("/dev/null", O_WRONLY | O_CLOEXEC));
    plan->length[c] = 48000;
  }
  ChannelGains gains;
  auto mixWork = std::make_unique<MixWorkspace>();
  MeterState meter;
  CountingObserver observer;
  LoopSettings settings{&s, &gains, mixWork.get(), &meter, MeterScaleFromRange(-30), &observer, 4800};
  auto measures = std::make_unique<RunMeasures>();
  RunBlockLoop(devices, buffers, *plan, settings, *measures);
  counting = false;
  EXPECT_EQ(measures->recordedSamples, 2 * 48000);
  EXPECT_EQ(allocations.load(), 0);
}

}  // namespace
}  // namespace sondrel
#endif
