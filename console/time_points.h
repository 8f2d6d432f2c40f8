// The console commands that set the four working times (in, out, punch and
// memory): typed entry, jumps of the in/out window, nudges, copies from one
// time to another and the stop at the end of the longest playlist file.
// Each handler looks at the command word to know which time it serves.
#pragma once

#include "console/console_state.h"

namespace sondrel {

// "i", "o", "e": asks for the time in the current display mode.
Flow EnterTimePoint(ConsoleState& console);
// 'i12.5', 'o9.3', 'e8': the time typed straight after the letter.
Flow EnterTimePointDirect(ConsoleState& console);

// "j": the in/out window moves forward to start where it ended.
Flow JumpAhead(ConsoleState& console);
// "J": the window moves back to end where it started (shorter when it would
// start before 0).
Flow JumpBack(ConsoleState& console);

// "n", "b", "no", "bo", "ne", "be", "N", "B".
Flow NudgeTimePoints(ConsoleState& console);
// "nn": shows and changes the nudge amount.
Flow SetNudgeAmount(ConsoleState& console);

// "i.e", "m.o", ...: copies the time of the first letter into the second.
Flow CopyTimePoint(ConsoleState& console);

// "f": stop at the end of the longest file of the current playlist.
Flow StopAtLongestFile(ConsoleState& console);

}  // namespace sondrel
