// Small owners and checked helpers for files. Every track operation opens,
// works on and closes its files within one call; the owners make sure a
// file is closed on every path, including when the program unwinds to end
// early.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

namespace sondrel {

// How a file call ended: ok, or the errno it failed with. A read that finds
// the file shorter than asked fails with error 0.
struct [[nodiscard]] IoResult {
  bool ok = true;
  int error = 0;

  static IoResult Failed(int error) { return {false, error}; }
  // The failure of the call that just returned, while errno still tells why.
  static IoResult FromErrno() { return {false, errno}; }
  explicit operator bool() const { return ok; }
};

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A null owner when the file cannot be opened (errno says why).
inline FilePtr OpenFile(const char* path, const char* mode) { return FilePtr(std::fopen(path, mode)); }

// Closes the file now and reports whether everything written through it
// reached the file system. Buffered bytes are written at close, so a full
// disk can first show up here; a take file must not be trusted otherwise.
inline IoResult CloseFile(FilePtr& file) {
  if (!file) return IoResult::Failed(EBADF);
  if (std::fclose(file.release()) != 0) return IoResult::FromErrno();
  return {};
}

// Writes all `sizeBytes`; stdio retries short writes itself.
inline IoResult WriteAll(std::FILE* file, const void* data, std::size_t sizeBytes) {
  if (std::fwrite(data, 1, sizeBytes, file) != sizeBytes) return IoResult::FromErrno();
  return {};
}

// The one write loop over a descriptor: a write may take only part of the
// bytes, or be interrupted by a signal, and the rest must still follow.
// Allocates nothing, so the real-time loop may use it.
inline IoResult WriteAll(int fd, const void* data, std::size_t sizeBytes) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (sizeBytes > 0) {
    const ssize_t n = ::write(fd, bytes, sizeBytes);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return IoResult::FromErrno();
    if (n == 0) return IoResult::Failed(EIO);
    bytes += n;
    sizeBytes -= static_cast<std::size_t>(n);
  }
  return {};
}

// A file descriptor owned for one run. Raw descriptors are used in the
// real-time loop because stdio would allocate its buffer on the first
// transfer.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      (void)Close();  // an owner that cares about the close closes first
      fd_ = other.Release();
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { (void)Close(); }  // an owner that cares about the close closes first

  int Get() const { return fd_; }
  int Release() noexcept {
    const int released = fd_;
    fd_ = -1;
    return released;
  }
  // Closes now; a failure here can be a late write error.
  IoResult Close() noexcept {
    if (fd_ < 0) return {};
    if (::close(Release()) != 0) return IoResult::FromErrno();
    return {};
  }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Size of the whole file, or -1 when it cannot be found out. 64-bit offsets:
// long recordings pass 2 GiB.
inline std::int64_t FileSizeBytes(std::FILE* file) {
  if (fseeko(file, 0, SEEK_END) != 0) return -1;
  return static_cast<std::int64_t>(ftello(file));
}

// Reads exactly `sizeBytes` at `offsetBytes`; a short read fails, so a
// caller never looks at bytes that are not in the file.
inline IoResult ReadAt(std::FILE* file, std::int64_t offsetBytes, void* dest, std::size_t sizeBytes) {
  if (offsetBytes < 0) return IoResult::Failed(EINVAL);
  if (fseeko(file, static_cast<off_t>(offsetBytes), SEEK_SET) != 0) return IoResult::FromErrno();
  if (std::fread(dest, 1, sizeBytes, file) == sizeBytes) return {};
  return IoResult::Failed(std::ferror(file) ? errno : 0);
}

// Seeks before writing, which also makes it safe to mix with ReadAt on a
// file opened for update.
inline IoResult WriteAt(std::FILE* file, std::int64_t offsetBytes, const void* data, std::size_t sizeBytes) {
  if (offsetBytes < 0) return IoResult::Failed(EINVAL);
  if (fseeko(file, static_cast<off_t>(offsetBytes), SEEK_SET) != 0) return IoResult::FromErrno();
  return WriteAll(file, data, sizeBytes);
}

// Everything written through the stream is on the disk.
inline IoResult FlushToDisk(std::FILE* file) {
  if (std::fflush(file) != 0 || fsync(fileno(file)) != 0) return IoResult::FromErrno();
  return {};
}

inline IoResult FlushToDisk(int fd) {
  if (::fsync(fd) != 0) return IoResult::FromErrno();
  return {};
}

// Puts `text` in place as `path` so that a crash or a power cut leaves
// either the old file or the whole new one: written to `workPath`, synced,
// renamed over `path`, then the directory synced. The new file keeps the
// permissions of the one it replaces. On failure the work file is removed
// and `path` is untouched.
IoResult ReplaceFileDurably(const char* path, const char* workPath, std::string_view text);

// Bytes an unprivileged writer may still put on the file system holding
// `path`; -1 when that cannot be found out.
std::int64_t FreeBytes(const char* path);

// A rename or unlink is only durable once the directory holding it is.
inline void SyncProjectDirectory() {
  const int dir = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  ::fsync(dir);
  ::close(dir);
}

// A file in memory that vanishes with its last descriptor: audio that is
// only passed through the transport, never kept. Not open on failure.
inline UniqueFd OpenMemoryFile(const char* name) { return UniqueFd(::memfd_create(name, MFD_CLOEXEC)); }

// Reads as much of `size` bytes as the file holds at `offset` with one
// positioned read (no seek, no stdio buffer: the chunk goes straight into
// the caller's buffer); returns the bytes read. Allocates nothing, so the
// real-time loop may use it.
inline std::size_t ReadUpTo(int fd, std::int64_t offset, std::uint8_t* dest, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const auto at = static_cast<off_t>(offset + static_cast<std::int64_t>(done));
    const ssize_t n = ::pread(fd, dest + done, size - done, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

}  // namespace sondrel
