// Track lists: plain text, one WAV file name per line, line N for hardware
// channel N. Empty lines take no channel; a line starting with '-' skips its
// channel. Also the console commands that show the lists, choose the current
// list files and set the solo flags.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "app/session_state.h"

namespace sondrel {

struct ConsoleState;
enum class Flow;

// The entries of a list that can belong to a channel: at most one per
// channel slot, later lines are never used.
struct ListLines {
  std::array<std::string_view, kMaxChannels> lines{};
  int count = 0;
};

// Splits at newlines; runs of newlines count as one separator.
ListLines SplitListLines(std::string_view text);

// Only the first character counts, so "-old.wav" skips its channel too.
inline bool IsSkipLine(std::string_view line, char skipMarker = '-') {
  return !line.empty() && line.front() == skipMarker;
}

// Reads a whole file, of any size. False when it cannot be opened or read
// (a directory, for one).
bool ReadWholeFile(const char* path, std::string& text);

enum class ListKind { Playlist, Recordlist };

// Reads the current list file (slot 1 of its table). While it cannot be
// read, asks for another name and puts the answer in slot 1.
std::string ReadCurrentListWithRecovery(ListFileTable& files, ListKind kind);

// Lists which input records into which file, at most `inputs` lines.
// Returns 0 when the file cannot be read, else 1.
int REC_ARM_CHECK(int inputs, char skipMarker, const char* path);

// Lists which file plays on which channel, with its solo flag and where it
// is heard under `mixMode`, at most `tracks` lines. Returns 0 when the file
// cannot be read, else 1.
int PLAY_ARM_CHECK(int tracks, int outputs, char skipMarker, const std::array<int, kMaxChannels>& solo,
                   const char* path, const BusMatrix& busChannels, int mixMode,
                   const std::array<int, kBusCount>& busActive);

// Console commands.
Flow ListRecordlist(ConsoleState& console);      // "lr"
Flow ListPlaylist(ConsoleState& console);        // "lp"
Flow SoloMenu(ConsoleState& console);            // "so"
Flow PlaylistFileMenu(ConsoleState& console);    // "pf"
Flow RecordlistFileMenu(ConsoleState& console);  // "rf"

}  // namespace sondrel
