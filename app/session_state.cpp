#include "app/session_state.h"

#include <cmath>

namespace sondrel {

void ResetSessionState(SessionState& state) {
  state = SessionState{};
  SetText(state.deviceName, "default");
  for (auto& name : state.rangeNames) SetText(name, "(name)");
  for (auto& name : state.locateNames) SetText(name, "(name)");
  SetText(state.playlistFiles[0], "play.txt");
  SetText(state.recordlistFiles[0], "record.txt");
  state.busGain.fill(1.0f);
}

void ComputeBusGains(SessionState& state) {
  for (int b = 0; b < kBusCount; ++b) {
    const float db = state.busVolume[b];
    if (db >= -144.0f && db <= 15.0f) {
      // The mixer works on gains scaled by 256; the bus carries the 1/256.
      state.busGain[b] = static_cast<float>(std::pow(10.0, db / 20.0) * 0.00390625);
    }
  }
}

}  // namespace sondrel
