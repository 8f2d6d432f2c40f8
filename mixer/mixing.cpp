#include "mixer/mixing.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sondrel {

namespace {

using Accumulator = MixWorkspace::Accumulator;

constexpr std::int64_t kSampleMax = 8388607;
constexpr std::int64_t kSampleMin = -8388608;
// Scaled results are kept well inside int64 so that adding busses into the
// master (x256) cannot overflow, however wild the gains.
constexpr float kScaledLimit = 1.0e15f;

std::int32_t Sample24(const std::uint8_t* b) {
  const auto raw = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                   static_cast<std::uint32_t>(b[2]) << 16;
  return static_cast<std::int32_t>(raw << 8) >> 8;  // sign-extend 24 bits
}

void DecodeChunk(const std::uint8_t* bytes, int frames, double* samples) {
  if (frames < 1) return;
  // Whole 4-byte loads are faster than three byte loads; the last sample is
  // read bytewise so nothing past the chunk is touched.
  for (int i = 0; i < frames - 1; ++i) {
    std::uint32_t raw;
    std::memcpy(&raw, bytes + 3 * i, sizeof raw);
    samples[i] = static_cast<double>(static_cast<std::int32_t>(raw << 8) >> 8);
  }
  samples[frames - 1] = Sample24(bytes + 3 * (frames - 1));
}

// Gains are whole numbers of 1/256 steps; a gain below 1 adds nothing.
double WholeGain(float gain) {
  if (!(std::fabs(gain) < 1.0e6f)) return 0.0;
  return std::trunc(static_cast<double>(gain));
}

void AddScaled(const double* samples, int frames, double gainLeft, double gainRight, double* left, double* right) {
  for (int i = 0; i < frames; ++i) {
    left[i] += samples[i] * gainLeft;
    right[i] += samples[i] * gainRight;
  }
}

// Brings an accumulator back to sample scale with one float multiply per
// sample, truncating toward zero, and raises the side's peak.
void ScaleToSamples(double* acc, int frames, float gain, std::int64_t& peak) {
  std::int64_t loudest = peak;
  for (int i = 0; i < frames; ++i) {
    float product = static_cast<float>(acc[i]) * gain;
    if (!(std::fabs(product) < kScaledLimit)) {
      product = std::isnan(product) ? 0.0f : std::copysign(kScaledLimit, product);
    }
    const auto out = static_cast<std::int64_t>(product);
    acc[i] = static_cast<double>(out);
    loudest = std::max(loudest, out < 0 ? -out : out);
  }
  peak = loudest;
}

// A sum past full scale is clamped to the 24-bit limits rather than wrapping
// into a full-scale click of the opposite sign. The peak already holds the
// true magnitude, so the summary still reports the over.
void EncodeSaturated(const double* acc, int frames, std::uint8_t* bytes) {
  if (bytes == nullptr) return;
  for (int i = 0; i < frames; ++i) {
    const auto v = static_cast<std::uint32_t>(
        static_cast<std::int32_t>(std::clamp(acc[i], static_cast<double>(kSampleMin), static_cast<double>(kSampleMax))));
    bytes[3 * i] = static_cast<std::uint8_t>(v);
    bytes[3 * i + 1] = static_cast<std::uint8_t>(v >> 8);
    bytes[3 * i + 2] = static_cast<std::uint8_t>(v >> 16);
  }
}

bool Plays(const ChunkPointers& chunks, const ChannelFlags& playFlags, int c) {
  return playFlags[c] == 1 && chunks[c] != nullptr;
}

int ClampFrames(int frames) { return std::clamp(frames, 0, kMixFrames); }
int ClampChannels(int channels) { return std::clamp(channels, 0, kMaxChannels); }

// Adds every playing channel into each bus that routes it, decoding each
// channel once. Returns which busses received audio; the others are not
// cleared and hold nothing meaningful.
std::array<bool, kBusCount> AccumulateBusses(const ChunkPointers& chunks, int frames, int channels,
                                             const ChannelFlags& playFlags, const ChannelGains& gains,
                                             const BusMatrix& busChannels, MixWorkspace& work) {
  std::array<bool, kBusCount> filled{};
  for (int c = 0; c < channels; ++c) {
    if (!Plays(chunks, playFlags, c)) continue;
    bool decoded = false;
    for (int b = 0; b < kBusCount; ++b) {
      if (busChannels[b][c] != 1) continue;
      if (!decoded) {
        DecodeChunk(chunks[c], frames, work.samples.data());
        decoded = true;
      }
      if (!filled[b]) {
        std::fill_n(work.busLeft[b].begin(), frames, 0);
        std::fill_n(work.busRight[b].begin(), frames, 0);
        filled[b] = true;
      }
      AddScaled(work.samples.data(), frames, WholeGain(gains.left[c]), WholeGain(gains.right[c]),
                work.busLeft[b].data(), work.busRight[b].data());
    }
  }
  return filled;
}

void ClearIfEmpty(std::array<bool, kBusCount>& filled, int b, int frames, MixWorkspace& work) {
  if (filled[b]) return;
  std::fill_n(work.busLeft[b].begin(), frames, 0);
  std::fill_n(work.busRight[b].begin(), frames, 0);
  filled[b] = true;
}

void ScaleBus(int b, int frames, float gain, MixPeaks& peaks, MixWorkspace& work) {
  ScaleToSamples(work.busLeft[b].data(), frames, gain, peaks.busLeft[b]);
  ScaleToSamples(work.busRight[b].data(), frames, gain, peaks.busRight[b]);
}

void WritePair(const ChunkPointers& chunks, int leftChunk, int frames, const Accumulator& left,
               const Accumulator& right) {
  if (leftChunk + 1 >= kMaxChannels) return;
  EncodeSaturated(left.data(), frames, chunks[leftChunk]);
  EncodeSaturated(right.data(), frames, chunks[leftChunk + 1]);
}

}  // namespace

void Mix(const ChunkPointers& chunks, int frames, int channels, const ChannelFlags& playFlags,
         const ChannelGains& gains, MixPeaks& peaks, float masterGain, MixWorkspace& work) {
  frames = ClampFrames(frames);
  channels = ClampChannels(channels);
  Accumulator& left = work.busLeft[0];
  Accumulator& right = work.busRight[0];
  std::fill_n(left.begin(), frames, 0);
  std::fill_n(right.begin(), frames, 0);
  for (int c = 0; c < channels; ++c) {
    if (!Plays(chunks, playFlags, c)) continue;
    DecodeChunk(chunks[c], frames, work.samples.data());
    AddScaled(work.samples.data(), frames, WholeGain(gains.left[c]), WholeGain(gains.right[c]), left.data(),
              right.data());
  }
  ScaleToSamples(left.data(), frames, masterGain, peaks.mixLeft);
  ScaleToSamples(right.data(), frames, masterGain, peaks.mixRight);
  WritePair(chunks, 0, frames, left, right);
}

void MixMultiple(const ChunkPointers& chunks, int frames, int channels, const ChannelFlags& playFlags,
                 const ChannelGains& gains, MixPeaks& peaks, const std::array<int, kBusCount>& busActive,
                 const BusMatrix& busChannels, int busCount, const std::array<float, kBusCount>& busGain,
                 int mixMode, MixWorkspace& work) {
  if (mixMode != 2 && mixMode != 3) return;
  frames = ClampFrames(frames);
  busCount = std::clamp(busCount, 0, kBusCount);
  std::array<bool, kBusCount> filled =
      AccumulateBusses(chunks, frames, ClampChannels(channels), playFlags, gains, busChannels, work);

  if (mixMode == 2) {
    // Bus b+1 plays on outputs 2b+1 and 2b+2.
    for (int b = 0; b < busCount; ++b) {
      if (busActive[b] != 1) continue;
      ClearIfEmpty(filled, b, frames, work);
      ScaleBus(b, frames, busGain[b], peaks, work);
      WritePair(chunks, 2 * b, frames, work.busLeft[b], work.busRight[b]);
    }
    return;
  }

  // Mode 3: busses at their own levels into the master, which always plays.
  ClearIfEmpty(filled, 0, frames, work);
  Accumulator& masterLeft = work.busLeft[0];
  Accumulator& masterRight = work.busRight[0];
  for (int b = 1; b < busCount; ++b) {
    if (busActive[b] != 1 || !filled[b]) continue;  // a silent bus adds nothing
    ScaleBus(b, frames, busGain[b], peaks, work);
    for (int i = 0; i < frames; ++i) {
      masterLeft[i] += 256.0 * work.busLeft[b][i];
      masterRight[i] += 256.0 * work.busRight[b][i];
    }
  }
  ScaleBus(0, frames, busGain[0], peaks, work);
  WritePair(chunks, 0, frames, masterLeft, masterRight);
}

}  // namespace sondrel
