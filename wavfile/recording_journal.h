// The record of a recording in progress, which lets the next start account
// for takes that a crash, a kill or a power cut cut off.
//
// Before a record run writes its first sample, the names of its take files
// are saved in "recording.takes" in the project directory and made durable.
// While the run goes, each take's header is brought up to date every second
// or so; when the run ends, the takes get their final sizes, are synced and
// the record goes. A record found at start-up therefore means a run that
// never ended: each take it names is cut to the whole samples it holds, its
// sizes are made to say so, and it is kept.
#pragma once

#include <span>
#include <string>

#include "core/file_io.h"
#include "core/user_dialog.h"

namespace sondrel {

// Saves the names of the takes about to be recorded. On failure the run may
// still go ahead: its takes then only have their running header updates.
[[nodiscard]] IoResult SaveRecordingJournal(std::span<const std::string> takeNames);

// The run ended and its takes are final and on the disk.
void RemoveRecordingJournal();

// At start-up: fixes and keeps every take of a run that was cut off,
// telling the user of each, then removes the record.
void RecoverInterruptedRecording(UserDialog& dialog);

}  // namespace sondrel
