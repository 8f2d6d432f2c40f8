// Mixer settings: channel volume and pan turned into the integer-scaled gains
// the mix uses, bus levels, and the bus in-use flags.
#pragma once

#include <array>

#include "core/session_state.h"
#include "core/user_dialog.h"
#include "core/audio_constants.h"

namespace sondrel {

// Per-channel left/right gains: volume x pan factor x 256.
struct ChannelGains {
  std::array<float, kMaxChannels> left{};
  std::array<float, kMaxChannels> right{};
};

using ChannelFlags = std::array<int, kMaxChannels>;

// Repairs out-of-range volumes (-144..12 dB) and pans (-100..100) of
// channels 1..channels, telling of each, then computes the gains of
// the channels whose play flag is 1. Other channels keep their gains.
void ComputeChannelGains(std::array<float, kMaxChannels>& pan, std::array<float, kMaxChannels>& volume,
                         ChannelGains& gains, int channels, const ChannelFlags& playFlags, float scale,
                         UserDialog& dialog);

// Sets busGain[bus] to 10^(dB/20) / kGainDivisor, which takes the channel
// gains' scale back out of the mix, when bus is 0..63 and dB is -144..15.
// False, with nothing changed, otherwise.
[[nodiscard]] bool SetBusVolume(std::array<float, kBusCount>& busGain, float dB, int bus);

// Busses 2..64 are in use exactly when some channel feeds them. Bus 1, the
// master, keeps its flag.
void UpdateBusses(const BusMatrix& busChannels, std::array<int, kBusCount>& busActive);

// Clears the play flag of every channel that no bus routes.
void VerifyChannels(const BusMatrix& busChannels, ChannelFlags& playFlags);

}  // namespace sondrel
