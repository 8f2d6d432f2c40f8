#include "mixer/mixing.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SONDREL_MIX_AVX2 1
#endif

#include "core/audio_constants.h"
#include "core/byte_order.h"

namespace sondrel {

namespace {

// Scaled results are kept well inside int64 so that adding busses into the
// master (x256) cannot overflow, however wild the gains.
constexpr float kScaledLimit = 1.0e15f;

// The mix walks the chunk in blocks of frames: every channel and bus of one
// block is summed, scaled and written before the next block starts, so the
// accumulators being added to stay in the L1 cache instead of streaming a
// whole chunk's worth (32 KiB per side) through it once per channel. A block
// is read completely before its results are written over chunks 0 and 1,
// so mixing in place stays correct.
constexpr int kBlockFrames = 512;

// Up to this many channels are added per pass over a block's accumulators:
// one load and store of the sums then serves several channels.
constexpr int kChannelsPerPass = 4;

// A set of channels, one bit each.
using ChannelSet = std::array<std::uint64_t, kMaxChannels / 64>;

void Insert(ChannelSet& set, int c) { set[c / 64] |= std::uint64_t{1} << (c % 64); }
bool Contains(const ChannelSet& set, int c) { return (set[c / 64] >> (c % 64) & 1) != 0; }

// Gains are whole numbers of 1/256 steps; a gain below 1 adds nothing.
double WholeGain(float gain) {
  if (!(std::fabs(gain) < 1.0e6f)) return 0.0;
  return std::trunc(static_cast<double>(gain));
}

// One accumulated sum brought back to sample scale: a single float multiply,
// clamped to the safe range (NaN from a broken gain becomes silence), then
// truncated toward zero. The result is a whole number below 1e15, exact in a
// float, so the callers can keep peaks as floats and convert at the end.
float Scaled(double acc, float gain) {
  float product = static_cast<float>(acc) * gain;
  if (!(std::fabs(product) < kScaledLimit)) {
    product = std::isnan(product) ? 0.0f : std::copysign(kScaledLimit, product);
  }
  return std::trunc(product);
}

// A sum past full scale is clamped to the 24-bit limits rather than wrapping
// into a full-scale click of the opposite sign. The peak already holds the
// true magnitude, so the summary still reports the over.
void Put24(float value, std::uint8_t* b) {
  const auto v = static_cast<std::uint32_t>(static_cast<std::int32_t>(
      std::clamp(value, static_cast<float>(kSampleMin), static_cast<float>(kSampleMax))));
  b[0] = static_cast<std::uint8_t>(v);
  b[1] = static_cast<std::uint8_t>(v >> 8);
  b[2] = static_cast<std::uint8_t>(v >> 16);
}

// The three inner loops of the mix, in a portable version and an AVX2 one.
// The channel sums are exact integers below 2^51 (a whole gain is below 1e6),
// so the versions agree to the bit whatever order or fused multiply-add they
// use. The rounding steps -- the float multiply of Scaled and, with wild bus
// levels, the master's additions of x256 busses -- are done the same way and
// in the same order by both.
struct MixKernels {
  // Adds `count` (1..kChannelsPerPass) channels of packed samples times their
  // whole gains into n frames of a stereo accumulator pair, or with `fresh`
  // stores their sum there instead (the first pass needs no zeroed sums).
  void (*add)(const std::uint8_t* const* src, const double* gainLeft, const double* gainRight, int count, int n,
              bool fresh, double* left, double* right);
  // Scales n sums and writes them as 24-bit samples to `out` (when not
  // null). Returns the largest magnitude of the scaled values.
  float (*scaleAndEncode)(const double* acc, int n, float gain, std::uint8_t* out);
  // Scales n bus sums and adds them, at x256, into the master's sums.
  // Returns the largest magnitude of the scaled values.
  float (*scaleIntoMaster)(const double* acc, int n, float gain, double* master);
};

// ---- Portable kernels: plain loops for any x86-64 (or other) CPU. ----

void AddPortable(const std::uint8_t* const* src, const double* gainLeft, const double* gainRight, int count, int n,
                 bool fresh, double* left, double* right) {
  if (fresh) {
    std::fill_n(left, n, 0.0);
    std::fill_n(right, n, 0.0);
  }
  // Decoding into a separate buffer first leaves a multiply-add loop the
  // compiler vectorises with plain SSE2.
  double samples[kBlockFrames];
  for (int k = 0; k < count; ++k) {
    // Whole 4-byte loads are faster than three byte loads; the last sample is
    // read bytewise so nothing past the chunk is touched.
    for (int i = 0; i < n - 1; ++i) {
      std::uint32_t raw;
      std::memcpy(&raw, src[k] + 3 * i, sizeof raw);
      samples[i] = static_cast<double>(static_cast<std::int32_t>(raw << 8) >> 8);
    }
    if (n > 0) samples[n - 1] = ReadSample24(src[k] + 3 * (n - 1));
    for (int i = 0; i < n; ++i) {
      left[i] += samples[i] * gainLeft[k];
      right[i] += samples[i] * gainRight[k];
    }
  }
}

float ScaleAndEncodePortable(const double* acc, int n, float gain, std::uint8_t* out) {
  float loudest = 0.0f;
  for (int i = 0; i < n; ++i) {
    const float value = Scaled(acc[i], gain);
    loudest = std::max(loudest, std::fabs(value));
    if (out != nullptr) Put24(value, out + 3 * i);
  }
  return loudest;
}

float ScaleIntoMasterPortable(const double* acc, int n, float gain, double* master) {
  float loudest = 0.0f;
  for (int i = 0; i < n; ++i) {
    const float value = Scaled(acc[i], gain);
    loudest = std::max(loudest, std::fabs(value));
    master[i] += 256.0 * static_cast<double>(value);
  }
  return loudest;
}

constexpr MixKernels kPortableKernels{AddPortable, ScaleAndEncodePortable, ScaleIntoMasterPortable};

#ifdef SONDREL_MIX_AVX2
// ---- AVX2 kernels: eight frames per step. Compiled for AVX2 and FMA only
// here, so the rest of the program still runs on any x86-64; they are used
// only when the CPU reports both. ----

#define SONDREL_AVX2 __attribute__((target("avx2,fma")))

// Eight packed samples to eight int32 lanes. The first 16-byte load holds
// samples 0-3 in its bytes 0-11; the second starts 8 bytes in and holds
// samples 4-7 in its bytes 4-15, so neither load reaches past the 24 bytes of
// these eight samples (the last block of a chunk is read safely). Each
// sample's bytes go to the top three bytes of its lane (mask -1 zeroes the
// low byte), and the arithmetic shift right by 8 sign-extends them.
SONDREL_AVX2 inline __m256i Decode8(const std::uint8_t* p) {
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
  const __m256i bytes = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
  const __m256i toTop = _mm256_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11,  //
                                         -1, 4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15);
  return _mm256_srai_epi32(_mm256_shuffle_epi8(bytes, toTop), 8);
}

// Eight int32 samples (already inside 24 bits) to 24 packed bytes, written
// as one 16-byte and one 8-byte store so nothing past them is touched: the
// next frames may still be unread input.
SONDREL_AVX2 inline void Encode8(__m256i samples, std::uint8_t* p) {
  const __m256i lowThree = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                            0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i packed = _mm256_shuffle_epi8(samples, lowThree);
  const __m128i first = _mm256_castsi256_si128(packed);    // frames 0-3 in bytes 0-11
  const __m128i second = _mm256_extracti128_si256(packed, 1);  // frames 4-7 in bytes 0-11
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_or_si128(first, _mm_slli_si128(second, 12)));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 16), _mm_srli_si128(second, 4));
}

// Scaled() for eight sums at once; also raises `loudest`. Clamping with
// max/min sends +-infinity and anything past the limit to +-limit; a NaN
// product comes out of the max as -limit and is then masked to zero.
SONDREL_AVX2 inline __m256 Scaled8(const double* acc, __m256 gain, __m256& loudest) {
  const __m128 low = _mm256_cvtpd_ps(_mm256_loadu_pd(acc));
  const __m128 high = _mm256_cvtpd_ps(_mm256_loadu_pd(acc + 4));
  const __m256 product = _mm256_mul_ps(_mm256_set_m128(high, low), gain);
  const __m256 limit = _mm256_set1_ps(kScaledLimit);
  const __m256 clamped = _mm256_min_ps(_mm256_max_ps(product, _mm256_sub_ps(_mm256_setzero_ps(), limit)), limit);
  const __m256 isNumber = _mm256_cmp_ps(product, product, _CMP_ORD_Q);
  const __m256 whole = _mm256_round_ps(_mm256_and_ps(clamped, isNumber), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
  loudest = _mm256_max_ps(loudest, _mm256_andnot_ps(_mm256_set1_ps(-0.0f), whole));
  return whole;
}

SONDREL_AVX2 inline float Largest(__m256 v) {
  __m128 m = _mm_max_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
  m = _mm_max_ps(m, _mm_movehl_ps(m, m));
  m = _mm_max_ss(m, _mm_shuffle_ps(m, m, 1));
  return _mm_cvtss_f32(m);
}

// N channels per pass, unrolled: the accumulators are loaded and stored once
// for all of them. Products and sums are exact, so FMA is safe.
template <int N, bool kFresh>
SONDREL_AVX2 void AddAvx2N(const std::uint8_t* const* src, const double* gainLeft, const double* gainRight, int n,
                          double* left, double* right) {
  __m256d gl[N];
  __m256d gr[N];
  for (int k = 0; k < N; ++k) {
    gl[k] = _mm256_set1_pd(gainLeft[k]);
    gr[k] = _mm256_set1_pd(gainRight[k]);
  }
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256d zero = _mm256_setzero_pd();
    __m256d l0 = kFresh ? zero : _mm256_loadu_pd(left + i);
    __m256d l1 = kFresh ? zero : _mm256_loadu_pd(left + i + 4);
    __m256d r0 = kFresh ? zero : _mm256_loadu_pd(right + i);
    __m256d r1 = kFresh ? zero : _mm256_loadu_pd(right + i + 4);
    for (int k = 0; k < N; ++k) {
      const __m256i s = Decode8(src[k] + 3 * i);
      const __m256d s0 = _mm256_cvtepi32_pd(_mm256_castsi256_si128(s));
      const __m256d s1 = _mm256_cvtepi32_pd(_mm256_extracti128_si256(s, 1));
      l0 = _mm256_fmadd_pd(s0, gl[k], l0);
      l1 = _mm256_fmadd_pd(s1, gl[k], l1);
      r0 = _mm256_fmadd_pd(s0, gr[k], r0);
      r1 = _mm256_fmadd_pd(s1, gr[k], r1);
    }
    _mm256_storeu_pd(left + i, l0);
    _mm256_storeu_pd(left + i + 4, l1);
    _mm256_storeu_pd(right + i, r0);
    _mm256_storeu_pd(right + i + 4, r1);
  }
  // The last frames of a chunk that is not a multiple of eight long.
  for (; i < n; ++i) {
    if (kFresh) left[i] = right[i] = 0.0;
    for (int k = 0; k < N; ++k) {
      const double sample = ReadSample24(src[k] + 3 * i);
      left[i] += sample * gainLeft[k];
      right[i] += sample * gainRight[k];
    }
  }
}

template <bool kFresh>
SONDREL_AVX2 void AddAvx2Count(const std::uint8_t* const* src, const double* gainLeft, const double* gainRight,
                               int count, int n, double* left, double* right) {
  static_assert(kChannelsPerPass == 4);
  switch (count) {
    case 1: return AddAvx2N<1, kFresh>(src, gainLeft, gainRight, n, left, right);
    case 2: return AddAvx2N<2, kFresh>(src, gainLeft, gainRight, n, left, right);
    case 3: return AddAvx2N<3, kFresh>(src, gainLeft, gainRight, n, left, right);
    default: return AddAvx2N<4, kFresh>(src, gainLeft, gainRight, n, left, right);
  }
}

SONDREL_AVX2 void AddAvx2(const std::uint8_t* const* src, const double* gainLeft, const double* gainRight,
                          int count, int n, bool fresh, double* left, double* right) {
  if (fresh) return AddAvx2Count<true>(src, gainLeft, gainRight, count, n, left, right);
  AddAvx2Count<false>(src, gainLeft, gainRight, count, n, left, right);
}

SONDREL_AVX2 float ScaleAndEncodeAvx2(const double* acc, int n, float gain, std::uint8_t* out) {
  const __m256 g = _mm256_set1_ps(gain);
  const __m256 low = _mm256_set1_ps(static_cast<float>(kSampleMin));
  const __m256 high = _mm256_set1_ps(static_cast<float>(kSampleMax));
  __m256 loudest = _mm256_setzero_ps();
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 whole = Scaled8(acc + i, g, loudest);
    if (out != nullptr) Encode8(_mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(whole, low), high)), out + 3 * i);
  }
  const float tail = ScaleAndEncodePortable(acc + i, n - i, gain, out != nullptr ? out + 3 * i : nullptr);
  return std::max(Largest(loudest), tail);
}

SONDREL_AVX2 float ScaleIntoMasterAvx2(const double* acc, int n, float gain, double* master) {
  const __m256 g = _mm256_set1_ps(gain);
  const __m256d x256 = _mm256_set1_pd(256.0);
  __m256 loudest = _mm256_setzero_ps();
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 whole = Scaled8(acc + i, g, loudest);
    const __m256d w0 = _mm256_cvtps_pd(_mm256_castps256_ps128(whole));
    const __m256d w1 = _mm256_cvtps_pd(_mm256_extractf128_ps(whole, 1));
    _mm256_storeu_pd(master + i, _mm256_add_pd(_mm256_loadu_pd(master + i), _mm256_mul_pd(w0, x256)));
    _mm256_storeu_pd(master + i + 4, _mm256_add_pd(_mm256_loadu_pd(master + i + 4), _mm256_mul_pd(w1, x256)));
  }
  const float tail = ScaleIntoMasterPortable(acc + i, n - i, gain, master + i);
  return std::max(Largest(loudest), tail);
}

constexpr MixKernels kAvx2Kernels{AddAvx2, ScaleAndEncodeAvx2, ScaleIntoMasterAvx2};
#endif  // SONDREL_MIX_AVX2

// The machine's kernels are chosen once, on the first mix.
const MixKernels& DetectedKernels() {
  static const MixKernels& chosen = []() -> const MixKernels& {
#ifdef SONDREL_MIX_AVX2
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return kAvx2Kernels;
#endif
    return kPortableKernels;
  }();
  return chosen;
}

const MixKernels& KernelsFor(const MixWorkspace& work) {
  return work.portableKernels ? kPortableKernels : DetectedKernels();
}

bool Plays(const ChunkPointers& chunks, const ChannelFlags& playFlags, int c) {
  return playFlags[c] == 1 && chunks[c] != nullptr;
}

// A channel whose whole gains are both zero adds exactly nothing (x + 0 = x
// for every sum the mix can hold), so the mix skips reading it.
bool Audible(const ChannelGains& gains, int c) {
  return WholeGain(gains.left[c]) != 0.0 || WholeGain(gains.right[c]) != 0.0;
}

int ClampFrames(int frames) { return std::clamp(frames, 0, kChunkFrames); }
int ClampChannels(int channels) { return std::clamp(channels, 0, kMaxChannels); }

std::uint8_t* At(std::uint8_t* chunk, int frame) { return chunk == nullptr ? nullptr : chunk + 3 * frame; }

// Sums the channels of `feeds` into n frames of a stereo accumulator pair,
// starting at frame `first` of each chunk, a few channels per pass.
void SumBlock(const MixKernels& kernels, const ChunkPointers& chunks, const ChannelGains& gains,
              const ChannelSet& feeds, int first, int n, double* left, double* right) {
  const std::uint8_t* src[kChannelsPerPass];
  double gainLeft[kChannelsPerPass];
  double gainRight[kChannelsPerPass];
  int count = 0;
  bool fresh = true;
  for (int word = 0; word < static_cast<int>(feeds.size()); ++word) {
    for (std::uint64_t bits = feeds[word]; bits != 0; bits &= bits - 1) {
      const int c = word * 64 + __builtin_ctzll(bits);
      src[count] = chunks[c] + 3 * first;
      gainLeft[count] = WholeGain(gains.left[c]);
      gainRight[count] = WholeGain(gains.right[c]);
      if (++count == kChannelsPerPass) {
        kernels.add(src, gainLeft, gainRight, count, n, fresh, left, right);
        count = 0;
        fresh = false;
      }
    }
  }
  if (count > 0) {
    kernels.add(src, gainLeft, gainRight, count, n, fresh, left, right);
  } else if (fresh) {  // no channel feeds these sums
    std::fill_n(left, n, 0.0);
    std::fill_n(right, n, 0.0);
  }
}

void RaisePeak(std::int64_t& peak, float loudest) { peak = std::max(peak, static_cast<std::int64_t>(loudest)); }

}  // namespace

void Mix(const ChunkPointers& chunks, int frames, int channels, const ChannelFlags& playFlags,
         const ChannelGains& gains, MixPeaks& peaks, float masterGain, MixWorkspace& work) {
  frames = ClampFrames(frames);
  channels = ClampChannels(channels);
  ChannelSet feeds{};
  for (int c = 0; c < channels; ++c) {
    if (Plays(chunks, playFlags, c) && Audible(gains, c)) Insert(feeds, c);
  }
  const MixKernels& kernels = KernelsFor(work);
  double* left = work.busLeft[0].data();
  double* right = work.busRight[0].data();
  float loudestLeft = 0.0f;
  float loudestRight = 0.0f;
  for (int first = 0; first < frames; first += kBlockFrames) {
    const int n = std::min(kBlockFrames, frames - first);
    SumBlock(kernels, chunks, gains, feeds, first, n, left + first, right + first);
    loudestLeft = std::max(loudestLeft, kernels.scaleAndEncode(left + first, n, masterGain, At(chunks[0], first)));
    loudestRight = std::max(loudestRight, kernels.scaleAndEncode(right + first, n, masterGain, At(chunks[1], first)));
  }
  if (frames == 0) return;
  RaisePeak(peaks.mixLeft, loudestLeft);
  RaisePeak(peaks.mixRight, loudestRight);
}

void MixMultiple(const ChunkPointers& chunks, int frames, int channels, const ChannelFlags& playFlags,
                 const ChannelGains& gains, MixPeaks& peaks, const std::array<int, kBusCount>& busActive,
                 const BusMatrix& busChannels, int busCount, const std::array<float, kBusCount>& busGain,
                 int mixMode, MixWorkspace& work) {
  if (mixMode != 2 && mixMode != 3) return;
  frames = ClampFrames(frames);
  channels = ClampChannels(channels);
  busCount = std::clamp(busCount, 0, kBusCount);
  // The master (bus 1) plays in mode 3 even when busCount leaves no busses.
  const int used = mixMode == 3 ? std::max(busCount, 1) : busCount;

  // Which channels each bus sums. A bus routed only playing-but-silent
  // channels still counts as receiving audio (its sums are zero), so
  // `received` is kept apart from the channels actually read.
  ChannelSet playing{};
  ChannelSet audible{};
  for (int c = 0; c < channels; ++c) {
    if (!Plays(chunks, playFlags, c)) continue;
    Insert(playing, c);
    if (Audible(gains, c)) Insert(audible, c);
  }
  std::array<ChannelSet, kBusCount> feeds{};
  std::array<bool, kBusCount> received{};
  for (int b = 0; b < used; ++b) {
    for (int c = 0; c < channels; ++c) {
      if (busChannels[b][c] != 1 || !Contains(playing, c)) continue;
      received[b] = true;
      if (Contains(audible, c)) Insert(feeds[b], c);
    }
  }

  // Mode 2 plays every bus in use, silent or not; mode 3 adds the in-use
  // busses that received audio into the master (bus 1), which always plays.
  std::array<bool, kBusCount> scaled{};
  for (int b = 0; b < used; ++b) {
    scaled[b] = mixMode == 2 ? busActive[b] == 1 : b == 0 || (busActive[b] == 1 && received[b]);
  }

  const MixKernels& kernels = KernelsFor(work);
  std::array<float, kBusCount> loudestLeft{};
  std::array<float, kBusCount> loudestRight{};
  for (int first = 0; first < frames; first += kBlockFrames) {
    const int n = std::min(kBlockFrames, frames - first);
    auto busLeft = [&](int b) { return work.busLeft[b].data() + first; };
    auto busRight = [&](int b) { return work.busRight[b].data() + first; };
    if (mixMode == 2) {
      // Every bus of the block is summed before any is written: the output
      // chunks may be some other bus's input.
      for (int b = 0; b < busCount; ++b) {
        if (scaled[b]) SumBlock(kernels, chunks, gains, feeds[b], first, n, busLeft(b), busRight(b));
      }
      // Bus b+1 plays on outputs 2b+1 and 2b+2.
      for (int b = 0; b < busCount; ++b) {
        if (!scaled[b]) continue;
        loudestLeft[b] = std::max(loudestLeft[b],
                                  kernels.scaleAndEncode(busLeft(b), n, busGain[b], At(chunks[2 * b], first)));
        loudestRight[b] = std::max(loudestRight[b],
                                   kernels.scaleAndEncode(busRight(b), n, busGain[b], At(chunks[2 * b + 1], first)));
      }
      continue;
    }
    // Mode 3: the master's own channels first, then each bus at its own
    // level in bus order (the order matters only when wild bus gains push
    // the master past exact double range).
    SumBlock(kernels, chunks, gains, feeds[0], first, n, busLeft(0), busRight(0));
    // Each bus is folded into the master as soon as it is summed, so one
    // scratch pair (bus 2's accumulators) serves them all and stays cached.
    double* scratchLeft = busLeft(1);
    double* scratchRight = busRight(1);
    for (int b = 1; b < busCount; ++b) {
      if (!scaled[b]) continue;
      SumBlock(kernels, chunks, gains, feeds[b], first, n, scratchLeft, scratchRight);
      loudestLeft[b] = std::max(loudestLeft[b], kernels.scaleIntoMaster(scratchLeft, n, busGain[b], busLeft(0)));
      loudestRight[b] = std::max(loudestRight[b], kernels.scaleIntoMaster(scratchRight, n, busGain[b], busRight(0)));
    }
    loudestLeft[0] = std::max(loudestLeft[0], kernels.scaleAndEncode(busLeft(0), n, busGain[0], At(chunks[0], first)));
    loudestRight[0] =
        std::max(loudestRight[0], kernels.scaleAndEncode(busRight(0), n, busGain[0], At(chunks[1], first)));
  }
  if (frames == 0) return;
  for (int b = 0; b < used; ++b) {
    if (!scaled[b]) continue;
    RaisePeak(peaks.busLeft[b], loudestLeft[b]);
    RaisePeak(peaks.busRight[b], loudestRight[b]);
  }
}


}  // namespace sondrel
