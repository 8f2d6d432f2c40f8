// Interruptions: SIGINT, SIGTERM and SIGHUP. Their handlers only record the
// signal and wake whoever waits for standard input; the work happens in the
// loops that look at the record:
// - a transport run stops at once when any of them is pending, keeping
//   every take whole (a SIGINT is then used up by the stop);
// - a read of standard input at the prompt or in a menu ends the program,
//   as end of input does, when any of them is pending;
// - a SIGTERM or SIGHUP is never used up, so after the run it stopped the
//   next read ends the program.
#pragma once

namespace sondrel {

// Installs the three handlers (restarting interrupted system calls) and
// the wake-up pipe. Called once, before anything is read.
void InstallInterruptionHandlers();

// The first of the three signals received and not used up, or 0. A plain
// read of a flag: the real-time loop may ask on every pass.
int PendingInterruption();

// Uses up a SIGINT that stopped a run. A SIGTERM or SIGHUP stays pending.
void ClearRunInterruption();

// Readable after every signal (-1 before the handlers are installed). A
// reader that waits on it as well as on its input cannot sleep through a
// signal that came just before the wait began.
int InterruptionWakeFd();
// Empties the pipe after a wake-up.
void DrainInterruptionWake();

// The exit status of a program ended by a pending signal: 128 plus its
// number (SIGINT 130, SIGTERM 143, SIGHUP 129); 0 when none is pending.
int InterruptionExitStatus();

}  // namespace sondrel
