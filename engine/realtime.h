// Real-time scheduling for the transport loop. A loop at normal priority
// loses the processor to any busy program for tens of milliseconds, longer
// than a small device buffer lasts; a loop whose memory can be paged out
// waits on the disk when it touches it.
#pragma once

namespace sondrel {

// What the system allows, found out once at start-up.
struct RealtimeSupport {
  bool priorityAllowed = false;  // SCHED_FIFO may be asked for
  bool memoryLocked = false;     // everything mapped so far stays in memory
};

// Locks the memory mapped so far (the transport buffers must exist and be
// touched by then) and finds out whether the loop may run at real-time
// priority. Later runs use what it found.
RealtimeSupport PrepareRealtime();

// SCHED_FIFO for the calling thread while it lives, when allowed: below the
// kernel's interrupt threads (priority 50), so the sound card's own
// interrupt handling still comes first. Normal scheduling afterwards.
class RealtimePriority {
 public:
  RealtimePriority();
  ~RealtimePriority();
  RealtimePriority(const RealtimePriority&) = delete;
  RealtimePriority& operator=(const RealtimePriority&) = delete;

 private:
  bool raised_ = false;
};

}  // namespace sondrel
