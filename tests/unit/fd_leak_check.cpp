// Fails every test that leaves a file descriptor open. The program opens and
// closes files in every operation and keeps its device handles for life, so
// a descriptor a test leaves behind is a leak in the code it ran (or in the
// test). Linked into both test programs; it registers itself before main.
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <string>

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// The descriptors open now, less the one that lists them.
std::set<int> OpenDescriptors() {
  std::set<int> fds;
  const std::unique_ptr<DIR, DirCloser> dir(opendir("/proc/self/fd"));
  if (!dir) return fds;
  const int listing = dirfd(dir.get());
  while (const dirent* entry = readdir(dir.get())) {
    if (entry->d_name[0] == '.') continue;
    const int fd = std::atoi(entry->d_name);
    if (fd != listing) fds.insert(fd);
  }
  return fds;
}

// What the descriptor refers to, for the failure message.
std::string TargetOf(int fd) {
  char target[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  return n < 0 ? std::string("?") : std::string(target, static_cast<std::size_t>(n));
}

class FdLeakCheck : public testing::EmptyTestEventListener {
 public:
  void OnTestStart(const testing::TestInfo&) override { before_ = OpenDescriptors(); }

  // Runs before the result printer reports the test, so the failure counts
  // against the test that leaked.
  void OnTestEnd(const testing::TestInfo&) override {
    for (const int fd : OpenDescriptors()) {
      if (!before_.contains(fd)) ADD_FAILURE() << "file descriptor " << fd << " (" << TargetOf(fd) << ") left open";
    }
  }

 private:
  std::set<int> before_;
};

// The listener list takes ownership of what it is given.
const bool kRegistered = [] {
  testing::UnitTest::GetInstance()->listeners().Append(std::make_unique<FdLeakCheck>().release());
  return true;
}();

}  // namespace
