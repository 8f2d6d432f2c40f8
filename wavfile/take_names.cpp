#include "wavfile/take_names.h"

#include <ctime>

namespace sondrel {

namespace {

// Calendar second that take numbers count from (2012-10-10 16:09:00 UTC).
constexpr std::int64_t kTakeEpoch = 1349885340;

}  // namespace

std::int64_t TakeNumberNow() { return static_cast<std::int64_t>(std::time(nullptr)) - kTakeEpoch; }

std::string BoundedTakeNamePart(std::string_view text) {
  return std::string(text.substr(0, kMaxTakeNamePart));
}

// Built as a string, not in a fixed buffer: a name cut short would lose its
// ".wav" and the take would land under a name nothing else looks for. With
// every number at its widest the numbered form needs 70 characters.
std::string TakeFileName(std::string_view entry, int channel, std::int64_t take,
                         std::int64_t punch, bool presetTakeNaming,
                         std::string_view takeName) {
  std::string name;
  if (presetTakeNaming) {
    name = BoundedTakeNamePart(entry.substr(0, entry.find('.')));
    name += '_';
    name += BoundedTakeNamePart(takeName);
  } else {
    name = "audio_ch_" + std::to_string(channel) + "_" + std::to_string(take);
  }
  if (punch != 0) name += "_stp_" + std::to_string(punch);
  return name + ".wav";
}

}  // namespace sondrel
