#include "mixer/mixer_settings.h"

#include <cmath>

namespace sondrel {

namespace {

// -3 dB: a centred channel sends the same power as one panned hard over.
constexpr float kCentreFactor = 0.70794576f;
constexpr float kPanFullRight = 100.0f;

void RepairVolume(float& volume, int channel, UserDialog& dialog) {
  // A NaN volume (hand-edited settings) would slip past both range tests and
  // poison the gains; treat it as the quietest setting.
  if (volume > kMaxChannelVolumeDb) {
    dialog.Tell({NoticeKind::VolumeTooHigh, {}, {}, 0, channel});
    volume = kMaxChannelVolumeDb;
  } else if (volume < kMinLevelDb || std::isnan(volume)) {
    dialog.Tell({NoticeKind::VolumeTooLow, {}, {}, 0, channel});
    volume = kMinLevelDb;
  }
}

void RepairPan(float& pan, int channel, UserDialog& dialog) {
  if (pan > kPanFullRight) {
    dialog.Tell({NoticeKind::PanTooFarRight, {}, {}, 0, channel});
    pan = kPanFullRight;
  } else if (pan < -kPanFullRight) {
    dialog.Tell({NoticeKind::PanTooFarLeft, {}, {}, 0, channel});
    pan = -kPanFullRight;
  } else if (std::isnan(pan)) {
    pan = 0.0f;
  }
}

// The far side falls linearly to silence; the near side rises 3 dB per 100
// pan steps, from -3 dB at centre to 0 dB fully over.
void PanFactors(float pan, float& left, float& right) {
  if (pan == 0.0f) {
    left = right = kCentreFactor;
  } else if (pan > 0.0f) {
    left = (100.0f - pan) * kCentreFactor / 100.0f;
    right = static_cast<float>(std::pow(10.0, (pan * 3.0f / 100.0f) / 20.0)) * kCentreFactor;
  } else {
    right = (pan + 100.0f) * kCentreFactor / 100.0f;
    left = static_cast<float>(std::pow(10.0, (-pan * 3.0f / 100.0f) / 20.0)) * kCentreFactor;
  }
}

}  // namespace

void ComputeChannelGains(std::array<float, kMaxChannels>& pan, std::array<float, kMaxChannels>& volume,
                         ChannelGains& gains, int channels, const ChannelFlags& playFlags, float scale,
                         UserDialog& dialog) {
  const int count = channels < kMaxChannels ? channels : kMaxChannels;
  for (int c = 0; c < count; ++c) {
    RepairVolume(volume[c], c + 1, dialog);
    RepairPan(pan[c], c + 1, dialog);
  }
  for (int c = 0; c < count; ++c) {
    if (playFlags[c] != 1) continue;
    float left = 0.0f;
    float right = 0.0f;
    PanFactors(pan[c], left, right);
    const auto level = static_cast<float>(std::pow(10.0, volume[c] / 20.0) * scale);
    gains.left[c] = level * left;
    gains.right[c] = level * right;
  }
}

bool SetBusVolume(std::array<float, kBusCount>& busGain, float dB, int bus) {
  if (bus < 0 || bus >= kBusCount || !(dB >= kMinLevelDb && dB <= kMaxBusLevelDb)) return false;
  busGain[bus] = static_cast<float>((1.0 / kGainDivisor) * std::pow(10.0, dB / 20.0));
  return true;
}

void UpdateBusses(const BusMatrix& busChannels, std::array<int, kBusCount>& busActive) {
  for (int b = 1; b < kBusCount; ++b) {
    busActive[b] = 0;
    for (int routed : busChannels[b]) {
      if (routed == 1) {
        busActive[b] = 1;
        break;
      }
    }
  }
}

void VerifyChannels(const BusMatrix& busChannels, ChannelFlags& playFlags) {
  for (int c = 0; c < kMaxChannels; ++c) {
    if (playFlags[c] != 1) continue;
    bool routed = false;
    for (int b = 0; b < kBusCount && !routed; ++b) routed = busChannels[b][c] == 1;
    if (!routed) playFlags[c] = 0;
  }
}

}  // namespace sondrel
