// Runs the real program in a fresh project directory with scripted standard
// input, a private HOME (so no personal ALSA configuration leaks in) and
// captures what it prints, its exit status and the files it leaves.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace sondrel::e2e {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

class ProjectTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the program in the project directory with `input` on stdin.
  RunResult Run(const std::string& input) const;

  void WriteFile(const std::string& name, const std::string& text) const;
  std::string ReadFile(const std::string& name) const;
  bool Exists(const std::string& name) const;
  // A param.txt that opens ALSA's null device with the given extra lines.
  void WriteParams(const std::string& extraLines) const;
  // Defines ALSA device `ramp`: playback goes to play.raw in the project,
  // capture reads `channels` interleaved inputs where input k (from 0)
  // carries the ramp (k + 1) * n at frame n, for `frames` frames.
  void WriteRampDevice(int channels, int frames) const;
  // The samples of a mono 24-bit WAV file written by the program (44-byte
  // header), or of a raw interleaved file when `header` is 0.
  // Writes a mono 24-bit WAV track holding `samples`.
  void WriteWav(const std::string& name, const std::vector<int>& samples, int rate = 44100) const;
  std::vector<int> ReadSamples(const std::string& name, std::size_t header = 44) const;

  std::filesystem::path root_;
  std::filesystem::path project_;
  std::filesystem::path home_;
};

// The text printed between the first occurrence of `from` and the next
// occurrence of `to` after it (empty when either is missing).
std::string Between(const std::string& text, const std::string& from, const std::string& to);
// How many times `part` occurs in `text`.
int CountOf(const std::string& text, const std::string& part);

}  // namespace sondrel::e2e
