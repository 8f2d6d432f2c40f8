// The console: device set-up, then the command loop until "x".
#pragma once

#include "core/session_state.h"
#include "console/console_state.h"

namespace sondrel {

// Opens the devices, derives the session's lengths and runs the command loop
// until the word "x"; returns after the devices are drained and closed. The
// exit status: 1 when the last write of param.txt failed, else 0.
int RunConsole(SessionState& s);

// One pass's status lines, exposed for the mixer prompt.
void PrintShortStatus(const ConsoleState& console);

}  // namespace sondrel
