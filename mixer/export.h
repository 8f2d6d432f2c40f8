// Stereo mix export: the playlist's tracks between the in and out points,
// mixed offline through the same gains and fixed-point arithmetic as
// playback, written as 24-bit WAV: one interleaved two-channel file, or a
// left and a right mono file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/session_state.h"
#include "core/user_dialog.h"
#include "mixer/mixer_settings.h"
#include "mixer/mixing.h"

namespace sondrel {

enum class ExportLayout {
  Interleaved,  // "<base>.wav", two channels
  Split,        // "<base>_L.wav" and "<base>_R.wav", one channel each
};

// The playlist as the export found it, one entry per channel slot.
struct ExportTracks {
  std::string listText;                                 // the playlist file, whole
  ChannelFlags flags{};                                 // 1 = the track takes part
  std::array<std::int64_t, kMaxChannels> dataOffset{};  // file offset of the first sample
  std::array<std::int64_t, kMaxChannels> length{};      // samples the file holds
};

// The files an export under `baseName` writes; a name typed with ".wav"
// gets no second one.
std::vector<std::string> MixFileNames(ExportLayout layout, std::string_view baseName);

// Reads the current playlist and checks each listed track up to the 256
// channel slots (a rejected file is told; those of channels 1..tracks that
// pass take part), then recomputes the channel gains of the tracks that take
// part, repairing out-of-range volumes and pans. False, after telling why, when the playlist cannot be read.
[[nodiscard]] bool PrepareExport(SessionState& s, ChannelGains& gains, ExportTracks& tracks, UserDialog& dialog);

// Mixes in point .. out point (which must be positive) and writes the files
// named after `baseName`: exactly that many frames, as their headers
// declare. Tells the channels being mixed and the progress; `peaks` gets the
// loudest samples of the mix. `chunks` is the program's chunk buffer (one
// 4096-frame chunk per channel; chunks 0 and 1 receive the mix), `gains`
// those PrepareExport computed. A file that cannot be created or written is
// told and false returned; the files only take their names once complete,
// so a failed export leaves nothing behind and an earlier mix under the same
// name intact.
[[nodiscard]] bool ExportMix(const SessionState& s, ExportLayout layout, std::string_view baseName,
                             ExportTracks& tracks, const ChannelGains& gains, const ChunkPointers& chunks,
                             MixWorkspace& work, MixPeaks& peaks, UserDialog& dialog);

// An export writes "<name>.wav.part" and renames it once it is complete. At
// start-up any such file in the project directory was left by an export
// that was cut off: it is removed, and told. The export can be made again
// from the tracks, which it never touches.
void RemoveCutOffExports(UserDialog& dialog);

}  // namespace sondrel
