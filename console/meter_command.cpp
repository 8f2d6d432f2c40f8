#include "console/meter_command.h"

#include <cstdio>
#include <cstdlib>

#include "console/input.h"
#include "engine/metering.h"

namespace sondrel {

namespace {

// True when the word opens with something %i would read as a number.
bool StartsWithNumber(const WordBuffer& word) {
  char* end = nullptr;
  std::strtol(word.data(), &end, 0);
  return end != word.data();
}

}  // namespace

Flow MeterRangeCommand(ConsoleState& console) {
  SessionState& s = console.s;
  std::printf("Enter Meter Range -120 to -6 (dB) or 0 = off.  Currently at %i dB\n", s.meterRange);
  // The answer goes to a buffer of its own: the command word stays "mtr".
  WordBuffer answer{};
  ReadWord(answer);
  if (!StartsWithNumber(answer)) return Flow::Continue;
  s.meterRange = ClampMeterRange(ParseInt(WordOf(answer)));
  console.meter = MeterScaleFromRange(s.meterRange);
  return Flow::Continue;
}

}  // namespace sondrel
