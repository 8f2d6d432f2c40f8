// Sondrel: a multitrack recorder driven by words typed at a prompt. It takes
// no arguments and works on the current directory.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "app/startup.h"
#include "console/input.h"
#include "core/interruption.h"

namespace {

// Started with standard input, output or error closed, the program would
// hand that number to the first descriptor it opens, a file or a pipe of
// its own, then read words from it or print into it. Each closed one is
// opened on /dev/null first: a closed input reads as the end of input.
void OpenClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

}  // namespace

int main() {
  OpenClosedStandardDescriptors();
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
