// End to end: the stereo mix export ("exp-i", "exp-s") on ALSA's null device.
#include <random>
#include <string>
#include <vector>

#include "console/terminal_dialog.h"
#include "mixer/mixer_settings.h"
#include "tests/support/mix_model.h"
#include "tests/support/project.h"

namespace sondrel::e2e {
namespace {

using ExportTest = ProjectTest;

TEST_F(ExportTest, SplitFilesPansTheCentreGainAndBusMode) {
  // Full pans pass each track through unchanged (gain exactly 256/256) to one side only.
  WriteFile("play.txt", "a.wav\nb.wav\n");
  WriteWav("a.wav", std::vector<int>(4096, 1000));
  WriteWav("b.wav", std::vector<int>(4096, 5000));
  WriteParams("inputs\t2\noutputs\t2\nch\t2\nmix\t1\ni\t0\no\t4096\np\t1\t-100\np\t2\t100\n");
  RunResult r = Run("exp-s mix c x\n");
  EXPECT_NE(r.out.find("Mixing channels  1 2\n"), std::string::npos);
  EXPECT_EQ(ReadFile("mix_L.wav"), MonoWavBytes(std::vector<int>(4096, 1000)));
  EXPECT_EQ(ReadFile("mix_R.wav"), MonoWavBytes(std::vector<int>(4096, 5000)));
  // In bus mode channel 1 reaches the master through bus 2; channel 2 is on
  // no bus; 3 is skipped and 4's file is missing. 0 dB at centre:
  // trunc(256 x -3 dB) = 181, and 1000 x 181 / 256 = 707.
  WriteFile("play.txt", "a.wav\nb.wav\n-\nmissing.wav\n");
  WriteParams("inputs\t2\noutputs\t2\nch\t4\nmix\t3\ni\t0\no\t4096\nbus\t2\t1,\n");
  r = Run("exp-i mix c x\n");
  EXPECT_NE(r.out.find("Mixing channels  1\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n\nBus Peaks:\nBus 2 L: "), std::string::npos);
  EXPECT_NE(r.out.find("\nOutput Peaks:\nchannel 1: "), std::string::npos);
  EXPECT_EQ(ReadSamples("mix.wav"), std::vector<int>(2 * 4096, 707));
}

// Many tracks of random audio at random levels and pans, some ending early
// and some skipped, exported in mix modes 0, 1 and 3 over a range that
// starts and ends inside chunks: every sample of the file must be the plain
// integer arithmetic of the mixing rules.
TEST_F(ExportTest, ExportsMatchThePlainMixModel) {
  std::mt19937 random(1905);
  auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  constexpr int kTracks = 24, kBusses = 8;
  const int in = 16 * 37;
  const int frames = 16 * 850;  // three whole chunks and part of a fourth
  std::vector<std::vector<int>> audio(kTracks);
  std::array<float, kMaxChannels> volume{}, pan{};
  ChannelFlags flags{};
  BusMatrix routes{};
  std::array<float, kBusCount> busGain{};
  std::array<int, kBusCount> active{};
  std::string play, mixer;
  for (int c = 0; c < kTracks; ++c) {
    // Steps of 0.5 dB and 2.5 pan units read back exactly from param.txt.
    volume[c] = static_cast<float>(pick(-48, 24)) * 0.5f;
    pan[c] = static_cast<float>(pick(-40, 40)) * 2.5f;
    const std::string n = std::to_string(c + 1);
    mixer += "v\t" + n + "\t" + std::to_string(volume[c]) + "\np\t" + n + "\t" + std::to_string(pan[c]) + "\n";
    routes[c % kBusses][c] = 1;
    if (c % 5 == 0) routes[(c + 3) % kBusses][c] = 1;  // some channels feed two busses
    if (c % 7 == 3) {
      play += "-\n";
      continue;
    }
    flags[c] = 1;
    play += "t" + n + ".wav\n";
    audio[c].resize(static_cast<std::size_t>(pick(1000, in + frames + 500)));
    for (int& sample : audio[c]) sample = pick(-(1 << 20), 1 << 20);
    WriteWav("t" + n + ".wav", audio[c]);
  }
  for (int b = 0; b < kBusses; ++b) {
    const float db = static_cast<float>(pick(-24, 12)) * 0.5f;
    ASSERT_TRUE(SetBusVolume(busGain, db, b));
    active[b] = 1;
    mixer += "bus\t" + std::to_string(b + 1) + "\t";
    for (int c = 0; c < kTracks; ++c) mixer += routes[b][c] == 1 ? std::to_string(c + 1) + "," : "";
    mixer += "\nbusvl\t" + std::to_string(b + 1) + "\t" + std::to_string(db) + "\n";
  }
  WriteFile("play.txt", play);
  ChannelGains gains;
  TerminalDialog dialog;
  ComputeChannelGains(pan, volume, gains, kTracks, flags, kGainScale, dialog);
  for (const int mode : {0, 1, 3}) {  // direct outputs at playback still export through the master
    SCOPED_TRACE("mix mode " + std::to_string(mode));
    // A click at full scale (with a count-in) is for the musician alone: it never reaches an export.
    const std::string click = mode == 0 ? "" : "click\t1\t0.00\ncnt\t2\n";
    WriteParams("inputs\t2\noutputs\t2\nbuf\t16\nch\t" + std::to_string(kTracks) + "\nmix\t" + std::to_string(mode) +
                "\ni\t" + std::to_string(in) + "\no\t" + std::to_string(in + frames) + "\n" + mixer + click);
    const RunResult r = Run("exp-i mix w c x\n");  // the mix of the mode before is replaced
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(CountOf(r.out, "1 file exists!\nEnter 'w' to overwrite\n"), mode == 0 ? 0 : 1);
    EXPECT_NE(r.out.find("Progress: 0 %\rExport Progress: 30 %\rExport Progress: 60 %\rExport Progress: 90 %\n"),
              std::string::npos);
    std::vector<std::vector<std::uint8_t>> chunks(kTracks, std::vector<std::uint8_t>(3 * frames, 0));
    ChunkPointers pointers{};
    for (int c = 0; c < kTracks; ++c) {
      pointers[c] = chunks[c].data();
      for (int n = 0; n < frames && in + n < static_cast<int>(audio[c].size()); ++n) {
        PutModel(pointers[c], n, audio[c][in + n]);
      }
    }
    MixPeaks peaks;
    MixModel(pointers, frames, kTracks, flags, gains, peaks, active, routes, kTracks / 2, busGain,
             mode == 0 ? 1 : mode);
    const std::vector<int> left = Samples24(std::string(chunks[0].begin(), chunks[0].end()), 0);
    const std::vector<int> right = Samples24(std::string(chunks[1].begin(), chunks[1].end()), 0);
    std::vector<int> expected;
    for (int n = 0; n < frames; ++n) expected.insert(expected.end(), {left[n], right[n]});
    std::string header = MonoWavBytes(expected).substr(0, 44);  // made stereo: channels, bytes per second, block align
    header.replace(22, 2, Le(2, 2)).replace(28, 6, Le(44100 * 6, 4) + Le(6, 2));
    EXPECT_EQ(ReadFile("mix.wav").substr(0, 44), header);
    EXPECT_EQ(ReadSamples("mix.wav"), expected);
  }
}

}  // namespace
}  // namespace sondrel::e2e
