#include "core/session_state.h"

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

}  // namespace sondrel
