// Fails every test that leaves a file descriptor open: the program keeps only its device handles for life, so one left
// behind is a leak in the code the test ran (or in the test). Linked into both test programs, it registers itself
// before main.
#include <dirent.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <system_error>

namespace {

// The descriptors open now, less the one that lists them.
std::set<int> OpenDescriptors() {
  std::set<int> fds;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return fds;
  while (const dirent* entry = readdir(dir)) {
    const int fd = std::atoi(entry->d_name);
    if (entry->d_name[0] != '.' && fd != dirfd(dir)) fds.insert(fd);
  }
  closedir(dir);
  return fds;
}

class FdLeakCheck : public testing::EmptyTestEventListener {
 public:
  void OnTestStart(const testing::TestInfo&) override { before_ = OpenDescriptors(); }

  // Runs before the result printer reports the test, so the failure counts against the test that leaked.
  void OnTestEnd(const testing::TestInfo&) override {
    for (const int fd : OpenDescriptors()) {
      if (before_.contains(fd)) continue;
      std::error_code error;
      const auto target = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
      ADD_FAILURE() << "file descriptor " << fd << " (" << (error ? "?" : target.string()) << ") left open";
    }
  }

 private:
  std::set<int> before_;
};

const bool kRegistered = [] {
  testing::UnitTest::GetInstance()->listeners().Append(std::make_unique<FdLeakCheck>().release());
  return true;
}();

}  // namespace
