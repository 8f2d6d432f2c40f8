// Runs the real program in a fresh project directory with scripted standard input and a private HOME (so no
// personal ALSA configuration leaks in), and captures what it prints, its exit status and the files it leaves.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace sondrel::test {

struct RunResult {
  int status = -1;
  std::string out, err;
  double seconds = 0.0;  // wall-clock time of the whole run
};

class ProjectTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the program in the project directory with `input` on stdin, or with what the shell command `feeder`
  // prints there (it may wait for ../stdout.txt). A non-zero `fileSizeLimitBytes` caps every file the program
  // writes (RLIMIT_FSIZE, with SIGXFSZ ignored so a write past it fails with EFBIG); its standard output then
  // goes through a pipe, which the cap does not touch.
  RunResult Run(const std::string& input, std::int64_t fileSizeLimitBytes = 0, const std::string& feeder = "") const;
  // Run, then the checks every hostile or faulty case shares: the exit status, no sanitizer report, no work
  // file left behind, and every WAV file that existed before still there byte for byte unless `changing` names it.
  RunResult RunChecked(const std::string& input, int status, const std::set<std::string>& changing = {},
                       std::int64_t fileSizeLimitBytes = 0, const std::string& feeder = "") const;

  void WriteFile(const std::string& name, const std::string& text) const;
  std::string ReadFile(const std::string& name) const;
  bool Exists(const std::string& name) const;
  // The recordlist and playlist texts (record.txt, play.txt).
  void WriteLists(const std::string& record, const std::string& play) const;
  // A param.txt that opens ALSA's null device with the given extra lines.
  void WriteParams(const std::string& extra) const;
  // Defines ALSA device `ramp`: playback goes to play.raw in the project, capture reads `channels` interleaved
  // inputs where input k (from 0) carries the ramp (k + 1) * n at frame n, for `frames` frames.
  void WriteRampDevice(int channels, int frames) const;
  // Writes a mono 24-bit WAV track holding `samples`.
  void WriteWav(const std::string& name, const std::vector<int>& samples, int rate = 44100) const;
  // The samples of a 24-bit WAV file with a 44-byte header, or of a raw file when `header` is 0.
  std::vector<int> ReadSamples(const std::string& name, std::size_t header = 44) const;
  // Work files the program makes while it rewrites tracks, settings or mixes; none may outlive the operation that
  // made it. (A directory of such a name is the test's own obstacle, not a work file.)
  std::vector<std::string> StrayWorkFiles() const;
  // The names in the project that match `pattern` (a whole-name regex), sorted.
  std::vector<std::string> NamesMatching(const std::string& pattern) const;
  // Every WAV file in the project with its bytes.
  std::map<std::string, std::string> AudioFiles() const;

  std::filesystem::path root_, project_, home_;
};

// For calls made in-process on the current directory, as the program makes them: each test runs inside its project.
class InProjectTest : public ProjectTest {
 protected:
  void SetUp() override;
  void TearDown() override;

 private:
  std::filesystem::path previous_;
};

// A sound server a test needs cannot start here: skips the test with `why`, or fails it where CI is "true" (CI installs
// and starts every server, so a skip there would hide a fault). Call it from SetUp and return.
void ServerUnavailable(const std::string& why);

// Standard output and error of a shell command, together.
std::string Shell(const std::string& command);
// Whether a command-line tool is installed.
bool HasTool(const std::string& tool);
// How many times `part` occurs in `text`.
int CountOf(const std::string& text, const std::string& part);

// What `action` printed on standard output.
std::string CapturedStdout(const std::function<void()>& action);

// The one test signal: `count` samples from `from`, `step` apart.
std::vector<int> Ramp(int count, int from = 0, int step = 1);

// `value` as `bytes` little-endian bytes.
std::string Le(std::uint64_t value, int bytes);
// `samples` as 24-bit little-endian words.
std::string Pcm24(const std::vector<int>& samples);
// A chunk: its id, a 4-byte size (the body's unless another is declared) and the body.
std::string Chunk(const std::string& id, const std::string& body, std::int64_t declared = -1);
// A WAV file: a format chunk (with tag 0xFFFE, WAVE_FORMAT_EXTENSIBLE, naming PCM as its sub-format), then `chunks`.
std::string WavFile(int tag, int channels, int bits, int rate, const std::string& chunks);
// The bytes of a mono 24-bit WAV file with a plain 44-byte header.
std::string MonoWavBytes(const std::vector<int>& samples, int rate = 44100);
// 24-bit samples from `bytes`, starting `header` bytes in.
std::vector<int> Samples24(const std::string& bytes, std::size_t header = 44);

}  // namespace sondrel::test

// The end-to-end tests use the shared helpers unqualified.
namespace sondrel::e2e {
using namespace sondrel::test;  // NOLINT
}  // namespace sondrel::e2e
