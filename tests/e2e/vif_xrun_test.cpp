// End to end on the virtual interface: xruns in the middle of a recording.
// The interface loses exactly one period at chosen stream positions, as if
// the program had been one period late, and goes on at the same place on
// its clock. A transport that counts the lost block as moved keeps every
// later sample of the take on its timeline; one that waited or retried would
// shift the rest of the take.
#include "../vif/vif_project.h"

namespace sondrel::e2e {
namespace {

struct XrunCase {
  int block;
  bool punchAfterIn;
};

class VifXrunTest : public VifProjectTest, public ::testing::WithParamInterface<XrunCase> {};

TEST_P(VifXrunTest, LostBlocksAreSilenceAndEverythingElseStaysInPlace) {
  const XrunCase c = GetParam();
  const int block = c.block;
  // odcomp 5 lines a take up on a cable of no latency when B is 1024 (see
  // vif_alignment_test.cpp); with in = punch odcomp plays no part.
  const std::int64_t in = c.punchAfterIn ? 4096 : 0;
  const std::int64_t punch = c.punchAfterIn ? 16384 : 0;
  const std::int64_t out = punch + 40960;
  const int trackLength = static_cast<int>(out + 8192);
  WriteWav("a.wav", Track(0, trackLength), 48000);
  WriteWav("b.wav", Track(1, trackLength), 48000);
  WriteFile("play.txt", "a.wav\nb.wav\n");
  WriteFile("record.txt", "x.wav\ny.wav\n");
  WriteVifParams(2, 2, block,
                 "odcomp\t5\ni\t" + std::to_string(in) + "\ne\t" + std::to_string(punch) + "\no\t" +
                     std::to_string(out) + "\n");
  // Positions count the frames each stream has moved since it was opened:
  // playback frame w carries timeline position in + w - 4096 (the first
  // chunk is silence), capture frame j is take sample j.
  const std::vector<std::int64_t> lostWrites{punch + 18432, punch + 30720};
  const std::int64_t lostRead = 20480;
  VifDevice device;
  device.playbackXruns = lostWrites;
  device.captureXruns = {lostRead};
  WriteVifDevice(device);

  const RunResult r = Run("r_t x\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(CountOf(r.out, "\nPX\n"), 2) << r.out;
  EXPECT_EQ(CountOf(r.out, "\nRX\n"), 1);
  // Reported as they happen, counted after the run.
  EXPECT_LT(r.out.find("\nPX\n"), r.out.find("Output Channel Peaks"));
  EXPECT_LT(r.out.find("\nRX\n"), r.out.find("Output Channel Peaks"));
  EXPECT_NE(r.out.find("\nPlay Underruns = 2\n"), std::string::npos);
  EXPECT_NE(r.out.find("\nRecord Overruns = 1\n"), std::string::npos);

  auto silent = [&](std::int64_t j) {
    const std::int64_t t = punch + j;  // timeline position of take sample j
    for (std::int64_t w : lostWrites) {
      const std::int64_t lostStart = in + w - 4096;
      if (t >= lostStart && t < lostStart + block) return true;
    }
    return j >= lostRead && j < lostRead + block;
  };
  const std::string suffix = punch == 0 ? "_t.wav" : "_t_stp_" + std::to_string(punch) + ".wav";
  for (int k = 0; k < 2; ++k) {
    const std::vector<int> take = ReadSamples(std::string(k == 0 ? "x" : "y") + suffix);
    ASSERT_EQ(static_cast<std::int64_t>(take.size()), out - punch);
    const std::vector<int> track = Track(k, trackLength);
    for (std::size_t j = 0; j < take.size(); ++j) {
      const int expected = silent(static_cast<std::int64_t>(j)) ? 0 : track[punch + j];
      ASSERT_EQ(take[j], expected) << "input " << k + 1 << " take sample " << j;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Blocks, VifXrunTest,
                         ::testing::Values(XrunCase{256, false}, XrunCase{1024, false}, XrunCase{1024, true}),
                         [](const ::testing::TestParamInfo<XrunCase>& info) {
                           return "B" + std::to_string(info.param.block) +
                                  (info.param.punchAfterIn ? "_punchAfterIn" : "_inIsPunch");
                         });

}  // namespace
}  // namespace sondrel::e2e
