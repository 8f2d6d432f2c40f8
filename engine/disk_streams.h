// The disk side of a transport run, on a thread of its own: it reads the
// play tracks ahead into the play ring and writes the takes behind from the
// capture ring. The real-time loop and the disk thread hand chunks over
// through counters alone (one writer each), so the loop never waits on a
// read or a write, never takes a lock and never allocates; when a chunk is
// not there in time the loop goes on with silence. A third thread puts the
// takes on the disk about once a second, so a power cut costs at most the
// last second or so of a take.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "core/file_io.h"
#include "engine/audio_device.h"
#include "engine/run_plan.h"

namespace sondrel {

class DiskStreams {
 public:
  // Starts the thread, which begins filling the play ring at once. The
  // plan's files and the buffers must outlive Finish().
  DiskStreams(TransportBuffers& buffers, const RunPlan& plan, int chunkFrames, std::uint32_t rateHz,
              int inputs);
  ~DiskStreams();
  DiskStreams(const DiskStreams&) = delete;
  DiskStreams& operator=(const DiskStreams&) = delete;

  // ------------------------------------------------ the loop's side

  // Play chunk `index` (from the run's start position), or null while the
  // disk has not read it. The loop takes chunks in order; a chunk it skips
  // is never asked for again.
  const ChunkPointers* PlayChunk(std::int64_t index);
  // The loop goes past chunk `index` without it: the disk need not read it.
  void SkipPlayChunk(std::int64_t index);
  // The loop is done with every play chunk before `index`.
  void ReleasePlayChunksBefore(std::int64_t index);

  // The slot for the next captured chunk to hand over, or null while the
  // ring is full.
  const ChunkPointers* CaptureSlot();
  // That chunk, filled: its first `samples` go to the takes, after
  // `silentBefore` samples of silence for chunks that found the ring full.
  void HandOverCapture(std::int64_t samples, std::int64_t silentBefore);

  // Waits at most `microseconds` for the disk thread to move on.
  void WaitForDisk(int microseconds) const;

  // ------------------------------------------------ after the loop

  // Writes what the takes are still owed (the handed-over chunks, then
  // `trailingSilence` samples), stops the thread and adds the take write
  // failures to `measures`.
  void Finish(std::int64_t trailingSilence, RunMeasures& measures);

 private:
  void Run();
  bool Step(bool& done);
  bool ReadAhead();
  bool WriteBehind();
  std::int64_t PlayedLength(int channel) const;
  void FillPlaySlot(std::int64_t index, const ChunkPointers& slot);
  void WriteTakes(const std::uint8_t* const* channels, std::int64_t samples);
  void WriteSilence(std::int64_t samples);
  void WriteRunningTakeSizes();
  void WakeDisk() const;
  void WakeLoop() const;
  void KeepTakesSynced();
  void StopSyncing();

  struct SlotMark {
    std::atomic<std::int64_t> chunk{-1};  // the chunk the slot holds, once it is filled
    std::int64_t samples = 0;
    std::int64_t silentBefore = 0;
  };

  TransportBuffers& buffers_;
  const RunPlan& plan_;
  const int chunkFrames_;
  const std::uint32_t rateHz_;
  const int inputs_;

  std::vector<SlotMark> playMarks_;
  std::vector<SlotMark> captureMarks_;
  // Written by the loop.
  std::atomic<std::int64_t> playWanted_{0};    // the next play chunk the loop will take
  std::atomic<std::int64_t> playReleased_{0};  // play chunks before this are free
  std::atomic<bool> finishing_{false};
  std::int64_t captureHandedOver_ = 0;
  std::int64_t trailingSilence_ = 0;  // set before finishing_
  // Written by the disk thread.
  std::atomic<std::int64_t> captureWritten_{0};  // capture chunks written out (their slots are free)
  std::int64_t nextRead_ = 0;
  std::int64_t samplesWritten_ = 0;
  std::int64_t sizesWrittenAt_ = 0;
  std::array<int, kMaxChannels> writeFailed_{};
  std::array<int, kMaxChannels> writeErrno_{};
  // Written by the sync thread, read once it has stopped.
  std::array<int, kMaxChannels> syncErrno_{};

  mutable std::atomic<bool> loopSleeping_{false};
  std::atomic<bool> diskSleeping_{false};
  UniqueFd diskWake_;  // eventfd: the loop handed something over
  UniqueFd loopWake_;  // eventfd: the disk thread read or wrote a chunk
  std::thread thread_;
  std::atomic<bool> syncStopping_{false};
  UniqueFd syncWake_;  // eventfd: the run is over, stop syncing
  std::thread syncThread_;
};

}  // namespace sondrel
