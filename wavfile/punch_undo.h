// The undo record that makes an in-place punch-in safe.
//
// A punch-in overwrites the record file where the take lands, so laying ten
// seconds over an hour-long track costs ten seconds of writing, not an hour
// of copying. Before the first byte changes, the bytes about to be
// overwritten (the header, whose size fields may change, and the old audio
// under the take) are saved with the file's old size in "punch-in.undo" in
// the project directory, and made durable. A punch-in that fails puts them
// back at once; one cut off by a crash or a power cut is put back the next
// time the program starts. The record file is always either exactly as it
// was or completely punched, never torn.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/user_dialog.h"

namespace sondrel {

// Whether a punch-in's overwritten bytes are saved and not yet dealt with.
struct PunchUndo {
  bool saved = false;
};

// Saves the first `headerBytes` of `target` and the bytes it holds from
// `regionAt` for `regionBytes` (cut at its end), with its size, then makes
// the record durable. False, after telling why, when it could not be saved;
// the file must then not be touched. An undo record left by an earlier
// punch-in that could not be put back is never overwritten.
[[nodiscard]] bool SavePunchUndo(std::FILE* target, const char* path, std::int64_t sizeBytes, std::int64_t headerBytes,
                                 std::int64_t regionAt, std::int64_t regionBytes, PunchUndo& undo, UserDialog& dialog);

// The punch-in is complete and on the disk: the undo record goes.
void CommitPunch(PunchUndo& undo);

// The punch-in failed part way: the saved bytes and size are put back and
// the record goes. False (after telling why) if they could not be put back;
// the record is then kept for the next start.
[[nodiscard]] bool UndoPunch(PunchUndo& undo, UserDialog& dialog);

// At start-up: puts back a punch-in that was cut off, and removes an undo
// record that was never completed (its punch-in had not started).
void RecoverInterruptedPunch(UserDialog& dialog);

}  // namespace sondrel
