// Track list text: one file name per line, line N for hardware channel N.
// Empty lines take no channel; a line starting with '-' names no file.
// Every list (record, play, take, audition) is read and split here.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "core/session_state.h"

namespace sondrel {

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

// The pieces of a comma-separated list such as "1,2,4,", in order; empty
// pieces are left out.
std::vector<std::string_view> SplitAtCommas(std::string_view text);

// Entry `index` (from 0) of a newline list with empty lines skipped; "" when
// the list has no such entry.
std::string ListEntry(std::string_view list, int index);

// Reads a whole file, of any size. False when it cannot be opened or read
// (a directory, for one).
[[nodiscard]] bool ReadWholeFile(const char* path, std::string& text);

}  // namespace sondrel
