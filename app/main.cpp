// Sondrel: a multitrack recorder driven by words typed at a prompt. It takes
// no arguments and works on the current directory.
#include <cstdio>

#include "app/startup.h"
#include "console/input.h"
#include "core/interruption.h"

int main() {
  int status = 0;
  try {
    status = sondrel::RunSondrel();
  } catch (const sondrel::ProgramExit& exit) {
    status = exit.status;
  } catch (const sondrel::EndOfInput&) {
    // Input ran out, or a signal ended the program at a prompt or after the
    // run it stopped: everything opened has been closed on the way here.
    std::printf("\n");
    status = sondrel::InterruptionExitStatus();
  }
  std::fflush(stdout);
  return status;
}
