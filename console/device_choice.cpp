#include "console/device_choice.h"

#include <alsa/asoundlib.h>

#include <cstdio>
#include <string>

#include "engine/device_list.h"

namespace sondrel {

namespace {

std::string RateList(std::span<const unsigned> rates) {
  std::string text;
  for (const unsigned rate : rates) text += (text.empty() ? "" : ", ") + std::to_string(rate);
  return text + " Hz";
}

// One line saying whether the device serves the project, and if not, why.
std::string FitText(const DeviceFit& fit, int outputs, int inputs, std::span<const unsigned> rates) {
  if (fit.openError != 0) return std::string("cannot open now: ") + snd_strerror(fit.openError);
  if (!fit.takesSamples) return "no: takes no non-interleaved 24-bit samples (a plug definition converts)";
  if (static_cast<int>(fit.maxOutputs) < outputs) {
    return "no: " + std::to_string(fit.maxOutputs) + " outputs, the project needs " + std::to_string(outputs);
  }
  if (static_cast<int>(fit.maxInputs) < inputs) {
    return "no: " + std::to_string(fit.maxInputs) + " inputs, the project needs " + std::to_string(inputs);
  }
  if (fit.rates.empty()) return "no: not at " + RateList(rates);
  return "fits at " + RateList(fit.rates);
}

}  // namespace

void ShowAudioDevices(int outputs, int inputs, std::span<const unsigned> rates, std::string_view inUse) {
  std::printf("\nALSA devices for playback and capture (the project needs outputs: %i, inputs: %i):\n", outputs,
              inputs);
  for (const ListedDevice& device : ListAudioDevices(rates)) {
    std::printf("  %s\n", device.name.c_str());
    if (!device.description.empty()) std::printf("      %s\n", device.description.c_str());
    // A device the project holds open cannot be opened again to ask.
    const std::string fit = device.name == inUse ? "in use by this project" : FitText(device.fit, outputs, inputs, rates);
    std::printf("      %s\n", fit.c_str());
  }
}

Flow ListDevicesCommand(ConsoleState& console) {
  const SessionState& s = console.s;
  const unsigned rate[] = {s.sampleRate};
  ShowAudioDevices(s.outputs, s.inputs, rate, s.deviceName.data());
  return Flow::EndPassClearPending;
}

}  // namespace sondrel
