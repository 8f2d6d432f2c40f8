// The mixer at the console: the mixer view with its volume, pan and bus
// level words, the mix mode menu and the bus routing menu.
#pragma once

#include "console/console_state.h"

namespace sondrel {

// While the mixer view is on, every word is read here. Volume, bus level and
// pan words are applied; the word then goes on to the console's own tests.
void MixerPrompt(ConsoleState& console);

Flow MixModeMenu(ConsoleState& console);
Flow BusRoutingMenu(ConsoleState& console);

}  // namespace sondrel
