#include "engine/disk_streams.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "wavfile/wav_format.h"

namespace sondrel {

namespace {

// How often the takes are put on the disk while they grow. A power cut
// loses what was captured since the last sync finished; a sync costs a
// journal commit, so much more often would only load the disk.
constexpr int kTakeSyncIntervalMicroseconds = 1000000;
// How often the takes' new audio is sent towards the disk between syncs.
constexpr int kTakeWritebackStepMicroseconds = 100000;

UniqueFd NewWakeFd() { return UniqueFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)); }

void Wake(const UniqueFd& fd) {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(fd.Get(), &one, sizeof one);
}

void WaitOn(const UniqueFd& fd, int microseconds) {
  pollfd wake{fd.Get(), POLLIN, 0};
  const timespec timeout{microseconds / 1000000, static_cast<long>(microseconds % 1000000) * 1000};
  if (::ppoll(&wake, 1, &timeout, nullptr) > 0) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t ignored = ::read(fd.Get(), &count, sizeof count);
  }
}

// Fills one channel's chunk with the file's samples for the timeline stretch
// that starts `fileStart` samples into the file (negative: before the file
// begins). Whatever the file does not cover is silence.
void FillFromFile(std::uint8_t* chunk, int frames, int fd, std::int64_t dataOffset, std::int64_t length,
                  std::int64_t fileStart) {
  const std::int64_t first = std::max<std::int64_t>(0, fileStart);
  const std::int64_t end = std::min<std::int64_t>(length, fileStart + frames);
  const std::size_t chunkBytes = static_cast<std::size_t>(frames) * kTrackBytesPerSample;
  if (end <= first || fd < 0) {
    std::memset(chunk, 0, chunkBytes);
    return;
  }
  const auto leadBytes = static_cast<std::size_t>(first - fileStart) * kTrackBytesPerSample;
  std::memset(chunk, 0, leadBytes);
  const auto wanted = static_cast<std::size_t>(end - first) * kTrackBytesPerSample;
  const std::size_t got = ReadUpTo(fd, dataOffset + first * kTrackBytesPerSample, chunk + leadBytes, wanted);
  std::memset(chunk + leadBytes + got, 0, chunkBytes - leadBytes - got);
}

// The interruption signals go to the loop's thread, whose waits they cut
// short; the disk thread never sees them.
class InterruptionsBlocked {
 public:
  InterruptionsBlocked() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signal);
    pthread_sigmask(SIG_BLOCK, &signals, &previous_);
  }
  ~InterruptionsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  InterruptionsBlocked(const InterruptionsBlocked&) = delete;
  InterruptionsBlocked& operator=(const InterruptionsBlocked&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace

DiskStreams::DiskStreams(TransportBuffers& buffers, const RunPlan& plan, int chunkFrames, std::uint32_t rateHz,
                         int inputs)
    : buffers_(buffers),
      plan_(plan),
      chunkFrames_(chunkFrames),
      rateHz_(rateHz),
      inputs_(std::clamp(inputs, 0, kMaxChannels)),
      playMarks_(static_cast<std::size_t>(buffers.play.slots)),
      captureMarks_(static_cast<std::size_t>(buffers.capture.slots)),
      diskWake_(NewWakeFd()),
      loopWake_(NewWakeFd()),
      syncWake_(NewWakeFd()) {
  const InterruptionsBlocked blocked;  // the new threads inherit the mask
  thread_ = std::thread([this] { Run(); });
  if (plan_.records) syncThread_ = std::thread([this] { KeepTakesSynced(); });
}

DiskStreams::~DiskStreams() {
  StopSyncing();
  if (!thread_.joinable()) return;
  finishing_.store(true, std::memory_order_release);
  WakeDisk();
  thread_.join();
}

// ------------------------------------------------------------ loop side

const ChunkPointers* DiskStreams::PlayChunk(std::int64_t index) {
  const auto slot = static_cast<std::size_t>(index % buffers_.play.slots);
  if (playMarks_[slot].chunk.load(std::memory_order_acquire) != index) return nullptr;
  return &buffers_.play.pointers[slot];
}

void DiskStreams::SkipPlayChunk(std::int64_t index) { playWanted_.store(index + 1, std::memory_order_release); }

void DiskStreams::ReleasePlayChunksBefore(std::int64_t index) {
  playReleased_.store(index, std::memory_order_release);
  WakeDisk();
}

const ChunkPointers* DiskStreams::CaptureSlot() {
  if (captureHandedOver_ >= captureWritten_.load(std::memory_order_acquire) + buffers_.capture.slots) return nullptr;
  return &buffers_.capture.pointers[static_cast<std::size_t>(captureHandedOver_ % buffers_.capture.slots)];
}

void DiskStreams::HandOverCapture(std::int64_t samples, std::int64_t silentBefore) {
  SlotMark& mark = captureMarks_[static_cast<std::size_t>(captureHandedOver_ % buffers_.capture.slots)];
  mark.samples = samples;
  mark.silentBefore = silentBefore;
  mark.chunk.store(captureHandedOver_, std::memory_order_release);
  ++captureHandedOver_;
  WakeDisk();
}

// Each side wakes the other only when it sleeps: a write to the other's
// descriptor costs a system call and often a switch of tasks. A wake-up the
// loop misses costs it one wait of its short timeout; the disk thread looks
// for work once more after saying it sleeps, so it misses none.
void DiskStreams::WaitForDisk(int microseconds) const {
  loopSleeping_.store(true, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  WaitOn(loopWake_, microseconds);
  loopSleeping_.store(false, std::memory_order_relaxed);
}

void DiskStreams::Finish(std::int64_t trailingSilence, RunMeasures& measures) {
  trailingSilence_ = trailingSilence;
  finishing_.store(true, std::memory_order_release);
  WakeDisk();
  if (thread_.joinable()) thread_.join();
  StopSyncing();
  for (int c = 0; c < kMaxChannels; ++c) {
    if (measures.takeWriteFailed[c] == 1) continue;
    if (writeFailed_[c] == 1 || syncErrno_[c] != 0) {
      measures.takeWriteFailed[c] = 1;
      measures.takeWriteErrno[c] = writeFailed_[c] == 1 ? writeErrno_[c] : syncErrno_[c];
    }
  }
}

void DiskStreams::WakeDisk() const {
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (diskSleeping_.load(std::memory_order_relaxed)) Wake(diskWake_);
}

void DiskStreams::WakeLoop() const {
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (loopSleeping_.load(std::memory_order_relaxed)) Wake(loopWake_);
}

// ------------------------------------------------------------ disk side

// One chunk read and one written, where there is one to do. False when
// there was nothing to do, or when the loop has finished and all is done.
bool DiskStreams::Step(bool& done) {
  const bool finishing = finishing_.load(std::memory_order_acquire);
  bool moved = false;
  if (plan_.plays && !finishing) moved = ReadAhead();
  if (plan_.records) moved = WriteBehind() || moved;
  done = finishing && !moved;
  return moved;
}

void DiskStreams::Run() {
  for (bool done = false; !done;) {
    if (Step(done) || done) continue;
    diskSleeping_.store(true, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (!Step(done) && !done) WaitOn(diskWake_, 100000);
    diskSleeping_.store(false, std::memory_order_relaxed);
  }
  if (plan_.records) WriteSilence(trailingSilence_);
}

bool DiskStreams::ReadAhead() {
  const std::int64_t index = std::max(nextRead_, playWanted_.load(std::memory_order_acquire));
  if (index >= playReleased_.load(std::memory_order_acquire) + buffers_.play.slots) return false;
  const auto slot = static_cast<std::size_t>(index % buffers_.play.slots);
  FillPlaySlot(index, buffers_.play.pointers[slot]);
  playMarks_[slot].chunk.store(index, std::memory_order_release);
  nextRead_ = index + 1;
  WakeLoop();
  return true;
}

// A run that only plays is heard up to its stop point and not a sample
// past it: each file ends there, so the block that reaches the stop is
// padded with silence and so is any chunk loaded after it. (A recording
// plays on past the out point until its take is in: the latency holds the
// last samples back.)
std::int64_t DiskStreams::PlayedLength(int channel) const {
  const std::int64_t length = plan_.length[channel];
  if (plan_.records) return length;
  return std::clamp<std::int64_t>(plan_.stopPosition - plan_.timelineStart[channel], 0, length);
}

void DiskStreams::FillPlaySlot(std::int64_t index, const ChunkPointers& slot) {
  const std::int64_t chunkStart = plan_.startPosition + index * chunkFrames_;
  for (int c = 0; c < kMaxChannels; ++c) {
    if (plan_.playArmed[c] != 1 || slot[c] == nullptr) continue;
    FillFromFile(slot[c], chunkFrames_, plan_.playFiles[c].Get(), plan_.dataOffset[c], PlayedLength(c),
                 chunkStart - plan_.timelineStart[c]);
  }
}

bool DiskStreams::WriteBehind() {
  const std::int64_t index = captureWritten_.load(std::memory_order_relaxed);
  const auto slot = static_cast<std::size_t>(index % buffers_.capture.slots);
  const SlotMark& mark = captureMarks_[slot];
  if (mark.chunk.load(std::memory_order_acquire) != index) return false;
  WriteSilence(mark.silentBefore);
  WriteTakes(buffers_.capture.pointers[slot].data(), mark.samples);
  captureWritten_.store(index + 1, std::memory_order_release);
  WakeLoop();
  return true;
}

// Writes `samples` of every armed input's channel to its take. A full disk
// or a vanished file: what was written is kept, and the failure reported
// after the run, which sets the take aside with sizes that say what it holds.
void DiskStreams::WriteTakes(const std::uint8_t* const* channels, std::int64_t samples) {
  if (samples <= 0) return;
  const std::uint8_t* silence = buffers_.spare.pointers[0][0];
  for (int c = 0; c < inputs_; ++c) {
    if (plan_.recordArmed[c] != 1 || !plan_.takeFiles[c] || writeFailed_[c] == 1) continue;
    const std::uint8_t* data = c < buffers_.capture.channels && channels != nullptr ? channels[c] : silence;
    const IoResult written =
        WriteAll(plan_.takeFiles[c].Get(), data, static_cast<std::size_t>(samples) * kTrackBytesPerSample);
    if (!written) {
      writeFailed_[c] = 1;
      writeErrno_[c] = written.error;
    }
  }
  samplesWritten_ += samples;
  // A take that a crash or a kill cuts off then claims at most about a
  // second more than it holds, whatever reads it before the next start
  // fixes it.
  if (samplesWritten_ - sizesWrittenAt_ + chunkFrames_ > static_cast<std::int64_t>(rateHz_)) WriteRunningTakeSizes();
}

void DiskStreams::WriteSilence(std::int64_t samples) {
  while (samples > 0) {
    const std::int64_t count = std::min<std::int64_t>(samples, chunkFrames_);
    WriteTakes(nullptr, count);
    samples -= count;
  }
}

void DiskStreams::WriteRunningTakeSizes() {
  for (int c = 0; c < inputs_; ++c) {
    if (plan_.recordArmed[c] != 1 || !plan_.takeFiles[c] || writeFailed_[c] == 1) continue;
    if (const IoResult written = WriteTakeSizes(plan_.takeFiles[c].Get(), samplesWritten_); !written) {
      writeFailed_[c] = 1;
      writeErrno_[c] = written.error;
    }
  }
  sizesWrittenAt_ = samplesWritten_;
}

// ------------------------------------------------------------ sync side

// On a thread of its own: a sync waits for the file system's journal, which
// another program's writes can hold up for seconds, and the disk thread must
// go on emptying the capture ring meanwhile. The takes' data and their sizes
// (the file's length, and the header the disk thread refreshes) are on the
// disk once a sync returns. A failed sync may have lost written audio, so
// the take is reported as cut short, as a failed write would be.
//
// The audio goes to the disk in small steps: every tenth of a second each
// take's new pages are sent on their way, and once a second the syncs only
// add the last of them and the sizes. Sending a whole second of 64 takes at
// once kept this thread inside the kernel for 6 to 12 ms, and a kernel that
// does not preempt a system call makes a real-time loop woken on the same
// processor wait that long: at period 64 it has 5 ms of buffer. A tenth of
// a second at a time takes 1 to 4 ms.
void DiskStreams::KeepTakesSynced() {
  std::array<int, kMaxChannels> unsyncable{};
  const auto takeSyncs = [&](int c) {
    return plan_.recordArmed[c] == 1 && plan_.takeFiles[c] && syncErrno_[c] == 0 && unsyncable[c] == 0;
  };
  const auto writebackStep = std::chrono::microseconds(kTakeWritebackStepMicroseconds);
  const auto syncInterval = std::chrono::microseconds(kTakeSyncIntervalMicroseconds);
  const auto start = std::chrono::steady_clock::now();
  auto stepDue = start + writebackStep;
  auto syncDue = start + syncInterval;
  while (!syncStopping_.load(std::memory_order_acquire)) {
    const auto now = std::chrono::steady_clock::now();
    if (now < stepDue) {
      WaitOn(syncWake_, static_cast<int>(std::chrono::ceil<std::chrono::microseconds>(stepDue - now).count()));
      continue;
    }
    stepDue = std::max(stepDue + writebackStep, now);
    // Sending every take's new audio on its way before any sync also gives
    // each its place on the disk and its new length in the file system's
    // journal, so the first sync commits them all at once, where syncing
    // one take after another would commit the journal once a take.
    for (int c = 0; c < inputs_; ++c) {
      if (takeSyncs(c)) (void)::sync_file_range(plan_.takeFiles[c].Get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    }
    if (now < syncDue) continue;
    // Syncs start a second apart however long each round takes: a power
    // cut then costs a second and the round in progress, not the one
    // before as well.
    syncDue = std::max(syncDue + syncInterval, now);
    for (int c = 0; c < inputs_; ++c) {
      if (!takeSyncs(c)) continue;
      if (::fdatasync(plan_.takeFiles[c].Get()) == 0) continue;
      // A file system that cannot sync at all says so again when the take closes.
      if (errno == EINVAL) {
        unsyncable[c] = 1;
      } else {
        syncErrno_[c] = errno != 0 ? errno : EIO;
      }
    }
  }
}

// The takes' last sync is the one that closes them.
void DiskStreams::StopSyncing() {
  if (!syncThread_.joinable()) return;
  syncStopping_.store(true, std::memory_order_release);
  Wake(syncWake_);
  syncThread_.join();
}

}  // namespace sondrel
