#include "imaging/ycc_spans.h"

#include <algorithm>
#include <cstdint>

#include "platform/cpu_features.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define LUMVET_YCC_AVX2 1
#endif

namespace lumvet::detail {

namespace {

// libjpeg's fixed-point factors, FIX(x) = (int)(x * 65536 + 0.5).
constexpr int kOne = 1 << 16;
constexpr int fix(double x) { return static_cast<int>(x * kOne + 0.5); }
constexpr int kCrToR = fix(1.40200);
constexpr int kCbToB = fix(1.77200);
constexpr int kCbToG = fix(0.34414);
constexpr int kCrToG = fix(0.71414);
constexpr int kHalf = 1 << 15;
static_assert(kCrToR == 91881 && kCbToB == 116130 && kCbToG == 22554 && kCrToG == 46802);

// The vector code forms each product with pmaddwd, whose factors are 16-bit: a
// factor above 32767 is split into whole multiples of 65536, which pass through
// the final shift as whole x's, and a 16-bit remainder:
//   91881 x = 65536 x + 26345 x,  116130 x = 131072 x - 14942 x,
//   -46802 x = -65536 x + 18734 x;
// and the rounding constant 32768 is formed as 2 x 16384 (the pair partner 2).
constexpr int kCrToRPart = kCrToR - kOne;
constexpr int kCbToBPart = kCbToB - 2 * kOne;
constexpr int kCrToGPart = kOne - kCrToG;
constexpr int kHalfPart = kHalf / 2;
static_assert(kCrToRPart == 26345 && kCbToBPart == -14942 && kCrToGPart == 18734);
static_assert(kHalfPart * 2 == kHalf);
constexpr bool fits_16_bits(int v) { return v >= -32768 && v <= 32767; }
static_assert(fits_16_bits(kCrToRPart) && fits_16_bits(kCbToBPart) && fits_16_bits(kCrToGPart) &&
              fits_16_bits(-kCbToG) && fits_16_bits(kHalfPart));

// Two 16-bit factors in one 32-bit lane, `low` first: pmaddwd's operand for
// pairs (a, b) forming low a + high b.
constexpr int factor_pair(int low, int high) {
  return static_cast<int>((static_cast<std::uint32_t>(high) << 16) |
                          (static_cast<std::uint32_t>(low) & 0xFFFFu));
}
constexpr int kRPair = factor_pair(kCrToRPart, kHalfPart);  // (xr, 2)
constexpr int kBPair = factor_pair(kCbToBPart, kHalfPart);  // (xb, 2)
constexpr int kGPair = factor_pair(-kCbToG, kCrToGPart);    // (xb, xr)

inline std::uint8_t clamp_sample(int v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

#ifdef LUMVET_YCC_AVX2
// (pairs of a and b) . weights + add, shifted right by 16, in 16 bits.
__attribute__((target("avx2"), always_inline)) inline __m256i fraction_avx2(__m256i a, __m256i b,
                                                                            __m256i weights,
                                                                            __m256i add) {
  const __m256i lo = _mm256_srai_epi32(
      _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), weights), add), 16);
  const __m256i hi = _mm256_srai_epi32(
      _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), weights), add), 16);
  return _mm256_packs_epi32(lo, hi);
}

// ycc_to_bgrx_span's vector step sixteen pixels at a time, for as many whole
// steps as `count` holds; returns the pixels done. The 256-bit operations work
// within 128-bit halves, which hold pixels 0-7 and 8-15 until the last
// interleave, so only the stores need the halves put in order.
__attribute__((target("avx2"))) std::int32_t ycc_to_bgrx_avx2(const std::uint8_t* y,
                                                              const std::int16_t* cb,
                                                              const std::int16_t* cr,
                                                              std::int32_t count,
                                                              std::uint8_t* bgrx) {
  const __m256i center = _mm256_set1_epi16(128);
  const __m256i two = _mm256_set1_epi16(2);
  const __m256i r_weights = _mm256_set1_epi32(kRPair);
  const __m256i b_weights = _mm256_set1_epi32(kBPair);
  const __m256i g_weights = _mm256_set1_epi32(kGPair);
  const __m256i half = _mm256_set1_epi32(kHalf);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i opaque = _mm256_set1_epi8(static_cast<char>(0xFF));
  std::int32_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m256i yy =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + i)));
    const __m256i xb =
        _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(cb + i)), center);
    const __m256i xr =
        _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(cr + i)), center);
    const __m256i r =
        _mm256_add_epi16(_mm256_add_epi16(yy, xr), fraction_avx2(xr, two, r_weights, zero));
    const __m256i b = _mm256_add_epi16(_mm256_add_epi16(yy, _mm256_add_epi16(xb, xb)),
                                       fraction_avx2(xb, two, b_weights, zero));
    const __m256i g =
        _mm256_add_epi16(_mm256_sub_epi16(yy, xr), fraction_avx2(xb, xr, g_weights, half));
    const __m256i bg = _mm256_unpacklo_epi8(_mm256_packus_epi16(b, b), _mm256_packus_epi16(g, g));
    const __m256i rx = _mm256_unpacklo_epi8(_mm256_packus_epi16(r, r), opaque);
    const __m256i first = _mm256_unpacklo_epi16(bg, rx);   // pixels 0-3, 8-11
    const __m256i second = _mm256_unpackhi_epi16(bg, rx);  // pixels 4-7, 12-15
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(bgrx + 4 * i),
                        _mm256_permute2x128_si256(first, second, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(bgrx + 4 * i + 32),
                        _mm256_permute2x128_si256(first, second, 0x31));
  }
  return i;
}
#endif

}  // namespace

void upsample_chroma_span(const std::uint8_t* near, const std::uint8_t* far, bool vertical,
                          std::int32_t width, std::int32_t x0, std::int32_t x1, std::int16_t* sums,
                          std::int16_t* out) {
  // s[c] for the stored columns the span touches and their neighbours, kept at
  // sums[c + 1] so that s[-1] has a place; the edges repeat.
  const std::int32_t c_lo = x0 >> 1, c_hi = (x1 - 1) >> 1;
  const std::int32_t from = std::max(c_lo - 1, 0), to = std::min(c_hi + 1, width - 1);
  std::int16_t* s = sums + 1;
  std::int32_t c = from;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; c + 8 <= to + 1; c += 8) {
    __m128i v =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(near + c)), zero);
    if (vertical) {
      const __m128i f =
          _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(far + c)), zero);
      v = _mm_add_epi16(_mm_add_epi16(v, _mm_add_epi16(v, v)), f);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s + c), v);
  }
#endif
  for (; c <= to; ++c) s[c] = static_cast<std::int16_t>(vertical ? 3 * near[c] + far[c] : near[c]);
  if (c_lo == 0) s[-1] = s[0];
  if (c_hi + 1 >= width) s[width] = s[width - 1];

  // Two outputs per stored column c: 2c from s[c-1], 2c + 1 from s[c+1].
  const int even_bias = vertical ? 8 : 1, odd_bias = vertical ? 7 : 2, shift = vertical ? 4 : 2;
  c = c_lo;
#if defined(__SSE2__)
  const __m128i even_add = _mm_set1_epi16(static_cast<short>(even_bias));
  const __m128i odd_add = _mm_set1_epi16(static_cast<short>(odd_bias));
  const __m128i count = _mm_cvtsi32_si128(shift);
  for (; c <= c_hi; c += 8) {
    const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + c));
    const __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + c - 1));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + c + 1));
    const __m128i cur3 = _mm_add_epi16(cur, _mm_add_epi16(cur, cur));
    const __m128i even = _mm_srl_epi16(_mm_add_epi16(_mm_add_epi16(cur3, prev), even_add), count);
    const __m128i odd = _mm_srl_epi16(_mm_add_epi16(_mm_add_epi16(cur3, next), odd_add), count);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * c), _mm_unpacklo_epi16(even, odd));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * c + 8), _mm_unpackhi_epi16(even, odd));
  }
#endif
  for (; c <= c_hi; ++c) {
    out[2 * c] = static_cast<std::int16_t>((3 * s[c] + s[c - 1] + even_bias) >> shift);
    out[2 * c + 1] = static_cast<std::int16_t>((3 * s[c] + s[c + 1] + odd_bias) >> shift);
  }
}

void copy_chroma_span(const std::uint8_t* row, std::int32_t x0, std::int32_t x1,
                      std::int16_t* out) {
  for (std::int32_t x = x0; x < x1; ++x) out[x] = row[x];
}

void ycc_to_bgrx_span(const std::uint8_t* y, const std::int16_t* cb, const std::int16_t* cr,
                      std::int32_t count, std::uint8_t* bgrx) {
  std::int32_t i = 0;
#ifdef LUMVET_YCC_AVX2
  if (usable_cpu_extensions().avx2) i = ycc_to_bgrx_avx2(y, cb, cr, count, bgrx);
#endif
#if defined(__SSE2__)
  // Eight pixels a step in 16-bit lanes, the factors split as kRPair, kBPair
  // and kGPair describe. packus clamps to 0..255 as libjpeg's range limit does.
  const __m128i center = _mm_set1_epi16(128);
  const __m128i two = _mm_set1_epi16(2);
  const __m128i r_weights = _mm_set1_epi32(kRPair);
  const __m128i b_weights = _mm_set1_epi32(kBPair);
  const __m128i g_weights = _mm_set1_epi32(kGPair);
  const __m128i half = _mm_set1_epi32(kHalf);
  const __m128i zero = _mm_setzero_si128();
  const __m128i opaque = _mm_set1_epi8(static_cast<char>(0xFF));
  const auto fraction = [](__m128i lo_pairs, __m128i hi_pairs, __m128i weights, __m128i add) {
    const __m128i lo = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(lo_pairs, weights), add), 16);
    const __m128i hi = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(hi_pairs, weights), add), 16);
    return _mm_packs_epi32(lo, hi);
  };
  for (; i + 8 <= count; i += 8) {
    const __m128i yy =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + i)), zero);
    const __m128i xb =
        _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + i)), center);
    const __m128i xr =
        _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + i)), center);
    const __m128i r = _mm_add_epi16(
        _mm_add_epi16(yy, xr),
        fraction(_mm_unpacklo_epi16(xr, two), _mm_unpackhi_epi16(xr, two), r_weights, zero));
    const __m128i b = _mm_add_epi16(
        _mm_add_epi16(yy, _mm_add_epi16(xb, xb)),
        fraction(_mm_unpacklo_epi16(xb, two), _mm_unpackhi_epi16(xb, two), b_weights, zero));
    const __m128i g = _mm_add_epi16(
        _mm_sub_epi16(yy, xr),
        fraction(_mm_unpacklo_epi16(xb, xr), _mm_unpackhi_epi16(xb, xr), g_weights, half));
    const __m128i bg = _mm_unpacklo_epi8(_mm_packus_epi16(b, b), _mm_packus_epi16(g, g));
    const __m128i rx = _mm_unpacklo_epi8(_mm_packus_epi16(r, r), opaque);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bgrx + 4 * i), _mm_unpacklo_epi16(bg, rx));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bgrx + 4 * i + 16), _mm_unpackhi_epi16(bg, rx));
  }
#endif
  for (; i < count; ++i) {
    const int yy = y[i], xb = cb[i] - 128, xr = cr[i] - 128;
    std::uint8_t* p = bgrx + 4 * i;
    p[0] = clamp_sample(yy + ((kCbToB * xb + kHalf) >> 16));
    p[1] = clamp_sample(yy + ((-kCbToG * xb - kCrToG * xr + kHalf) >> 16));
    p[2] = clamp_sample(yy + ((kCrToR * xr + kHalf) >> 16));
    p[3] = 255;
  }
}

}  // namespace lumvet::detail
