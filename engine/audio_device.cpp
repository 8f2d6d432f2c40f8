#include "engine/audio_device.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

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

DeviceSetup Failed(DeviceSetup setup, DeviceSetupStep step, int error) {
  setup.failedStep = step;
  setup.alsaError = error;
  return setup;
}

StreamReport ReadBack(const snd_pcm_hw_params_t* params) {
  StreamReport report;
  snd_pcm_hw_params_get_buffer_size(params, &report.bufferFrames);
  snd_pcm_hw_params_get_period_size(params, &report.periodFrames, nullptr);
  snd_pcm_hw_params_get_channels(params, &report.channels);
  snd_pcm_hw_params_get_rate(params, &report.rate, nullptr);
  return report;
}

// 0, or the ALSA error that kept the stream from opening.
int OpenStream(const char* name, snd_pcm_stream_t stream, PcmHandle& pcm) {
  snd_pcm_t* raw = nullptr;
  const int err = snd_pcm_open(&raw, name, stream, 0);
  if (err >= 0) pcm.reset(raw);
  return err;
}

// Tracks move as they are stored: one buffer per channel, 3-byte samples.
// 0, or the ALSA error when the device does not take that sample format.
int RequestSampleFormat(snd_pcm_t* pcm, snd_pcm_hw_params_t* params) {
  snd_pcm_hw_params_any(pcm, params);
  snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_NONINTERLEAVED);
  return snd_pcm_hw_params_set_format(pcm, params, SND_PCM_FORMAT_S24_3LE);
}

// Channels, rate, period and buffer are "near" requests: what the device
// grants shows in the driver table.
void RequestGeometry(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, int channels, unsigned int rate,
                     snd_pcm_uframes_t periodFrames, snd_pcm_uframes_t bufferFrames) {
  unsigned int count = static_cast<unsigned int>(std::max(channels, 0));
  snd_pcm_hw_params_set_channels_near(pcm, params, &count);
  snd_pcm_hw_params_set_rate_near(pcm, params, &rate, nullptr);
  snd_pcm_hw_params_set_period_size_near(pcm, params, &periodFrames, nullptr);
  snd_pcm_hw_params_set_buffer_size_near(pcm, params, &bufferFrames);
}

// How the loop drives a stream. It wakes once a period has room (playback)
// or has arrived (capture). Playback starts once its buffer holds every
// whole period it fits, never nearly empty; capture starts on the loop's
// first read or its own start. Neither stream stops at an xrun: it runs on
// the card's clock, playback in silence, capture over what was not read,
// and the loop skips the lost stretch by counting it, which keeps every
// later frame at its place. A device that refuses these keeps its
// defaults and the loop recovers from the xruns it reports.
void SetSoftwareParameters(snd_pcm_t* pcm, snd_pcm_uframes_t periodFrames, snd_pcm_uframes_t startFrames) {
  snd_pcm_sw_params_t* params = nullptr;
  snd_pcm_sw_params_alloca(&params);
  if (snd_pcm_sw_params_current(pcm, params) < 0) return;
  snd_pcm_uframes_t boundary = 0;
  snd_pcm_sw_params_get_boundary(params, &boundary);
  snd_pcm_sw_params_set_avail_min(pcm, params, periodFrames);
  snd_pcm_sw_params_set_start_threshold(pcm, params, startFrames);
  snd_pcm_sw_params_set_stop_threshold(pcm, params, boundary);
  // What plays after the last frame written is silence, not the old
  // contents of the buffer.
  snd_pcm_sw_params_set_silence_threshold(pcm, params, 0);
  snd_pcm_sw_params_set_silence_size(pcm, params, boundary);
  snd_pcm_sw_params(pcm, params);
}

// Playback plays out what it was given; capture has nothing to wait for
// (what it holds would be read by nobody), and a capture stream that no
// clock drives any more (a sound server's, once its playback stopped)
// would wait for ever in a drain.
void SettleStream(snd_pcm_t* pcm) {
  if (snd_pcm_stream(pcm) == SND_PCM_STREAM_CAPTURE) {
    snd_pcm_drop(pcm);
  } else {
    snd_pcm_drain(pcm);
  }
}

}  // namespace

void PcmCloser::operator()(snd_pcm_t* pcm) const {
  SettleStream(pcm);
  snd_pcm_close(pcm);
}

int ClampPeriodRequest(int periodFrames) { return std::clamp(periodFrames, 16, kChunkFrames); }

int ChunkFramesForBlock(int blockFrames) {
  if (blockFrames < 1) return kChunkFrames;
  return blockFrames * std::max(1, kChunkFrames / blockFrames);
}

DeviceSetup OpenAudioDevices(const SessionState& state, AudioDevices& devices) {
  DeviceSetup setup;
  devices.requestedPeriodFrames = ClampPeriodRequest(state.periodFrames);
  const auto requested = static_cast<snd_pcm_uframes_t>(devices.requestedPeriodFrames);
  const char* name = state.deviceName.data();

  int err = OpenStream(name, SND_PCM_STREAM_PLAYBACK, devices.playback);
  if (err < 0) return Failed(setup, DeviceSetupStep::OpenPlayback, err);
  HwParams play = NewHwParams();
  if (!play) return Failed(setup, DeviceSetupStep::PlaybackParameters, -ENOMEM);
  err = RequestSampleFormat(devices.playback.get(), play.get());
  if (err < 0) return Failed(setup, DeviceSetupStep::PlaybackFormat, err);
  RequestGeometry(devices.playback.get(), play.get(), state.outputs, state.sampleRate, requested, 4 * requested);
  err = snd_pcm_hw_params(devices.playback.get(), play.get());
  if (err < 0) return Failed(setup, DeviceSetupStep::PlaybackParameters, err);

  snd_pcm_uframes_t block = 0;
  snd_pcm_hw_params_get_period_size(play.get(), &block, nullptr);
  setup.periodDiffers = block != requested;
  devices.blockFrames = static_cast<int>(block);
  devices.chunkFrames = ChunkFramesForBlock(devices.blockFrames);

  err = OpenStream(name, SND_PCM_STREAM_CAPTURE, devices.capture);
  if (err < 0) return Failed(setup, DeviceSetupStep::OpenCapture, err);
  HwParams rec = NewHwParams();
  if (!rec) return Failed(setup, DeviceSetupStep::CaptureParameters, -ENOMEM);
  err = RequestSampleFormat(devices.capture.get(), rec.get());
  if (err < 0) return Failed(setup, DeviceSetupStep::CaptureFormat, err);
  // The capture buffer is asked for four requested periods, like playback,
  // not four granted blocks.
  RequestGeometry(devices.capture.get(), rec.get(), state.inputs, state.sampleRate, block, 4 * requested);
  const int captureErr = snd_pcm_hw_params(devices.capture.get(), rec.get());

  setup.granted = true;
  setup.playback = ReadBack(play.get());
  setup.capture = ReadBack(rec.get());
  devices.playbackBufferFrames = setup.playback.bufferFrames;
  devices.captureBufferFrames = setup.capture.bufferFrames;
  if (captureErr < 0) return Failed(setup, DeviceSetupStep::CaptureParameters, captureErr);
  const snd_pcm_uframes_t wholePeriods = setup.playback.bufferFrames / std::max<snd_pcm_uframes_t>(block, 1) * block;
  SetSoftwareParameters(devices.playback.get(), block, std::max<snd_pcm_uframes_t>(wholePeriods, 1));
  SetSoftwareParameters(devices.capture.get(), setup.capture.periodFrames, 1);
  setup.outputsAsked = state.outputs;
  setup.inputsAsked = state.inputs;
  setup.rateAsked = state.sampleRate;
  if (!GrantServes(setup.playback, state.outputs, state.sampleRate) ||
      !GrantServes(setup.capture, state.inputs, state.sampleRate)) {
    return Failed(setup, DeviceSetupStep::Grant, 0);
  }
  return setup;
}

bool GrantServes(const StreamReport& report, int channels, unsigned int rate) {
  return static_cast<int>(report.channels) >= channels && report.rate == rate;
}

void PrepareDevicesForRun(AudioDevices& devices, bool capture, bool playback) {
  if (devices.lost) return;
  if (devices.playback) SettleStream(devices.playback.get());
  if (devices.capture) SettleStream(devices.capture.get());
  if (capture && devices.capture) snd_pcm_prepare(devices.capture.get());
  if (playback && devices.playback) snd_pcm_prepare(devices.playback.get());
}

void MarkDevicesLost(AudioDevices& devices) {
  if (devices.playback) snd_pcm_drop(devices.playback.get());
  if (devices.capture) snd_pcm_drop(devices.capture.get());
  devices.lost = true;
}

bool ReopenLostDevices(const SessionState& state, AudioDevices& devices) {
  const int chunk = devices.chunkFrames;
  devices.playback.reset();
  devices.capture.reset();
  const DeviceSetup setup = OpenAudioDevices(state, devices);
  devices.lost = setup.failedStep != DeviceSetupStep::None || !setup.granted || devices.chunkFrames != chunk ||
                 !GrantServes(setup.playback, state.outputs, state.sampleRate) ||
                 !GrantServes(setup.capture, state.inputs, state.sampleRate);
  if (devices.lost) MarkDevicesLost(devices);
  return !devices.lost;
}

void CloseAudioDevices(AudioDevices& devices) {
  if (devices.lost) MarkDevicesLost(devices);
  if (devices.playback && !devices.lost) SettleStream(devices.playback.get());
  if (devices.capture && !devices.lost) SettleStream(devices.capture.get());
  if (devices.playback) snd_pcm_close(devices.playback.release());
  if (devices.capture) snd_pcm_close(devices.capture.release());
}

namespace {

constexpr double kRingBytesLimit = 32.0 * 1024 * 1024;

int RingSlots(int channels, double seconds, int heldSlots, unsigned int rateHz) {
  const double slotBytes = static_cast<double>(std::max(channels, 1)) * kChunkBytes;
  const double wanted = std::ceil(seconds * rateHz / kChunkFrames) + heldSlots;
  return static_cast<int>(std::clamp(std::min(wanted, kRingBytesLimit / slotBytes), 4.0, 1024.0));
}

void AllocateRing(ChunkRing& ring, int slots, int channels, std::size_t strideBytes) {
  ring.slots = slots;
  ring.channels = channels;
  ring.strideBytes = strideBytes;
  const std::size_t slotBytes = strideBytes * static_cast<std::size_t>(channels);
  ring.bytes.assign(slotBytes * static_cast<std::size_t>(slots), 0);
  ring.pointers.assign(static_cast<std::size_t>(slots), ChunkPointers{});
  for (std::size_t slot = 0; slot < ring.pointers.size(); ++slot) {
    for (int c = 0; c < channels; ++c) {
      ring.pointers[slot][c] = ring.bytes.data() + slot * slotBytes + strideBytes * static_cast<std::size_t>(c);
    }
  }
}

}  // namespace

int PlayRingSlots(int channels, unsigned int rateHz) { return RingSlots(channels, 0.5, 2, rateHz); }

int CaptureRingSlots(int channels, unsigned int rateHz) { return RingSlots(channels, 2.0, 1, rateHz); }

void AllocateTransportBuffers(TransportBuffers& buffers, int tracks, int inputs, unsigned int rateHz,
                              int chunkFrames) {
  // The stereo mix always lands in channels 0 and 1, whatever the track count.
  buffers.channels = std::clamp(tracks, 2, kMaxChannels);
  const int captureChannels = std::clamp(inputs, 1, buffers.channels);
  const auto stride = static_cast<std::size_t>(std::max(chunkFrames, kChunkFrames)) * kTrackBytesPerSample;
  AllocateRing(buffers.play, PlayRingSlots(buffers.channels, rateHz), buffers.channels, stride);
  AllocateRing(buffers.capture, CaptureRingSlots(captureChannels, rateHz), captureChannels, stride);
  AllocateRing(buffers.spare, 2, buffers.channels, stride);
  buffers.clickBlock.assign(stride, 0);
}

void SilenceUnplayedChannels(TransportBuffers& buffers, const std::array<int, kMaxChannels>& playArmed) {
  for (const ChunkPointers& slot : buffers.play.pointers) {
    for (int c = 0; c < buffers.play.channels; ++c) {
      if (playArmed[c] != 1) std::memset(slot[c], 0, buffers.play.strideBytes);
    }
  }
}

}  // namespace sondrel
