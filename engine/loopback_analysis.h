// Round-trip latency from a loopback: a known test signal is played on one
// output, recorded from an input wired back to it, and the recording is
// searched for the delay at which the signal returns. Pure arithmetic on
// whole buffers; the engine plays and records, the console reports.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace sondrel {

// Orders of test signal the generator knows taps for. 2^10 - 1 samples is the
// shortest that still rises well above the noise of an ordinary input; 2^18 - 1
// is over a second even at 192 kHz, longer than any loop needs.
inline constexpr int kMinTestSignalOrder = 10;
inline constexpr int kMaxTestSignalOrder = 18;

// A recorded magnitude from here up counts as clipped: 0.01 dB below positive
// full scale (8388607 * 10^(-0.01 / 20)). A converter that clips holds its
// extreme codes or stops a hair short of them; either way the loop distorted
// the signal, and a distorted peak cannot be trusted to the sample.
inline constexpr std::int64_t kClipMagnitude = 8378955;
// Below this loudest level nothing came back (no cable, a muted or wrong
// input): the correlation would only rank the noise floor.
inline constexpr double kNoSignalDbfs = -60.0;
// The strongest correlation peak must stand this far above every other one.
// A clean loop stands 25 dB or more above the sidelobes of the signal itself;
// an echo, a second path, another signal on the input, or a delay beyond the
// searched lags all bring a rival peak within a few dB.
inline constexpr double kMinConfidenceDb = 12.0;
// Lags this close to the strongest peak belong to it: an interface's
// anti-alias and anti-image filters smear one impulse over a few samples.
inline constexpr std::int64_t kPeakGuardFrames = 16;

// A maximum-length sequence of 2^order - 1 samples (order 10..18), each
// +amplitude or -amplitude, from a fixed linear feedback shift register, so
// every run plays the same signal. Its circular autocorrelation is a single
// spike, which is what makes the delay stand out. Any other order gives an
// empty signal.
std::vector<std::int32_t> MakeTestSignal(int order, std::int32_t amplitude);

enum class LoopbackVerdict { Found, NoSignal, Clipped, Ambiguous };

struct LoopbackResult {
  LoopbackVerdict verdict = LoopbackVerdict::NoSignal;
  std::int64_t delayFrames = 0;  // the lag of the strongest correlation peak (valid for Found and Ambiguous)
  double confidenceDb = 0;       // strongest |correlation| over the strongest other |correlation| outside
                                 // +-kPeakGuardFrames of it, in dB (infinite when there is no other)
  double peakDbfs = -144;        // loudest recorded sample, dBFS with reference 8388607 (-144 for silence)
};

// Cross-correlates `recorded` with `signal` for lags 0..maxLagFrames (recorded[n + lag] against signal[n])
// and judges the result: Clipped, then NoSignal, then Ambiguous, else Found. The magnitude of the
// correlation is used, as a loop may invert polarity. recorded.size() >= signal.size() + maxLagFrames is
// expected; missing samples count as 0. A negative maxLagFrames searches lag 0 only.
LoopbackResult AnalyseLoopback(std::span<const std::int32_t> signal, std::span<const std::int32_t> recorded,
                               std::int64_t maxLagFrames);

}  // namespace sondrel
