#include "imaging/ycc_spans.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumvet::detail {

namespace {

// libjpeg's fixed-point factors, FIX(x) = (int)(x * 65536 + 0.5).
constexpr int kCrToR = 91881;   // 1.40200
constexpr int kCbToB = 116130;  // 1.77200
constexpr int kCbToG = 22554;   // 0.34414
constexpr int kCrToG = 46802;   // 0.71414
constexpr int kHalf = 1 << 15;

inline std::uint8_t clamp_sample(int v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

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
#if defined(__SSE2__)
  // Eight pixels a step in 16-bit lanes. Each product with a factor above
  // 32767 is split so that pmaddwd can form it: 91881 x = 65536 x + 26345 x,
  // 116130 x = 131072 x - 14942 x and -46802 x = -65536 x + 18734 x, where the
  // multiples of 65536 pass through the shift exactly as whole x's; 32768 is
  // formed as 2 * 16384. packus clamps to 0..255 as libjpeg's range limit does.
  const __m128i center = _mm_set1_epi16(128);
  const __m128i two = _mm_set1_epi16(2);
  const __m128i r_weights = _mm_setr_epi16(26345, 16384, 26345, 16384, 26345, 16384, 26345, 16384);
  const __m128i b_weights =
      _mm_setr_epi16(-14942, 16384, -14942, 16384, -14942, 16384, -14942, 16384);
  const __m128i g_weights =
      _mm_setr_epi16(-22554, 18734, -22554, 18734, -22554, 18734, -22554, 18734);
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
