// A plain model of the stereo and bus mixes, written straight from the mixing rules: int64 sums frame by frame of
// sample x whole gain, then one float multiply per result, saturated to 24 bits. The fast kernels, and the whole
// program's exports, must match it byte for byte.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "mixer/mixing.h"

namespace sondrel {

inline std::int64_t WholeGainModel(float g) { return std::fabs(g) < 1.0e6f ? static_cast<std::int64_t>(g) : 0; }

inline std::int64_t ScaleModel(std::int64_t acc, float gain, std::int64_t& peak) {
  float p = static_cast<float>(acc) * gain;
  if (std::isnan(p)) p = 0.0f;
  if (std::fabs(p) >= 1.0e15f) p = std::copysign(1.0e15f, p);
  const auto out = static_cast<std::int64_t>(p);
  peak = std::max(peak, out < 0 ? -out : out);
  return out;
}

inline void PutModel(std::uint8_t* chunk, int i, std::int64_t v) {
  if (chunk == nullptr) return;
  const auto u = static_cast<std::uint32_t>(std::clamp<std::int64_t>(v, -8388608, 8388607));
  for (int k = 0; k < 3; ++k) chunk[3 * i + k] = static_cast<std::uint8_t>(u >> (8 * k));
}

inline void MixModel(const ChunkPointers& chunks, int frames, int channels, const ChannelFlags& flags,
              const ChannelGains& gains, MixPeaks& peaks, const std::array<int, kBusCount>& active,
              const BusMatrix& routes, int busCount, const std::array<float, kBusCount>& busGain, int mode) {
  for (int i = 0; i < frames; ++i) {
    std::array<std::int64_t, kBusCount> left{}, right{};
    std::array<bool, kBusCount> fed{};
    for (int c = 0; c < channels; ++c) {
      if (flags[c] != 1 || chunks[c] == nullptr) continue;
      const std::uint8_t* s = chunks[c] + 3 * i;
      const auto raw = static_cast<std::uint32_t>(s[0] | s[1] << 8 | s[2] << 16);
      const std::int64_t sample = static_cast<std::int32_t>(raw << 8) >> 8;
      for (int b = 0; b < (mode == 1 ? 1 : kBusCount); ++b) {  // the stereo mix has the master alone
        if (mode != 1 && routes[b][c] != 1) continue;
        left[b] += sample * WholeGainModel(gains.left[c]);
        right[b] += sample * WholeGainModel(gains.right[c]);
        fed[b] = true;
      }
    }
    if (mode == 1) {
      PutModel(chunks[0], i, ScaleModel(left[0], busGain[0], peaks.mixLeft));
      PutModel(chunks[1], i, ScaleModel(right[0], busGain[0], peaks.mixRight));
    } else if (mode == 2) {
      for (int b = 0; b < busCount; ++b) {
        if (active[b] != 1) continue;
        PutModel(chunks[2 * b], i, ScaleModel(left[b], busGain[b], peaks.busLeft[b]));
        PutModel(chunks[2 * b + 1], i, ScaleModel(right[b], busGain[b], peaks.busRight[b]));
      }
    } else {
      for (int b = 1; b < busCount; ++b) {
        if (active[b] != 1 || !fed[b]) continue;
        left[0] += 256 * ScaleModel(left[b], busGain[b], peaks.busLeft[b]);
        right[0] += 256 * ScaleModel(right[b], busGain[b], peaks.busRight[b]);
      }
      PutModel(chunks[0], i, ScaleModel(left[0], busGain[0], peaks.busLeft[0]));
      PutModel(chunks[1], i, ScaleModel(right[0], busGain[0], peaks.busRight[0]));
    }
  }
}

}  // namespace sondrel
