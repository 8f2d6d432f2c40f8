// The two PCM streams of the interface: playback with `outputs` channels and
// capture with `inputs` channels, both non-interleaved packed 24-bit at the
// project rate. Opened once when the console starts, closed at exit.
#pragma once

#include <alsa/asoundlib.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/audio_constants.h"
#include "core/session_state.h"
#include "mixer/mixing.h"

namespace sondrel {

struct PcmCloser {
  void operator()(snd_pcm_t* pcm) const;
};
using PcmHandle = std::unique_ptr<snd_pcm_t, PcmCloser>;

struct AudioDevices {
  PcmHandle playback;
  PcmHandle capture;
  int requestedPeriodFrames = 0;  // periodFrames clamped to 16..4096
  int blockFrames = 0;            // the period the playback device granted
  // Frames moved between files and buffers per transfer: the largest whole
  // number of blocks that fits a 4096-frame chunk, so a granted period that
  // does not divide 4096 still lines every transfer up with the device.
  int chunkFrames = 0;
  snd_pcm_uframes_t playbackBufferFrames = 0;
  snd_pcm_uframes_t captureBufferFrames = 0;
  // A run found the device gone: its streams were dropped, never drained
  // (a drain would wait for ever), and the next run opens it again first.
  bool lost = false;
};

int ClampPeriodRequest(int periodFrames);
int ChunkFramesForBlock(int blockFrames);

// What a stream was granted.
struct StreamReport {
  snd_pcm_uframes_t periodFrames = 0;
  snd_pcm_uframes_t bufferFrames = 0;
  unsigned int channels = 0;
  unsigned int rate = 0;
};

enum class DeviceSetupStep {
  None,
  OpenPlayback,
  PlaybackFormat,
  PlaybackParameters,
  OpenCapture,
  CaptureFormat,
  CaptureParameters,
  Grant,  // a stream has fewer channels than the project needs, or another rate
};

// How the set-up went: the step that failed with its ALSA error, and what
// the devices granted as far as the set-up got.
struct DeviceSetup {
  DeviceSetupStep failedStep = DeviceSetupStep::None;
  int alsaError = 0;
  bool periodDiffers = false;  // the playback device granted another period
  bool granted = false;        // both streams were configured far enough to read back
  StreamReport playback;
  StreamReport capture;
  // What the project asked for, to compare with what was granted.
  int outputsAsked = 0;
  int inputsAsked = 0;
  unsigned int rateAsked = 0;
};

// Whether a stream that was granted `report` serves `channels` channels at
// the project's rate: recording or playing them otherwise would give
// silent channels or takes labelled with the wrong rate.
bool GrantServes(const StreamReport& report, int channels, unsigned int rate);

// Opens and configures both devices. The program cannot go on when a step
// failed.
DeviceSetup OpenAudioDevices(const SessionState& state, AudioDevices& devices);

// Readies the devices for a run: both drained, then capture and/or playback
// prepared. A device the run does not use is left drained.
void PrepareDevicesForRun(AudioDevices& devices, bool capture, bool playback);

// Drains playback then capture, closes playback then capture.
void CloseAudioDevices(AudioDevices& devices);

// After a run found the device gone: drops both streams, so that nothing
// waits on them again.
void MarkDevicesLost(AudioDevices& devices);
// Opens a lost device again with the same settings. False when it cannot
// be opened, or no longer grants what the buffers were made for.
bool ReopenLostDevices(const SessionState& state, AudioDevices& devices);

// Chunks of track audio in one allocation: each slot holds `channels`
// stretches of one chunk, channel c of a slot starting c * strideBytes in.
struct ChunkRing {
  int slots = 0;
  int channels = 0;
  std::size_t strideBytes = 0;
  std::vector<std::uint8_t> bytes;
  std::vector<ChunkPointers> pointers;  // per slot; null past `channels`
};

// The transport's chunk memory, allocated once at console start (and
// touched, so locked memory holds it) so the real-time path never
// allocates. The play ring holds the tracks read ahead of the loop, the
// capture ring what was captured until the disk has written it.
struct TransportBuffers {
  int channels = 0;  // of the play ring: the tracks, at least the stereo pair
  ChunkRing play;
  ChunkRing capture;
  // Slot 0: silence, played when a chunk is not there. Slot 1: where capture
  // goes when the capture ring is full.
  ChunkRing spare;
  // One output's block with the click added: the chunk it came from may be
  // a track's audio, still to be mixed, or the silence every late chunk
  // shares, and must stay as it is.
  std::vector<std::uint8_t> clickBlock;
};

// The play ring's depth: two chunks the loop holds (the one playing and the
// one loaded next) and read-ahead for half a second of audio at `rateHz`
// (8 slots at 48 kHz). The worst stall measured inside one read of a busy
// disk was 142 ms; half a second rides out three of those in a row, and a
// deeper ring only spreads the copies over memory the caches cannot hold.
// The capture ring holds two seconds: what was captured is kept that long
// while the disk cannot write it. Neither ring takes more than 32 MiB (4
// slots at least): at 256 inputs the capture ring has 10 slots, 0.85 s.
int PlayRingSlots(int channels, unsigned int rateHz);
int CaptureRingSlots(int channels, unsigned int rateHz);

void AllocateTransportBuffers(TransportBuffers& buffers, int tracks, int inputs, unsigned int rateHz,
                              int chunkFrames);
// Silence in every play slot for the channels a run does not read from the
// disk, so nothing of an earlier run is heard. The rest is written before
// it is read: armed channels by the disk, mixes in full, captured audio by
// the device; the spare silence is never written.
void SilenceUnplayedChannels(TransportBuffers& buffers, const std::array<int, kMaxChannels>& playArmed);

}  // namespace sondrel
