#include "tests/support/project.h"

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

namespace sondrel::test {

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

void InProjectTest::SetUp() {
  ProjectTest::SetUp();
  previous_ = fs::current_path();
  fs::current_path(project_);
}

void InProjectTest::TearDown() {
  fs::current_path(previous_);
  ProjectTest::TearDown();
}

static std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

RunResult ProjectTest::Run(const std::string& input, std::int64_t fileSizeLimitBytes, const std::string& feeder) const {
  WriteFile("../stdin.txt", input);
  fs::remove(root_ / "stdout.txt");  // a feeder may wait for what the program prints
  std::string program = "cd '" + project_.string() + "' && " + (feeder.empty() ? "" : "{ " + feeder + "; } | ") +
                        "env HOME='" + home_.string() + "' timeout 60 ";
  if (fileSizeLimitBytes != 0) {
    const std::string limit = std::to_string(fileSizeLimitBytes);
    program += "prlimit --fsize=" + limit + ":" + limit + " ";
  }
  program += std::string("'" SONDREL_BINARY "'") + (feeder.empty() ? " < ../stdin.txt" : "") + " 2> ../stderr.txt";
  std::string command = program + " > ../stdout.txt";
  if (fileSizeLimitBytes != 0) {
    // The cap is the program's alone (the limit and the ignored signal pass
    // through exec); its status comes back through a file.
    fs::remove(root_ / "status.txt");
    command = "cd '" + root_.string() + "' && trap '' XFSZ && { " + program + "; echo $? > '" +
              (root_ / "status.txt").string() + "'; } | cat > stdout.txt";
  }
  const auto start = std::chrono::steady_clock::now();
  const int raw = std::system(command.c_str());
  RunResult result;
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  if (fileSizeLimitBytes != 0) result.status = std::atoi(Slurp(root_ / "status.txt").c_str());
  result.out = Slurp(root_ / "stdout.txt");
  result.err = Slurp(root_ / "stderr.txt");
  return result;
}

RunResult ProjectTest::RunChecked(const std::string& input, int status, const std::set<std::string>& changing,
                                  std::int64_t fileSizeLimitBytes, const std::string& feeder) const {
  const std::map<std::string, std::string> before = AudioFiles();
  const RunResult r = Run(input, fileSizeLimitBytes, feeder);
  const std::string context = "input: " + input.substr(0, 200) +
                              "\nend of output: " + r.out.substr(r.out.size() > 1500 ? r.out.size() - 1500 : 0) +
                              "\nerrors: " + r.err;
  EXPECT_EQ(r.status, status) << context;
  EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << context;
  EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << context;
  EXPECT_EQ(StrayWorkFiles(), std::vector<std::string>{}) << context;
  for (const auto& [name, bytes] : before) {
    const bool kept = fs::is_regular_file(project_ / name) && ReadFile(name) == bytes;
    EXPECT_TRUE(changing.contains(name) || kept) << name << " changed or vanished\n" << context;
  }
  return r;
}

void ProjectTest::WriteFile(const std::string& name, const std::string& text) const {
  std::ofstream out(project_ / name, std::ios::binary);
  out << text;
}

std::string ProjectTest::ReadFile(const std::string& name) const { return Slurp(project_ / name); }

bool ProjectTest::Exists(const std::string& name) const { return fs::exists(project_ / name); }

void ProjectTest::WriteLists(const std::string& record, const std::string& play) const {
  WriteFile("record.txt", record);
  WriteFile("play.txt", play);
}

void ProjectTest::WriteParams(const std::string& extra) const { WriteFile("param.txt", "dv\tnull\n" + extra); }

void ProjectTest::WriteRampDevice(int channels, int frames) const {
  std::string raw;
  for (int n = 0; n < frames; ++n) {
    for (int k = 0; k < channels; ++k) raw += Le(static_cast<std::uint32_t>((k + 1) * n), 3);
  }
  WriteFile("ramp.raw", raw);
  std::ofstream rc(home_ / ".asoundrc");
  rc << "pcm.ramp {\n  type file\n  slave.pcm \"null\"\n  file \"" << (project_ / "play.raw").string()
     << "\"\n  infile \"" << (project_ / "ramp.raw").string() << "\"\n  format \"raw\"\n}\n";
}

std::string Le(std::uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

std::string Pcm24(const std::vector<int>& samples) {
  std::string bytes;
  for (int s : samples) bytes += Le(static_cast<std::uint32_t>(s), 3);
  return bytes;
}

std::string Chunk(const std::string& id, const std::string& body, std::int64_t declared) {
  return id + Le(declared < 0 ? body.size() : static_cast<std::uint64_t>(declared), 4) + body;
}

std::string WavFile(int tag, int channels, int bits, int rate, const std::string& chunks) {
  const int align = channels * bits / 8;
  std::string fmt = Le(tag, 2) + Le(channels, 2) + Le(rate, 4) + Le(rate * align, 4) + Le(align, 2) + Le(bits, 2);
  if (tag == 0xFFFE) {  // its extension's size, the valid bits, the channel mask, then PCM's sub-format GUID
    fmt += Le(22, 2) + Le(bits, 2) + Le(4, 4) + Le(1, 2) + std::string("\0\0\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 14);
  }
  const std::string body = Chunk("fmt ", fmt) + chunks;
  return "RIFF" + Le(body.size() + 4, 4) + "WAVE" + body;
}

std::string MonoWavBytes(const std::vector<int>& samples, int rate) {
  return WavFile(1, 1, 24, rate, Chunk("data", Pcm24(samples)));
}

void ProjectTest::WriteWav(const std::string& name, const std::vector<int>& samples, int rate) const {
  WriteFile(name, MonoWavBytes(samples, rate));
}

std::vector<int> ProjectTest::ReadSamples(const std::string& name, std::size_t header) const {
  return Samples24(ReadFile(name), header);
}

std::vector<int> Samples24(const std::string& bytes, std::size_t header) {
  std::vector<int> samples;
  for (std::size_t i = header; i + 3 <= bytes.size(); i += 3) {
    const auto raw = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) |
                     static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                     static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 2])) << 16;
    samples.push_back(static_cast<int>(raw << 8) >> 8);
  }
  return samples;
}

std::vector<std::string> ProjectTest::NamesMatching(const std::string& pattern) const {
  const std::regex wanted(pattern);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(project_)) {
    const std::string name = entry.path().filename().string();
    if (std::regex_match(name, wanted)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> ProjectTest::StrayWorkFiles() const {
  std::vector<std::string> stray;
  for (const std::string& name :
       NamesMatching(R"(temp_pad\.wav|temp_data\.wav|xfade_temp.*\.wav|.*\.tmp|.*\.part|punch-in\.undo|recording\.takes)")) {
    if (fs::is_regular_file(project_ / name)) stray.push_back(name);
  }
  return stray;
}

std::map<std::string, std::string> ProjectTest::AudioFiles() const {
  std::map<std::string, std::string> files;
  for (const std::string& name : NamesMatching(".*\\.wav")) {
    if (fs::is_regular_file(project_ / name)) files[name] = Slurp(project_ / name);
  }
  return files;
}

std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  pclose(pipe);
  return out;
}

void ServerUnavailable(const std::string& why) {
  if (const char* ci = std::getenv("CI"); ci != nullptr && std::string(ci) == "true") FAIL() << why;
  GTEST_SKIP() << why;
}

bool HasTool(const std::string& tool) { return std::system(("command -v " + tool + " > /dev/null 2>&1").c_str()) == 0; }

int CountOf(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + part.size())) ++count;
  return count;
}

std::string CapturedStdout(const std::function<void()>& action) {
  ::testing::internal::CaptureStdout();
  action();
  std::fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}

std::vector<int> Ramp(int count, int from, int step) {
  std::vector<int> ramp(static_cast<std::size_t>(std::max(count, 0)));
  for (int i = 0; i < count; ++i) ramp[static_cast<std::size_t>(i)] = from + i * step;
  return ramp;
}

}  // namespace sondrel::test
