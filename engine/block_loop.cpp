#include "engine/block_loop.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>

#include "core/file_io.h"
#include "core/interruption.h"
#include "wavfile/wav_format.h"

namespace sondrel {

namespace {

constexpr int kPlaySets[2] = {0, 1};
constexpr int kCaptureSets[2] = {2, 3};
// More than a second at the usual rates: far beyond any interface's delay.
constexpr std::int64_t kMaxCompensationFrames = 65536;

struct LoopState {
  int block = 0;  // frames per device transfer
  int chunk = 0;  // frames per file transfer, a whole number of blocks
  std::int64_t captureThreshold = 0;

  std::int64_t loadPosition = 0;
  int playSet = 0;  // index into kPlaySets being written to the device
  int chunkOffset = 0;
  bool loadDue = true;

  int captureSet = 0;  // index into kCaptureSets being filled
  int captureOffset = 0;
  std::int64_t captureCounter = 0;
  bool captureStarted = false;
  std::int64_t recorded = 0;
  bool moreToRecord = true;
  std::int64_t sizesWrittenAt = 0;  // samples the takes' headers declare

  std::int64_t recordPosition = 0;   // record-only runs: position of the next block read
  std::int64_t monitorPosition = 0;  // monitor runs: frames captured so far
  std::int64_t monitoredSinceDisplay = 0;
  std::int64_t lastDisplay = 0;
  bool meterRestart = true;

  // Channel numbers (from 1) whose levels a monitor run shows.
  std::array<int, kMaxChannels> monitored{};
  int monitoredCount = 0;
};

struct Loop {
  AudioDevices& devices;
  TransportBuffers& buffers;
  RunPlan& plan;
  const LoopSettings& settings;
  RunMeasures& measures;
  LoopState state;

  const SessionState& session() const { return *settings.session; }
};

// ------------------------------------------------------------ file transfer

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

// The old take of a channel being recorded over is heard up to the punch
// point and not after it.
void MuteReplacedFromPunch(Loop& loop, int set, std::int64_t chunkStart) {
  const RunPlan& plan = loop.plan;
  const int frames = loop.state.chunk;
  if (chunkStart + frames - 1 < plan.punchPoint) return;
  const std::int64_t from = std::max<std::int64_t>(0, plan.punchPoint - chunkStart);
  for (int c = 0; c < kMaxChannels; ++c) {
    std::uint8_t* chunk = loop.buffers.channelPointers[set][c];
    if (plan.replace[c] != 1 || chunk == nullptr) continue;
    std::memset(chunk + from * kTrackBytesPerSample, 0, static_cast<std::size_t>(frames - from) * kTrackBytesPerSample);
  }
}

// Mixes a loaded chunk in place, 4096 frames at a time.
void MixLoadedChunk(Loop& loop, int set) {
  const SessionState& s = loop.session();
  if (s.mixMode < 1 || s.mixMode > 3) return;
  for (int offset = 0; offset < loop.state.chunk; offset += kChunkFrames) {
    ChunkPointers chunks = loop.buffers.channelPointers[set];
    for (auto& p : chunks) {
      if (p != nullptr) p += static_cast<std::size_t>(offset) * kTrackBytesPerSample;
    }
    const int frames = std::min(kChunkFrames, loop.state.chunk - offset);
    MixPeaks& peaks = loop.measures.mixPeaks;
    if (s.mixMode == 1) {
      Mix(chunks, frames, s.tracks, loop.plan.playArmed, *loop.settings.gains, peaks, s.busGain[0],
          *loop.settings.mixWork);
    } else {
      const int busCount = s.mixMode == 2 ? s.outputs / 2 : s.tracks / 2;
      MixMultiple(chunks, frames, s.tracks, loop.plan.playArmed, *loop.settings.gains, peaks, s.busActive,
                  s.busChannels, busCount, s.busGain, s.mixMode, *loop.settings.mixWork);
    }
  }
}

void LoadPlayChunk(Loop& loop) {
  LoopState& st = loop.state;
  const RunPlan& plan = loop.plan;
  const int set = kPlaySets[1 - st.playSet];
  const std::int64_t chunkStart = st.loadPosition;
  for (int c = 0; c < kMaxChannels; ++c) {
    if (plan.playArmed[c] != 1 || loop.buffers.channelPointers[set][c] == nullptr) continue;
    FillFromFile(loop.buffers.channelPointers[set][c], st.chunk, plan.playFiles[c].Get(), plan.dataOffset[c],
                 plan.length[c], chunkStart - plan.timelineStart[c]);
  }
  if (plan.records) MuteReplacedFromPunch(loop, set, chunkStart);
  st.loadPosition += st.chunk;
  MixLoadedChunk(loop, set);
}

// ----------------------------------------------------------------- display

void RefreshRunningDisplay(Loop& loop, std::int64_t position) {
  const SessionState& s = loop.session();
  RunMeasures& m = loop.measures;
  RunObserver& observer = *loop.settings.observer;
  if (s.clockMode != 0) observer.ShowClock(position);
  const MeterScale& scale = loop.settings.meterScale;
  if (s.meterRange != 0 && loop.plan.records && scale.range > 0.0f) {
    const MeterFrame frame =
        UpdateMeter(*loop.settings.meter, m.intervalPeak, scale, loop.state.meterRestart, m.intervalPeakChannel);
    loop.state.meterRestart = false;
    // A hidden clock leaves the meter to start the line itself.
    observer.ShowMeter(frame, s.clockMode == 0);
  }
  m.intervalPeak = 0;
  loop.state.lastDisplay = position;
}

// ------------------------------------------------------------------ devices

void FillPointers(const TransportBuffers& buffers, int set, int channels, int offsetFrames,
                  std::array<void*, kMaxChannels>& pointers) {
  for (int c = 0; c < channels; ++c) {
    pointers[c] = buffers.channelPointers[set][c] + static_cast<std::size_t>(offsetFrames) * kTrackBytesPerSample;
  }
}

int Channels(int count, const TransportBuffers& buffers) { return std::clamp(count, 0, buffers.channels); }

// A block the device did not deliver is silence, never what the buffer held
// from an earlier chunk.
void SilenceLostFrames(const std::array<void*, kMaxChannels>& pointers, int channels, snd_pcm_sframes_t got,
                       int frames) {
  const snd_pcm_sframes_t kept = got < 0 ? 0 : std::min<snd_pcm_sframes_t>(got, frames);
  if (kept >= frames) return;
  for (int c = 0; c < channels; ++c) {
    std::memset(static_cast<std::uint8_t*>(pointers[c]) + kept * kTrackBytesPerSample, 0,
                static_cast<std::size_t>(frames - kept) * kTrackBytesPerSample);
  }
}

// Reads one block of every input into `set` at `offsetFrames`, handling an
// overrun. The block counts as read whatever happened, so takes keep their
// length and timing.
void ReadCaptureBlock(Loop& loop, int set, int offsetFrames) {
  const int inputs = Channels(loop.session().inputs, loop.buffers);
  std::array<void*, kMaxChannels> pointers{};
  FillPointers(loop.buffers, set, inputs, offsetFrames, pointers);
  const snd_pcm_sframes_t got =
      snd_pcm_readn(loop.devices.capture.get(), pointers.data(), static_cast<snd_pcm_uframes_t>(loop.state.block));
  SilenceLostFrames(pointers, inputs, got, loop.state.block);
  if (got == -EPIPE) {
    loop.settings.observer->MarkOverrun();
    ++loop.measures.overruns;
    snd_pcm_prepare(loop.devices.capture.get());
  }
}

// --------------------------------------------------------------- recording

// Writes `samples` of every armed input's chunk to its take, after checking
// the peaks of its first `peakFrames`.
void WriteTakeChunk(Loop& loop, int set, std::int64_t samples, int peakFrames) {
  const RunPlan& plan = loop.plan;
  RunMeasures& m = loop.measures;
  const SessionState& s = loop.session();
  for (int c = 0; c < kMaxChannels && c < s.inputs; ++c) {
    if (plan.recordArmed[c] != 1) continue;
    const std::uint8_t* chunk = loop.buffers.channelPointers[set][c];
    if (s.peakCheck == 1) CheckPeak(c, peakFrames, m.inputPeak.data(), chunk, &m.intervalPeak, &m.intervalPeakChannel);
    if (!plan.takeFiles[c] || m.takeWriteFailed[c] == 1) continue;
    const IoResult written =
        WriteAll(plan.takeFiles[c].Get(), chunk, static_cast<std::size_t>(samples) * kTrackBytesPerSample);
    if (!written) {
      // A full disk or a vanished file: keep what was written and report
      // it after the run, which sets the take aside with sizes that say
      // what it holds.
      m.takeWriteFailed[c] = 1;
      m.takeWriteErrno[c] = written.error;
    }
  }
}

// Brings every take's header up to the samples written so far: a take that
// a crash or a kill cuts off then claims at most about a second more than it
// holds, whatever reads it before the next start fixes it.
void WriteRunningTakeSizes(Loop& loop) {
  const RunPlan& plan = loop.plan;
  RunMeasures& m = loop.measures;
  for (int c = 0; c < kMaxChannels && c < loop.session().inputs; ++c) {
    if (plan.recordArmed[c] != 1 || !plan.takeFiles[c] || m.takeWriteFailed[c] == 1) continue;
    if (const IoResult written = WriteTakeSizes(plan.takeFiles[c].Get(), loop.state.recorded); !written) {
      m.takeWriteFailed[c] = 1;
      m.takeWriteErrno[c] = written.error;
    }
  }
  loop.state.sizesWrittenAt = loop.state.recorded;
}

void HandleCompletedCapture(Loop& loop) {
  LoopState& st = loop.state;
  const int set = kCaptureSets[st.captureSet];
  const std::int64_t left = loop.plan.takeLength - st.recorded;
  std::int64_t count = st.chunk;
  if (left <= st.chunk) {
    count = std::max<std::int64_t>(left, 0);
    // One more chunk is captured after the last partial one and dropped:
    // the take is complete once a chunk finds nothing left to write.
    st.moreToRecord = left > 0;
  }
  st.captureSet = 1 - st.captureSet;
  st.captureOffset = 0;
  if (st.moreToRecord) WriteTakeChunk(loop, set, count, st.chunk);
  st.recorded += count;
  // Before the next chunk could take the headers more than a second behind.
  if (st.moreToRecord && st.recorded - st.sizesWrittenAt + st.chunk > loop.session().sampleRate) {
    WriteRunningTakeSizes(loop);
  }
}

// A recording stopped part way through a chunk keeps the blocks of it
// already captured, up to the take's length.
void WriteCapturedPart(Loop& loop) {
  LoopState& st = loop.state;
  if (!loop.plan.records || !st.captureStarted || !st.moreToRecord) return;
  const std::int64_t count = std::min<std::int64_t>(st.captureOffset, loop.plan.takeLength - st.recorded);
  if (count <= 0) return;
  WriteTakeChunk(loop, kCaptureSets[st.captureSet], count, static_cast<int>(count));
  st.recorded += count;
}

void CaptureStep(Loop& loop) {
  LoopState& st = loop.state;
  ReadCaptureBlock(loop, kCaptureSets[st.captureSet], st.captureOffset);
  st.captureOffset += st.block;
  st.captureStarted = true;
  if (st.captureOffset >= st.chunk) HandleCompletedCapture(loop);
  if (!loop.plan.plays) {
    st.recordPosition += st.block;
    if (st.recordPosition - st.lastDisplay > loop.settings.refreshInterval) RefreshRunningDisplay(loop, st.recordPosition);
  }
}

// ---------------------------------------------------------------- playback

void PlayStep(Loop& loop, snd_pcm_sframes_t frames) {
  LoopState& st = loop.state;
  if (st.loadDue) {
    LoadPlayChunk(loop);
    st.loadDue = false;
  }
  const int outputs = Channels(loop.session().outputs, loop.buffers);
  std::array<void*, kMaxChannels> pointers{};
  FillPointers(loop.buffers, kPlaySets[st.playSet], outputs, st.chunkOffset, pointers);
  snd_pcm_sframes_t written = 0;
  if (frames > 0) {
    written = snd_pcm_writen(loop.devices.playback.get(), pointers.data(), static_cast<snd_pcm_uframes_t>(frames));
  }
  // The block counts as played whatever happened: after an underrun the
  // rest of the timeline stays where it belongs (a gap, not a delay).
  st.chunkOffset += static_cast<int>(frames);
  if (loop.plan.records && !st.captureStarted && st.loadPosition + st.chunkOffset >= loop.plan.punchPoint) {
    st.captureCounter += frames;
  }
  if (st.chunkOffset >= st.chunk) {
    st.playSet = 1 - st.playSet;
    st.chunkOffset = 0;
    st.loadDue = true;
  }
  if (written == -EPIPE) {
    loop.settings.observer->MarkUnderrun();
    ++loop.measures.underruns;
    snd_pcm_prepare(loop.devices.playback.get());
  }
}

// Frames to hand the playback device this pass.
snd_pcm_sframes_t FramesToWrite(Loop& loop) {
  LoopState& st = loop.state;
  snd_pcm_sframes_t frames = st.block;
  // Until capture starts, a recording run writes whole blocks and lets the
  // blocking write set the pace.
  if (!(loop.plan.records && !st.captureStarted)) {
    frames = snd_pcm_avail_update(loop.devices.playback.get());
    // A device in error gets a block anyway: the write reports the error,
    // and the run keeps moving instead of waiting for space that never comes.
    if (frames < 0) frames = st.block;
  }
  return std::min<snd_pcm_sframes_t>({frames, st.block, st.chunk - st.chunkOffset});
}

// ---------------------------------------------------------------- monitors

void MonitorStep(Loop& loop) {
  LoopState& st = loop.state;
  RunMeasures& m = loop.measures;
  const int set = kCaptureSets[0];
  ReadCaptureBlock(loop, set, 0);
  st.monitorPosition += st.block;
  for (int i = 0; i < st.monitoredCount; ++i) {
    const int c = st.monitored[i] - 1;
    CheckPeak(c, st.block, m.inputPeak.data(), loop.buffers.channelPointers[set][c], &m.intervalPeak,
              &m.intervalPeakChannel);
  }
  st.monitoredSinceDisplay += st.block;
  if (st.monitoredSinceDisplay > 16383) {
    loop.settings.observer->ShowMonitorLevels(m.inputPeak,
                                              std::span<const int>(st.monitored.data(), st.monitoredCount));
    st.monitoredSinceDisplay = 0;
  }
}

// ------------------------------------------------------------------ set-up

void StartLoop(Loop& loop) {
  LoopState& st = loop.state;
  const RunPlan& plan = loop.plan;
  const SessionState& s = loop.session();
  st.block = std::max(loop.devices.blockFrames, 1);
  st.chunk = std::max(loop.devices.chunkFrames, st.block);
  const std::int64_t periods = static_cast<std::int64_t>(loop.devices.playbackBufferFrames) / st.block;
  // A compensation from a hand-edited param.txt may be absurd: capture
  // that waited for billions of blocks would never start, and a recording
  // run ends only once its take is complete.
  const std::int64_t compensation =
      plan.inEqualsPunch ? 0 : std::min<std::int64_t>(plan.odcomp, kMaxCompensationFrames / st.block);
  // Playback runs ahead of what is heard by the device buffer, plus the
  // first chunk of silence: capture waits that long after the punch point
  // so the take lines up with the audio the player heard.
  st.captureThreshold = (periods + compensation) * st.block + st.chunk;
  st.captureCounter = plan.records && !plan.plays ? st.captureThreshold : 0;
  st.loadPosition = plan.startPosition;
  st.recordPosition = plan.startPosition;
  st.lastDisplay = plan.startPosition;
  const int inputs = std::clamp(s.inputs, 0, kMaxChannels);
  for (int c = 0; c < inputs; ++c) {
    if (plan.monitors && plan.recordArmed[c] == 1) st.monitored[st.monitoredCount++] = c + 1;
  }
}

// Where the run is on its running clock.
std::int64_t ClockPosition(const Loop& loop) {
  const LoopState& st = loop.state;
  if (loop.plan.plays) return st.loadPosition + st.chunkOffset - st.chunk;
  if (loop.plan.records) return st.recordPosition;
  return st.monitorPosition;
}

bool StopRequested(const Loop& loop) {
  return PendingInterruption() != 0 || loop.settings.observer->StopRequested();
}

bool StopReached(const Loop& loop) {
  const LoopState& st = loop.state;
  if (loop.plan.records) return !st.moreToRecord;
  if (loop.plan.monitors) return st.monitorPosition - st.chunk >= loop.plan.stopPosition;
  return st.loadPosition - st.chunk >= loop.plan.stopPosition;
}

}  // namespace

void RunBlockLoop(AudioDevices& devices, TransportBuffers& buffers, RunPlan& plan, const LoopSettings& settings,
                  RunMeasures& measures) {
  Loop loop{devices, buffers, plan, settings, measures, {}};
  StartLoop(loop);
  LoopState& st = loop.state;
  const bool playsOnly = plan.plays && !plan.records;
  for (;;) {
    snd_pcm_sframes_t frames = 0;
    if (plan.plays) frames = FramesToWrite(loop);
    if (plan.records && !plan.plays && snd_pcm_avail_update(devices.capture.get()) <= 0) {
      snd_pcm_wait(devices.capture.get(), 1);
    }
    if (playsOnly && frames == 0) snd_pcm_wait(devices.playback.get(), 1);
    if (plan.plays) {
      const std::int64_t position = st.loadPosition + st.chunkOffset - st.chunk;
      if (position - st.lastDisplay >= settings.refreshInterval) RefreshRunningDisplay(loop, position);
      PlayStep(loop, frames);
    }
    if (plan.records && st.captureCounter >= st.captureThreshold) CaptureStep(loop);
    if (plan.monitors) MonitorStep(loop);
    if (StopReached(loop)) break;
    if (StopRequested(loop)) {
      WriteCapturedPart(loop);
      measures.stopped = true;
      measures.stopPosition = ClockPosition(loop);
      break;
    }
  }
  measures.recordedSamples = std::min(st.recorded, plan.takeLength);
}

}  // namespace sondrel
