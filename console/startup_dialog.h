// What the program says and asks as it starts: the banner, the first-run
// questions, the checks of the list files and the configuration it runs with.
#pragma once

#include "core/session_state.h"

namespace sondrel {

void PrintBanner();

// Asks for the settings of a new project: the channel counts, the device
// and the rate. The answer "x" ends the program with status 2.
void AskFirstRunSettings(SessionState& s);

// Says when the record list is empty; creates a missing record or play list
// and says what it is for.
void CheckListFiles(const SessionState& s);

void PrintConfiguration(const SessionState& s);

}  // namespace sondrel
