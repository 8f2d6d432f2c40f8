#include "engine/stream_alignment.h"

#include <algorithm>

namespace sondrel {

std::int64_t TakeStartPlaybackFrame(const RunPlan& plan, int blockFrames, int chunkFrames) {
  const std::int64_t block = std::max(blockFrames, 1);
  const std::int64_t chunk = std::max(chunkFrames, blockFrames);
  // A count-in plays before everything else and moves nothing but the
  // frame count.
  const std::int64_t punchFromStart = plan.punchPoint - plan.startPosition;
  if (plan.roundTripFrames >= 0) {
    return plan.countInFrames + punchFromStart + chunk + std::min(plan.roundTripFrames, kMaxCompensationFrames);
  }
  // A compensation from a hand-edited param.txt may be absurd.
  const std::int64_t periods = plan.inEqualsPunch ? 0 : std::clamp<std::int64_t>(plan.odcomp, 0, kMaxCompensationFrames / block);
  // Frames written before the count began; the buffer's periods, counted
  // and then still to be heard, cancel out.
  const std::int64_t beforeCount = std::max<std::int64_t>(0, punchFromStart - chunk - block);
  return plan.countInFrames + beforeCount + periods * block + chunk;
}

bool LinkStreams(snd_pcm_t* playback, snd_pcm_t* capture) { return snd_pcm_link(playback, capture) == 0; }

void UnlinkStreams(snd_pcm_t* capture) { snd_pcm_unlink(capture); }

namespace {

// Frames a stream has passed (playback) or taken in (capture): the program's
// count of frames moved, less what waits in the buffer, or plus what waits.
std::optional<std::int64_t> StreamPointer(snd_pcm_t* pcm, std::int64_t moved, bool playback,
                                          std::int64_t bufferFrames) {
  const snd_pcm_sframes_t avail = snd_pcm_avail(pcm);
  if (avail < 0) return std::nullopt;
  return playback ? moved - (bufferFrames - avail) : moved + avail;
}

}  // namespace

std::optional<std::int64_t> MeasureStreamOffset(snd_pcm_t* playback, snd_pcm_t* capture,
                                                std::int64_t playbackFrames, std::int64_t captureFrames) {
  snd_pcm_uframes_t bufferFrames = 0;
  snd_pcm_uframes_t periodFrames = 0;
  if (snd_pcm_get_params(playback, &bufferFrames, &periodFrames) < 0) return std::nullopt;
  const auto buffer = static_cast<std::int64_t>(bufferFrames);
  std::optional<std::int64_t> offset;
  // A pointer that moves between the reads takes another try; on a busy
  // machine a few tries may be needed, and the last one stands.
  for (int attempt = 0; attempt < 64; ++attempt) {
    const auto before = StreamPointer(playback, playbackFrames, true, buffer);
    const auto captured = StreamPointer(capture, captureFrames, false, buffer);
    const auto after = StreamPointer(playback, playbackFrames, true, buffer);
    if (!before || !captured || !after) return std::nullopt;
    offset = *after - *captured;
    if (*before == *after) break;
  }
  return offset;
}

std::int64_t StreamDistance::Observe(std::int64_t reading) {
  if (reading == settled_) {
    agreeing_ = 0;
    return 0;
  }
  if (reading != candidate_) {
    candidate_ = reading;
    agreeing_ = 0;
  }
  if (++agreeing_ < kReadingsToSettle) return 0;
  const std::int64_t moved = reading - settled_;
  settled_ = reading;
  agreeing_ = 0;
  return moved;
}

}  // namespace sondrel
