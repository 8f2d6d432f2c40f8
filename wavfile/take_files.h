// File operations behind the take commands: pad a take with silence so it
// lines up with the project start, stamp or unstamp its name, rename or
// delete the files of a list, back up a track, punch one file's audio into
// another, and build an equal-power crossfade between two files.
//
// A musician's take cannot be recorded again, so every operation that
// rewrites an existing track either builds the new version in a work file
// next to it, makes that durable and only then renames it over the old one,
// or (a punch-in, which changes only where the take lands) first saves the
// bytes it overwrites so that they can be put back (punch_undo.h). A failure
// at any step leaves every existing file exactly as it was; the bool results
// say whether the operation happened, and a failure has always been told to
// the dialog with the file that failed and why.
//
// Positions and lengths count mono 24-bit samples (3 bytes each), from the
// first audio byte that the data-marker scan of wav_format.h finds.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/session_state.h"
#include "core/user_dialog.h"

namespace sondrel {

// The names the operations below give files, as pure functions of their
// inputs. A backup: "<path up to its first '.'>_bkup_<stamp as a 32-bit
// integer><extension>".
std::string BackupFileName(std::int64_t stamp, std::string_view path, std::string_view extension);
// A stamped take: "<entry up to its first '.'>_stp_<stamp>.wav".
std::string StampedFileName(std::string_view entry, std::int64_t stamp);
// A stamp removed: `name` cut before its first "_stp", plus ".wav"; "" when
// the name has no "_stp" or starts with '-'.
std::string UnstampedFileName(std::string_view name);

// Puts `samples` samples of silence before the file's audio, rebuilding it
// through "temp_pad.wav" and "temp_data.wav". The data and RIFF sizes then
// match the new file. A file without a data marker is told as one the
// program cannot go on with.
[[nodiscard]] bool PadTrackStart(const char* path, std::int64_t samples, UserDialog& dialog);

// Renames entry i of `list` to "<base>_stp_<stamp>.wav" (base = the entry
// up to its first '.') for each i < count with recorded[i] == 1. Entries that
// are missing or start with '-' are passed over; a failed rename is told
// and the others still go ahead.
[[nodiscard]] bool StampTakeNames(int count, std::string_view list, std::int64_t stamp,
                                  const std::array<int, kMaxChannels>& recorded, UserDialog& dialog);

// Renames the file to its name cut before the first "_stp", plus ".wav". A
// name without "_stp" (or a '-' entry) is left as it is.
[[nodiscard]] bool RemoveTakeStamp(const char* path, UserDialog& dialog);

// Renames entry i of `fromList` to entry i of `toList` for i < count,
// replacing an existing file of the target name. Positions where either
// entry is missing or starts with '-' are passed over.
[[nodiscard]] bool RenameListedFiles(int count, std::string_view fromList, std::string_view toList, UserDialog& dialog);

// Deletes the files named by the first `count` entries. Missing and '-'
// entries are passed over, and so is an entry whose file is already gone.
[[nodiscard]] bool DeleteListedFiles(int count, std::string_view list, UserDialog& dialog);

// Copies the file byte for byte to "<path up to its first '.'>_bkup_<stamp
// as a 32-bit integer>.wav". An older backup of that name is replaced only
// by a complete copy. True when the backup was written.
[[nodiscard]] bool BackUpTrack(std::int64_t stamp, const char* path, UserDialog& dialog);

// Overwrites the destination's audio from sample `position` on with up to
// `length` samples of the source's audio (a punch-in; later audio does not
// move). Only that stretch of the file is written, so the cost follows the
// source's length, not the destination's. A position past the end leaves
// silence in between, and a result longer than before gets its size fields
// rewritten. A file without a data marker is told as one the program cannot
// go on with.
[[nodiscard]] bool PunchInPlace(const char* destination, const char* source, std::int64_t position, std::int64_t length,
                                UserDialog& dialog);

// Appends `length` samples to `output` (which must already hold a header)
// that fade with equal power from the destination, read from sample
// destinationPosition - half, into the source, read from sourcePosition -
// half. Samples past the end of either file count as silence; sums beyond
// the 24-bit range are saturated. On failure the output is left as it was.
[[nodiscard]] bool WriteCrossfade(std::int64_t destinationPosition, std::int64_t sourcePosition, std::int64_t length,
                                  const char* destination, const char* source, const char* output, std::int64_t half,
                                  UserDialog& dialog);

}  // namespace sondrel
