// The virtual interface's own promises, checked through the ALSA API as a
// recorder uses it: blocking transfers of one period, four in the buffer.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

using Pcm = std::unique_ptr<snd_pcm_t, decltype(&snd_pcm_close)>;
using Threshold = int (*)(snd_pcm_t*, snd_pcm_sw_params_t*, snd_pcm_uframes_t);

// A distinct, mostly non-zero 23-bit value for every channel and frame: a sample in the wrong place cannot pass.
int Signal(std::size_t channel, std::int64_t frame) {
  return static_cast<int>(static_cast<std::uint32_t>((frame + 1) * 7919 + channel * 104729) & 0x7FFFFF);
}

int Get(const std::uint8_t* at) { return at[0] | at[1] << 8 | at[2] << 16; }

// One period of S24_3LE samples per channel, as snd_pcm_writen/readn move it.
struct Blocks {
  Blocks(int channels, int period) : period(period), data(channels, std::vector<std::uint8_t>(period * 3u)) {
    for (auto& channel : data) pointers.push_back(channel.data());
  }
  // A period of every channel's signal from frame `from` on, three little-endian bytes a sample.
  void Fill(std::int64_t from) {
    for (std::size_t k = 0; k < data.size(); ++k) {
      for (int i = 0; i < period * 3; ++i) data[k][i] = static_cast<std::uint8_t>(Signal(k, from + i / 3) >> i % 3 * 8);
    }
  }
  int period;
  std::vector<std::vector<std::uint8_t>> data;
  std::vector<void*> pointers;
};

class VifDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {  // on a memory file system, as the device's shared file should be
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    std::string pattern = (fs::path(runtime && *runtime ? runtime : "/dev/shm") / "sondrel-vif-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Defines ALSA device "vif" with `settings` besides its shared file.
  void Define(const std::string& settings) {
    const auto text = "pcm_type.sondrel_vif { lib \"" SONDREL_VIF_MODULE "\" }\npcm.vif { type sondrel_vif file \"" +
                      (dir_ / "vif.shm").string() + "\" " + settings + " }\n";
    snd_config_t* config = nullptr;
    ASSERT_EQ(snd_config_load_string(&config, text.c_str(), text.size()), 0) << text;
    config_.reset(config);
  }

  // Opens one stream at 48 kHz with a buffer of four periods, and the start or stop threshold that `atBoundary` sets
  // at the boundary (no automatic start, or no xrun stops it); null when the device refuses any of it.
  snd_pcm_t* Open(snd_pcm_stream_t stream, int channels, int period, Threshold atBoundary = nullptr,
                  snd_pcm_access_t access = SND_PCM_ACCESS_RW_NONINTERLEAVED,
                  snd_pcm_format_t format = SND_PCM_FORMAT_S24_3LE) {
    snd_pcm_t* raw = nullptr;
    if (snd_pcm_open_lconf(&raw, "vif", stream, 0, config_.get()) < 0) return nullptr;
    Pcm pcm(raw, &snd_pcm_close);
    snd_pcm_hw_params_t* params = nullptr;
    snd_pcm_hw_params_alloca(&params);
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_uframes_t boundary = 0;
    const auto frames = static_cast<snd_pcm_uframes_t>(period);
    if (snd_pcm_hw_params_any(raw, params) < 0 || snd_pcm_hw_params_set_access(raw, params, access) < 0 ||
        snd_pcm_hw_params_set_format(raw, params, format) < 0 ||
        snd_pcm_hw_params_set_channels(raw, params, static_cast<unsigned>(channels)) < 0 ||
        snd_pcm_hw_params_set_rate(raw, params, 48000, 0) < 0 ||
        snd_pcm_hw_params_set_period_size(raw, params, frames, 0) < 0 ||
        snd_pcm_hw_params_set_buffer_size(raw, params, 4 * frames) < 0 || snd_pcm_hw_params(raw, params) < 0 ||
        (atBoundary != nullptr &&
         (snd_pcm_sw_params_current(raw, sw) < 0 || snd_pcm_sw_params_get_boundary(sw, &boundary) < 0 ||
          atBoundary(raw, sw, boundary) < 0 || snd_pcm_sw_params(raw, sw) < 0))) {
      return nullptr;
    }
    pcms_.push_back(std::move(pcm));
    return raw;
  }

  fs::path dir_;
  std::unique_ptr<snd_config_t, decltype(&snd_config_delete)> config_{nullptr, &snd_config_delete};
  std::vector<Pcm> pcms_;
};

struct CableCase {
  const char* name;
  int outputs, inputs, period, latency;
  int lostWrite = 1 << 30, lostRead = 1 << 30;  // stream positions of injected xruns (never, by default)
  int device = 0;                       // the device's channels, when more than the streams'
  int nullOutput = -1, nullInput = -1;  // channels the transfers pass no buffer for
  int stallAt = -1;                     // paced and free-running, the streams stall before this block
};

class CableTest : public VifDeviceTest, public ::testing::WithParamInterface<CableCase> {};

// Output k reaches input k exactly `latency` frames later; silent are an input with no output and channels given no
// buffer. An injected xrun loses one period as if the program were late (-EPIPE); prepared, the stream goes on at its
// place on the clock, lost period counted. Free-running streams (stop threshold at the boundary) outlast a stall past
// their buffers; forwarded by the excess (playback a period more, to be on time) they keep every sample where the
// program's count puts it, and what nobody wrote is silent: nothing stale plays (the FIFO has come round).
TEST_P(CableTest, EveryOutputReachesItsInputAfterTheLatency) {
  const CableCase c = GetParam();
  Define("latency " + std::to_string(c.latency) + " channels " +
         std::to_string(std::max({c.outputs, c.inputs, c.device})) + " xrun_playback " + std::to_string(c.lostWrite) +
         " xrun_capture " + std::to_string(c.lostRead) + (c.stallAt >= 0 ? " paced true" : ""));
  const Threshold stop = c.stallAt >= 0 ? &snd_pcm_sw_params_set_stop_threshold : nullptr;
  snd_pcm_t* play = Open(SND_PCM_STREAM_PLAYBACK, c.outputs, c.period, stop);
  snd_pcm_t* cap = Open(SND_PCM_STREAM_CAPTURE, c.inputs, c.period, stop);
  ASSERT_TRUE(play && cap);
  Blocks out(c.outputs, c.period), in(c.inputs, c.period);
  if (c.nullOutput >= 0) out.pointers[c.nullOutput] = nullptr;
  if (c.nullInput >= 0) in.pointers[c.nullInput] = nullptr;
  std::int64_t written = 0, read = 0, gap = 1 << 30, resumed = 1 << 30;  // playback skips [gap, resumed)
  std::vector<std::map<std::int64_t, int>> heard(c.inputs);            // by capture position
  auto write = [&] {
    out.Fill(written);
    const bool lost = snd_pcm_writen(play, out.pointers.data(), c.period) == -EPIPE;
    EXPECT_EQ(lost, written == c.lostWrite) << "write at " << written;
    if (lost) snd_pcm_prepare(play);
    written += c.period;
  };
  for (int b = 0; b < 4; ++b) write();
  for (int b = 0; b < 24 + c.latency / c.period + std::max(c.stallAt, 0); ++b, read += c.period) {
    if (b == c.stallAt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));  // 24000 frames
      gap = written;
      for (auto [pcm, position] : {std::pair{play, &written}, std::pair{cap, &read}}) {
        const snd_pcm_sframes_t skip = snd_pcm_avail_update(pcm) - 4 * c.period + (pcm == play ? c.period : 0);
        ASSERT_GT(skip, c.period);  // more than a buffer available
        ASSERT_EQ(snd_pcm_forward(pcm, static_cast<snd_pcm_uframes_t>(skip)), skip);
        *position += skip;
      }
      resumed = written;
      for (int p = 0; p < 4; ++p) write();
    }
    const snd_pcm_sframes_t got = snd_pcm_readn(cap, in.pointers.data(), c.period);
    ASSERT_EQ(got, read == c.lostRead ? -EPIPE : c.period) << "read at " << read;
    if (got == -EPIPE) snd_pcm_prepare(cap);
    for (int k = 0; k < c.inputs && got > 0; ++k) {
      for (int i = 0; i < c.period; ++i) heard[k][read + i] = Get(&in.data[k][i * 3u]);
    }
    write();
  }
  std::int64_t shift = c.latency;  // capture less playback position; paced streams start apart: the first sound tells
  const auto first = std::find_if(heard[0].begin(), heard[0].end(), [](const auto& e) { return e.second != 0; });
  for (std::int64_t n = 0; c.stallAt >= 0 && first != heard[0].end() && n < written; ++n) {
    if (Signal(0, n) == first->second) shift = first->first - n;
  }
  for (int k = 0; k < c.inputs; ++k) {
    for (const auto& [position, sample] : heard[k]) {
      const std::int64_t frame = position - shift;  // of the output
      const bool lost = (frame >= c.lostWrite && frame < c.lostWrite + c.period) || (frame >= gap && frame < resumed);
      const bool silent = lost || frame < 0 || k >= c.outputs || k == c.nullOutput || k == c.nullInput;
      ASSERT_EQ(sample, silent ? 0 : Signal(k, frame)) << "input " << k << " at " << position;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cables, CableTest,
    ::testing::Values(CableCase{"SilentChannels", 3, 4, 256, 37, 1 << 30, 1 << 30, 0, 1, 2},
                      CableCase{"AllChannels", 256, 256, 16, 1000}, CableCase{"LongestBuffer", 8, 8, 4096, 20000},
                      CableCase{"Xruns", 2, 2, 128, 50, 1536, 2048},
                      CableCase{"FewChannelsLongerBuffer", 2, 1, 16384, 100, 1 << 30, 1 << 30, 8},
                      CableCase{"FreeRunningStall", 1, 1, 4096, 37, 1 << 30, 1 << 30, 0, -1, -1, 12}),
    [](const ::testing::TestParamInfo<CableCase>& info) { return info.param.name; });

// A wait on a prepared stream, its buffer full and no automatic start, wakes when another thread starts it. A drain
// plays out what is queued on the paced clock (whose pace the stopped runs on a terminal show end to end); the raw
// file keeps every write, silence for an output given no buffer.
TEST_F(VifDeviceTest, PacedPlaybackWakesDrainsAndKeepsEveryWrite) {
  const fs::path raw = dir_ / "played.raw";
  Define("paced true playback_file \"" + raw.string() + "\"");
  snd_pcm_t* play = Open(SND_PCM_STREAM_PLAYBACK, 3, 1024, &snd_pcm_sw_params_set_start_threshold);
  ASSERT_NE(play, nullptr);
  Blocks out(3, 1024);
  out.pointers[1] = nullptr;  // output 1 is silent
  for (int b = 0; b < 10; ++b) {
    if (b == 4) {
      std::thread starter([play] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        snd_pcm_start(play);
      });
      EXPECT_EQ(snd_pcm_wait(play, 5000), 1);
      starter.join();
    }
    out.Fill(b * 1024);
    ASSERT_EQ(snd_pcm_writen(play, out.pointers.data(), 1024), 1024);
  }
  EXPECT_EQ(snd_pcm_drain(play), 0);
  EXPECT_EQ(snd_pcm_state(play), SND_PCM_STATE_SETUP);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(std::ifstream(raw).rdbuf()), {}};
  ASSERT_EQ(bytes.size(), 10u * 1024u * 3u * 3u);
  for (unsigned i = 0; i < bytes.size() / 3; ++i) ASSERT_EQ(Get(&bytes[i * 3]), i % 3 == 1 ? 0 : Signal(i % 3, i / 3));
}

// A wait on a stream an xrun stopped returns at once, as a card's does: the program must prepare it to go on.
TEST_F(VifDeviceTest, AWaitOnAStreamInAnXrunReturnsAtOnce) {
  Define("paced true");
  snd_pcm_t* play = Open(SND_PCM_STREAM_PLAYBACK, 1, 256);
  ASSERT_NE(play, nullptr);
  Blocks out(1, 256);
  for (int b = 0; b < 4; ++b) ASSERT_EQ(snd_pcm_writen(play, out.pointers.data(), 256), 256);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(snd_pcm_avail_update(play), -EPIPE);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(snd_pcm_wait(play, 3000), 0);  // 0: the wait timed out
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(VifDeviceTest, OffersOnlyWhatARecorderNeeds) {
  Define("channels 8");
  EXPECT_EQ(Open(SND_PCM_STREAM_PLAYBACK, 2, 256, nullptr, SND_PCM_ACCESS_RW_INTERLEAVED), nullptr);
  EXPECT_FALSE(Open(SND_PCM_STREAM_PLAYBACK, 2, 256, nullptr, SND_PCM_ACCESS_RW_NONINTERLEAVED, SND_PCM_FORMAT_S16_LE));
  EXPECT_EQ(Open(SND_PCM_STREAM_PLAYBACK, 9, 256), nullptr);
  ASSERT_NE(Open(SND_PCM_STREAM_PLAYBACK, 8, 256), nullptr);
  snd_pcm_t* second = nullptr;
  EXPECT_EQ(snd_pcm_open_lconf(&second, "vif", SND_PCM_STREAM_PLAYBACK, 0, config_.get()), -EBUSY);  // one a device
}

}  // namespace
