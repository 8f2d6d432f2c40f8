#include "project_fixture.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sondrel::e2e {

namespace fs = std::filesystem;

void ProjectTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "sondrel-e2e-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  root_ = pattern;
  project_ = root_ / "project";
  home_ = root_ / "home";
  fs::create_directories(project_);
  fs::create_directories(home_);
}

void ProjectTest::TearDown() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

static std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

RunResult ProjectTest::Run(const std::string& input) const {
  WriteFile("../stdin.txt", input);
  const std::string command = "cd '" + project_.string() + "' && env HOME='" + home_.string() +
                              "' timeout 60 '" SONDREL_BINARY "' < ../stdin.txt > ../stdout.txt 2> ../stderr.txt";
  const int raw = std::system(command.c_str());
  RunResult result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = Slurp(root_ / "stdout.txt");
  result.err = Slurp(root_ / "stderr.txt");
  return result;
}

void ProjectTest::WriteFile(const std::string& name, const std::string& text) const {
  std::ofstream out(project_ / name, std::ios::binary);
  out << text;
}

std::string ProjectTest::ReadFile(const std::string& name) const { return Slurp(project_ / name); }

bool ProjectTest::Exists(const std::string& name) const { return fs::exists(project_ / name); }

void ProjectTest::WriteParams(const std::string& extraLines) const {
  WriteFile("param.txt", "dv\tnull\n" + extraLines);
}

std::string Between(const std::string& text, const std::string& from, const std::string& to) {
  const std::size_t start = text.find(from);
  if (start == std::string::npos) return {};
  const std::size_t end = text.find(to, start + from.size());
  if (end == std::string::npos) return {};
  return text.substr(start, end - start);
}

int CountOf(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + part.size())) ++count;
  return count;
}

}  // namespace sondrel::e2e
