#include "core/file_io.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

namespace sondrel {

IoResult ReplaceFileDurably(const char* path, const char* workPath, std::string_view text) {
  // O_NOFOLLOW: a stray link at the work name is not written through.
  const int fd = ::open(workPath, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return IoResult::FromErrno();  // nothing of ours to clean up

  // Not worth failing the save for: if it cannot be done the new file keeps
  // the default mode.
  struct stat old {};
  if (::stat(path, &old) == 0 && S_ISREG(old.st_mode)) (void)::fchmod(fd, old.st_mode & 07777);

  IoResult result = WriteAll(fd, text.data(), text.size());
  // The data must be on disk before the rename puts it in place.
  if (result) result = FlushToDisk(fd);
  if (::close(fd) != 0 && result) result = IoResult::FromErrno();
  if (result && std::rename(workPath, path) != 0) result = IoResult::FromErrno();
  if (!result) {
    ::unlink(workPath);
    return result;
  }
  // Make the rename itself durable; the new file is in place either way.
  SyncProjectDirectory();
  return result;
}

std::int64_t FreeBytes(const char* path) {
  struct statvfs fs {};
  if (::statvfs(path, &fs) != 0) return -1;
  return static_cast<std::int64_t>(fs.f_bavail) * static_cast<std::int64_t>(fs.f_frsize);
}

}  // namespace sondrel
