// End to end on the virtual interface: recording over existing tracks.
// Replacing a track silences its old take from the punch point on, and a
// crossfaded punch-in changes the record file only inside the punched region.
#include <cmath>

#include "../vif/vif_project.h"

namespace sondrel::e2e {
namespace {

using VifPunchTest = VifProjectTest;

// Channel 1 records over the file it plays: the outputs carry the old take
// up to the punch point and silence after it, and a cable 2048 frames long
// brings the last 2048 frames before the punch point into the new take.
TEST_F(VifPunchTest, AReplacedTrackIsHeardUpToThePunchPointOnly) {
  const std::int64_t punch = 16384;
  const std::int64_t out = 32768;
  const int length = 40000;
  const std::vector<int> song = Track(0, length);
  const std::vector<int> other = Track(1, length);
  WriteWav("song.wav", song, 48000);
  WriteWav("other.wav", other, 48000);
  WriteFile("play.txt", "song.wav\nother.wav\n");
  WriteFile("record.txt", "song.wav\nin2.wav\n");
  // odcomp 5 lines the take up on a cable of no latency (B = 1024).
  WriteVifParams(2, 2, 1024, "odcomp\t5\ni\t0\ne\t16384\no\t32768\n");
  VifDevice device;
  device.latency = 2048;
  device.keepPlayback = true;
  WriteVifDevice(device);

  const RunResult r = Run("r_t x\n");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::vector<int>> played = Played(2);
  ASSERT_GE(static_cast<std::int64_t>(played[0].size()), 4096 + out);
  for (std::size_t w = 0; w < played[0].size(); ++w) {
    const std::int64_t t = static_cast<std::int64_t>(w) - 4096;  // the first chunk is silence
    ASSERT_EQ(played[0][w], t >= 0 && t < punch ? song[t] : 0) << "output 1 frame " << w;
    ASSERT_EQ(played[1][w], t >= 0 && t < length ? other[t] : 0) << "output 2 frame " << w;
  }
  const std::vector<int> take1 = ReadSamples("song_t_stp_16384.wav");
  const std::vector<int> take2 = ReadSamples("in2_t_stp_16384.wav");
  ASSERT_EQ(static_cast<std::int64_t>(take1.size()), out - punch);
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
  const std::vector<int> guide = Track(0, length + 8192);
  const std::vector<int> guide2 = Track(5, length + 8192);
  WriteWav("guide.wav", guide, 48000);
  WriteWav("guide2.wav", guide2, 48000);
  WriteLists("vox.wav\n", "guide.wav\n");
  WriteVifDevice({});
  WriteVifParams(1, 1, 1024, "i\t0\ne\t0\no\t40960\nxfade\t10.0\n");
  const RunResult first = Run("r rep x\n");
  ASSERT_EQ(first.status, 0) << first.err;
  const std::vector<int> before = ReadSamples("vox.wav");
  ASSERT_EQ(before, std::vector<int>(guide.begin(), guide.begin() + length)) << first.out;

  const std::int64_t punch = 12288;
  const std::int64_t end = 24576;
  std::filesystem::remove(root_ / "vif.shm");
  WriteFile("play.txt", "guide2.wav\n");
  WriteVifParams(1, 1, 1024, "i\t12288\ne\t12288\no\t24576\nxfade\t10.0\n");
  const RunResult second = Run("r ins x\n");
  ASSERT_EQ(second.status, 0) << second.err;
  const std::vector<int> after = ReadSamples("vox.wav");
  ASSERT_EQ(after.size(), before.size());
  const std::int64_t fade = 480;  // 10 ms at 48 kHz, both halves
  const double quarterTurn = std::acos(0.0);
  for (std::int64_t n = 0; n < static_cast<std::int64_t>(after.size()); ++n) {
    if (n < punch || n >= end) {
      ASSERT_EQ(after[n], before[n]) << "outside the punch-in, sample " << n;
    } else if (n >= punch + fade && n < end - fade) {
      ASSERT_EQ(after[n], guide2[n]) << "inside the punch-in, sample " << n;
    } else {
      // Equal-power fades: old into new at the start, new into old at the end.
      const bool in = n < punch + fade;
      const double theta = static_cast<double>(in ? n - punch : n - (end - fade)) / fade * quarterTurn;
      const double from = in ? before[n] : guide2[n];
      const double to = in ? guide2[n] : before[n];
      const double mixed = std::clamp(std::trunc(from * std::cos(theta) + to * std::sin(theta)), -8388608.0, 8388607.0);
      ASSERT_NEAR(after[n], mixed, 1.0) << "crossfade, sample " << n;
    }
  }
  EXPECT_TRUE(NamesMatching("audio_ch_.*|xfade_temp.*").empty());
}

}  // namespace
}  // namespace sondrel::e2e
