#include "engine/audio_device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/program_exit.h"

namespace sondrel {

namespace {

struct HwParamsDeleter {
  void operator()(snd_pcm_hw_params_t* params) const { snd_pcm_hw_params_free(params); }
};
using HwParams = std::unique_ptr<snd_pcm_hw_params_t, HwParamsDeleter>;

HwParams NewHwParams() {
  snd_pcm_hw_params_t* raw = nullptr;
  if (snd_pcm_hw_params_malloc(&raw) < 0) return nullptr;
  std::memset(raw, 0, snd_pcm_hw_params_sizeof());
  return HwParams(raw);
}

[[noreturn]] void FailSetup(const char* format, int error, FILE* stream) {
  std::fflush(stdout);
  std::fprintf(stream, format, snd_strerror(error));
  std::fflush(stream);
  throw ProgramExit{1};
}

struct StreamReport {
  snd_pcm_uframes_t periodFrames = 0;
  snd_pcm_uframes_t bufferFrames = 0;
  unsigned int channels = 0;
  unsigned int rate = 0;
};

StreamReport ReadBack(const snd_pcm_hw_params_t* params) {
  StreamReport report;
  snd_pcm_hw_params_get_buffer_size(params, &report.bufferFrames);
  snd_pcm_hw_params_get_period_size(params, &report.periodFrames, nullptr);
  snd_pcm_hw_params_get_channels(params, &report.channels);
  snd_pcm_hw_params_get_rate(params, &report.rate, nullptr);
  return report;
}

void PrintTableRow(const char* label, const StreamReport& r) {
  const long periods = r.periodFrames > 0 ? static_cast<long>(r.bufferFrames / r.periodFrames) : 0;
  std::printf("%s\t%i\t%i\t%i\t%i\n", label, static_cast<int>(r.periodFrames), static_cast<int>(periods),
              static_cast<int>(r.rate), static_cast<int>(r.channels));
}

// Channels, rate, period and buffer are "near" requests: what the device
// grants shows in the driver table.
void RequestGeometry(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, int channels, unsigned int rate,
                     snd_pcm_uframes_t periodFrames, snd_pcm_uframes_t bufferFrames) {
  snd_pcm_hw_params_set_channels(pcm, params, static_cast<unsigned int>(std::max(channels, 0)));
  snd_pcm_hw_params_set_rate_near(pcm, params, &rate, nullptr);
  snd_pcm_hw_params_set_period_size_near(pcm, params, &periodFrames, nullptr);
  snd_pcm_hw_params_set_buffer_size_near(pcm, params, &bufferFrames);
}

}  // namespace

void PcmCloser::operator()(snd_pcm_t* pcm) const {
  snd_pcm_drain(pcm);
  snd_pcm_close(pcm);
}

int ClampPeriodRequest(int periodFrames) { return std::clamp(periodFrames, 16, kChunkFrames); }

int ChunkFramesForBlock(int blockFrames) {
  if (blockFrames < 1) return kChunkFrames;
  return blockFrames * std::max(1, kChunkFrames / blockFrames);
}

void OpenAudioDevices(const SessionState& state, AudioDevices& devices) {
  devices.requestedPeriodFrames = ClampPeriodRequest(state.periodFrames);
  const auto requested = static_cast<snd_pcm_uframes_t>(devices.requestedPeriodFrames);
  const char* name = state.deviceName.data();

  snd_pcm_t* raw = nullptr;
  int err = snd_pcm_open(&raw, name, SND_PCM_STREAM_PLAYBACK, 0);
  if (err < 0) FailSetup("Playback device could not be opened: %s\n", err, stderr);
  devices.playback.reset(raw);

  HwParams play = NewHwParams();
  if (!play) FailSetup("Problem setting playback parameters: %s\n", -ENOMEM, stderr);
  snd_pcm_hw_params_any(devices.playback.get(), play.get());
  snd_pcm_hw_params_set_access(devices.playback.get(), play.get(), SND_PCM_ACCESS_RW_NONINTERLEAVED);
  err = snd_pcm_hw_params_set_format(devices.playback.get(), play.get(), SND_PCM_FORMAT_S24_3LE);
  if (err < 0) FailSetup("Problem setting playback format: %s\n", err, stderr);
  RequestGeometry(devices.playback.get(), play.get(), state.outputs, state.sampleRate, requested, 4 * requested);
  err = snd_pcm_hw_params(devices.playback.get(), play.get());
  if (err < 0) FailSetup("Problem setting playback parameters: %s\n", err, stderr);

  snd_pcm_uframes_t block = 0;
  snd_pcm_hw_params_get_period_size(play.get(), &block, nullptr);
  if (block != requested) std::printf("Driver did not return requested period size.\n");
  devices.blockFrames = static_cast<int>(block);
  devices.chunkFrames = ChunkFramesForBlock(devices.blockFrames);

  raw = nullptr;
  err = snd_pcm_open(&raw, name, SND_PCM_STREAM_CAPTURE, 0);
  if (err < 0) FailSetup("unable to open pcm record device: %s\n", err, stderr);
  devices.capture.reset(raw);

  HwParams rec = NewHwParams();
  if (!rec) FailSetup("Could not set record hardware parameters: %s\n", -ENOMEM, stdout);
  snd_pcm_hw_params_any(devices.capture.get(), rec.get());
  snd_pcm_hw_params_set_access(devices.capture.get(), rec.get(), SND_PCM_ACCESS_RW_NONINTERLEAVED);
  err = snd_pcm_hw_params_set_format(devices.capture.get(), rec.get(), SND_PCM_FORMAT_S24_3LE);
  if (err < 0) FailSetup("Problem setting recording format: %s\n", err, stderr);
  // The capture buffer is asked for four requested periods, like playback,
  // not four granted blocks.
  RequestGeometry(devices.capture.get(), rec.get(), state.inputs, state.sampleRate, block, 4 * requested);
  const int captureErr = snd_pcm_hw_params(devices.capture.get(), rec.get());

  const StreamReport playReport = ReadBack(play.get());
  const StreamReport recReport = ReadBack(rec.get());
  devices.playbackBufferFrames = playReport.bufferFrames;
  devices.captureBufferFrames = recReport.bufferFrames;
  std::printf("\nReturned Driver Parameters:\n");
  std::printf("\tBuffer\tPeriods\tRate\tChannels\n");
  PrintTableRow("Play", playReport);
  PrintTableRow("Record", recReport);
  std::printf("-----------------------------------------\n\n");

  if (captureErr < 0) FailSetup("Could not set record hardware parameters: %s\n", captureErr, stdout);
}

void PrepareDevicesForRun(AudioDevices& devices, bool capture, bool playback) {
  if (devices.playback) snd_pcm_drain(devices.playback.get());
  if (devices.capture) snd_pcm_drain(devices.capture.get());
  if (capture && devices.capture) snd_pcm_prepare(devices.capture.get());
  if (playback && devices.playback) snd_pcm_prepare(devices.playback.get());
}

void CloseAudioDevices(AudioDevices& devices) {
  if (devices.playback) snd_pcm_drain(devices.playback.get());
  if (devices.capture) snd_pcm_drain(devices.capture.get());
  if (devices.playback) snd_pcm_close(devices.playback.release());
  if (devices.capture) snd_pcm_close(devices.capture.release());
}

void AllocateTransportBuffers(TransportBuffers& buffers, int tracks, int chunkFrames) {
  // The stereo mix always lands in channels 0 and 1, whatever the track count.
  buffers.channels = std::clamp(tracks, 2, kMaxChannels);
  buffers.strideBytes = static_cast<std::size_t>(std::max(chunkFrames, kChunkFrames)) * kTrackBytesPerSample;
  for (int set = 0; set < 4; ++set) {
    buffers.sets[set].assign(buffers.strideBytes * static_cast<std::size_t>(buffers.channels), 0);
    buffers.channelPointers[set].fill(nullptr);
    for (int c = 0; c < buffers.channels; ++c) {
      buffers.channelPointers[set][c] = buffers.sets[set].data() + buffers.strideBytes * static_cast<std::size_t>(c);
    }
  }
}

void ZeroTransportBuffers(TransportBuffers& buffers) {
  for (auto& set : buffers.sets) std::fill(set.begin(), set.end(), std::uint8_t{0});
}

}  // namespace sondrel
