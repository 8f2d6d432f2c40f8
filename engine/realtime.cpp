#include "engine/realtime.h"

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstddef>

namespace sondrel {

namespace {

constexpr int kLoopPriority = 40;

std::atomic<int> grantedPriority{0};  // 0: not allowed (or not yet found out)

// The priority to ask for: ours, or the most the limits allow an
// unprivileged user (a privileged one is not held to them).
int PriorityToAsk() {
  rlimit limit{};
  if (getrlimit(RLIMIT_RTPRIO, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kLoopPriority;
  return limit.rlim_cur >= 1 ? std::min<int>(kLoopPriority, static_cast<int>(limit.rlim_cur)) : kLoopPriority;
}

bool SetFifo(int priority) {
  const sched_param param{priority};
  return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

void SetNormal() {
  const sched_param param{0};
  pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
}

// The loop's calls go deeper than start-up's: this much stack is touched
// now, so it is mapped, and locked with the rest.
[[gnu::noinline]] void TouchStack() {
  constexpr std::size_t kBytes = 256 * 1024;
  unsigned char pages[kBytes];
  for (std::size_t i = 0; i < kBytes; i += 4096) pages[i] = 0;
  asm volatile("" : : "r"(pages) : "memory");  // the stores must happen
}

}  // namespace

RealtimeSupport PrepareRealtime() {
  RealtimeSupport support;
  TouchStack();
  support.memoryLocked = mlockall(MCL_CURRENT) == 0;
  const int priority = PriorityToAsk();
  if (SetFifo(priority)) {
    SetNormal();
    grantedPriority = priority;
    support.priorityAllowed = true;
  }
  return support;
}

RealtimePriority::RealtimePriority() {
  const int priority = grantedPriority.load();
  raised_ = priority > 0 && SetFifo(priority);
}

RealtimePriority::~RealtimePriority() {
  if (raised_) SetNormal();
}

}  // namespace sondrel
