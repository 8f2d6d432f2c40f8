// The numbers every layer agrees on: how audio is stored, how it moves, and
// the limits of the mixer's levels.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sondrel {

// Tracks are mono, 24-bit, stored as 3 bytes per sample, least significant
// first, two's complement.
inline constexpr int kTrackBits = 24;
inline constexpr int kTrackBytesPerSample = 3;
inline constexpr std::int64_t kSampleMin = -8388608;  // -2^23
inline constexpr std::int64_t kSampleMax = 8388607;   // 2^23 - 1

// Audio moves between files, buffers and the mix in chunks of this many
// frames: large enough that a disk read per track per chunk is cheap, small
// enough that the buffers stay in cache.
inline constexpr int kChunkFrames = 4096;
inline constexpr std::size_t kChunkBytes = static_cast<std::size_t>(kChunkFrames) * kTrackBytesPerSample;

// Channel gains carry this factor so that the mix sums whole numbers; bus
// gains carry its inverse and bring the sum back to 24-bit scale.
inline constexpr float kGainScale = 256.0f;
inline constexpr int kGainDivisor = 256;

// Levels in dB the mixer accepts: a channel up to +12, a bus up to +15, and
// nothing below -144 (the quietest 24-bit step lies near -138).
inline constexpr float kMaxChannelVolumeDb = 12.0f;
inline constexpr float kMaxBusLevelDb = 15.0f;
inline constexpr float kMinLevelDb = -144.0f;

// The click's level: full scale down to where each burst still starts on a
// sample well clear of silence, so a recording of it shows every onset.
inline constexpr float kClickMinLevelDb = -60.0f;
inline constexpr float kClickMaxLevelDb = 0.0f;
inline constexpr float kClickDefaultLevelDb = -6.0f;
// The longest count-in, in bars.
inline constexpr int kMaxCountInBars = 16;

}  // namespace sondrel
