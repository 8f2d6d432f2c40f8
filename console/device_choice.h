// The devices a user can choose from, shown at the first-run device
// question ("?") and by the word "cards".
#pragma once

#include <span>
#include <string_view>

#include "console/console_state.h"

namespace sondrel {

// Lists every ALSA PCM with playback and capture and whether it serves
// `outputs` and `inputs` channels at one of `rates`; `inUse` names the
// device the program holds open, if any.
void ShowAudioDevices(int outputs, int inputs, std::span<const unsigned> rates, std::string_view inUse = {});

// "cards": the list, judged by the project's channels and rate.
Flow ListDevicesCommand(ConsoleState& console);

}  // namespace sondrel
