// End to end on the virtual interface: every output loops to its input
// through a cable of known latency, so each take can be checked sample by
// sample against the tracks played while it was recorded.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/vif_loop.h"

namespace sondrel::e2e {
namespace {

// A device that cannot serve the project ends the set-up with status 1: fewer channels than a first run asks for
// (and no param.txt is written), or a rate below the device's range.
TEST_F(VifLoopTest, ADeviceThatCannotServeTheProjectEndsTheSetUp) {
  WriteVif(2, 2, 1024, "", 0, "channels 2");
  std::filesystem::remove(project_ / "param.txt");
  const std::string hint = "Use a plughw: device to convert, or change inputs, outputs or sr in param.txt\n";
  EXPECT_EQ(RunChecked("c 3 2 3 vif 2 x\n", 1).err,
            "The device grants 2 capture channels at 48000 Hz; the project needs 3 at 48000 Hz\n" + hint);
  EXPECT_FALSE(Exists("param.txt"));
  WriteVif(2, 2, 1024, "sr\t500\n");
  EXPECT_NE(RunChecked("x\n", 1).err.find("playback channels at 1000 Hz; the project needs 2 at 500 Hz\n"),
            std::string::npos);
}

std::int64_t RoundUp(std::int64_t value, int block) { return (value + block - 1) / block * block; }

// A project that has not measured its interface's latency places its takes
// as the transport always has: a take lines up on a cable of 0 frames with
// in = punch, and of C x B - K - B frames with the punch point well after the
// in point, where B is the block, C = odcomp and K the silent chunk every
// run starts with (the most whole blocks in 4096); for B = 1024 odcomp 5
// suits a cable of 0 frames, odcomp 9 one of 4096.
struct AlignmentCase {
  int block;
  int outputs;
  bool punchAfterIn;
  int odcomp;
  bool xruns = false;
};

class VifAlignmentTest : public VifLoopTest, public ::testing::WithParamInterface<AlignmentCase> {};

// Records every input while playing one track per output over the cable
// that lines the take up (none if even that leaves it early): every take
// sample must be its track's sample at that place on the timeline, and an
// input with no output records silence. An injected xrun loses one block and
// is reported; the block counts as moved, so the rest of the take stays put.
TEST_P(VifAlignmentTest, TakesLineUpWithThePlayedTracksAtTheStatedLatency) {
  const AlignmentCase c = GetParam();
  const int inputs = c.outputs + 1;
  const std::int64_t chunk = c.block * (4096 / c.block);
  // Positions on the block grid, as the program keeps them.
  const std::int64_t in = c.punchAfterIn ? RoundUp(4096, c.block) : 0;
  const std::int64_t punch = c.punchAfterIn ? RoundUp(4 * 4096, c.block) : 0;
  const std::int64_t out = RoundUp(punch + 10000, c.block);
  const std::int64_t aligned = c.punchAfterIn ? std::int64_t{c.odcomp} * c.block - chunk - c.block : 0;
  std::string playlist;
  std::string recordlist;
  std::vector<std::vector<int>> tracks;
  for (int k = 0; k < inputs; ++k) {
    recordlist += "in" + std::to_string(k + 1) + ".wav\n";
    if (k == c.outputs) break;
    playlist += "track" + std::to_string(k + 1) + ".wav\n";
    tracks.push_back(WriteTrack("track" + std::to_string(k + 1) + ".wav", k, out + 8192));
  }
  WriteLists(recordlist, playlist);
  const std::string params = "odcomp\t" + std::to_string(c.odcomp) + "\ni\t" + std::to_string(in) + "\ne\t" +
                             std::to_string(punch) + "\no\t" + std::to_string(out) + "\nclock\thc\n";
  // Xruns once the take runs. The device counts each stream's frames since
  // it was opened: playback frame w carries timeline position in + w - K (the
  // first chunk is silence); capture starts with playback, so capture frame
  // w + j is take sample j, where w is the frame heard as the take begins.
  // The first is lost while the take's first frames are on their way to the
  // outputs, before the capture reads them: it must not move the rest of
  // the take (it once moved it by a block or more).
  const std::int64_t lostPlays[] = {punch + (c.punchAfterIn ? 0 : 512), punch + 6144, punch + 8192};
  const std::int64_t lostRead = 4096;
  const std::int64_t takeStart = punch + aligned - in + chunk;
  std::string xruns = "xrun_playback [ ";
  for (const std::int64_t p : lostPlays) xruns += std::to_string(p - in + chunk) + " ";
  xruns += "] xrun_capture " + std::to_string(takeStart + lostRead);
  // Whether timeline position t, heard as take sample j, fell in a lost block.
  auto lost = [&](std::int64_t t, std::int64_t j) {
    for (const std::int64_t p : lostPlays) {
      if (t >= p && t < p + c.block) return c.xruns;
    }
    return c.xruns && j >= lostRead && j < lostRead + c.block;
  };

  const std::int64_t latency = std::max<std::int64_t>(aligned, 0);
  WriteVif(c.outputs, inputs, c.block, params, latency, c.xruns ? xruns : "");
  const RunResult r = Run("r_t x\n");
  ASSERT_EQ(r.status, 0) << r.err;
  // Xruns are reported as they happen, and counted after the run.
  const std::size_t start = r.out.find("Playing and Recording...");
  const std::string running = r.out.substr(start, r.out.find("Output Channel Peaks", start) - start);
  EXPECT_EQ(CountOf(running, "\nPX\n"), c.xruns ? 3 : 0) << r.out;
  EXPECT_EQ(CountOf(running, "\nRX\n"), c.xruns ? 1 : 0);
  EXPECT_EQ(CountOf(r.out, "\nPlay Underruns = 3\n\nRecord Overruns = 1\n"), c.xruns ? 1 : 0);
  const std::string suffix = punch == 0 ? "_t.wav" : "_t_stp_" + std::to_string(punch) + ".wav";
  for (int k = 0; k < inputs; ++k) {
    const std::vector<int> take = ReadSamples("in" + std::to_string(k + 1) + suffix);
    ASSERT_EQ(static_cast<std::int64_t>(take.size()), out - punch) << "input " << k + 1;
    for (std::int64_t j = 0; j < static_cast<std::int64_t>(take.size()); ++j) {
      const std::int64_t t = punch + j - (latency - aligned);
      const bool heard = k < c.outputs && t >= in && !lost(t, j);
      ASSERT_EQ(take[j], heard ? tracks[k][t] : 0) << "input " << k + 1 << " take sample " << j;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cables, VifAlignmentTest,
                         ::testing::Values(AlignmentCase{64, 8, false, 4}, AlignmentCase{256, 2, false, 4, true},
                                           AlignmentCase{4096, 3, false, 4}, AlignmentCase{1000, 2, false, 4},
                                           AlignmentCase{32, 2, true, 4}, AlignmentCase{256, 5, true, 20},
                                           AlignmentCase{1024, 2, true, 4, true}, AlignmentCase{1024, 1, true, 9},
                                           AlignmentCase{4096, 2, true, 4}, AlignmentCase{1000, 1, true, 9}),
                         [](const ::testing::TestParamInfo<AlignmentCase>& info) {
                           const AlignmentCase& c = info.param;
                           return "B" + std::to_string(c.block) + "_out" + std::to_string(c.outputs) +
                                  (c.punchAfterIn ? "_punchAfterIn_odcomp" + std::to_string(c.odcomp) : "_inIsPunch") +
                                  (c.xruns ? "_xruns" : "");
                         });

// A stream that falls a period behind the other with nothing reported, as a
// sound server's stream does when the server leaves it out of a cycle.
struct SlipCase {
  int block;
  bool capture;       // which stream slips
  std::int64_t at;    // the take sample heard as it slips; negative: in the lead-in
};

class VifSlipTest : public VifLoopTest, public ::testing::WithParamInterface<SlipCase> {};

// A slip in the lead-in only moves the take's start: the take is its track,
// and nothing is reported. A slip during the take loses a stretch: the run
// reports it like an xrun, and once the new distance has settled (within a
// chunk or so) every take sample is back at its place. In between a sample
// is silence, its own, or the one a period away.
TEST_P(VifSlipTest, ATakeKeepsItsPlaceAcrossAStreamThatFellBehind) {
  const SlipCase c = GetParam();
  const std::int64_t chunk = c.block * (4096 / c.block);
  const std::int64_t length = 32768;
  const std::vector<int> track = WriteTrack("track.wav", 0, length + 8192);
  WriteLists("in.wav\n", "track.wav\n");
  // Both streams' frame chunk + j carry take sample j (the first chunk is the run's silence).
  const std::string slip = (c.capture ? "slip_capture " : "slip_playback ") + std::to_string(chunk + c.at);
  WriteVif(1, 1, c.block, "i\t0\ne\t0\no\t" + std::to_string(length) + "\nclock\thc\n", 0, slip);
  const RunResult r = Run("r_t x\n");
  ASSERT_EQ(r.status, 0) << r.err;
  const bool loses = c.at >= 0;
  EXPECT_EQ(CountOf(r.out, c.capture ? "\nRX\n" : "\nPX\n"), loses ? 1 : 0) << r.out;
  EXPECT_EQ(CountOf(r.out, c.capture ? "\nPX\n" : "\nRX\n"), 0);
  const std::vector<int> take = ReadSamples("in_t.wav");
  ASSERT_EQ(static_cast<std::int64_t>(take.size()), length);
  const std::int64_t period = c.block;
  for (std::int64_t j = 0; j < length; ++j) {
    // The slip also moves what the outputs had queued, up to a chunk before it.
    if (loses && j >= c.at - chunk && j < c.at + 2 * chunk) {
      ASSERT_TRUE(take[j] == 0 || take[j] == track[j] || take[j] == track[j + period] ||
                  (j >= period && take[j] == track[j - period]))
          << "take sample " << j;
    } else {
      ASSERT_EQ(take[j], track[j]) << "take sample " << j;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Streams, VifSlipTest,
                         ::testing::Values(SlipCase{256, true, -2048}, SlipCase{256, false, -2048},
                                           SlipCase{256, true, 12288}, SlipCase{256, false, 12288},
                                           SlipCase{1024, true, 12288}, SlipCase{64, false, 12288}),
                         [](const ::testing::TestParamInfo<SlipCase>& info) {
                           const SlipCase& c = info.param;
                           return "B" + std::to_string(c.block) + (c.capture ? "_capture" : "_playback") +
                                  (c.at < 0 ? "_inTheLeadIn" : "_duringTheTake");
                         });

using VifPunchTest = VifLoopTest;

// Channel 1 records over the file it plays: its output carries the old take
// up to the punch point and silence after it, which a cable 2048 frames long
// brings into the new take on both sides of the punch point.
TEST_F(VifPunchTest, AReplacedTrackIsHeardUpToThePunchPointOnly) {
  const std::int64_t punch = 16384;
  const std::vector<int> song = WriteTrack("song.wav", 0, 40000);
  const std::vector<int> other = WriteTrack("other.wav", 1, 40000);
  WriteLists("song.wav\nin2.wav\n", "song.wav\nother.wav\n");
  // odcomp 5 lines the take up on a cable of no latency (B = 1024).
  WriteVif(2, 2, 1024, "odcomp\t5\ni\t0\ne\t16384\no\t32768\n", 2048);
  const RunResult r = Run("r_t x\n");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<int> take1 = ReadSamples("song_t_stp_16384.wav");
  const std::vector<int> take2 = ReadSamples("in2_t_stp_16384.wav");
  ASSERT_EQ(take1.size(), 32768u - punch);
  ASSERT_EQ(take2.size(), take1.size());
  for (std::size_t j = 0; j < take1.size(); ++j) {
    const std::int64_t t = punch + static_cast<std::int64_t>(j) - 2048;
    ASSERT_EQ(take1[j], t < punch ? song[t] : 0) << "take 1 sample " << j;
    ASSERT_EQ(take2[j], other[t]) << "take 2 sample " << j;
  }
  // The preset take name kept the old file as it was.
  EXPECT_EQ(ReadSamples("song.wav"), song);
}

// A first recording becomes vox.wav ("rep"); a second one, played from a
// different guide, is punched into it with 10 ms crossfades ("ins").
TEST_F(VifPunchTest, ACrossfadedPunchInChangesOnlyThePunchedRegion) {
  const int length = 40960;
  const std::vector<int> guide = WriteTrack("guide.wav", 0, length + 8192);
  const std::vector<int> guide2 = WriteTrack("guide2.wav", 5, length + 8192);
  WriteLists("vox.wav\n", "guide.wav\n");
  WriteVif(1, 1, 1024, "i\t0\ne\t0\no\t40960\nxfade\t10.0\n");
  const RunResult first = Run("r rep x\n");
  ASSERT_EQ(first.status, 0) << first.err;
  const std::vector<int> before = ReadSamples("vox.wav");
  ASSERT_EQ(before, std::vector<int>(guide.begin(), guide.begin() + length)) << first.out;

  const std::int64_t punch = 12288;
  const std::int64_t end = 24576;
  WriteLists("vox.wav\n", "guide2.wav\n");
  WriteVif(1, 1, 1024, "i\t12288\ne\t12288\no\t24576\nxfade\t10.0\n");
  const RunResult second = Run("r ins x\n");
  ASSERT_EQ(second.status, 0) << second.err;
  const std::vector<int> after = ReadSamples("vox.wav");
  ASSERT_EQ(after.size(), before.size());
  // 10 ms fades at 48 kHz inside the region blend the old and the new take
  // (their power law is the take-file test's).
  const std::int64_t fade = 480;
  int blended = 0;
  for (std::int64_t n = 0; n < static_cast<std::int64_t>(after.size()); ++n) {
    if (n < punch || n >= end) {
      ASSERT_EQ(after[n], before[n]) << "outside the punch-in, sample " << n;
    } else if (n >= punch + fade && n < end - fade) {
      ASSERT_EQ(after[n], guide2[n]) << "inside the punch-in, sample " << n;
    } else {
      blended += after[n] != before[n] && after[n] != guide2[n];
    }
  }
  EXPECT_GT(blended, 2 * fade - 8);
  EXPECT_TRUE(NamesMatching("audio_ch_.*|xfade_temp.*").empty());
}

}  // namespace
}  // namespace sondrel::e2e
