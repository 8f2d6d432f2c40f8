// Level metering: peaks of captured audio and the state of the running bar
// meter. The console draws what these compute.
#pragma once

#include <cstdint>

#include "core/audio_constants.h"
#include "core/session_state.h"

namespace sondrel {

// The running meter measures against 2^23, so only the most negative code
// reaches 0 dB and counts as an over; the printed reports measure against
// positive full scale, so a full-scale positive sample already reads 0.00.
inline constexpr double kMeterReference = -static_cast<double>(kSampleMin);
inline constexpr double kReportReference = static_cast<double>(kSampleMax);
// Steps of the bar and columns of its field.
inline constexpr int kMeterColumns = 24;
// Where the meter's levels start before anything was heard, in dB.
inline constexpr int kMeterFloorDb = static_cast<int>(kMinLevelDb);

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
// the program's life; each run starts it afresh at its first refresh.
struct MeterState {
  int over = 0;                       // a refresh has seen 0 dBFS since the reset
  int overChannel = 0;                // channel of the latest over
  int topPeak = kMeterFloorDb;        // highest level since the reset, dB toward zero
  double current = kMeterFloorDb;     // level the bar shows, dB
  float peakBars = 0.0f;              // column of the held peak marker, in bar steps
  float oldPeak = 0.0f;               // magnitude that set the held marker
  float last = kMeterFloorDb;         // level of the previous refresh, dB
};

// One refresh of the bar meter, as it is to be drawn.
struct MeterFrame {
  float rangeDb = 0.0f;
  double barSteps = 0.0;  // how far the bar reaches, in steps of the field
  float peakBars = 0.0f;  // where the held peak marker stands
  int channel = 0;        // the loudest channel of the interval, drawn as the marker
  bool over = false;
  int overChannel = 0;
  int topPeakDb = kMeterFloorDb;
};

// Moves the meter on by one refresh for the interval peak `peak` (loudest on
// `channel`, 1-based); `restart` clears what earlier runs left. The scale's
// range must be above 0.
MeterFrame UpdateMeter(MeterState& state, std::int64_t peak, const MeterScale& scale, bool restart, int channel);

// Samples between display refreshes for a run: a twelfth of a second when
// the clock is redrawn, a 48th when it scrolls; a hidden clock keeps the
// previous run's interval (a twelfth of a second before any).
std::int64_t RefreshInterval(int clockMode, std::uint32_t sampleRate, std::int64_t previous);

}  // namespace sondrel
