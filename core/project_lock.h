// One program works in a project at a time: a second one in the same
// directory would write the same journal and the same tracks, and punch
// its takes over the first one's. The lock is an flock on a file in the
// project, which the kernel releases when the holder ends, however it
// ends, so a crash or a kill leaves no stale lock behind.
#pragma once

#include <sys/types.h>

#include "core/file_io.h"

namespace sondrel {

inline constexpr const char* kProjectLockFile = ".sondrel.lock";

struct ProjectLock {
  UniqueFd file;         // open while this program holds the project
  bool heldElsewhere = false;
  pid_t holder = 0;      // the other program's process id, 0 if it cannot be read
};

// Takes the project's lock for as long as the result lives, and writes
// this process's id into the lock file for the next one to name. A
// directory that cannot hold the lock file (read-only) goes without one:
// nothing in it can be written either.
ProjectLock TakeProjectLock();

}  // namespace sondrel
