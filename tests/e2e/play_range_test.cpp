// Every run that plays is heard from its start up to its stop point, sample for sample, and not a sample past it: the
// device receives the run's leading chunk of silence, the timeline from the start to the stop, then silence to the end
// of the block that reaches the stop. Checked on the unpaced virtual interface's copy of everything written, for stop
// points on and off chunk and block boundaries, every run that plays, every mix mode.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/vif_loop.h"

namespace sondrel::e2e {
namespace {

constexpr int kOutputs = 4;
constexpr std::int64_t kTrackLength = 110000;    // shorter than the last audition: padded with silence
constexpr std::int64_t kAuditionFrames = 12000;  // "aud 0.25" at 48 kHz

struct PlayRangeCase {
  int block;
  int mixMode;
};

struct PlayedRun {
  std::int64_t start, stop;
  bool soloed;  // channels 1 and 4 only
};

class PlayRangeTest : public VifLoopTest, public ::testing::WithParamInterface<PlayRangeCase> {
 protected:
  // 22-bit samples, so two added in a mix never clip. Input 5 has no output: its take is silence, and no output plays
  // it when it is auditioned. Track 2 has the header other programs write (extensible, with a fact chunk): its audio
  // starts 36 bytes later than the others', which playback must follow.
  void WriteTracks() {
    std::string playlist;
    for (std::uint32_t k = 0; k < kOutputs; ++k) {
      tracks_.push_back(WriteTrack("t" + std::to_string(k + 1) + ".wav", k, kTrackLength, 22));
      playlist += "t" + std::to_string(k + 1) + ".wav\n";
    }
    WriteFile("t2.wav",
              WavFile(0xFFFE, 1, 24, 48000, Chunk("fact", Le(kTrackLength, 4)) + Chunk("data", Pcm24(tracks_[1]))));
    WriteLists("-\n-\n-\n-\nvox.wav\n", playlist);
  }

  // At 0 dB a full pan passes a track unchanged to one side (odd channels left, even right); bus 1 takes channels 1 and
  // 2, bus 2 channels 3 and 4. So the stereo mix and the bus mix into the master put channels 1 + 3 on output 1 and
  // 2 + 4 on output 2; outputs no mix writes, and the busses of mode 2, carry their own channel.
  int Heard(int k, std::int64_t n, const PlayedRun& run) const {
    auto sample = [&](int c) { return (run.soloed && c != 0 && c != 3) || n >= kTrackLength ? 0 : tracks_[c][n]; };
    const int mode = GetParam().mixMode;
    return (mode == 1 || mode == 3) && k < 2 ? sample(k) + sample(k + 2) : sample(k);
  }

  std::vector<int> Expected(const std::vector<PlayedRun>& runs) const {
    const int block = GetParam().block;
    const std::int64_t chunk = LeadIn(block);
    std::vector<int> stream;
    for (const PlayedRun& run : runs) {
      for (std::int64_t w = 0; w < chunk + RoundUp(run.stop - run.start, block); ++w) {
        const std::int64_t n = run.start + w - chunk;
        for (int k = 0; k < kOutputs; ++k) stream.push_back(w >= chunk && n < run.stop ? Heard(k, n, run) : 0);
      }
    }
    return stream;
  }

  std::vector<std::vector<int>> tracks_;
};

TEST_P(PlayRangeTest, EveryRunThatPlaysEndsAtItsStopPoint) {
  const int block = GetParam().block;
  WriteTracks();
  for (const std::int64_t outPoint : {5000, 8192, 48000, 100000}) {
    const std::int64_t in = RoundUp(1500, block), punch = RoundUp(2500, block), out = RoundUp(outPoint, block);
    SCOPED_TRACE("out point " + std::to_string(out));
    WriteVif(kOutputs, 5, block,
             "i\t" + std::to_string(in) + "\ne\t" + std::to_string(punch) + "\no\t" + std::to_string(out) +
                 "\naud\t0.25\nsolo\t1\nsolo\t4\nclock\thc\nmix\t" + std::to_string(GetParam().mixMode) +
                 "\np\t1\t-100\np\t2\t100\np\t3\t-100\np\t4\t100\nbus\t1\t1,2,\nbus\t2\t3,4,\n",
             0, "playback_file \"" + (project_ / "played.raw").string() + "\"");
    // p, sp, ai, ao, ae, then the take menu's audition of the whole take and of each quarter of it.
    std::vector<PlayedRun> runs = {{in, out, false},
                                   {in, out, true},
                                   {in, in + kAuditionFrames, false},
                                   {out, out + kAuditionFrames, false},
                                   {punch, punch + kAuditionFrames, false},
                                   {punch, out, false}};
    const std::int64_t q = (out - punch) / 4;
    for (int k = 0; k < 4; ++k) runs.push_back({punch + k * q, out - (3 - k) * q, false});
    const RunResult r = RunChecked("p sp ai ao ae R aud 0 aud 1 aud 2 aud 3 aud 4 del x\n", 0);
    EXPECT_EQ(r.out.find("PX"), std::string::npos) << r.out;
    const std::vector<int> played = ReadSamples("played.raw", 0);
    const std::vector<int> expected = Expected(runs);
    std::size_t i = 0;
    while (i < played.size() && i < expected.size() && played[i] == expected[i]) ++i;
    EXPECT_TRUE(played == expected) << "first difference at frame " << i / kOutputs << ", output "
                                    << i % kOutputs + 1 << "; " << played.size() << " samples played, "
                                    << expected.size() << " expected";
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
