// End to end: the stereo mix export ("exp-i", "exp-s") on ALSA's null device,
// plus one direct call that makes the disk refuse the mix half way.
#include "console/terminal_dialog.h"
#include "mixer/export.h"

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/session_state.h"
#include "mixer/mixer_settings.h"
#include "tests/support/mix_model.h"
#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

using ExportTest = ProjectTest;

std::uint32_t Field(const std::string& bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(bytes.at(at + i));
  return value;
}

std::vector<int> Ramp(int scale, int count) {
  std::vector<int> ramp;
  for (int n = 0; n < count; ++n) ramp.push_back(scale * n);
  return ramp;
}

std::vector<std::string> Listing(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}


TEST_F(ExportTest, RefusalsCreateNothing) {
  WriteFile("play.txt", "a.wav\n");
  WriteWav("a.wav", Ramp(1, 5000));
  WriteParams("ch\t2\ni\t4096\no\t4096\n");
  RunResult r = Run("exp-i x\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Cannot export until in and out points are set incorrectly.\n"), std::string::npos);
  EXPECT_EQ(r.out.find("Enter mix filename"), std::string::npos);
  EXPECT_EQ(r.out.find("Enter 'c' to continue"), std::string::npos);

  WriteParams("ch\t2\ni\t0\no\t4096\n");
  r = Run("exp-s nodir/mix c x\n");
  EXPECT_NE(r.out.find("Can't create nodir/mix_L.wav for the mix: No such file or directory\n"
                       "Nothing was exported.\nEnter 'c' to continue\n"),
            std::string::npos)
      << r.out;

  std::filesystem::remove(project_ / "play.txt");
  std::filesystem::create_directory(project_ / "play.txt");
  // At exit the run set-up asks for a readable playlist: the empty recordlist will do.
  r = Run("exp-i c x record.txt\n");
  EXPECT_NE(r.out.find("Cannot find playlist file called play.txt\nNothing was exported.\nEnter 'c' to continue\n"),
            std::string::npos);
  EXPECT_EQ(r.out.find("Enter mix filename"), std::string::npos);
  EXPECT_EQ(Listing(project_), (std::vector<std::string>{"a.wav", "param.txt", "play.txt", "record.txt"}));
}

TEST_F(ExportTest, InterleavedFileHoldsExactlyTheRange) {
  // A 16-frame period keeps 1024 and 11024 on the block grid: 10000 frames,
  // mixed in chunks of 4096, 4096 and 1808. Full pans pass each track through
  // unchanged (gain exactly 256/256) to one side only.
  WriteParams("inputs\t2\noutputs\t2\nch\t2\nbuf\t16\nmix\t1\ni\t1024\no\t11024\np\t1\t-100\np\t2\t100\n");
  WriteFile("play.txt", "left.wav\nright.wav\n");
  const std::vector<int> left = Ramp(-3, 5000);   // ends inside the range
  const std::vector<int> right = Ramp(7, 12000);  // goes on past it
  WriteWav("left.wav", left);
  WriteWav("right.wav", right);
  WriteFile("mix.wav", "an earlier mix");
  const RunResult r = Run("exp-i mix c x\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Enter mix filename\nMixing channels  1 2\n\rExport Progress: 0 %\rExport Progress: 41 %"
                       "\rExport Progress: 82 %\n\nOutput Peaks:\nchannel 1: "),
            std::string::npos)
      << r.out;

  const std::string wav = ReadFile("mix.wav");
  ASSERT_EQ(wav.size(), 44u + 60000u);
  EXPECT_EQ(Field(wav, 22, 2), 2u);      // channels
  EXPECT_EQ(Field(wav, 32, 2), 6u);      // block align
  EXPECT_EQ(Field(wav, 40, 4), 60000u);  // data bytes
  std::vector<int> expected;
  for (int n = 0; n < 10000; ++n) {
    expected.push_back(1024 + n < 5000 ? left[1024 + n] : 0);
    expected.push_back(right[1024 + n]);
  }
  EXPECT_EQ(ReadSamples("mix.wav"), expected);
  EXPECT_FALSE(Exists("mix.wav.part"));
}

// Many tracks of random audio at random levels and pans, some ending early
// and some skipped, exported in both mix modes over a range that starts and
// ends inside chunks: every sample of the file must be the plain integer
// arithmetic of the mixing rules.
TEST_F(ExportTest, ExportsMatchThePlainMixModel) {
  std::mt19937 random(1905);
  auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  constexpr int kTracks = 24;
  constexpr int kBusses = 8;
  const int in = 16 * 37;
  const int frames = 16 * 850;  // three whole chunks and part of a fourth
  std::vector<std::vector<int>> audio(kTracks);
  std::array<float, kMaxChannels> volume{}, pan{};
  ChannelFlags flags{};
  BusMatrix routes{};
  std::array<float, kBusCount> busDb{};
  std::string play;
  std::string mixer;
  for (int c = 0; c < kTracks; ++c) {
    // Steps of 0.5 dB and 2.5 pan units read back exactly from param.txt.
    volume[c] = static_cast<float>(pick(-48, 24)) * 0.5f;
    pan[c] = static_cast<float>(pick(-40, 40)) * 2.5f;
    mixer += "v\t" + std::to_string(c + 1) + "\t" + std::to_string(volume[c]) + "\np\t" + std::to_string(c + 1) +
             "\t" + std::to_string(pan[c]) + "\n";
    routes[c % kBusses][c] = 1;
    if (c % 5 == 0) routes[(c + 3) % kBusses][c] = 1;  // some channels feed two busses
    if (c % 7 == 3) {
      play += "-\n";
      continue;
    }
    flags[c] = 1;
    const std::string name = "t" + std::to_string(c) + ".wav";
    play += name + "\n";
    audio[c].resize(static_cast<std::size_t>(pick(1000, in + frames + 500)));
    for (int& sample : audio[c]) sample = pick(-(1 << 20), 1 << 20);
    WriteWav(name, audio[c]);
  }
  for (int b = 0; b < kBusses; ++b) {
    busDb[b] = static_cast<float>(pick(-24, 12)) * 0.5f;
    std::string list;
    for (int c = 0; c < kTracks; ++c) {
      if (routes[b][c] == 1) list += std::to_string(c + 1) + ",";
    }
    mixer += "bus\t" + std::to_string(b + 1) + "\t" + list + "\nbusvl\t" + std::to_string(b + 1) + "\t" +
             std::to_string(busDb[b]) + "\n";
  }
  WriteFile("play.txt", play);

  ChannelGains gains;
  TerminalDialog dialog;
  ComputeChannelGains(pan, volume, gains, kTracks, flags, kGainScale, dialog);
  std::array<float, kBusCount> busGain{};
  std::array<int, kBusCount> active{};
  for (int b = 0; b < kBusCount; ++b) {
    ASSERT_TRUE(SetBusVolume(busGain, busDb[b], b));
    active[b] = b < kBusses;
  }
  for (const int mode : {1, 3}) {
    SCOPED_TRACE("mix mode " + std::to_string(mode));
    WriteParams("inputs\t2\noutputs\t2\nbuf\t16\nch\t" + std::to_string(kTracks) + "\nmix\t" +
                std::to_string(mode) + "\ni\t" + std::to_string(in) + "\no\t" + std::to_string(in + frames) + "\n" +
                mixer);
    const RunResult r = Run("exp-i mix c x\n");
    ASSERT_EQ(r.status, 0) << r.err;

    std::vector<std::vector<std::uint8_t>> chunks(kTracks, std::vector<std::uint8_t>(3 * frames, 0));
    ChunkPointers pointers{};
    for (int c = 0; c < kTracks; ++c) {
      pointers[c] = chunks[c].data();
      for (int n = 0; n < frames && in + n < static_cast<int>(audio[c].size()); ++n) {
        PutModel(pointers[c], n, audio[c][in + n]);
      }
    }
    MixPeaks peaks;
    MixModel(pointers, frames, kTracks, flags, gains, peaks, active, routes, kTracks / 2, busGain, mode);
    std::vector<int> expected;
    for (int n = 0; n < frames; ++n) {
      for (int side = 0; side < 2; ++side) {
        const std::uint8_t* b = pointers[side] + 3 * n;
        expected.push_back(static_cast<std::int32_t>(static_cast<std::uint32_t>(b[0] | b[1] << 8 | b[2] << 16) << 8) >>
                           8);
      }
    }
    EXPECT_EQ(ReadSamples("mix.wav"), expected);
  }
}

TEST_F(ExportTest, SplitFilesAndTheCentreGain) {
  // 0 dB at centre: trunc(256 x -3 dB) = 181, and 1000 x 181 / 256 = 707.
  WriteFile("play.txt", "a.wav\n-\n");
  WriteWav("a.wav", std::vector<int>(4096, 1000));
  WriteParams("inputs\t2\noutputs\t2\nch\t2\nmix\t1\ni\t0\no\t4096\n");
  RunResult r = Run("exp-s mix c x\n");
  EXPECT_NE(r.out.find("Mixing channels  1\n"), std::string::npos);
  const std::string leftFile = ReadFile("mix_L.wav");
  const std::string rightFile = ReadFile("mix_R.wav");
  ASSERT_GE(leftFile.size(), 44u);
  EXPECT_EQ(leftFile.substr(0, 44), rightFile.substr(0, 44));
  EXPECT_EQ(Field(leftFile, 22, 2), 1u);
  EXPECT_EQ(Field(leftFile, 32, 2), 3u);
  EXPECT_EQ(Field(leftFile, 40, 4), 4096u * 3u);
  EXPECT_EQ(ReadSamples("mix_L.wav"), std::vector<int>(4096, 707));
  EXPECT_EQ(ReadSamples("mix_R.wav"), std::vector<int>(4096, 707));

  // Direct outputs at playback still export through the master.
  WriteParams("inputs\t2\noutputs\t2\nch\t2\nmix\t0\ni\t0\no\t4096\n");
  r = Run("exp-i direct c x\n");
  EXPECT_EQ(ReadSamples("direct.wav"), std::vector<int>(2 * 4096, 707));
}

TEST_F(ExportTest, BusModeMixesOnlyRoutedChannels) {
  // Channel 1 reaches the master through bus 2; channel 2 is on no bus; 3 is
  // skipped and 4's file is missing.
  WriteFile("play.txt", "a.wav\nb.wav\n-\nmissing.wav\n");
  WriteWav("a.wav", std::vector<int>(4096, 1000));
  WriteWav("b.wav", std::vector<int>(4096, 5000));
  WriteParams("inputs\t2\noutputs\t2\nch\t4\nmix\t3\ni\t0\no\t4096\nbus\t2\t1,\n");
  const RunResult r = Run("exp-i mix c x\n");
  EXPECT_NE(r.out.find("Cannot find file in track list called missing.wav!!\n"), std::string::npos);
  EXPECT_NE(r.out.find("Mixing channels  1\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n\nBus Peaks:\nBus 2 L: "), std::string::npos);
  EXPECT_NE(r.out.find("\nOutput Peaks:\nchannel 1: "), std::string::npos);
  EXPECT_EQ(ReadSamples("mix.wav"), std::vector<int>(2 * 4096, 707));
}

TEST_F(ExportTest, OtherProgramsReadTheExportsCleanly) {
  if (std::system("command -v sox > /dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
  WriteParams("inputs\t2\noutputs\t2\nch\t2\nbuf\t16\nmix\t1\ni\t0\no\t10000\n");
  WriteFile("play.txt", "a.wav\na.wav\n");
  WriteWav("a.wav", Ramp(100, 20000));
  Run("exp-i mix c exp-s mix c x\n");
  for (const char* name : {"mix.wav", "mix_L.wav", "mix_R.wav"}) {
    const std::string path = (project_ / name).string();
    EXPECT_EQ(Shell("soxi -s '" + path + "'"), "10000\n") << name;
    // Reading every sample reports any mismatch between header and data.
    EXPECT_EQ(Shell("sox -V2 '" + path + "' -n"), "") << name;
  }
}

// A disk that fills up half way: the export says so and leaves no file.
TEST_F(ExportTest, FailedWriteLeavesNothingBehind) {
  WriteWav("a.wav", Ramp(1, 100000));
  WriteFile("play.txt", (project_ / "a.wav").string() + "\n");
  auto s = std::make_unique<SessionState>();
  ResetSessionState(*s);
  SetText(s->playlistFiles[0], (project_ / "play.txt").string());
  s->tracks = 2;
  s->mixMode = 1;
  s->outPoint = 100000;
  s->busGain[0] = 1.0f / 256.0f;
  ExportTracks tracks;
  ChannelGains gains;
  TerminalDialog dialog;
  ASSERT_TRUE(PrepareExport(*s, gains, tracks, dialog));
  std::vector<std::uint8_t> storage(2 * 4096 * 3);
  ChunkPointers chunks{};
  chunks[0] = storage.data();
  chunks[1] = storage.data() + 4096 * 3;
  auto work = std::make_unique<MixWorkspace>();
  MixPeaks peaks;

  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 100000;
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  testing::internal::CaptureStdout();
  const bool exported =
      ExportMix(*s, ExportLayout::Interleaved, (project_ / "mix").string(), tracks, gains, chunks, *work, peaks, dialog);
  std::fflush(stdout);
  const std::string out = testing::internal::GetCapturedStdout();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);

  EXPECT_FALSE(exported);
  EXPECT_NE(out.find("mix.wav failed: File too large\n"), std::string::npos) << out;
  EXPECT_EQ(Listing(project_), (std::vector<std::string>{"a.wav", "play.txt"}));
}

}  // namespace
}  // namespace sondrel::e2e
