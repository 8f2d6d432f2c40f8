// Small owners and checked helpers for stdio files. Every track operation
// opens, works on and closes its files within one call; the owner makes sure
// a file is closed on every path, including when the program unwinds to end
// early.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

namespace sondrel {

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A null owner when the file cannot be opened.
inline FilePtr OpenFile(const char* path, const char* mode) {
  return FilePtr(std::fopen(path, mode));
}

// Closes the file now and reports whether everything written through it
// reached the file system. Buffered bytes are written at close, so a full
// disk can first show up here; a take file must not be trusted otherwise.
inline bool CloseFile(FilePtr& file) {
  if (!file) return false;
  return std::fclose(file.release()) == 0;
}

// True only when all `size_bytes` were written.
inline bool WriteAll(std::FILE* file, const void* data, std::size_t size_bytes) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size_bytes > 0) {
    const std::size_t written = std::fwrite(bytes, 1, size_bytes, file);
    if (written == 0) return false;
    bytes += written;
    size_bytes -= written;
  }
  return true;
}

// Size of the whole file, or -1 when it cannot be found out. 64-bit offsets:
// long recordings pass 2 GiB.
inline std::int64_t FileSizeBytes(std::FILE* file) {
  if (fseeko(file, 0, SEEK_END) != 0) return -1;
  return static_cast<std::int64_t>(ftello(file));
}

// Reads exactly `size_bytes` at `offset_bytes`; false for a short read, so a
// caller never looks at bytes that are not in the file.
inline bool ReadAt(std::FILE* file, std::int64_t offset_bytes, void* dest,
                   std::size_t size_bytes) {
  if (offset_bytes < 0) return false;
  if (fseeko(file, static_cast<off_t>(offset_bytes), SEEK_SET) != 0) return false;
  return std::fread(dest, 1, size_bytes, file) == size_bytes;
}

// Seeks before writing, which also makes it safe to mix with ReadAt on a
// file opened for update.
inline bool WriteAt(std::FILE* file, std::int64_t offset_bytes, const void* data,
                    std::size_t size_bytes) {
  if (offset_bytes < 0) return false;
  if (fseeko(file, static_cast<off_t>(offset_bytes), SEEK_SET) != 0) return false;
  return WriteAll(file, data, size_bytes);
}

// Reads as much of `size` bytes as the file holds at `offset` with one
// positioned read (no seek, no stdio buffer: the chunk goes straight into
// the caller's buffer); returns the bytes read. Allocates nothing, so the
// real-time loop may use it.
inline std::size_t ReadUpTo(int fd, std::int64_t offset, std::uint8_t* dest, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, dest + done, size - done, static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

}  // namespace sondrel
