// Level metering: peaks, the running bar meter and clock, peak summaries.
#pragma once

namespace sondrel {

// The bar meter's span and fall rate, derived from the meter range setting.
struct MeterScale {
  float range = 0.0f;  // dB span of the bar; 0 = meter off
  float decay = 0.0f;  // dB the bar falls per refresh when the level drops
};

// -120..-6 dB spans that many dB; below -120 spans 120; 0 is off; anything
// else (-5..-1 or positive) spans the smallest useful 6 dB.
MeterScale MeterScaleFromRange(int meterRange);

}  // namespace sondrel
