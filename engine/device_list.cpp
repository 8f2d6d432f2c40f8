#include "engine/device_list.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

namespace sondrel {

namespace {

struct HintsFree {
  void operator()(void** hints) const { snd_device_name_free_hint(hints); }
};
struct TextFree {
  void operator()(char* text) const { std::free(text); }
};
using HintText = std::unique_ptr<char, TextFree>;

std::string Text(const HintText& text) { return text ? std::string(text.get()) : std::string(); }

// Probing prints nothing: a device that is missing or busy is what the list
// reports, not an error on the terminal.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

struct StreamOffer {
  int openError = 0;
  bool takesSamples = false;
  unsigned maxChannels = 0;
  std::vector<unsigned> rates;
};

StreamOffer AskStream(const std::string& name, snd_pcm_stream_t direction, std::span<const unsigned> rates) {
  StreamOffer offer;
  snd_pcm_t* raw = nullptr;
  offer.openError = snd_pcm_open(&raw, name.c_str(), direction, SND_PCM_NONBLOCK);
  if (offer.openError < 0) return offer;
  offer.openError = 0;
  const std::unique_ptr<snd_pcm_t, int (*)(snd_pcm_t*)> pcm(raw, snd_pcm_close);
  snd_pcm_hw_params_t* params = nullptr;
  snd_pcm_hw_params_alloca(&params);
  if (snd_pcm_hw_params_any(raw, params) < 0) return offer;
  offer.takesSamples = snd_pcm_hw_params_set_access(raw, params, SND_PCM_ACCESS_RW_NONINTERLEAVED) == 0 &&
                       snd_pcm_hw_params_set_format(raw, params, SND_PCM_FORMAT_S24_3LE) == 0;
  snd_pcm_hw_params_get_channels_max(params, &offer.maxChannels);
  for (const unsigned rate : rates) {
    if (snd_pcm_hw_params_test_rate(raw, params, rate, 0) == 0) offer.rates.push_back(rate);
  }
  return offer;
}

std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

}  // namespace

DeviceFit CheckDeviceFit(const std::string& name, std::span<const unsigned> rates) {
  snd_lib_error_set_handler(QuietAlsa);
  const StreamOffer playback = AskStream(name, SND_PCM_STREAM_PLAYBACK, rates);
  const StreamOffer capture = AskStream(name, SND_PCM_STREAM_CAPTURE, rates);
  snd_lib_error_set_handler(nullptr);
  DeviceFit fit;
  fit.openError = playback.openError != 0 ? playback.openError : capture.openError;
  if (fit.openError != 0) return fit;
  fit.takesSamples = playback.takesSamples && capture.takesSamples;
  fit.maxOutputs = playback.maxChannels;
  fit.maxInputs = capture.maxChannels;
  for (const unsigned rate : playback.rates) {
    if (std::find(capture.rates.begin(), capture.rates.end(), rate) != capture.rates.end()) fit.rates.push_back(rate);
  }
  return fit;
}

std::vector<ListedDevice> ListAudioDevices(std::span<const unsigned> rates) {
  // Looking at a sound server's PCM must not start a server.
  setenv("JACK_NO_START_SERVER", "1", 0);
  std::vector<ListedDevice> devices;
  void** raw = nullptr;
  if (snd_device_name_hint(-1, "pcm", &raw) < 0) return devices;
  const std::unique_ptr<void*, HintsFree> hints(raw);
  for (void** hint = raw; *hint != nullptr; ++hint) {
    const HintText name(snd_device_name_get_hint(*hint, "NAME"));
    const HintText direction(snd_device_name_get_hint(*hint, "IOID"));
    // A hint without a direction serves both; the program needs both.
    if (!name || direction) continue;
    ListedDevice device{Text(name), OneLine(Text(HintText(snd_device_name_get_hint(*hint, "DESC")))), {}};
    device.fit = CheckDeviceFit(device.name, rates);
    // Only what can be opened is a choice; a busy device is one, later.
    if (device.fit.openError != 0 && device.fit.openError != -EBUSY) continue;
    devices.push_back(std::move(device));
  }
  return devices;
}

}  // namespace sondrel
