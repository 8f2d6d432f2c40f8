// Start-up: banner, settings or first-run questions, list files, channel
// counts, then the one hand-over to the console.
#pragma once

#include "core/session_state.h"

namespace sondrel {

struct ChannelCounts {
  int tracks;
  int inputs;
  int outputs;
};

// Repairs unset (negative) and oversized counts so that inputs and outputs
// are 0..256 and tracks covers both.
ChannelCounts ResolveCounts(ChannelCounts counts);

// Runs the whole program; returns the exit status.
int RunSondrel();

}  // namespace sondrel
