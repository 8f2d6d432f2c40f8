// What becomes of a new take: the take menu after a recording. It replaces
// the record files, punches the take into them, keeps it under names
// derived from the record list, auditions it, or deletes it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/session_state.h"
#include "engine/audio_device.h"
#include "engine/metering.h"
#include "engine/transport.h"

namespace sondrel {

// Everything the take menu works with besides the recording itself.
struct TakeContext {
  SessionState& s;
  AudioDevices& devices;
  TransportBuffers& buffers;
  TransportState& transport;
  MeterScale meterScale;
  std::int64_t crossfadeSamples = 0;  // L: both edges of a punch-in blend over L samples
  // Once "W" is answered to the replace question, replacing never asks again.
  bool& replaceOverwriteAll;
  UserDialog& dialog;
  RunObserver& observer;
};

// Runs the take menu until one of its commands has been carried out (an
// audition returns to the menu).
void RunTakeMenu(TakeContext& context, const Recording& recording);

// Counts the files of the first `count` list entries that exist. When some
// do, asks whether to overwrite them: 1 = go on, 0 = back to the menu. "W"
// sets `overwriteAll`.
int ConfirmOverwrite(int count, std::string_view list, bool& overwriteAll);

// Renames each recorded channel's take file to "<record base>_<suffix>.wav",
// asking before replacing an existing file.
void RenameTakesWithSuffix(int count, std::string_view takeList, std::string_view recordList, std::string suffix,
                  const std::array<int, kMaxChannels>& recorded);

// The audition's play list: the take on each recorded channel, the playlist
// entry on every other one ("-" where a list has no entry).
std::string Hybridize(std::string_view playList, std::string_view takeList,
                      const std::array<int, kMaxChannels>& recorded, int count);

}  // namespace sondrel
