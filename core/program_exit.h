// The two ways the program ends early. Both unwind to main, so every file
// and device owner on the way closes what it holds.
#pragma once

namespace sondrel {

// Standard input is exhausted or failed: the program exits 0.
struct EndOfInput {};

// The program ends with a given exit status (a device that cannot be set
// up, the first-run "x", a track whose audio cannot be found).
struct ProgramExit {
  int status;
};

}  // namespace sondrel
