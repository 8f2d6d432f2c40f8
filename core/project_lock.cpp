#include "core/project_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>

namespace sondrel {

namespace {

pid_t ReadHolder(int fd) {
  char text[32] = {};
  const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
  pid_t pid = 0;
  if (got > 0) std::from_chars(text, text + got, pid);
  return pid > 0 ? pid : 0;
}

}  // namespace

ProjectLock TakeProjectLock() {
  ProjectLock lock;
  UniqueFd file(::open(kProjectLockFile, O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!file) return lock;
  int locked;
  while ((locked = ::flock(file.Get(), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (locked != 0) {
    lock.heldElsewhere = errno == EWOULDBLOCK;
    if (lock.heldElsewhere) lock.holder = ReadHolder(file.Get());
    return lock;
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(file.Get(), 0) == 0) (void)WriteAll(file.Get(), pid.data(), pid.size());
  lock.file = std::move(file);
  return lock;
}

}  // namespace sondrel
