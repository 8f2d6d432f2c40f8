// The virtual interface's own promises, checked through the ALSA API the way
// a recorder uses it: non-interleaved blocking writes and reads of one
// period, a playback buffer of four periods, prepare after an xrun.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct PcmCloser {
  void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using Pcm = std::unique_ptr<snd_pcm_t, PcmCloser>;

struct ConfigDeleter {
  void operator()(snd_config_t* config) const { snd_config_delete(config); }
};

// A distinct, mostly non-zero 24-bit value for every channel and frame, so a
// sample that lands in the wrong place cannot pass for the right one.
int Signal(int channel, std::int64_t frame) {
  const auto v = static_cast<std::uint32_t>((frame + 1) * 7919 + channel * 104729) & 0x7FFFFF;
  return static_cast<int>(v << 8) >> 8;
}

void Put(std::uint8_t* at, int value) {
  const auto v = static_cast<std::uint32_t>(value);
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
  at[2] = static_cast<std::uint8_t>(v >> 16);
}

int Get(const std::uint8_t* at) {
  const std::uint32_t v = at[0] | at[1] << 8 | static_cast<std::uint32_t>(at[2]) << 16;
  return static_cast<int>(v << 8) >> 8;
}

class VifDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "sondrel-vif-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    pcms_.clear();
    config_.reset();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Defines ALSA device "vif" with `settings` besides its shared file.
  void Define(const std::string& settings) {
    const std::string text = "pcm_type.sondrel_vif { lib \"" SONDREL_VIF_MODULE "\" }\n"
                             "pcm.vif { type sondrel_vif file \"" +
                             (dir_ / "vif.shm").string() + "\" " + settings + " }\n";
    snd_config_t* top = nullptr;
    ASSERT_EQ(snd_config_top(&top), 0);
    config_.reset(top);
    snd_input_t* in = nullptr;
    ASSERT_EQ(snd_input_buffer_open(&in, text.data(), static_cast<ssize_t>(text.size())), 0);
    const int err = snd_config_load(top, in);
    snd_input_close(in);
    ASSERT_EQ(err, 0) << text;
  }

  // Opens and configures one stream; returns the ALSA error of the first
  // step that failed, or 0.
  int Open(snd_pcm_stream_t stream, int channels, int period, snd_pcm_t** out,
           snd_pcm_access_t access = SND_PCM_ACCESS_RW_NONINTERLEAVED,
           snd_pcm_format_t format = SND_PCM_FORMAT_S24_3LE) {
    snd_pcm_t* raw = nullptr;
    int err = snd_pcm_open_lconf(&raw, "vif", stream, 0, config_.get());
    if (err < 0) return err;
    pcms_.emplace_back(raw);
    snd_pcm_hw_params_t* params = nullptr;
    snd_pcm_hw_params_alloca(&params);
    snd_pcm_hw_params_any(raw, params);
    if ((err = snd_pcm_hw_params_set_access(raw, params, access)) < 0) return err;
    if ((err = snd_pcm_hw_params_set_format(raw, params, format)) < 0) return err;
    if ((err = snd_pcm_hw_params_set_channels(raw, params, static_cast<unsigned>(channels))) < 0) return err;
    unsigned rate = 48000;
    snd_pcm_uframes_t periodFrames = static_cast<snd_pcm_uframes_t>(period);
    snd_pcm_uframes_t bufferFrames = 4 * periodFrames;
    snd_pcm_hw_params_set_rate_near(raw, params, &rate, nullptr);
    snd_pcm_hw_params_set_period_size_near(raw, params, &periodFrames, nullptr);
    snd_pcm_hw_params_set_buffer_size_near(raw, params, &bufferFrames);
    if ((err = snd_pcm_hw_params(raw, params)) < 0) return err;
    *out = raw;
    return 0;
  }

  fs::path dir_;
  std::unique_ptr<snd_config_t, ConfigDeleter> config_;
  std::vector<Pcm> pcms_;
};

// Blocks of one period per channel, moved with snd_pcm_writen/readn.
struct Blocks {
  Blocks(int channels, int period)
      : period(period), data(static_cast<std::size_t>(channels), std::vector<std::uint8_t>(period * 3u)) {
    for (auto& channel : data) pointers.push_back(channel.data());
  }
  int period;
  std::vector<std::vector<std::uint8_t>> data;
  std::vector<void*> pointers;
};

struct LoopResult {
  std::vector<std::vector<int>> captured;  // per input
  int underruns = 0;
  int overruns = 0;
};

// Prefills the playback buffer, then reads a block and writes a block until
// `blocks` blocks are captured. Xruns are handled by counting the block as
// moved and preparing the stream again; a lost capture block is silence.
LoopResult RunLoop(snd_pcm_t* play, snd_pcm_t* cap, int outputs, int inputs, int period, int blocks) {
  LoopResult result;
  result.captured.resize(static_cast<std::size_t>(inputs));
  Blocks out(outputs, period);
  Blocks in(inputs, period);
  int next = 0;
  auto write = [&] {
    for (int k = 0; k < outputs; ++k) {
      for (int i = 0; i < period; ++i) Put(&out.data[k][i * 3u], Signal(k, static_cast<std::int64_t>(next) * period + i));
    }
    ++next;
    if (snd_pcm_writen(play, out.pointers.data(), static_cast<snd_pcm_uframes_t>(period)) == -EPIPE) {
      ++result.underruns;
      snd_pcm_prepare(play);
    }
  };
  for (int b = 0; b < 4; ++b) write();
  for (int b = 0; b < blocks; ++b) {
    const snd_pcm_sframes_t got = snd_pcm_readn(cap, in.pointers.data(), static_cast<snd_pcm_uframes_t>(period));
    if (got == -EPIPE) {
      ++result.overruns;
      snd_pcm_prepare(cap);
      for (auto& channel : in.data) std::fill(channel.begin(), channel.end(), std::uint8_t{0});
    } else {
      EXPECT_EQ(got, period);
    }
    for (int k = 0; k < inputs; ++k) {
      for (int i = 0; i < period; ++i) result.captured[k].push_back(Get(&in.data[k][i * 3u]));
    }
    write();
  }
  return result;
}

struct CableCase {
  int outputs;
  int inputs;
  int period;
  int latency;
};

class CableTest : public VifDeviceTest, public ::testing::WithParamInterface<CableCase> {};

// Output k reaches input k exactly `latency` frames later; an input with no
// output is silent.
TEST_P(CableTest, EveryOutputReachesItsInputAfterTheLatency) {
  const CableCase c = GetParam();
  Define("latency " + std::to_string(c.latency) + " channels " + std::to_string(std::max(c.outputs, c.inputs)));
  snd_pcm_t* play = nullptr;
  snd_pcm_t* cap = nullptr;
  ASSERT_EQ(Open(SND_PCM_STREAM_PLAYBACK, c.outputs, c.period, &play), 0);
  ASSERT_EQ(Open(SND_PCM_STREAM_CAPTURE, c.inputs, c.period, &cap), 0);
  const int blocks = 8 + c.latency / c.period;
  const LoopResult r = RunLoop(play, cap, c.outputs, c.inputs, c.period, blocks);
  EXPECT_EQ(r.underruns + r.overruns, 0);
  for (int k = 0; k < c.inputs; ++k) {
    for (int j = 0; j < blocks * c.period; ++j) {
      const int expected = k < c.outputs && j >= c.latency ? Signal(k, j - c.latency) : 0;
      ASSERT_EQ(r.captured[k][j], expected) << "input " << k << " frame " << j;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cables, CableTest,
                         ::testing::Values(CableCase{1, 1, 64, 0}, CableCase{2, 3, 256, 37},
                                           CableCase{256, 256, 16, 1000}, CableCase{8, 8, 4096, 20000}),
                         [](const ::testing::TestParamInfo<CableCase>& info) {
                           const CableCase& c = info.param;
                           return "out" + std::to_string(c.outputs) + "_in" + std::to_string(c.inputs) + "_B" +
                                  std::to_string(c.period) + "_latency" + std::to_string(c.latency);
                         });

// An injected xrun behaves as if the program were one period late: that
// period is lost, the transfer fails with -EPIPE, and after a prepare the
// stream goes on at the same place on the clock.
TEST_F(VifDeviceTest, InjectedXrunsLoseExactlyOnePeriod) {
  const int period = 128;
  Define("latency 50 xrun_playback [ 1536 3072 ] xrun_capture 2048");
  snd_pcm_t* play = nullptr;
  snd_pcm_t* cap = nullptr;
  ASSERT_EQ(Open(SND_PCM_STREAM_PLAYBACK, 2, period, &play), 0);
  ASSERT_EQ(Open(SND_PCM_STREAM_CAPTURE, 2, period, &cap), 0);
  const LoopResult r = RunLoop(play, cap, 2, 2, period, 40);
  EXPECT_EQ(r.underruns, 2);
  EXPECT_EQ(r.overruns, 1);
  // Positions count the stream's frames with the lost periods included, so
  // they are positions of the signal.
  auto lostPlayback = [&](int frame) { return (frame >= 1536 && frame < 1536 + period) || (frame >= 3072 && frame < 3072 + period); };
  for (int k = 0; k < 2; ++k) {
    for (int j = 0; j < 40 * period; ++j) {
      const int source = j - 50;
      int expected = source >= 0 ? Signal(k, source) : 0;
      if (source >= 0 && lostPlayback(source)) expected = 0;
      if (j >= 2048 && j < 2048 + period) expected = 0;
      ASSERT_EQ(r.captured[k][j], expected) << "input " << k << " frame " << j;
    }
  }
}

TEST_F(VifDeviceTest, DrainPlaysOutAndTheRawFileKeepsEveryWrite) {
  const fs::path raw = dir_ / "played.raw";
  Define("playback_file \"" + raw.string() + "\"");
  snd_pcm_t* play = nullptr;
  ASSERT_EQ(Open(SND_PCM_STREAM_PLAYBACK, 3, 64, &play), 0);
  Blocks out(3, 64);
  for (int b = 0; b < 10; ++b) {
    for (int k = 0; k < 3; ++k) {
      for (int i = 0; i < 64; ++i) Put(&out.data[k][i * 3u], Signal(k, b * 64 + i));
    }
    ASSERT_EQ(snd_pcm_writen(play, out.pointers.data(), 64), 64);
  }
  // A full buffer: the wait must report space (a device without a poll
  // descriptor would fail here with -EIO).
  EXPECT_EQ(snd_pcm_wait(play, 1000), 1);
  EXPECT_EQ(snd_pcm_drain(play), 0);
  EXPECT_EQ(snd_pcm_state(play), SND_PCM_STATE_SETUP);
  std::ifstream file(raw, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
  ASSERT_EQ(bytes.size(), 10u * 64u * 3u * 3u);
  for (int n = 0; n < 640; ++n) {
    for (int k = 0; k < 3; ++k) ASSERT_EQ(Get(&bytes[(n * 3u + k) * 3u]), Signal(k, n));
  }
}

TEST_F(VifDeviceTest, PacedModeRunsInRealTime) {
  Define("paced true");
  snd_pcm_t* play = nullptr;
  ASSERT_EQ(Open(SND_PCM_STREAM_PLAYBACK, 2, 1024, &play), 0);
  Blocks out(2, 1024);
  const auto start = std::chrono::steady_clock::now();
  for (int b = 0; b < 10; ++b) ASSERT_EQ(snd_pcm_writen(play, out.pointers.data(), 1024), 1024);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // Six of the ten blocks had to wait for the device to play the buffer.
  EXPECT_GE(elapsed, std::chrono::microseconds(6 * 1024 * 1000000LL / 48000 - 5000));
}

TEST_F(VifDeviceTest, OffersOnlyWhatARecorderNeeds) {
  Define("channels 8");
  snd_pcm_t* pcm = nullptr;
  EXPECT_LT(Open(SND_PCM_STREAM_PLAYBACK, 2, 256, &pcm, SND_PCM_ACCESS_RW_INTERLEAVED), 0);
  pcms_.clear();
  EXPECT_LT(Open(SND_PCM_STREAM_PLAYBACK, 2, 256, &pcm, SND_PCM_ACCESS_RW_NONINTERLEAVED, SND_PCM_FORMAT_S16_LE), 0);
  pcms_.clear();
  EXPECT_LT(Open(SND_PCM_STREAM_PLAYBACK, 9, 256, &pcm), 0);
  pcms_.clear();
  ASSERT_EQ(Open(SND_PCM_STREAM_PLAYBACK, 8, 256, &pcm), 0);
  // One playback stream per interface.
  snd_pcm_t* second = nullptr;
  EXPECT_EQ(snd_pcm_open_lconf(&second, "vif", SND_PCM_STREAM_PLAYBACK, 0, config_.get()), -EBUSY);
}

}  // namespace
