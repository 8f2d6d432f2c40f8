#include "engine/metering.h"

namespace sondrel {

MeterScale MeterScaleFromRange(int meterRange) {
  MeterScale scale;
  if (meterRange >= -120 && meterRange <= -6) {
    scale.range = static_cast<float>(-meterRange);
  } else if (meterRange < -120) {
    scale.range = 120.0f;
  } else if (meterRange == 0) {
    scale.range = 0.0f;
  } else {
    scale.range = 6.0f;
  }
  // A quarter of the span: the bar falls 6 of its 24 steps per refresh.
  scale.decay = scale.range / 4.0f;
  return scale;
}

}  // namespace sondrel
