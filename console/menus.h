// The small settings menus: each shows the current value, reads the answer
// from standard input and changes the session in place ("s" saves).
#pragma once

#include "console/console_state.h"

namespace sondrel {

// "opt": clock display, peak checking while recording, interface mode.
// Closes on "d", which stays in the word buffer.
Flow OptionsMenu(ConsoleState& console);
// "tempo": tempo mode, tempo and beats per measure; answers are numbers read
// outside the word buffer.
Flow TempoMenu(ConsoleState& console);
// "safe": the switch that protects whole files from being replaced.
Flow SafetyMenu(ConsoleState& console);
// "pre": pre-roll in seconds.
Flow PrerollMenu(ConsoleState& console);
// "cf": crossfade length in milliseconds; leaves "d" in the word buffer.
Flow CrossfadeMenu(ConsoleState& console);
// "aa": audition length in seconds.
Flow AuditionLengthMenu(ConsoleState& console);
// "clk": the click's output (0 turns it off) and level.
Flow ClickMenu(ConsoleState& console);
// "cnt": the bars of count-in before a recording with playback.
Flow CountInMenu(ConsoleState& console);

// The click and count-in as the help and the options show them.
void PrintClickState(const SessionState& s);
// Start-up: a click on an output the interface does not have stays off,
// and the user is told; the setting is kept.
void CheckClickOutput(const SessionState& s);

}  // namespace sondrel
