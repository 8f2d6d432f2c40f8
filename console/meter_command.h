// "mtr": the span of the bar meter shown while recording.
#pragma once

#include "console/console_state.h"

namespace sondrel {

// Asks for a meter range in dB and applies it at once; a non-numeric answer
// keeps the current range.
Flow MeterRangeCommand(ConsoleState& console);

}  // namespace sondrel
