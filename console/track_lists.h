// Track lists: plain text, one WAV file name per line, line N for hardware
// channel N. Empty lines take no channel; a line starting with '-' skips its
// channel. Also the console commands that show the lists, choose the current
// list files and set the solo flags.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "core/session_state.h"
#include "core/list_text.h"

namespace sondrel {

struct ConsoleState;
enum class Flow;

enum class ListKind { Playlist, Recordlist };

// Lists which input records into which file, at most `inputs` lines.
// Returns 0 when the file cannot be read, else 1.
int ShowRecordlist(int inputs, char skipMarker, const char* path);

// Lists which file plays on which channel, with its solo flag and where it
// is heard under `mixMode`, at most `tracks` lines. Returns 0 when the file
// cannot be read, else 1.
int ShowPlaylist(int tracks, int outputs, char skipMarker, const std::array<int, kMaxChannels>& solo,
                   const char* path, const BusMatrix& busChannels, int mixMode,
                   const std::array<int, kBusCount>& busActive);

// Console commands.
Flow ListRecordlist(ConsoleState& console);      // "lr"
Flow ListPlaylist(ConsoleState& console);        // "lp"
Flow SoloMenu(ConsoleState& console);            // "so"
Flow PlaylistFileMenu(ConsoleState& console);    // "pf"
Flow RecordlistFileMenu(ConsoleState& console);  // "rf"

}  // namespace sondrel
