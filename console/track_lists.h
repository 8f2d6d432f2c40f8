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

// Console commands.
Flow ListRecordlist(ConsoleState& console);      // "lr"
Flow ListPlaylist(ConsoleState& console);        // "lp"
Flow SoloMenu(ConsoleState& console);            // "so"
Flow PlaylistFileMenu(ConsoleState& console);    // "pf"
Flow RecordlistFileMenu(ConsoleState& console);  // "rf"

}  // namespace sondrel
