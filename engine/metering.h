// Level metering: peaks, the running bar meter and clock, peak summaries.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/session_state.h"
#include "core/audio_constants.h"

namespace sondrel {

// The running meter measures against 2^23, so only the most negative code
// reaches 0 dB and counts as an over; the printed reports measure against
// positive full scale, so a full-scale positive sample already reads 0.00.
inline constexpr double kMeterReference = -static_cast<double>(kSampleMin);
inline constexpr double kReportReference = static_cast<double>(kSampleMax);
// Steps of the bar and columns of its field.
inline constexpr int kMeterColumns = 24;

// The bar meter's span and fall rate, derived from the meter range setting.
struct MeterScale {
  float range = 0.0f;  // dB span of the bar; 0 = meter off
  float decay = 0.0f;  // dB the bar falls per refresh when the level drops
};

// -120..-6 dB spans that many dB; below -120 spans 120; 0 is off; anything
// else (-5..-1 or positive) spans the smallest useful 6 dB.
MeterScale MeterScaleFromRange(int meterRange);

// The setting a typed meter range becomes: -120..-6 as typed, lower values
// -120, 0 (off) stays, anything else the smallest span, -6.
int ClampMeterRange(int typed);

// Level of a magnitude in dB against `reference`; a zero (or negative)
// magnitude is minus infinity. Full scale reads 0, never -0.
double LevelDb(double reference, std::int64_t magnitude);

// Scans `count` packed 3-byte samples of `block` (channel is 0-based):
// raises peaks[channel] to each larger magnitude, and where a magnitude is
// strictly above *maxPeak sets it and *maxChannel = channel + 1. A count
// below 1 does nothing. Runs on every metered block of the real-time loop:
// one pass, no allocation, integer arithmetic only.
void CheckPeak(int channel, int count, std::int64_t* peaks, const void* block, std::int64_t* maxPeak,
               int* maxChannel);

// What the bar meter remembers between refreshes. The console keeps one for
// the program's life; a run asks for a reset through its meterReset flag.
struct MeterState {
  int over = 0;            // a refresh has seen 0 dBFS since the reset
  int overChannel = 0;     // channel of the latest over
  int topPeak = -144;      // highest level since the reset, dB toward zero
  double current = -144.0;  // level the bar shows, dB
  float peakBars = 0.0f;   // column of the held peak marker, in bar steps
  float oldPeak = 0.0f;    // magnitude that set the held marker
  float last = -144.0f;    // level of the previous refresh, dB
};

// Draws one meter field for the interval peak `peak` (loudest on `channel`,
// 1-based) and updates `state`. When *reset is 1 it is cleared and the state
// starts afresh. cr = 1 starts the line (the clock is hidden). A meter whose
// range is not above 0 is off and draws nothing.
void Meter(MeterState& state, std::int64_t peak, float range, int* reset, int cr, int channel, float decay);

// Clock modes: 0 hidden, 1 redrawn in place, 2 one line per refresh.
// Tempo modes: 0 seconds, 1 measure.beat, anything else draws nothing.
// A zero rate, or in measure mode a tempo or signature that is not above 0,
// shows the start of the project rather than dividing by zero.
void UpdateClock(int clockMode, std::int64_t position, std::uint32_t rate, int tempoMode, float tempo,
                 int beatsPerMeasure);

// Samples between display refreshes for a run: a twelfth of a second when
// the clock is redrawn, a 48th when it scrolls; a hidden clock keeps the
// previous run's interval (a twelfth of a second before any).
std::int64_t RefreshInterval(int clockMode, std::uint32_t sampleRate, std::int64_t previous);

// The monitor line: each of `channels` (1-based, in order) with the level of
// its peak so far, redrawn in place.
void ShowMonitorLevels(std::span<const std::int64_t> inputPeak, std::span<const int> channels, int inputs);

// One summary line. kind 1 = output channel, 2 = bus left, 3 = bus right;
// any other kind prints nothing.
void ShowPeaks(std::int64_t peak, int number, int kind);

// End-of-run summaries, in the order a run prints them.
// After a recording that checked peaks: each armed input (1-based, in order).
void PrintInputPeaks(std::span<const std::int64_t> inputPeak, std::span<const int> channels);
// After playback in mix modes 2 and 3: busses 2..64 that are active; bus 1
// is the output pair.
void PrintBusPeaks(std::span<const std::int64_t, kBusCount> busLeft, std::span<const std::int64_t, kBusCount> busRight,
                   const std::array<int, kBusCount>& busActive);
// After playback: the stereo pair on outputs 1 and 2 (the mix in mode 1,
// bus 1 in modes 2 and 3, nothing in mode 0).
void PrintOutputPeaks(int mixMode, std::int64_t mixLeft, std::int64_t mixRight, std::int64_t bus1Left,
                      std::int64_t bus1Right);
// Either count is printed only when it is above 0.
void PrintXrunCounts(int underruns, int overruns);

// Whole seconds since 2012-10-10 16:09:00 UTC: the take number in new take
// and backup file names.
std::int64_t TakeNumberNow();

}  // namespace sondrel
