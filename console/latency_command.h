// "lat": measures the interface's round-trip latency through a cable from
// an output to an input, and on the user's word keeps it for recording.
#pragma once

#include "console/console_state.h"

namespace sondrel {

// Asks for the output and the input, measures, shows the delay with its
// confidence or says why it cannot be trusted, and asks before keeping it.
// The new value is saved with "s", like every other setting.
Flow MeasureLatencyCommand(ConsoleState& console);

}  // namespace sondrel
