// Every run that plays is heard from its start up to its stop point, sample
// for sample, and not a sample past it: the device receives the run's
// leading chunk of silence, then the timeline from the start to the stop,
// then silence up to the end of the block that reaches the stop, and the
// run ends there. Checked on the unpaced virtual interface's copy of
// everything written, for stop points on and off chunk and block
// boundaries, for every kind of run that plays, in every mix mode.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/vif_loop.h"

namespace sondrel::e2e {
namespace {

constexpr int kOutputs = 4;
constexpr std::int64_t kTrackLength = 110000;  // shorter than the last audition: it is padded with silence
constexpr std::int64_t kAuditionFrames = 12000;  // "aud 0.25" at 48 kHz

struct PlayRangeCase {
  int block;
  int mixMode;
};

// One run as the device must receive it: timeline start .. stop, with the
// channels that play.
struct PlayedRun {
  std::string word;
  std::int64_t start;
  std::int64_t stop;
  std::array<bool, kOutputs> playing;
};

class PlayRangeTest : public VifLoopTest, public ::testing::WithParamInterface<PlayRangeCase> {
 protected:
  // Tracks of 22-bit samples, so that two added in a mix never clip, and
  // with every sample different from its neighbours and the other tracks'.
  void WriteTracks() {
    std::string playlist;
    for (std::uint32_t k = 0; k < kOutputs; ++k) {
      std::vector<int> track;
      for (std::uint32_t n = 1; n <= kTrackLength; ++n) {
        track.push_back(static_cast<int>((n * 2654435761u + k * 97u) << 10) >> 10);
      }
      const std::string name = "t" + std::to_string(k + 1) + ".wav";
      WriteWav(name, track, 48000);
      tracks_.push_back(track);
      playlist += name + "\n";
    }
    // Input 5 has no output of its number: the take is silence, and no
    // output plays it when the take is auditioned.
    WriteLists("-\n-\n-\n-\nvox.wav\n", playlist);
  }

  // Mix settings whose arithmetic is exact: at 0 dB a full pan passes a
  // track unchanged to one side (odd channels left, even right); bus 1
  // takes channels 1 and 2, bus 2 channels 3 and 4.
  static std::string MixLines(int mode) {
    return "mix\t" + std::to_string(mode) +
           "\np\t1\t-100\np\t2\t100\np\t3\t-100\np\t4\t100\nbus\t1\t1,2,\nbus\t2\t3,4,\n";
  }

  int Sample(int channel, std::int64_t n, const PlayedRun& run) const {
    if (!run.playing[channel] || n >= kTrackLength) return 0;
    return tracks_[channel][n];
  }

  // What output `k` carries at timeline position `n`. The stereo mix and the
  // bus mix into the master put channels 1 and 3 on the left, 2 and 4 on
  // the right; outputs no mix writes carry their own channel's track, and
  // the two busses of mode 2 each play on their own pair.
  int Heard(int k, std::int64_t n, const PlayedRun& run) const {
    const int mode = GetParam().mixMode;
    if ((mode == 1 || mode == 3) && k < 2) return Sample(k, n, run) + Sample(k + 2, n, run);
    return Sample(k, n, run);
  }

  std::vector<int> Expected(const std::vector<PlayedRun>& runs) const {
    const int block = GetParam().block;
    const std::int64_t chunk = block * (4096 / block);
    std::vector<int> stream;
    for (const PlayedRun& run : runs) {
      const std::int64_t frames = (run.stop - run.start + block - 1) / block * block;
      for (std::int64_t w = 0; w < chunk + frames; ++w) {
        const std::int64_t n = run.start + w - chunk;
        for (int k = 0; k < kOutputs; ++k) {
          stream.push_back(w >= chunk && n < run.stop ? Heard(k, n, run) : 0);
        }
      }
    }
    return stream;
  }

  std::vector<std::vector<int>> tracks_;
};

std::int64_t RoundUp(std::int64_t value, int block) { return (value + block - 1) / block * block; }

// The first place where the played stream and the expected one part, named
// by run, output and frame of that run.
std::string FirstDifference(const std::vector<int>& played, const std::vector<int>& expected,
                            const std::vector<PlayedRun>& runs, int block) {
  const std::int64_t chunk = block * (4096 / block);
  std::size_t i = 0;
  while (i < played.size() && i < expected.size() && played[i] == expected[i]) ++i;
  std::int64_t frame = static_cast<std::int64_t>(i / kOutputs);
  for (const PlayedRun& run : runs) {
    const std::int64_t frames = chunk + RoundUp(run.stop - run.start, block);
    if (frame < frames) {
      return run.word + ", output " + std::to_string(i % kOutputs + 1) + ", frame " + std::to_string(frame) +
             " of " + std::to_string(frames) + " (timeline " + std::to_string(run.start + frame - chunk) + ")";
    }
    frame -= frames;
  }
  return "past the last run: " + std::to_string(played.size()) + " samples played, " +
         std::to_string(expected.size()) + " expected";
}

TEST_P(PlayRangeTest, EveryRunThatPlaysEndsAtItsStopPoint) {
  const int block = GetParam().block;
  WriteTracks();
  const std::string raw = (project_ / "played.raw").string();
  const std::array<bool, kOutputs> all{true, true, true, true};
  const std::array<bool, kOutputs> soloed{true, false, false, true};
  for (const std::int64_t outPoint : {5000, 8192, 48000, 100000}) {
    const std::int64_t in = RoundUp(1500, block), punch = RoundUp(2500, block), out = RoundUp(outPoint, block);
    SCOPED_TRACE("out point " + std::to_string(out));
    WriteVif(kOutputs, 5, block,
             "i\t" + std::to_string(in) + "\ne\t" + std::to_string(punch) + "\no\t" + std::to_string(out) +
                 "\naud\t0.25\nsolo\t1\nsolo\t4\nclock\thc\n" + MixLines(GetParam().mixMode),
             0, "playback_file \"" + raw + "\"");
    std::vector<PlayedRun> runs = {{"p", in, out, all},
                                   {"sp", in, out, soloed},
                                   {"ai", in, in + kAuditionFrames, all},
                                   {"ao", out, out + kAuditionFrames, all},
                                   {"ae", punch, punch + kAuditionFrames, all}};
    // The take menu's audition: the whole take, then each quarter of it.
    const std::int64_t q = (out - punch) / 4;
    runs.push_back({"aud 0", punch, out, all});
    for (int quarter = 1; quarter <= 4; ++quarter) {
      runs.push_back({"aud " + std::to_string(quarter), punch + (quarter - 1) * q, out - (4 - quarter) * q, all});
    }
    const RunResult r = RunChecked("p sp ai ao ae R aud 0 aud 1 aud 2 aud 3 aud 4 del x\n", 0);
    EXPECT_EQ(r.out.find("PX"), std::string::npos) << r.out;
    const std::vector<int> played = ReadSamples("played.raw", 0);
    const std::vector<int> expected = Expected(runs);
    EXPECT_TRUE(played == expected) << "first difference: " << FirstDifference(played, expected, runs, block);
  }
}

INSTANTIATE_TEST_SUITE_P(Periods, PlayRangeTest,
                         ::testing::Values(PlayRangeCase{64, 0}, PlayRangeCase{1000, 0}, PlayRangeCase{1024, 0},
                                           PlayRangeCase{64, 1}, PlayRangeCase{1000, 2}, PlayRangeCase{1024, 3},
                                           PlayRangeCase{1000, 1}, PlayRangeCase{1024, 2}, PlayRangeCase{64, 3}),
                         [](const ::testing::TestParamInfo<PlayRangeCase>& info) {
                           return "Period" + std::to_string(info.param.block) + "Mode" +
                                  std::to_string(info.param.mixMode);
                         });

}  // namespace
}  // namespace sondrel::e2e
