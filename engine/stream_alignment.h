// Where a take starts in the capture stream of a run that plays and records.
//
// Both streams start together: linked, where the device can start them with
// one trigger, else one right after the other, with the distance between
// them read from their pointers at one moment. From then on the take is
// placed by counting frames, never by when the loop got round to a read,
// so it lands on the same sample however busy the machine is.
#pragma once

#include <alsa/asoundlib.h>

#include <cstdint>
#include <optional>

#include "engine/run_plan.h"

namespace sondrel {

// More than a second at the usual rates: far beyond any interface's delay.
constexpr std::int64_t kMaxCompensationFrames = 65536;

// The playback stream's frame (counted from its start, the run's leading
// chunk of silence included) whose sound the take's first sample must hold.
//
// With a measured round-trip latency, take sample j is what reached the
// input when timeline position punch + j left the output that latency
// earlier: frame (punch - start) + chunk + latency.
//
// Without one, the take starts where it always has: capture used to start
// once (periods + C) x block + chunk frames had been written since the
// punch point came within a chunk and a block of the loaded audio (C =
// odcomp when the in and punch points differ), and the buffer then held
// the periods still to be heard. On a cable of no latency that places
// take sample j at timeline punch + j with the in and punch points equal.
std::int64_t TakeStartPlaybackFrame(const RunPlan& plan, int blockFrames, int chunkFrames);

// Links capture to playback so the playback's start starts both. False
// where the device cannot (plugins, ALSA's null device).
bool LinkStreams(snd_pcm_t* playback, snd_pcm_t* capture);
void UnlinkStreams(snd_pcm_t* capture);

// Frames the playback has passed to its outputs minus frames the capture has
// taken from its inputs, read at one moment: the playback pointer is read on
// both sides of the capture's, until it has not moved in between. The
// counts are the frames the program has moved through each stream so far.
std::optional<std::int64_t> MeasureStreamOffset(snd_pcm_t* playback, snd_pcm_t* capture,
                                                std::int64_t playbackFrames, std::int64_t captureFrames);

// The distance between streams that no link holds together, followed
// through a run. A sound server moves each stream in its own client's turn
// of the server's cycle: it may take one stream into its graph a cycle
// after the other, and under load it may let one of them miss a cycle, so
// the distance read as the streams start need not be the one they keep.
// A new distance counts once it has been read kReadingsToSettle times in a
// row: a single reading may fall between the turns of the two streams in
// one cycle, and is gone by the next.
class StreamDistance {
 public:
  static constexpr int kReadingsToSettle = 3;

  StreamDistance() = default;
  explicit StreamDistance(std::int64_t start) : settled_(start), candidate_(start) {}
  // Takes one reading. Returns how far the settled distance moved (0: not).
  std::int64_t Observe(std::int64_t reading);
  std::int64_t Settled() const { return settled_; }

 private:
  std::int64_t settled_ = 0;
  std::int64_t candidate_ = 0;
  int agreeing_ = 0;
};

}  // namespace sondrel
