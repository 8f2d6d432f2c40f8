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

}  // namespace sondrel
