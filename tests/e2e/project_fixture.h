// Runs the real program in a fresh project directory with scripted standard
// input, a private HOME (so no personal ALSA configuration leaks in) and
// captures what it prints, its exit status and the files it leaves.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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
