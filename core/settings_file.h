// param.txt, the project's settings file: the reader ReadSettings,
// the bus-list step ActivateBusses, and the two writers WriteFirstRunSettings and
// StoreSettings.
//
// The reader takes files of any size and bounds every text it copies to its
// field: device name and names 63 characters, list slots 127. The writers build the whole text first and
// replace param.txt atomically, so a failed save never damages the old file.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <string_view>

#include "core/session_state.h"

namespace sondrel {

inline constexpr const char* kSettingsFileName = "param.txt";
// Written first and renamed over param.txt once it is complete and synced.
inline constexpr const char* kSettingsTempFileName = "param.txt.tmp";

// The 64 stored bus lists ("1,2,4,"), bus 1 at index 0.
using BusListTexts = std::array<std::string, kBusCount>;

// Reads the whole stream, closes it, and stores every setting the text names
// into `s`; fields the file does not mention keep their values (the caller
// has filled in the defaults). A null stream changes nothing.
void ReadSettings(SessionState& s, std::FILE* stream);

// The reader's work on text already in memory (ReadSettings after the read;
// also the entry for tests and fuzzing). The text ends at its first NUL byte,
// like any C string.
void ParseSettingsText(SessionState& s, std::string_view text);

// For bus b (index b-1) splits list b at commas; every piece that reads as a
// base-10 integer c with 1 <= c <= 256 routes channel c to the bus and marks
// the bus active. Nothing is ever cleared.
void ActivateBusses(const BusListTexts& lists, BusMatrix& busChannels,
                    std::array<int, kBusCount>& busActive);

// The full StoreSettings text (key table rows 1 to 33). `clampedPeriod` is
// the period size as clamped by the device set-up; it is written as buf.
std::string BuildSettingsText(const SessionState& s, int clampedPeriod);

// The first-run text of WriteFirstRunSettings (rows 1 to 7).
std::string BuildFirstRunText(const SessionState& s, int clampedPeriod);

// Replaces param.txt in the current directory with `text`: writes
// param.txt.tmp, flushes and syncs it, then renames it over param.txt. On any
// failure the temporary file is removed, param.txt is left as it was, errno
// describes the failure and the result is false.
bool WriteSettingsFile(const std::string& text);

// Writes the first-run file and prints "Created param.txt file", or a failure
// message; the program goes on either way.
void WriteFirstRunSettings(const SessionState& s, int clampedPeriod);

// Writes the full settings file (the console's "s") and prints
// "\nStored Settings\n" and a line end, or a failure message.
void StoreSettings(const SessionState& s, int clampedPeriod);

}  // namespace sondrel
