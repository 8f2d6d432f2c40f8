// What the program says and asks as it starts: the banner, the first-run
// questions, the checks of the list files and the configuration it runs with.
#pragma once

#include <vector>

#include "core/session_state.h"
#include "core/settings_file.h"

namespace sondrel {

void PrintBanner();

// Asks for the settings of a new project: the channel counts, the device
// and the rate. The answer "x" ends the program with status 2.
void AskFirstRunSettings(SessionState& s);

// Says when the record list is empty; creates a missing record or play list
// and says what it is for.
void CheckListFiles(const SessionState& s);

void PrintConfiguration(const SessionState& s);

// Names each count of param.txt the program cannot use, with its line and
// what is used instead: a rate it cannot run at (the default rate is used),
// a period size outside what it asks a device for, more channels than it
// has. A rate is put right in `s` here; the others are held to their limits
// where they are used, as they always were.
void ReportUnusableCounts(const std::vector<CountRead>& counts, SessionState& s);

}  // namespace sondrel
