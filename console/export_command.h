// The console's mix export words: "exp-i" writes the mix as one interleaved
// stereo file, "exp-s" as a left and a right mono file.
#pragma once

#include "console/console_state.h"

namespace sondrel {

// Asks for the base name of the files and exports the playlist's mix of the
// in point .. out point range, then waits for the user to continue.
Flow ExportCommand(ConsoleState& console);

}  // namespace sondrel
