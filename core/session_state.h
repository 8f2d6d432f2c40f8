// The one record that holds every setting, stored position, name table, list
// slot and mixer table of a session. Start-up owns it and lends it whole to
// the console for the program's life.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/audio_constants.h"

namespace sondrel {

inline constexpr int kMaxChannels = 256;
inline constexpr int kBusCount = 64;
inline constexpr int kRangeCount = 64;
inline constexpr int kLocateCount = 64;
inline constexpr std::size_t kNameSize = 64;
inline constexpr int kListSlots = 128;
inline constexpr std::size_t kListSlotSize = 128;
inline constexpr std::size_t kDeviceNameSize = 64;

// A fixed text field: always NUL-terminated, never overrun.
template <std::size_t N>
using TextField = std::array<char, N>;

template <std::size_t N>
void SetText(TextField<N>& field, std::string_view text) {
  const std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
  std::memcpy(field.data(), text.data(), n);
  field[n] = '\0';
}

template <std::size_t N>
std::string_view TextOf(const TextField<N>& field) {
  return std::string_view(field.data(), strnlen(field.data(), N));
}

using NameTable = std::array<TextField<kNameSize>, kRangeCount>;
// Slot 1 of a list-file table is index 0: the current list file.
using ListFileTable = std::array<TextField<kListSlotSize>, kListSlots>;
using BusMatrix = std::array<std::array<int, kMaxChannels>, kBusCount>;

// A project whose interface was never measured keeps the older alignment.
constexpr std::int64_t kRoundTripNotMeasured = -1;

struct SessionState {
  int tracks = -1;   // per-channel slots in use; negative = not set yet
  int inputs = -1;   // capture channels
  int outputs = -1;  // playback channels
  TextField<kDeviceNameSize> deviceName{};
  std::uint32_t sampleRate = 44100;
  std::int64_t inPoint = 0;      // play start, samples
  std::int64_t outPoint = 0;     // play/record stop, samples
  std::int64_t punchPoint = 0;   // record start, samples
  std::int64_t memoryPoint = 0;  // samples
  int clockMode = 1;      // 0 hidden, 1 not streamed, 2 streamed
  int peakCheck = 1;      // 1 check peaks while recording
  int periodFrames = 1024;
  int interfaceMode = 1;  // 1 full, 0 minimal
  int odcomp = 4;         // playback/capture delay compensation, periods
  // The interface's measured round-trip latency (output to input through a
  // cable), samples; kRoundTripNotMeasured until the user measures it. Once
  // set, it places takes instead of odcomp.
  std::int64_t roundTripFrames = kRoundTripNotMeasured;
  std::array<float, kMaxChannels> channelVolume{};  // dB
  std::array<float, kMaxChannels> channelPan{};     // -100 .. 100
  int mixMode = 0;
  int meterRange = -30;  // dB, 0 = meter off
  float tempo = 120.0f;
  int beatsPerMeasure = 4;
  int tempoMode = 0;  // 0 seconds, 1 measure.beat
  int safeMode = 0;
  std::array<std::int64_t, kRangeCount> rangeStart{};
  std::array<std::int64_t, kRangeCount> rangeEnd{};
  NameTable rangeNames{};
  std::array<std::int64_t, kLocateCount> locatePoints{};
  NameTable locateNames{};
  float nudge = 0.25f;  // seconds
  std::array<int, kMaxChannels> solo{};
  ListFileTable playlistFiles{};
  ListFileTable recordlistFiles{};
  std::array<int, kBusCount> busActive{};
  BusMatrix busChannels{};  // [bus][channel], both from 0
  float preroll = 0.0f;     // seconds
  float crossfade = 0.0f;   // milliseconds
  int settingsCreated = 0;  // 1 = first run: write param.txt after device set-up
  std::array<float, kBusCount> busVolume{};  // dB
  std::array<float, kBusCount> busGain{};    // linear, carries the mixer's 1/256
  float auditionLength = 3.0f;  // seconds
  // The click sounds on output clickOutput (from 1; 0: off) at clickLevelDb;
  // a recording with playback first plays countInBars bars of it alone.
  int clickOutput = 0;
  float clickLevelDb = kClickDefaultLevelDb;
  int countInBars = 0;
};

// Fills every field with its default (the record is large: keep it off the
// stack and reset it in place).
void ResetSessionState(SessionState& state);

}  // namespace sondrel
