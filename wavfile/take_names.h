// Names of new take files. Kept apart from the transport so the naming can
// be checked on its own, with any entry, take name and numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sondrel {

// Whole seconds since 2012-10-10 16:09:00 UTC: the take number in new take
// and backup file names.
std::int64_t TakeNumberNow();

// The longest base or take name that goes into a take file's name.
inline constexpr std::size_t kMaxTakeNamePart = 127;

// The first kMaxTakeNamePart characters of `text`.
std::string BoundedTakeNamePart(std::string_view text);

// The file name of a new take on input `channel` (from 1). Without a preset
// take name: "audio_ch_<channel>_<take>.wav"; with one: "<base>_<takeName>.wav"
// where base is the record list entry up to its first '.'. A punch point
// other than 0 adds "_stp_<punch>" before ".wav".
std::string TakeFileName(std::string_view entry, int channel, std::int64_t take,
                         std::int64_t punch, bool presetTakeNaming,
                         std::string_view takeName);

}  // namespace sondrel
