#include "engine/loopback_analysis.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <numbers>

#include "core/audio_constants.h"
#include "engine/metering.h"

namespace sondrel {

namespace {

using Spectrum = std::vector<std::complex<double>>;

// Feedback taps of a primitive polynomial per order, from kMinTestSignalOrder
// up, as positions 1..order of the shift register. A primitive polynomial is
// what makes the register walk through every non-zero state before repeating.
constexpr std::array<std::array<int, 4>, 9> kTaps = {{
    {10, 7, 0, 0},
    {11, 9, 0, 0},
    {12, 6, 4, 1},
    {13, 4, 3, 1},
    {14, 5, 3, 1},
    {15, 14, 0, 0},
    {16, 15, 13, 4},
    {17, 14, 0, 0},
    {18, 11, 0, 0},
}};

// Radix-2 decimation-in-time FFT in place; the size is a power of two.
// The inverse is left unscaled: only the relative heights of the
// correlation matter here.
void Fft(Spectrum& data, bool inverse) {
  const std::size_t size = data.size();
  for (std::size_t i = 1, j = 0; i < size; ++i) {
    std::size_t bit = size >> 1;
    for (; (j & bit) != 0; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(data[i], data[j]);
  }
  // One table of roots for every stage: stepping a twiddle by repeated
  // multiplication would gather rounding error over a hundred thousand steps.
  Spectrum roots(size / 2);
  const double direction = inverse ? 1.0 : -1.0;
  for (std::size_t k = 0; k < roots.size(); ++k) {
    const double turns = static_cast<double>(k) / static_cast<double>(size);
    roots[k] = std::polar(1.0, direction * 2.0 * std::numbers::pi * turns);
  }
  for (std::size_t length = 2; length <= size; length <<= 1) {
    const std::size_t half = length / 2;
    const std::size_t stride = size / length;
    for (std::size_t start = 0; start < size; start += length) {
      for (std::size_t k = 0; k < half; ++k) {
        const std::complex<double> even = data[start + k];
        const std::complex<double> odd = data[start + k + half] * roots[k * stride];
        data[start + k] = even + odd;
        data[start + k + half] = even - odd;
      }
    }
  }
}

// The first `count` samples as a zero-padded spectrum of `size` points,
// scaled to +-1 so the products stay near unity.
Spectrum SpectrumOf(std::span<const std::int32_t> samples, std::size_t count, std::size_t size) {
  Spectrum data(size);
  const double fullScale = -static_cast<double>(kSampleMin);
  for (std::size_t i = 0; i < std::min(count, samples.size()); ++i) {
    data[i] = static_cast<double>(samples[i]) / fullScale;
  }
  Fft(data, false);
  return data;
}

}  // namespace

std::vector<std::int32_t> MakeTestSignal(int order, std::int32_t amplitude) {
  if (order < kMinTestSignalOrder || order > kMaxTestSignalOrder) return {};
  // Bit i of the register holds the sample i steps ahead; the tap at
  // position t feeds back the bit order - t. Starting from 1 fixes the phase.
  std::uint32_t tapMask = 0;
  for (const int tap : kTaps[static_cast<std::size_t>(order - kMinTestSignalOrder)]) {
    if (tap > 0) tapMask |= 1u << (order - tap);
  }
  const std::size_t length = (std::size_t{1} << order) - 1;
  std::vector<std::int32_t> signal(length);
  std::uint32_t state = 1;
  for (auto& sample : signal) {
    sample = (state & 1u) != 0 ? amplitude : -amplitude;
    const std::uint32_t feedback = static_cast<std::uint32_t>(std::popcount(state & tapMask)) & 1u;
    state = (state >> 1) | (feedback << (order - 1));
  }
  return signal;
}

LoopbackResult AnalyseLoopback(std::span<const std::int32_t> signal, std::span<const std::int32_t> recorded,
                               std::int64_t maxLagFrames) {
  LoopbackResult result;
  std::int64_t loudest = 0;
  for (const std::int32_t sample : recorded) loudest = std::max(loudest, std::abs(std::int64_t{sample}));
  result.peakDbfs = std::max(LevelDb(kReportReference, loudest), static_cast<double>(kMinLevelDb));
  if (loudest >= kClipMagnitude) {
    result.verdict = LoopbackVerdict::Clipped;
    return result;
  }
  if (result.peakDbfs < kNoSignalDbfs) return result;

  // Lag L reads recorded[L .. L + signal), so no sample past signal + maxLag
  // takes part. Transforms at least that long keep the circular correlation
  // from wrapping the far end of the recording onto a searched lag.
  const std::size_t lagCount = static_cast<std::size_t>(std::max<std::int64_t>(maxLagFrames, 0)) + 1;
  const std::size_t usedFrames = signal.size() + lagCount - 1;
  const std::size_t size = std::bit_ceil(std::max<std::size_t>(usedFrames, 2));
  Spectrum product = SpectrumOf(recorded, usedFrames, size);
  const Spectrum signalSpectrum = SpectrumOf(signal, signal.size(), size);
  // The conjugate turns the product's convolution into a correlation.
  for (std::size_t k = 0; k < size; ++k) product[k] *= std::conj(signalSpectrum[k]);
  Fft(product, true);

  std::vector<double> strength(lagCount);
  for (std::size_t lag = 0; lag < lagCount; ++lag) strength[lag] = std::abs(product[lag].real());
  const auto strongest = std::max_element(strength.begin(), strength.end());
  result.delayFrames = strongest - strength.begin();
  double rival = 0;
  for (std::size_t lag = 0; lag < lagCount; ++lag) {
    const std::int64_t distance = static_cast<std::int64_t>(lag) - result.delayFrames;
    if (std::abs(distance) > kPeakGuardFrames) rival = std::max(rival, strength[lag]);
  }
  // Nothing correlating at all is no peak; a peak with no rival is certain.
  if (*strongest == 0) {
    result.confidenceDb = 0;
  } else if (rival == 0) {
    result.confidenceDb = std::numeric_limits<double>::infinity();
  } else {
    result.confidenceDb = 20.0 * std::log10(*strongest / rival);
  }
  result.verdict = result.confidenceDb < kMinConfidenceDb ? LoopbackVerdict::Ambiguous : LoopbackVerdict::Found;
  return result;
}

}  // namespace sondrel
