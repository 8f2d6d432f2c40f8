// Locate points (single named positions) and ranges (named in/out pairs):
// places in a song the user comes back to, stored and recalled by number.
// A locate point at 0 is empty; a range is in use while its start or its end
// is above 0. Positions are listed in seconds or in measure.beat.
#pragma once

#include <array>
#include <cstdint>

#include "core/session_state.h"
#include "console/console_state.h"

namespace sondrel {

using LocateTable = std::array<std::int64_t, kLocateCount>;
using RangeTable = std::array<std::int64_t, kRangeCount>;
using RangeUse = std::array<int, kRangeCount>;

// Asks for a range number and stores in/out there (overwriting), then asks
// for its name ("0" keeps the old one).
void TimeRangeStore(std::int64_t in, std::int64_t out, std::uint32_t sampleRate, RangeTable& starts,
                    RangeTable& ends, NameTable& names, int beatsPerMeasure, float tempo, int tempoMode);

// Asks for a range in use and copies its start and end into *in and *out.
void TimeRangeRecall(std::int64_t& in, std::int64_t& out, std::uint32_t sampleRate,
                     const RangeTable& starts, const RangeTable& ends, const NameTable& names,
                     int beatsPerMeasure, float tempo, int tempoMode);

// Renames and deletes ranges until the answer "c", or until none is left.
void EditRange(std::uint32_t sampleRate, RangeTable& starts, RangeTable& ends, NameTable& names,
               int beatsPerMeasure, float tempo, int tempoMode);

// Console commands.
Flow SaveTimeToLocate(ConsoleState& console);      // "i.l" "o.l" "e.l" "m.l"
Flow RecallTimeFromLocate(ConsoleState& console);  // "l.i" "l.o" "l.e" "l.m"
Flow LocateMenu(ConsoleState& console);            // "ll"
Flow StoreRange(ConsoleState& console);            // "io."
Flow RecallRange(ConsoleState& console);           // ".io"
Flow EditRanges(ConsoleState& console);            // "lio"

}  // namespace sondrel
