#include "engine/block_loop.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>

#include "core/interruption.h"
#include "engine/disk_streams.h"
#include "engine/realtime.h"
#include "engine/stream_alignment.h"

namespace sondrel {

namespace {

struct LoopState {
  int block = 0;  // frames per device transfer
  int chunk = 0;  // frames per file transfer, a whole number of blocks
  std::int64_t playbackBufferFrames = 0;
  std::int64_t captureBufferFrames = 0;
  int waitMilliseconds = 0;  // a device that does not wake the loop by then is looked at anyway
  int diskWaitMicroseconds = 0;  // the devices are looked at this often while a chunk is late

  // Playback: the chunk being written to the device and the one after it.
  std::int64_t loadPosition = 0;  // timeline position after the loaded chunk
  std::int64_t nextChunk = 0;     // index of the next chunk to load
  const ChunkPointers* playing = nullptr;
  const ChunkPointers* loaded = nullptr;
  int chunkOffset = 0;
  bool loadDue = true;
  std::int64_t playbackFrames = 0;  // frames through the playback stream since the run began
  std::int64_t countInChunksLeft = 0;  // silent chunks of the count-in still to load

  // Capture: the chunk being filled, in the capture ring or, when that is
  // full, in a spare slot whose audio is metered but not kept.
  const ChunkPointers* capturing = nullptr;
  bool capturingSpare = false;
  int captureOffset = 0;
  bool captureStarted = false;
  bool linked = false;  // the playback's start starts the capture too
  // Frames through the capture stream since it started, and the one that is
  // the take's first sample: those before it are the run's lead-in. The
  // next take sample is capture frame takeStartFrame + takeFrames.
  std::int64_t captureFrames = 0;
  std::int64_t takeStartFrame = 0;
  std::int64_t takeFrames = 0;  // take samples placed, read or silent
  // Streams that were not started by one trigger: how far apart they are,
  // read again as the capture moves, and the xruns counted when the
  // distance was last read as settled.
  bool followsDistance = false;
  StreamDistance distance;
  int xrunsAtSettledDistance = 0;
  std::int64_t recorded = 0;
  bool moreToRecord = true;
  std::int64_t silencePending = 0;  // take samples lost to a full ring, not yet handed over

  std::int64_t recordPosition = 0;   // record-only runs: position of the next block read
  std::int64_t monitorPosition = 0;  // monitor runs: frames captured so far
  std::int64_t monitoredSinceDisplay = 0;
  std::int64_t lastDisplay = 0;
  bool meterRestart = true;

  // When a stream last moved, and how long the devices may stand still
  // before they count as lost.
  std::int64_t stillSinceNs = 0;
  std::int64_t lostAfterNs = 0;
  bool deviceFailed = false;  // a transfer failed in a way no prepare mends

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
  DiskStreams& disk;
  LoopState state;

  const SessionState& session() const { return *settings.session; }
};

// ------------------------------------------------------------ lost devices

// A device unplugged, a server that went away or a stream suspended for
// good: no prepare brings it back.
bool IsDeviceGone(snd_pcm_sframes_t result) { return result == -ENODEV || result == -EBADFD || result == -ESTRPIPE; }

std::int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

// ------------------------------------------------------------ late disk

// What the running streams hold: frames queued for playback and frames
// captured but not read (-1 for a stream that is not running or in error).
struct DeviceLevels {
  snd_pcm_sframes_t queued = -1;
  snd_pcm_sframes_t waiting = -1;
};

DeviceLevels ReadLevels(const Loop& loop) {
  DeviceLevels levels;
  snd_pcm_t* playback = loop.devices.playback.get();
  if (loop.plan.plays && snd_pcm_state(playback) == SND_PCM_STATE_RUNNING &&
      snd_pcm_delay(playback, &levels.queued) < 0) {
    levels.queued = -1;
  }
  snd_pcm_t* capture = loop.devices.capture.get();
  if (loop.state.captureStarted && snd_pcm_state(capture) == SND_PCM_STATE_RUNNING) {
    levels.waiting = std::max<snd_pcm_sframes_t>(snd_pcm_avail(capture), -1);
  }
  return levels;
}

// Whether the loop can go on waiting for the disk thread: no stream that
// runs has moved, since the wait began, to within a block of running dry
// (playback) or over (capture). The devices alone decide, never a timeout:
// a device whose clock stands still while nobody waits on it (ALSA's null
// device, the tests' unpaced interface) gets the same audio in every run,
// however slow the disk. A stream in an error state or not started loses
// nothing by the wait.
bool DevicesHaveSlack(const Loop& loop, const DeviceLevels& before) {
  const DeviceLevels now = ReadLevels(loop);
  const LoopState& st = loop.state;
  const bool runningDry = now.queued >= 0 && now.queued != before.queued && now.queued <= st.block;
  const bool runningOver =
      now.waiting >= 0 && now.waiting != before.waiting && now.waiting >= st.captureBufferFrames - st.block;
  return !runningDry && !runningOver;
}

// Play chunk `index`, waited for while the devices have slack, or null.
const ChunkPointers* AwaitPlayChunk(Loop& loop, std::int64_t index) {
  const DeviceLevels before = ReadLevels(loop);
  for (;;) {
    if (const ChunkPointers* chunk = loop.disk.PlayChunk(index)) return chunk;
    if (!DevicesHaveSlack(loop, before)) return nullptr;
    loop.disk.WaitForDisk(loop.state.diskWaitMicroseconds);
  }
}

const ChunkPointers* AwaitCaptureSlot(Loop& loop) {
  const DeviceLevels before = ReadLevels(loop);
  for (;;) {
    if (const ChunkPointers* slot = loop.disk.CaptureSlot()) return slot;
    if (!DevicesHaveSlack(loop, before)) return nullptr;
    loop.disk.WaitForDisk(loop.state.diskWaitMicroseconds);
  }
}

// -------------------------------------------------------- play chunks

// The old take of a channel being recorded over is heard up to the punch
// point and not after it.
void MuteReplacedFromPunch(const Loop& loop, const ChunkPointers& chunk, std::int64_t chunkStart) {
  const RunPlan& plan = loop.plan;
  const int frames = loop.state.chunk;
  if (chunkStart + frames - 1 < plan.punchPoint) return;
  const std::int64_t from = std::max<std::int64_t>(0, plan.punchPoint - chunkStart);
  for (int c = 0; c < kMaxChannels; ++c) {
    if (plan.replace[c] != 1 || chunk[c] == nullptr) continue;
    std::memset(chunk[c] + from * kTrackBytesPerSample, 0, static_cast<std::size_t>(frames - from) * kTrackBytesPerSample);
  }
}

// Mixes a loaded chunk in place, 4096 frames at a time.
void MixLoadedChunk(Loop& loop, const ChunkPointers& chunk) {
  const SessionState& s = loop.session();
  if (s.mixMode < 1 || s.mixMode > 3) return;
  for (int offset = 0; offset < loop.state.chunk; offset += kChunkFrames) {
    ChunkPointers chunks = chunk;
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

// Takes the chunk after the one starting to play from the disk thread. A
// chunk the disk has not read in time is played as silence.
void LoadPlayChunk(Loop& loop) {
  LoopState& st = loop.state;
  st.loadPosition += st.chunk;
  if (st.countInChunksLeft > 0) {
    // Before the run's own chunks: the click alone.
    --st.countInChunksLeft;
    st.loaded = &loop.buffers.spare.pointers[0];
    return;
  }
  const std::int64_t index = st.nextChunk++;
  const ChunkPointers* chunk = AwaitPlayChunk(loop, index);
  if (chunk != nullptr) {
    if (loop.plan.records) MuteReplacedFromPunch(loop, *chunk, st.loadPosition - st.chunk);
    MixLoadedChunk(loop, *chunk);
  } else {
    loop.disk.SkipPlayChunk(index);
    loop.measures.playbackStarvedFrames += st.chunk;
    chunk = &loop.buffers.spare.pointers[0];
  }
  st.loaded = chunk;
  // The chunk playing is the one before; everything older is done with.
  loop.disk.ReleasePlayChunksBefore(std::max<std::int64_t>(index - 1, 0));
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

void FillPointers(const ChunkPointers& chunk, int channels, int offsetFrames,
                  std::array<void*, kMaxChannels>& pointers) {
  for (int c = 0; c < channels; ++c) {
    pointers[c] = chunk[c] + static_cast<std::size_t>(offsetFrames) * kTrackBytesPerSample;
  }
}

int Channels(int count, int available) { return std::clamp(count, 0, available); }

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

// --------------------------------------------------------------- recording

void CheckChunkPeaks(Loop& loop, const ChunkPointers& chunk, int frames) {
  const SessionState& s = loop.session();
  if (s.peakCheck != 1) return;
  RunMeasures& m = loop.measures;
  for (int c = 0; c < kMaxChannels && c < s.inputs; ++c) {
    if (loop.plan.recordArmed[c] != 1 || chunk[c] == nullptr) continue;
    CheckPeak(c, frames, m.inputPeak.data(), chunk[c], &m.intervalPeak, &m.intervalPeakChannel);
  }
}

// Hands `samples` of the chunk being captured to the disk thread, or, when
// it went to the spare slot, counts them as silence the takes are owed.
void HandOverCapturedChunk(Loop& loop, std::int64_t samples) {
  LoopState& st = loop.state;
  if (st.capturingSpare) {
    st.silencePending += samples;
    loop.measures.captureDroppedFrames += samples;
    return;
  }
  loop.disk.HandOverCapture(samples, st.silencePending);
  st.silencePending = 0;
}

void HandleCompletedCapture(Loop& loop) {
  LoopState& st = loop.state;
  const std::int64_t left = loop.plan.takeLength - st.recorded;
  std::int64_t count = st.chunk;
  if (left <= st.chunk) {
    count = std::max<std::int64_t>(left, 0);
    // One more chunk is captured after the last partial one and dropped:
    // the take is complete once a chunk finds nothing left to write.
    st.moreToRecord = left > 0;
  }
  if (st.moreToRecord) {
    CheckChunkPeaks(loop, *st.capturing, st.chunk);
    HandOverCapturedChunk(loop, count);
  }
  st.recorded += count;
  st.capturing = nullptr;
  st.captureOffset = 0;
}

// A recording stopped part way through a chunk keeps the blocks of it
// already captured, up to the take's length.
void WriteCapturedPart(Loop& loop) {
  LoopState& st = loop.state;
  if (!loop.plan.records || !st.captureStarted || !st.moreToRecord || st.capturing == nullptr) return;
  const std::int64_t count = std::min<std::int64_t>(st.captureOffset, loop.plan.takeLength - st.recorded);
  if (count <= 0) return;
  CheckChunkPeaks(loop, *st.capturing, static_cast<int>(count));
  HandOverCapturedChunk(loop, count);
  st.recorded += count;
}

// The chunk the next captured frames go to.
const ChunkPointers& CaptureChunk(Loop& loop) {
  LoopState& st = loop.state;
  if (st.capturing == nullptr) {
    st.capturing = AwaitCaptureSlot(loop);
    st.capturingSpare = st.capturing == nullptr;
    if (st.capturingSpare) st.capturing = &loop.buffers.spare.pointers[1];
  }
  return *st.capturing;
}

// `frames` more frames of the take were captured (or lost).
void AdvanceCapture(Loop& loop, int frames) {
  LoopState& st = loop.state;
  st.takeFrames += frames;
  st.captureOffset += frames;
  if (st.captureOffset >= st.chunk) HandleCompletedCapture(loop);
  if (!loop.plan.plays) {
    st.recordPosition += frames;
    if (st.recordPosition - st.lastDisplay > loop.settings.refreshInterval) RefreshRunningDisplay(loop, st.recordPosition);
  }
}

// Capture frames still to come before the next take sample: the lead-in,
// or what a playback that fell behind holds back.
std::int64_t LeadInLeft(const LoopState& st) {
  return std::max<std::int64_t>(0, st.takeStartFrame + st.takeFrames - st.captureFrames);
}

// Reads `frames` of every input into `chunk` from `offset` on, handling an
// overrun the device reports. The frames count as read whatever happened,
// so takes keep their length and timing.
void ReadInputs(Loop& loop, const ChunkPointers& chunk, int offset, int frames) {
  snd_pcm_t* capture = loop.devices.capture.get();
  const int inputs = Channels(loop.session().inputs, loop.buffers.capture.channels);
  std::array<void*, kMaxChannels> pointers{};
  FillPointers(chunk, inputs, offset, pointers);
  const snd_pcm_sframes_t got = snd_pcm_readn(capture, pointers.data(), static_cast<snd_pcm_uframes_t>(frames));
  SilenceLostFrames(pointers, inputs, got, frames);
  if (got == -EPIPE) {
    loop.settings.observer->MarkOverrun();
    ++loop.measures.overruns;
    snd_pcm_prepare(capture);
    snd_pcm_start(capture);
  } else if (IsDeviceGone(got)) {
    loop.state.deviceFailed = true;
  }
  loop.state.captureFrames += frames;
}

void ReadCapture(Loop& loop, int frames) {
  ReadInputs(loop, CaptureChunk(loop), loop.state.captureOffset, frames);
  AdvanceCapture(loop, frames);
}

// What comes in before the take (while the lead-in plays, and the frames
// the latency holds back) is read and dropped.
void DropLeadIn(Loop& loop, int frames) { ReadInputs(loop, loop.buffers.spare.pointers[1], 0, frames); }

// `frames` take samples that no input can give: silence in every take.
void SilenceTake(Loop& loop, std::int64_t frames) {
  LoopState& st = loop.state;
  const int inputs = Channels(loop.session().inputs, loop.buffers.capture.channels);
  while (frames > 0 && st.moreToRecord) {
    const int count = static_cast<int>(std::min<std::int64_t>(frames, st.chunk - st.captureOffset));
    std::array<void*, kMaxChannels> pointers{};
    FillPointers(CaptureChunk(loop), inputs, st.captureOffset, pointers);
    SilenceLostFrames(pointers, inputs, 0, count);
    AdvanceCapture(loop, count);
    frames -= count;
  }
}

// The capture ran on while the loop was held up (the process stopped, the
// machine too busy): the oldest `frames` were overwritten. They are skipped
// on the device and are silence in the takes, so every later sample stays
// at its place.
void SkipLostCapture(Loop& loop, snd_pcm_sframes_t frames) {
  LoopState& st = loop.state;
  loop.settings.observer->MarkOverrun();
  ++loop.measures.overruns;
  snd_pcm_forward(loop.devices.capture.get(), static_cast<snd_pcm_uframes_t>(frames));
  const std::int64_t leadIn = std::min<std::int64_t>(frames, LeadInLeft(st));
  st.captureFrames += frames;
  SilenceTake(loop, frames - leadIn);
}

// A recording without playback keeps everything from its first frame.
void StartCapture(Loop& loop) {
  loop.state.captureStarted = true;
  snd_pcm_start(loop.devices.capture.get());
}

// Capture starts as the playback does (with it, where the streams are
// linked), and the take's first sample is found by counting from there.
void StartCaptureWithPlayback(Loop& loop) {
  LoopState& st = loop.state;
  snd_pcm_t* capture = loop.devices.capture.get();
  std::int64_t offset = 0;
  if (st.linked) {
    // One trigger started both: they are level, and stay so unlinked.
    UnlinkStreams(capture);
    st.linked = false;
  } else {
    snd_pcm_start(capture);
    offset = MeasureStreamOffset(loop.devices.playback.get(), capture, st.playbackFrames, 0).value_or(0);
    st.followsDistance = true;
    st.distance = StreamDistance(offset);
  }
  st.captureStarted = true;
  st.takeStartFrame = TakeStartPlaybackFrame(loop.plan, st.block, st.chunk) - offset;
  // Had the capture started after the take's first sample was heard (it
  // does not, unless the machine stalls in between), the take keeps its
  // place with silence where it began.
  if (st.takeStartFrame < 0) SilenceTake(loop, -st.takeStartFrame);
}

// Frames the device has room for (playback) or holds (capture). A stream
// that ran on past its buffer while the loop was held up has the lost
// stretch skipped first, and one block more: the device goes on while the
// loop catches up, and the next transfer must not land where it already is.
// A device in error gets a block anyway: the transfer reports the error,
// and the run keeps moving instead of waiting for what never comes.
snd_pcm_sframes_t FramesReady(Loop& loop, snd_pcm_t* pcm, std::int64_t bufferFrames,
                              void (*skipLost)(Loop&, snd_pcm_sframes_t)) {
  const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm);
  if (avail < 0) return loop.state.block;
  if (avail <= bufferFrames) return avail;
  const snd_pcm_sframes_t lost = std::min<snd_pcm_sframes_t>(avail - bufferFrames + loop.state.block, avail);
  skipLost(loop, lost);
  return avail - lost;
}

void MarkLostStretch(Loop& loop, bool captureFellBehind) {
  if (captureFellBehind) {
    loop.settings.observer->MarkOverrun();
    ++loop.measures.overruns;
  } else {
    loop.settings.observer->MarkUnderrun();
    ++loop.measures.underruns;
  }
}

// The capture moved: the distance between the streams is read again. A
// distance that settles elsewhere before the take begins moves the take's
// start, and nothing is lost. Once the take runs, one stream has missed
// frames the other has not: the take keeps its place as it does across an
// xrun, with silence for what the capture missed, or with the frames
// dropped that a playback fallen behind now brings in late, and the run
// says it lost a stretch (unless the device reported that xrun itself).
void FollowStreamDistance(Loop& loop) {
  LoopState& st = loop.state;
  const auto reading = MeasureStreamOffset(loop.devices.playback.get(), loop.devices.capture.get(),
                                           st.playbackFrames, st.captureFrames);
  if (!reading) return;
  const int xruns = loop.measures.underruns + loop.measures.overruns;
  if (*reading == st.distance.Settled()) st.xrunsAtSettledDistance = xruns;
  const std::int64_t moved = st.distance.Observe(*reading);
  if (moved == 0) return;
  const bool takeBegun = st.takeFrames > 0;
  st.takeStartFrame -= moved;
  const std::int64_t owed = st.captureFrames - (st.takeStartFrame + st.takeFrames);
  if ((takeBegun || owed > 0) && xruns == st.xrunsAtSettledDistance) MarkLostStretch(loop, moved > 0);
  st.xrunsAtSettledDistance = xruns;
  if (owed > 0) SilenceTake(loop, owed);
}

// Reads every whole block the capture holds. Returns whether it moved.
bool CapturePass(Loop& loop) {
  LoopState& st = loop.state;
  snd_pcm_sframes_t avail = FramesReady(loop, loop.devices.capture.get(), st.captureBufferFrames, SkipLostCapture);
  bool moved = false;
  while (st.moreToRecord) {
    // The lead-in is read up to the take's first sample, so that the take
    // fills its chunks from their start.
    const std::int64_t leadIn = LeadInLeft(st);
    const int frames = leadIn > 0 ? static_cast<int>(std::min<std::int64_t>(st.block, leadIn))
                                  : std::min(st.block, st.chunk - st.captureOffset);
    if (avail < frames) break;
    if (leadIn > 0) {
      DropLeadIn(loop, frames);
    } else {
      ReadCapture(loop, frames);
    }
    avail -= frames;
    moved = true;
  }
  if (moved && st.followsDistance && st.moreToRecord) FollowStreamDistance(loop);
  return moved;
}

// ---------------------------------------------------------------- playback

// `frames` of the timeline were handed to the device (or lost on the way).
void AdvancePlayback(Loop& loop, int frames) {
  LoopState& st = loop.state;
  st.chunkOffset += frames;
  st.playbackFrames += frames;
  if (st.chunkOffset >= st.chunk) {
    st.playing = st.loaded;
    st.chunkOffset = 0;
    st.loadDue = true;
  }
}

// The click goes on its output after the mix, in a copy of the block.
void AddClick(Loop& loop, std::array<void*, kMaxChannels>& pointers, int outputs, int frames) {
  const RunPlan& plan = loop.plan;
  if (plan.clickChannel < 0 || plan.clickChannel >= outputs) return;
  std::uint8_t* block = loop.buffers.clickBlock.data();
  std::memcpy(block, pointers[plan.clickChannel], static_cast<std::size_t>(frames) * kTrackBytesPerSample);
  // The leading chunk and the count-in come before the start.
  const std::int64_t heard = plan.startPosition + loop.state.playbackFrames - loop.state.chunk - plan.countInFrames;
  loop.settings.click->AddTo(block, frames, heard, plan.clickFrom);
  pointers[plan.clickChannel] = block;
}

void WriteBlock(Loop& loop, int frames) {
  LoopState& st = loop.state;
  snd_pcm_t* playback = loop.devices.playback.get();
  const int outputs = Channels(loop.session().outputs, loop.buffers.channels);
  std::array<void*, kMaxChannels> pointers{};
  FillPointers(*st.playing, outputs, st.chunkOffset, pointers);
  AddClick(loop, pointers, outputs, frames);
  const snd_pcm_sframes_t written = snd_pcm_writen(playback, pointers.data(), static_cast<snd_pcm_uframes_t>(frames));
  // The block counts as played whatever happened: after an underrun the
  // rest of the timeline stays where it belongs (a gap, not a delay).
  AdvancePlayback(loop, frames);
  if (written == -EPIPE) {
    loop.settings.observer->MarkUnderrun();
    ++loop.measures.underruns;
    snd_pcm_prepare(playback);
  } else if (IsDeviceGone(written)) {
    st.deviceFailed = true;
  }
  // A playback that never gets going (a device in trouble) must not keep a
  // recording from ever starting: capture starts once its take is due.
  if (loop.plan.records && !st.captureStarted &&
      (snd_pcm_state(playback) == SND_PCM_STATE_RUNNING ||
       st.playbackFrames >= TakeStartPlaybackFrame(loop.plan, st.block, st.chunk))) {
    StartCaptureWithPlayback(loop);
  }
}

// The playback ran dry while the loop was held up and played on in silence:
// the timeline skips what it should have played meanwhile.
void SkipLostPlayback(Loop& loop, snd_pcm_sframes_t frames) {
  LoopState& st = loop.state;
  loop.settings.observer->MarkUnderrun();
  ++loop.measures.underruns;
  snd_pcm_forward(loop.devices.playback.get(), static_cast<snd_pcm_uframes_t>(frames));
  while (frames > 0) {
    if (st.loadDue) {
      LoadPlayChunk(loop);
      st.loadDue = false;
    }
    const int count = static_cast<int>(std::min<snd_pcm_sframes_t>(frames, st.chunk - st.chunkOffset));
    AdvancePlayback(loop, count);
    frames -= count;
  }
}

bool StopReached(const Loop& loop);

std::int64_t PlayPosition(const LoopState& st) { return st.loadPosition + st.chunkOffset - st.chunk; }

// Writes every whole block the playback device has room for, loading each
// chunk as it starts to play. Returns whether it moved.
bool PlayPass(Loop& loop) {
  LoopState& st = loop.state;
  snd_pcm_sframes_t avail = FramesReady(loop, loop.devices.playback.get(), st.playbackBufferFrames, SkipLostPlayback);
  bool moved = false;
  // A run that only plays looks at the clock and loads the next chunk even
  // when the device has no room yet; a recording run does both with the
  // block that follows, after the capture it follows.
  bool mayIdle = !loop.plan.records;
  for (;;) {
    const int frames = std::min(st.block, st.chunk - st.chunkOffset);
    if (avail < frames && !mayIdle) break;
    mayIdle = false;
    // The display refreshes before each block, as the clock reaches it.
    if (PlayPosition(st) - st.lastDisplay >= loop.settings.refreshInterval) RefreshRunningDisplay(loop, PlayPosition(st));
    if (st.loadDue) {
      LoadPlayChunk(loop);
      st.loadDue = false;
      moved = true;
      if (StopReached(loop)) break;
    }
    if (avail < frames) break;
    WriteBlock(loop, frames);
    avail -= frames;
    moved = true;
    if (StopReached(loop)) break;
  }
  return moved;
}

// ---------------------------------------------------------------- monitors

// Reads one block of the inputs and meters the monitored ones.
void MonitorBlock(Loop& loop) {
  LoopState& st = loop.state;
  RunMeasures& m = loop.measures;
  const ChunkPointers& chunk = loop.buffers.capture.pointers[0];
  const int inputs = Channels(loop.session().inputs, loop.buffers.capture.channels);
  std::array<void*, kMaxChannels> pointers{};
  FillPointers(chunk, inputs, 0, pointers);
  const snd_pcm_sframes_t got =
      snd_pcm_readn(loop.devices.capture.get(), pointers.data(), static_cast<snd_pcm_uframes_t>(st.block));
  SilenceLostFrames(pointers, inputs, got, st.block);
  if (got == -EPIPE) {
    loop.settings.observer->MarkOverrun();
    ++m.overruns;
    snd_pcm_prepare(loop.devices.capture.get());
    snd_pcm_start(loop.devices.capture.get());
  } else if (IsDeviceGone(got)) {
    st.deviceFailed = true;
  }
  st.monitorPosition += st.block;
  for (int i = 0; i < st.monitoredCount; ++i) {
    const int c = st.monitored[i] - 1;
    CheckPeak(c, st.block, m.inputPeak.data(), chunk[c], &m.intervalPeak, &m.intervalPeakChannel);
  }
  st.monitoredSinceDisplay += st.block;
  if (st.monitoredSinceDisplay > 16383) {
    loop.settings.observer->ShowMonitorLevels(m.inputPeak,
                                              std::span<const int>(st.monitored.data(), st.monitoredCount));
    st.monitoredSinceDisplay = 0;
  }
}

// Meters every whole block the capture holds; the loop waits for more
// (and sees a device that has stopped) rather than blocking in a read.
// Returns whether it moved.
bool MonitorPass(Loop& loop) {
  LoopState& st = loop.state;
  if (!st.captureStarted) {
    StartCapture(loop);
    return true;
  }
  snd_pcm_sframes_t avail = snd_pcm_avail_update(loop.devices.capture.get());
  // A device in error gets a block anyway: the read reports the error.
  if (avail < 0) avail = st.block;
  bool moved = false;
  for (; avail >= st.block && !StopReached(loop); avail -= st.block) {
    MonitorBlock(loop);
    moved = true;
  }
  return moved;
}

// ------------------------------------------------------------------ set-up

void StartLoop(Loop& loop) {
  LoopState& st = loop.state;
  const RunPlan& plan = loop.plan;
  const SessionState& s = loop.session();
  st.block = std::max(loop.devices.blockFrames, 1);
  st.chunk = std::max(loop.devices.chunkFrames, st.block);
  st.playbackBufferFrames = static_cast<std::int64_t>(loop.devices.playbackBufferFrames);
  st.captureBufferFrames = static_cast<std::int64_t>(loop.devices.captureBufferFrames);
  const std::int64_t bufferMs = 1000 * std::max(st.playbackBufferFrames, st.captureBufferFrames) /
                                std::max<std::int64_t>(s.sampleRate, 1);
  st.waitMilliseconds = static_cast<int>(std::clamp<std::int64_t>(2 * bufferMs, 10, 1000));
  // A second, or two buffers where a buffer is long: a device that moves
  // nothing for that long has stopped.
  st.lostAfterNs = (1000 + 2 * bufferMs) * 1000000;
  st.stillSinceNs = MonotonicNs();
  // Half a block: a stream found within a block of its edge still has time.
  const std::int64_t blockUs = 1000000LL * st.block / std::max<std::int64_t>(s.sampleRate, 1);
  st.diskWaitMicroseconds = static_cast<int>(std::clamp<std::int64_t>(blockUs / 2, 250, 20000));
  if (plan.records && plan.plays) st.linked = LinkStreams(loop.devices.playback.get(), loop.devices.capture.get());
  // A count-in's chunks come first; the clock counts up to the start.
  st.countInChunksLeft = plan.countInFrames / st.chunk;
  st.loadPosition = plan.startPosition - plan.countInFrames;
  st.recordPosition = plan.startPosition;
  st.lastDisplay = st.loadPosition;
  // Every run starts with a chunk of silence.
  st.playing = &loop.buffers.spare.pointers[0];
  const int inputs = std::clamp(s.inputs, 0, kMaxChannels);
  for (int c = 0; c < inputs; ++c) {
    if (plan.monitors && plan.recordArmed[c] == 1) st.monitored[st.monitoredCount++] = c + 1;
  }
}

// Sleeps until the device the loop follows can take or give a period: the
// capture once it runs, else the playback.
void WaitForDevices(const Loop& loop) {
  const bool followsCapture = loop.state.captureStarted || !loop.plan.plays;
  snd_pcm_wait(followsCapture ? loop.devices.capture.get() : loop.devices.playback.get(), loop.state.waitMilliseconds);
}

// Where the run is on its running clock.
std::int64_t ClockPosition(const Loop& loop) {
  const LoopState& st = loop.state;
  if (loop.plan.plays) return PlayPosition(st);
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
  // A run that plays writes its leading chunk of silence, then every
  // timeline sample from its start up to the stop point, and ends with the
  // block that reaches it. A stretch of nothing plays nothing.
  const RunPlan& plan = loop.plan;
  if (plan.stopPosition <= plan.startPosition) return true;
  return st.playbackFrames - st.chunk >= plan.stopPosition - plan.startPosition;
}

// A device that failed beyond recovery, or that has moved nothing for a
// while, ends the run the way a stop does: the take so far is kept.
bool DeviceLost(Loop& loop, bool moved) {
  LoopState& st = loop.state;
  if (st.deviceFailed) return true;
  const std::int64_t now = MonotonicNs();
  if (moved) st.stillSinceNs = now;
  return now - st.stillSinceNs > st.lostAfterNs;
}

void RunPasses(Loop& loop) {
  LoopState& st = loop.state;
  const RunPlan& plan = loop.plan;
  for (;;) {
    // Once capture runs it sets the pace: what it brings in is taken
    // before the playback is topped up. It alone then says whether the
    // device still answers: a playback kept going by underruns is no sign
    // of life while the takes get nothing.
    const bool recordingCapture = plan.records && st.captureStarted;
    const bool captured = recordingCapture && CapturePass(loop);
    bool moved = captured;
    if (plan.plays && !StopReached(loop)) moved = PlayPass(loop) || moved;
    if (plan.records && !plan.plays && !st.captureStarted) {
      StartCapture(loop);
      moved = true;
    }
    if (plan.monitors) moved = MonitorPass(loop) || moved;
    if (StopReached(loop)) return;
    const bool lost = DeviceLost(loop, recordingCapture ? captured : moved);
    if (lost || StopRequested(loop)) {
      WriteCapturedPart(loop);
      loop.measures.stopped = true;
      loop.measures.deviceLost = lost;
      loop.measures.stopPosition = ClockPosition(loop);
      return;
    }
    if (!moved) WaitForDevices(loop);
  }
}

}  // namespace

void RunBlockLoop(AudioDevices& devices, TransportBuffers& buffers, RunPlan& plan, const LoopSettings& settings,
                  RunMeasures& measures) {
  const int chunk = std::max(devices.chunkFrames, std::max(devices.blockFrames, 1));
  DiskStreams disk(buffers, plan, chunk, settings.session->sampleRate, settings.session->inputs);
  Loop loop{devices, buffers, plan, settings, measures, disk, {}};
  StartLoop(loop);
  {
    const RealtimePriority priority;
    RunPasses(loop);
  }
  // A run stopped before its playback started leaves no link behind.
  if (loop.state.linked) UnlinkStreams(devices.capture.get());
  disk.Finish(loop.state.silencePending, measures);
  measures.recordedSamples = std::min(loop.state.recorded, plan.takeLength);
}

}  // namespace sondrel
