#include "core/interruption.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <initializer_list>

namespace sondrel {

namespace {

volatile std::sig_atomic_t pendingSignal = 0;  // the first signal not used up
volatile std::sig_atomic_t endingSignal = 0;   // SIGTERM or SIGHUP: never used up
int wakePipe[2] = {-1, -1};

extern "C" void RecordInterruption(int signal) {
  const int savedErrno = errno;
  if (signal != SIGINT && endingSignal == 0) endingSignal = signal;
  if (pendingSignal == 0) pendingSignal = signal;
  if (wakePipe[1] >= 0) {
    const char byte = 0;
    // A full pipe already wakes the reader: the byte may be dropped.
    (void)!::write(wakePipe[1], &byte, 1);
  }
  errno = savedErrno;
}

}  // namespace

void InstallInterruptionHandlers() {
  if (wakePipe[0] < 0 && ::pipe2(wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) wakePipe[0] = wakePipe[1] = -1;
  struct sigaction action {};
  action.sa_handler = RecordInterruption;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

int PendingInterruption() { return endingSignal != 0 ? endingSignal : pendingSignal; }

void ClearRunInterruption() {
  // Cleared before it is looked at again: a SIGTERM landing in between
  // still ends the program through endingSignal.
  if (endingSignal == 0) pendingSignal = 0;
}

int InterruptionWakeFd() { return wakePipe[0]; }

void DrainInterruptionWake() {
  char bytes[64];
  while (wakePipe[0] >= 0 && ::read(wakePipe[0], bytes, sizeof bytes) > 0) {
  }
}

int InterruptionExitStatus() {
  const int signal = PendingInterruption();
  return signal == 0 ? 0 : 128 + signal;
}

}  // namespace sondrel
