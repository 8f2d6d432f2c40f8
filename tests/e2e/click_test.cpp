// End to end on the virtual interface with every output looped to its
// input: the click and the count-in, recorded off the click's output.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/vif_loop.h"

namespace sondrel::e2e {
namespace {

struct ClickCase {
  std::uint32_t rate;
  float tempo;  // as param.txt keeps it
  int beatsPerBar;
  int block;
  int mixMode;
  int countInBars;
  std::int64_t start;  // the in and punch point, on the block grid
  bool measured = false;  // the takes are placed by a measured round trip
};

class ClickTest : public VifLoopTest, public ::testing::WithParamInterface<ClickCase> {
 protected:
  std::int64_t Beat(std::int64_t k) const { return GridBeat(k, GetParam().rate, GetParam().tempo); }
  std::int64_t FirstBeatFrom(std::int64_t position) const {
    std::int64_t k = position * static_cast<std::int64_t>(GetParam().tempo) / (60 * GetParam().rate) - 2;
    while (Beat(k) < position) ++k;
    return k;
  }
  // Channel `channel` of the interface's raw copy of everything its three outputs played.
  std::vector<int> Played(std::size_t channel) const {
    const std::vector<int> all = Samples24(ReadFile("played.raw"), 0);
    std::vector<int> one;
    for (std::size_t n = channel; n < all.size(); n += 3) one.push_back(all[n]);
    return one;
  }
};

// Outputs 1 and 2 play a track each (or, in mix modes, the mix), output 3 only the click at -6 dB. Recorded through the
// cable: the click's take starts a burst on every beat of the grid in the take and nowhere else, the bursts of the
// first beats of bars alike and unlike the others; the other takes are their tracks, sample for sample. A count-in is
// bars of click on the grid just before the start, heard on the click's output alone, and the takes are those of the
// same run without it.
TEST_P(ClickTest, TheClickSoundsOnTheGridAndOnlyOnItsOutput) {
  const ClickCase c = GetParam();
  const std::int64_t out = RoundUp(c.start + 3 * c.rate, c.block);
  const std::vector<int> track1 = Ramp(static_cast<int>(out + 8192), 1, 3);
  const std::vector<int> track2 = Ramp(static_cast<int>(out + 8192), -5, -7);
  WriteWav("t1.wav", track1, static_cast<int>(c.rate));
  WriteWav("t2.wav", track2, static_cast<int>(c.rate));
  WriteLists("in1.wav\nin2.wav\nin3.wav\n", "t1.wav\nt2.wav\n");
  char tempo[32];
  std::snprintf(tempo, sizeof tempo, "%.2f", static_cast<double>(c.tempo));
  const std::string params = "sr\t" + std::to_string(c.rate) + "\ni\t" + std::to_string(c.start) + "\ne\t" +
                             std::to_string(c.start) + "\no\t" + std::to_string(out) + "\nmix\t" +
                             std::to_string(c.mixMode) + "\ntempo\t" + tempo + "\nsig\t" +
                             std::to_string(c.beatsPerBar) + "\nclock\thc\nclick\t3\t-6.00\n" +
                             (c.measured ? "rtlat\t0\n" : "");
  const std::string suffix = c.start == 0 ? "_t.wav" : "_t_stp_" + std::to_string(c.start) + ".wav";
  const std::string device = "playback_file \"" + (project_ / "played.raw").string() + "\"";
  std::vector<std::vector<int>> takes[2];
  for (const int countIn : {c.countInBars, 0}) {
    WriteVif(3, 3, c.block, params + "cnt\t" + std::to_string(countIn) + "\n", 0, device);
    const RunResult r = Run("r_t x\n");
    ASSERT_EQ(r.status, 0) << r.err;
    for (int k = 1; k <= 3; ++k) {
      takes[countIn == 0].push_back(ReadSamples("in" + std::to_string(k) + suffix));
      std::filesystem::remove(project_ / ("in" + std::to_string(k) + suffix));
    }
    if (countIn == 0) break;
    // The count-in's beats, then the run's first: on the grid, before the
    // first frame of the run's audio on output 1, with nothing before them there.
    const std::vector<int> other = Played(0);
    const auto runStart = std::find_if(other.begin(), other.end(), [](int v) { return v != 0; }) - other.begin();
    const std::int64_t first = FirstBeatFrom(c.start) - std::int64_t{countIn} * c.beatsPerBar;
    const std::vector<std::int64_t> played = Onsets(Played(2), c.rate / 1000);
    ASSERT_GT(played.size(), static_cast<std::size_t>(countIn * c.beatsPerBar + 1));
    for (std::size_t n = 0; n <= static_cast<std::size_t>(countIn * c.beatsPerBar); ++n) {
      EXPECT_EQ(played[n] - runStart, Beat(first + static_cast<std::int64_t>(n)) - c.start) << "onset " << n;
    }
  }
  if (c.countInBars > 0) {
    EXPECT_EQ(takes[0], takes[1]);
  }
  const std::vector<int>& click = takes[1][2];
  ASSERT_EQ(static_cast<std::int64_t>(click.size()), out - c.start);
  std::vector<std::int64_t> expected;
  for (std::int64_t k = FirstBeatFrom(c.start); Beat(k) < out; ++k) expected.push_back(Beat(k) - c.start);
  EXPECT_EQ(Onsets(click, c.rate / 1000), expected);
  const double peak = 8388607.0 * std::pow(10.0, -6.0 / 20.0);
  std::vector<int> accent, beat;
  const std::int64_t burst = c.rate / 50;  // the 20 ms a burst lasts
  for (std::int64_t k = FirstBeatFrom(c.start); Beat(k) + burst <= out; ++k) {
    const std::int64_t at = Beat(k) - c.start;
    EXPECT_NEAR(click[at], peak, 1.0) << "beat " << k;
    std::vector<int>& kind = k % c.beatsPerBar == 0 ? accent : beat;
    const std::vector<int> shape(click.begin() + at, click.begin() + at + burst);
    if (kind.empty()) kind = shape;
    EXPECT_EQ(shape, kind) << "beat " << k;
  }
  if (!accent.empty() && !beat.empty()) {
    EXPECT_NE(accent, beat);
  }
  if (c.mixMode == 0) {
    EXPECT_EQ(takes[1][0], std::vector<int>(track1.begin() + c.start, track1.begin() + out));
    EXPECT_EQ(takes[1][1], std::vector<int>(track2.begin() + c.start, track2.begin() + out));
  }
}

INSTANTIATE_TEST_SUITE_P(Grids, ClickTest,
                         ::testing::Values(ClickCase{48000, 120.0f, 4, 1024, 0, 0, 0},
                                           ClickCase{44100, 97.3f, 3, 256, 0, 2, 20224},
                                           ClickCase{48000, 97.3f, 4, 64, 1, 1, 0},
                                           ClickCase{44100, 200.0f, 7, 1000, 2, 1, 50000, true}),
                         [](const ::testing::TestParamInfo<ClickCase>& info) {
                           const ClickCase& c = info.param;
                           return std::to_string(c.rate) + "Hz_" + std::to_string(static_cast<int>(c.tempo * 10)) +
                                  "tenthsBpm_B" + std::to_string(c.block) + "_mix" + std::to_string(c.mixMode) +
                                  "_countIn" + std::to_string(c.countInBars);
                         });

}  // namespace
}  // namespace sondrel::e2e
