// End to end on the virtual interface: a recording made while playing lines
// up with the played tracks. Every output loops to its input through a cable
// of known latency, so each take must be its track, shifted by exactly the
// difference between the cable and the latency the transport allows for.
//
// The transport starts capturing once it has written the capture threshold
// (P + C) x B + K frames since its counting started (P periods of B frames
// in the playback buffer, C = odcomp when the in and punch points differ,
// else 0, and K = 4096 frames per chunk for the chunk of silence every run
// starts with; K is the most whole blocks that fit in 4096 when B does not
// divide it). With the playback buffer kept full, what is heard at that
// moment lies P x B frames behind what was written, so:
//   in = punch:                take[j] = track[punch + j - L]
//   punch >= in + K + B:       take[j] = track[punch + j - L + C x B - K - B]
// The second case differs because the counting starts when the position of
// the chunk being loaded reaches the punch point: two chunks ahead of the
// audio being written. A take therefore lines up exactly when the cable
// latency L is
//   0                 with in = punch, and
//   C x B - K - B     with the punch point well after the in point
// (for B = 1024: odcomp 5 suits a cable of 0 frames, odcomp 9 one of 4096;
// the default odcomp 4 records 1024 frames early on a cable of 0 frames).
#include "../vif/vif_project.h"

namespace sondrel::e2e {
namespace {

struct AlignmentCase {
  int block;
  int outputs;
  bool punchAfterIn;
  int odcomp;
};

std::string Describe(const ::testing::TestParamInfo<AlignmentCase>& info) {
  const AlignmentCase& c = info.param;
  return "B" + std::to_string(c.block) + "_out" + std::to_string(c.outputs) +
         (c.punchAfterIn ? "_punchAfterIn_odcomp" + std::to_string(c.odcomp) : "_inIsPunch");
}

// Frames per file transfer: 4096, or the most whole blocks that fit in 4096
// when a device grants a block that does not divide it.
std::int64_t ChunkFrames(int block) { return static_cast<std::int64_t>(block) * (4096 / block); }

// The cable latency at which the take lines up exactly with its track.
std::int64_t AligningLatency(const AlignmentCase& c) {
  return c.punchAfterIn ? static_cast<std::int64_t>(c.odcomp) * c.block - ChunkFrames(c.block) - c.block : 0;
}

std::int64_t RoundUp(std::int64_t value, int block) { return (value + block - 1) / block * block; }

class VifAlignmentTest : public VifProjectTest, public ::testing::WithParamInterface<AlignmentCase> {};

// Records every input while playing one track per output, over a cable that
// lines the take up and over one 333 frames longer: the measured shift must
// follow the cable frame for frame, and every take sample must be the
// track's sample at that shift. The input with no output records silence.
TEST_P(VifAlignmentTest, TakesLineUpWithThePlayedTracksAtTheStatedLatency) {
  const AlignmentCase c = GetParam();
  const int inputs = c.outputs + 1;
  // Positions on the block grid, as the program keeps them.
  const std::int64_t in = c.punchAfterIn ? RoundUp(4096, c.block) : 0;
  const std::int64_t punch = c.punchAfterIn ? RoundUp(4 * 4096, c.block) : 0;
  const std::int64_t out = RoundUp(punch + 10000, c.block);
  const int trackLength = static_cast<int>(out + 8192);
  std::string playlist;
  std::string recordlist;
  for (int k = 0; k < c.outputs; ++k) {
    WriteWav("track" + std::to_string(k + 1) + ".wav", Track(k, trackLength), 48000);
    playlist += "track" + std::to_string(k + 1) + ".wav\n";
  }
  for (int k = 0; k < inputs; ++k) recordlist += "in" + std::to_string(k + 1) + ".wav\n";
  WriteFile("play.txt", playlist);
  WriteFile("record.txt", recordlist);
  WriteVifParams(c.outputs, inputs, c.block,
                 "odcomp\t" + std::to_string(c.odcomp) + "\ni\t" + std::to_string(in) + "\ne\t" +
                     std::to_string(punch) + "\no\t" + std::to_string(out) + "\nclock\thc\n");

  const std::int64_t aligned = AligningLatency(c);
  for (const std::int64_t latency : {std::max<std::int64_t>(aligned, 0), std::max<std::int64_t>(aligned, 0) + 333}) {
    SCOPED_TRACE("cable latency " + std::to_string(latency));
    std::filesystem::remove(root_ / "vif.shm");
    for (const std::string& old : NamesMatching("in[0-9]+_t.*\\.wav")) std::filesystem::remove(project_ / old);
    VifDevice device;
    device.latency = static_cast<int>(latency);
    WriteVifDevice(device);
    const RunResult r = Run("r_t x\n");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_NE(r.out.find("Playing and Recording..."), std::string::npos) << r.out;
    const std::string suffix = punch == 0 ? "_t.wav" : "_t_stp_" + std::to_string(punch) + ".wav";
    std::int64_t shift = 0;
    for (int k = 0; k < inputs; ++k) {
      const std::vector<int> take = ReadSamples("in" + std::to_string(k + 1) + suffix);
      ASSERT_EQ(static_cast<std::int64_t>(take.size()), out - punch) << "input " << k + 1;
      if (k == c.outputs) {
        EXPECT_EQ(take, std::vector<int>(take.size(), 0)) << "an input without an output is silent";
        continue;
      }
      const std::vector<int> track = Track(k, trackLength);
      ASSERT_TRUE(FindShift(take, track, punch, shift)) << "input " << k + 1;
      EXPECT_EQ(latency - shift, aligned) << "measured aligning latency, input " << k + 1;
      for (std::size_t j = 0; j < take.size(); ++j) {
        const std::int64_t t = punch + static_cast<std::int64_t>(j) - shift;
        const int expected = t >= in && t < trackLength ? track[t] : 0;
        ASSERT_EQ(take[j], expected) << "input " << k + 1 << " take sample " << j;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cables, VifAlignmentTest,
    ::testing::Values(AlignmentCase{32, 1, false, 4}, AlignmentCase{64, 8, false, 4},
                      AlignmentCase{1024, 2, false, 4}, AlignmentCase{4096, 3, false, 4},
                      AlignmentCase{32, 2, true, 4}, AlignmentCase{256, 5, true, 20},
                      AlignmentCase{1024, 2, true, 4}, AlignmentCase{1024, 1, true, 9},
                      AlignmentCase{4096, 2, true, 4}, AlignmentCase{1000, 2, false, 4},
                      AlignmentCase{1000, 1, true, 9}),
    Describe);

}  // namespace
}  // namespace sondrel::e2e
