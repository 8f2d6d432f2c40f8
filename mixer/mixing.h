// The playback and export mix: tracks summed through their channel gains
// into stereo pairs, in fixed point, written back over the first chunks of
// the chunk buffer so the ordinary non-interleaved write plays the mix.
#pragma once

#include <array>
#include <cstdint>

#include "core/session_state.h"
#include "core/audio_constants.h"
#include "mixer/mixer_settings.h"

namespace sondrel {


// Largest magnitudes of the stereo results since the run started: the mix
// pair of mode 1 and every bus pair of modes 2 and 3.
struct MixPeaks {
  std::int64_t mixLeft = 0;
  std::int64_t mixRight = 0;
  std::array<std::int64_t, kBusCount> busLeft{};
  std::array<std::int64_t, kBusCount> busRight{};
};

// Accumulators kept for the program's life so the real-time path never
// allocates. Large (about 4 MiB): create it once, on the heap.
//
// The sums are integers held in doubles: a 24-bit sample times a whole gain
// below 2^11 is below 2^34, and 256 of them stay below 2^42, far inside the
// 53 bits a double holds exactly. Doubles let the compiler mix several
// samples per instruction where 64-bit integer multiplies would not.
struct MixWorkspace {
  using Accumulator = std::array<double, kChunkFrames>;
  std::array<Accumulator, kBusCount> busLeft;
  std::array<Accumulator, kBusCount> busRight;
  // The mix picks the fastest kernels the processor offers; a workspace
  // with this set uses the portable ones, so that they can be checked
  // against the fast ones on any machine.
  bool portableKernels = false;
};

// One chunk per channel: chunks[c] points at channel c's packed 3-byte
// samples; a null entry is a channel with no chunk.
using ChunkPointers = std::array<std::uint8_t*, kMaxChannels>;

// Mode 1: every flagged channel into one stereo pair, scaled by the master
// gain, written into chunks 0 and 1. `frames` is at most kChunkFrames.
void Mix(const ChunkPointers& chunks, int frames, int channels, const ChannelFlags& playFlags,
         const ChannelGains& gains, MixPeaks& peaks, float masterGain, MixWorkspace& work);

// Modes 2 and 3: channels into the busses that route them. Mode 2 writes bus
// b (from 0) into chunks 2b and 2b+1 for the first busCount busses in use;
// mode 3 adds busses 2..busCount into bus 1 at their own levels and writes
// bus 1 into chunks 0 and 1.
void MixMultiple(const ChunkPointers& chunks, int frames, int channels, const ChannelFlags& playFlags,
                 const ChannelGains& gains, MixPeaks& peaks, const std::array<int, kBusCount>& busActive,
                 const BusMatrix& busChannels, int busCount, const std::array<float, kBusCount>& busGain,
                 int mixMode, MixWorkspace& work);

}  // namespace sondrel
