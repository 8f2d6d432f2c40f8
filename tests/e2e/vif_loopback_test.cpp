// End to end on the virtual interface: every output loops to its input through a cable of known latency, so each take
// can be checked sample by sample against the tracks played while it was recorded.
#include <algorithm>
#include <cstdint>
#include <set>
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

// A project that has not measured its interface's latency places its takes as the transport always has: a take lines up
// on a cable of 0 frames with in = punch, and of C x B - K - B frames with the punch point well after the in point,
// where B is the block, C = odcomp and K the silent chunk every run starts with (the most whole blocks in 4096); for
// B = 1024 odcomp 5 suits a cable of 0 frames, odcomp 9 one of 4096.
struct TakeCase {
  int block;
  int outputs;
  bool punchAfterIn = false;
  int odcomp = 4;
  bool xruns = false;
  // A stream that falls a period behind the other with nothing reported, as a sound server's stream does when the
  // server leaves it out of a cycle: which one ("capture" or "playback"), and the take sample heard as it slips
  // (negative: in the lead-in).
  const char* slips = nullptr;
  std::int64_t slipAt = 0;
  // Input 1 records over the file output 1 plays, on a cable this much longer than the one that lines the take up.
  bool overdub = false;
  std::int64_t longerCable = 0;
  // The takes go into record files of other audio ("ins"), with 10 ms fades.
  bool crossfade = false;
};

class VifAlignmentTest : public VifLoopTest, public ::testing::WithParamInterface<TakeCase> {};

// Records every input while playing one track per output over the cable that lines the take up (none if even that
// leaves it early): every take sample must be its track's sample at that place on the timeline, and an input with no
// output records silence. An injected xrun loses one block and is reported; the block counts as moved, so the rest of
// the take stays put. A slip in the lead-in only moves the take's start: the take is its track, and nothing is
// reported. A slip during the take loses a stretch: the run reports it like an xrun, and once the new distance has
// settled (within a chunk or so) every take sample is back at its place; in between a sample is silence, its own, or
// the one a period away. A track that is also the record file is heard up to the punch point only, and its preset take
// name keeps the old file as it was. A crossfaded punch-in changes its record file only where the take goes, and blends
// old and new at both ends of the take.
TEST_P(VifAlignmentTest, TakesHoldThePlayedTracksWhereTheCableBringsThem) {
  const TakeCase c = GetParam();
  const int inputs = c.outputs + 1;
  const std::int64_t chunk = LeadIn(c.block);
  // Positions on the block grid, as the program keeps them.
  const std::int64_t in = c.punchAfterIn ? RoundUp(4096, c.block) : 0;
  const std::int64_t punch = c.punchAfterIn ? RoundUp(4 * 4096, c.block) : 0;
  const std::int64_t out = RoundUp(punch + 32768, c.block);
  const std::int64_t aligned = c.punchAfterIn ? std::int64_t{c.odcomp} * c.block - chunk - c.block : 0;
  // The file input k records: its own, or the one output 1 plays.
  const auto recorded = [&](int k) {
    return c.overdub && k == 0 ? std::string("track1") : "in" + std::to_string(k + 1);
  };
  std::string playlist;
  std::string recordlist;
  std::vector<std::vector<int>> tracks, old;
  std::set<std::string> punched;
  for (int k = 0; k < inputs; ++k) {
    recordlist += recorded(k) + ".wav\n";
    if (c.crossfade) {
      punched.insert(recorded(k) + ".wav");
      old.push_back(WriteTrack(recorded(k) + ".wav", 50 + k, out + 4096));
    }
    if (k == c.outputs) break;
    playlist += "track" + std::to_string(k + 1) + ".wav\n";
    tracks.push_back(WriteTrack("track" + std::to_string(k + 1) + ".wav", k, out + 8192));
  }
  WriteLists(recordlist, playlist);
  const std::string params = "odcomp\t" + std::to_string(c.odcomp) + "\ni\t" + std::to_string(in) + "\ne\t" +
                             std::to_string(punch) + "\no\t" + std::to_string(out) + "\nclock\thc\n" +
                             (c.crossfade ? "xfade\t10.0\n" : "");
  // Xruns once the take runs. The device counts each stream's frames since it was opened: playback frame w carries
  // timeline position in + w - K (the first chunk is silence); capture starts with playback, so capture frame w + j is
  // take sample j, where w is the frame heard as the take begins. The first is lost while the take's first frames are
  // on their way to the outputs, before the capture reads them: it must not move the rest of the take (it once moved it
  // by a block or more).
  const std::int64_t lostPlays[] = {punch + (c.punchAfterIn ? 0 : 512), punch + 6144, punch + 8192};
  const std::int64_t lostRead = 4096;
  const std::int64_t takeStart = punch + aligned - in + chunk;
  std::string faults;
  if (c.xruns) {
    faults = "xrun_playback [ ";
    for (const std::int64_t p : lostPlays) faults += std::to_string(p - in + chunk) + " ";
    faults += "] xrun_capture " + std::to_string(takeStart + lostRead);
  }
  // A slip goes at the stream's frame that carries its take sample, found the same way.
  const std::string slips = c.slips != nullptr ? c.slips : "";
  if (!slips.empty()) {
    const std::int64_t frame = slips == "capture" ? takeStart + c.slipAt : punch + c.slipAt - in + chunk;
    faults = "slip_" + slips + " " + std::to_string(frame);
  }
  // Whether timeline position t, heard as take sample j, fell in a lost block.
  auto lost = [&](std::int64_t t, std::int64_t j) {
    for (const std::int64_t p : lostPlays) {
      if (t >= p && t < p + c.block) return c.xruns;
    }
    return c.xruns && j >= lostRead && j < lostRead + c.block;
  };

  const std::int64_t latency = std::max<std::int64_t>(aligned, 0) + c.longerCable;
  WriteVif(c.outputs, inputs, c.block, params, latency, faults);
  // Also: the played tracks stay as they were, and no work file is left.
  const RunResult r = RunChecked(c.crossfade ? "r ins x\n" : "r_t x\n", 0, punched);
  // Xruns, and slips that lose a stretch, are reported as they happen; xruns are counted after the run.
  const bool slipLoses = !slips.empty() && c.slipAt >= 0;
  const std::size_t start = r.out.find("Playing and Recording...");
  const std::string running = r.out.substr(start, r.out.find("Output Channel Peaks", start) - start);
  EXPECT_EQ(CountOf(running, "\nPX\n"), (c.xruns ? 3 : 0) + (slipLoses && slips == "playback")) << r.out;
  EXPECT_EQ(CountOf(running, "\nRX\n"), (c.xruns ? 1 : 0) + (slipLoses && slips == "capture"));
  EXPECT_EQ(CountOf(r.out, "\nPlay Underruns = 3\n\nRecord Overruns = 1\n"), c.xruns ? 1 : 0);
  const std::string suffix = c.crossfade ? ".wav" : punch == 0 ? "_t.wav" : "_t_stp_" + std::to_string(punch) + ".wav";
  for (int k = 0; k < inputs; ++k) {
    std::vector<int> take = ReadSamples(recorded(k) + suffix);
    if (c.crossfade) {
      ASSERT_EQ(take.size(), old[k].size()) << "input " << k + 1;
      for (std::int64_t n = 0; n < static_cast<std::int64_t>(take.size()); ++n) {
        ASSERT_TRUE((n >= punch && n < out) || take[n] == old[k][n]) << "input " << k + 1 << " outside, sample " << n;
      }
      take.assign(take.begin() + punch, take.begin() + out);
    }
    ASSERT_EQ(static_cast<std::int64_t>(take.size()), out - punch) << "input " << k + 1;
    int blended = 0;
    for (std::int64_t j = 0; j < static_cast<std::int64_t>(take.size()); ++j) {
      const std::int64_t t = punch + j - (latency - aligned);
      const bool heard = k < c.outputs && t >= in && !lost(t, j) && !(c.overdub && k == 0 && t >= punch);
      // A slip also moves what the outputs had queued, up to a chunk before it.
      if (slipLoses && j >= c.slipAt - chunk && j < c.slipAt + 2 * chunk) {
        const auto track = [&](std::int64_t u) { return heard && u >= 0 && take[j] == tracks[k][u]; };
        ASSERT_TRUE(take[j] == 0 || track(t) || track(t + c.block) || track(t - c.block))
            << "input " << k + 1 << " take sample " << j;
      } else if (c.crossfade && (j < 480 || j >= out - punch - 480)) {
        // 10 ms at 48 kHz (the fades' power law is the take-file test's).
        blended += take[j] != old[k][punch + j] && take[j] != (heard ? tracks[k][t] : 0);
      } else {
        ASSERT_EQ(take[j], heard ? tracks[k][t] : 0) << "input " << k + 1 << " take sample " << j;
      }
    }
    EXPECT_TRUE(!c.crossfade || blended > 2 * 480 - 8) << "input " << k + 1 << ": " << blended << " blended";
  }
  EXPECT_TRUE(!c.crossfade || NamesMatching("audio_ch_.*").empty()) << "a take punched in was kept";
}

INSTANTIATE_TEST_SUITE_P(
    Cables, VifAlignmentTest,
    ::testing::Values(TakeCase{64, 8, false, 4}, TakeCase{256, 2, false, 4, true}, TakeCase{4096, 3, false, 4},
                      TakeCase{1000, 2, false, 4}, TakeCase{32, 2, true, 4}, TakeCase{256, 5, true, 20},
                      TakeCase{1024, 2, true, 4, true}, TakeCase{1024, 1, true, 9}, TakeCase{4096, 2, true, 4},
                      TakeCase{1000, 1, true, 9},
                      TakeCase{.block = 256, .outputs = 1, .slips = "capture", .slipAt = -2048},
                      TakeCase{.block = 256, .outputs = 1, .slips = "playback", .slipAt = -2048},
                      TakeCase{.block = 256, .outputs = 1, .slips = "capture", .slipAt = 12288},
                      TakeCase{.block = 256, .outputs = 1, .slips = "playback", .slipAt = 12288},
                      TakeCase{.block = 1024, .outputs = 1, .slips = "capture", .slipAt = 12288},
                      TakeCase{.block = 64, .outputs = 1, .slips = "playback", .slipAt = 12288},
                      // odcomp 5 lines the take up on no cable: 2048 frames more bring the old take into it.
                      TakeCase{.block = 1024, .outputs = 2, .punchAfterIn = true, .odcomp = 5, .overdub = true,
                               .longerCable = 2048},
                      TakeCase{.block = 1024, .outputs = 1, .punchAfterIn = true, .odcomp = 5, .crossfade = true}),
    [](const ::testing::TestParamInfo<TakeCase>& info) {
      const TakeCase& c = info.param;
      return "B" + std::to_string(c.block) + "_out" + std::to_string(c.outputs) +
             (c.punchAfterIn ? "_punchAfterIn_odcomp" + std::to_string(c.odcomp) : "_inIsPunch") +
             (c.xruns ? "_xruns" : "") +
             (c.slips ? std::string("_") + c.slips + (c.slipAt < 0 ? "SlipsInTheLeadIn" : "SlipsDuringTheTake") : "") +
             (c.overdub ? "_recordsOverTrack1" : "") + (c.crossfade ? "_crossfadedPunchIn" : "");
    });

}  // namespace
}  // namespace sondrel::e2e
