#include "project_fixture.h"

#include <sys/wait.h>

#include <cstdint>
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

void ProjectTest::WriteRampDevice(int channels, int frames) const {
  std::string raw;
  raw.reserve(static_cast<std::size_t>(channels) * frames * 3);
  for (int n = 0; n < frames; ++n) {
    for (int k = 0; k < channels; ++k) {
      const auto v = static_cast<std::uint32_t>((k + 1) * n);
      raw += static_cast<char>(v & 0xFF);
      raw += static_cast<char>((v >> 8) & 0xFF);
      raw += static_cast<char>((v >> 16) & 0xFF);
    }
  }
  WriteFile("ramp.raw", raw);
  std::ofstream rc(home_ / ".asoundrc");
  rc << "pcm.ramp {\n  type file\n  slave.pcm \"null\"\n  file \"" << (project_ / "play.raw").string()
     << "\"\n  infile \"" << (project_ / "ramp.raw").string() << "\"\n  format \"raw\"\n}\n";
}

static void PutLe(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void ProjectTest::WriteWav(const std::string& name, const std::vector<int>& samples, int rate) const {
  const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 3);
  std::string wav = "RIFF";
  PutLe(wav, dataBytes + 36, 4);
  wav += "WAVEfmt ";
  PutLe(wav, 16, 4);
  PutLe(wav, 1, 2);
  PutLe(wav, 1, 2);
  PutLe(wav, static_cast<std::uint32_t>(rate), 4);
  PutLe(wav, static_cast<std::uint32_t>(rate) * 3, 4);
  PutLe(wav, 3, 2);
  PutLe(wav, 24, 2);
  wav += "data";
  PutLe(wav, dataBytes, 4);
  for (int s : samples) PutLe(wav, static_cast<std::uint32_t>(s), 3);
  WriteFile(name, wav);
}

std::vector<int> ProjectTest::ReadSamples(const std::string& name, std::size_t header) const {
  const std::string bytes = ReadFile(name);
  std::vector<int> samples;
  for (std::size_t i = header; i + 3 <= bytes.size(); i += 3) {
    const auto raw = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) |
                     static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                     static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 2])) << 16;
    samples.push_back(static_cast<int>(raw << 8) >> 8);
  }
  return samples;
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
