// param.txt, the project's settings file: the reader, the bus-list step
// ActivateBusses, the texts of the first-run file and of a full save, and
// the writer that puts a text in place.
//
// The reader takes files of any size and bounds every text it copies to its
// field: device name and names 63 characters, list slots 127. The whole text
// is built first and replaces param.txt atomically, so a failed save never
// damages the old file.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <vector>
#include <string_view>

#include "core/file_io.h"
#include "core/session_state.h"

namespace sondrel {

inline constexpr const char* kSettingsFileName = "param.txt";
// Written first and renamed over param.txt once it is complete and synced.
inline constexpr const char* kSettingsTempFileName = "param.txt.tmp";

// The 64 stored bus lists ("1,2,4,"), bus 1 at index 0.
using BusListTexts = std::array<std::string, kBusCount>;

// A count that start-up checks against what the program can use: the
// number the line says, read without wrapping, and the line it is on.
struct CountRead {
  std::string key;
  int line = 0;
  std::int64_t value = 0;
};

// What the reader found wrong in a file it read anyway.
struct SettingsReadResult {
  int rangesWithoutName = 0;  // range lines cut short: they get "range<N>"
  std::vector<CountRead> counts;  // sr, inputs, outputs, ch, buf: the line that counts for each
};

// Reads the whole file, closes it, and stores every setting the text names
// into `s`; fields the file does not mention keep their values (the caller
// has filled in the defaults). A null file changes nothing.
SettingsReadResult ReadSettings(SessionState& s, FilePtr file);

// The reader's work on text already in memory (ReadSettings after the read;
// also the entry for tests and fuzzing). The text ends at its first NUL byte,
// like any C string.
SettingsReadResult ParseSettingsText(SessionState& s, std::string_view text);

// For bus b (index b-1) splits list b at commas; every piece that reads as a
// base-10 integer c with 1 <= c <= 256 routes channel c to the bus and marks
// the bus active. Nothing is ever cleared.
void ActivateBusses(const BusListTexts& lists, BusMatrix& busChannels,
                    std::array<int, kBusCount>& busActive);

// The full text a save writes (key table rows 1 to 33). `clampedPeriod` is
// the period size as clamped by the device set-up; it is written as buf.
std::string BuildSettingsText(const SessionState& s, int clampedPeriod);

// The text of the first-run file (rows 1 to 7).
std::string BuildFirstRunText(const SessionState& s, int clampedPeriod);

// Replaces param.txt in the current directory with `text`: writes
// param.txt.tmp, flushes and syncs it, then renames it over param.txt. On any
// failure the temporary file is removed, param.txt is left as it was, and
// the result says why.
[[nodiscard]] IoResult WriteSettingsFile(const std::string& text);

}  // namespace sondrel
