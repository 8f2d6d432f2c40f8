// Track lists: plain text, one WAV file name per line, line N for hardware
// channel N. Empty lines take no channel; a line starting with '-' skips its
// channel.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "app/session_state.h"

namespace sondrel {

// The entries of a list that can belong to a channel: at most one per
// channel slot, later lines are never used.
struct ListLines {
  std::array<std::string_view, kMaxChannels> lines{};
  int count = 0;
};

// Splits at newlines; runs of newlines count as one separator.
ListLines SplitListLines(std::string_view text);

inline bool IsSkipLine(std::string_view line) { return !line.empty() && line.front() == '-'; }

// Reads a whole file, of any size. False when it cannot be opened or read
// (a directory, for one).
bool ReadWholeFile(const char* path, std::string& text);

enum class ListKind { Playlist, Recordlist };

// Reads the current list file (slot 1 of its table). While it cannot be
// read, asks for another name and puts the answer in slot 1.
std::string ReadCurrentListWithRecovery(ListFileTable& files, ListKind kind);

}  // namespace sondrel
