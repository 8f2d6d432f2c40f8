// End to end: the stereo mix export ("exp-i", "exp-s") on ALSA's null device.
#include <algorithm>
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

// Many tracks of random audio at random levels and pans, some ending early, some skipped, some missing and some on no
// bus, exported in mix modes 0, 1 and 3 over a range that starts and ends inside chunks, as one stereo file and as a
// file a side: every sample of them must be the plain integer arithmetic of the mixing rules. (The pan law itself is
// the console transcripts' and full pans at 0 dB the played-stream test's.)
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
    if (c % 6 != 4) routes[c % kBusses][c] = 1;         // the others are not heard in the bus mix
    if (c % 5 == 0) routes[(c + 3) % kBusses][c] = 1;  // some channels feed two busses
    if (c % 7 == 3 || c % 7 == 5) {
      play += c % 7 == 3 ? "-\n" : "gone" + n + ".wav\n";
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
    const RunResult r = Run("exp-i mix w c exp-s mix w c x\n");  // the mixes of the mode before are replaced
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(CountOf(r.out, " exists!\nEnter 'w' to overwrite\n"), mode == 0 ? 0 : 2);
    EXPECT_EQ(CountOf(r.out, "0 %\rExport Progress: 30 %\rExport Progress: 60 %\rExport Progress: 90 %\n"), 2);
    EXPECT_EQ(CountOf(r.out, "\n\nBus Peaks:\nBus "), mode == 3 ? 2 : 0);
    EXPECT_EQ(CountOf(r.out, "\nOutput Peaks:\nchannel 1: "), 2);
    // The tracks mixed are listed; the bus mix leaves out one on no bus.
    std::string mixing = "Mixing channels ";
    for (int c = 0; c < kTracks; ++c) {
      const bool onABus = std::any_of(routes.begin(), routes.end(), [c](const auto& bus) { return bus[c] == 1; });
      if (flags[c] == 1 && (mode != 3 || onABus)) mixing += " " + std::to_string(c + 1);
    }
    EXPECT_EQ(CountOf(r.out, mixing + "\n"), 2) << mixing;
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
    const std::string left(chunks[0].begin(), chunks[0].end()), right(chunks[1].begin(), chunks[1].end());
    std::string stereo;
    for (int n = 0; n < frames; ++n) stereo += left.substr(3 * n, 3) + right.substr(3 * n, 3);
    EXPECT_EQ(ReadFile("mix.wav"), WavFile(1, 2, 24, 44100, Chunk("data", stereo)));
    EXPECT_EQ(ReadFile("mix_L.wav"), WavFile(1, 1, 24, 44100, Chunk("data", left)));
    EXPECT_EQ(ReadFile("mix_R.wav"), WavFile(1, 1, 24, 44100, Chunk("data", right)));
  }
}

}  // namespace
}  // namespace sondrel::e2e
