// The ALSA PCMs a user can choose from: those ALSA lists with a hint that
// serve both playback and capture, each with how it fits the project (the
// channels, the rate, and the non-interleaved packed 24-bit samples the
// program moves without conversion).
#pragma once

#include <span>
#include <string>
#include <vector>

namespace sondrel {

struct DeviceFit {
  int openError = 0;              // 0, or why a stream would not open (-errno)
  bool takesSamples = false;      // both streams take non-interleaved S24_3LE
  unsigned maxOutputs = 0;        // the most channels each stream offers
  unsigned maxInputs = 0;
  std::vector<unsigned> rates;    // those of the rates asked for that both streams take
};

struct ListedDevice {
  std::string name;
  std::string description;  // one line
  DeviceFit fit;
};

// Opens both streams of `name` without waiting (a busy device answers at
// once) and asks what they offer.
DeviceFit CheckDeviceFit(const std::string& name, std::span<const unsigned> rates);

// Every hinted PCM with both directions that opens (or is busy), in ALSA's
// order, with its fit.
std::vector<ListedDevice> ListAudioDevices(std::span<const unsigned> rates);

}  // namespace sondrel
