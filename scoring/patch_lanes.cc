#include "scoring/patch_lanes.h"

#include <cmath>

#include "platform/cpu_features.h"
#include "scoring/patch_stream.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace lumvet {

namespace detail {

namespace {

// Twelve lanes: a lane's chain (subtract, divide, add) takes about as long as
// the divider needs for six two-lane or three four-lane divisions, so twelve
// chains in flight keep it busy. Sixty patches (two draws) also make exactly five
// groups.
constexpr int kLanes = 12;

// Twenty lanes where the division is done by multiplication (see
// measure_lanes_fma): its chain is shorter, and the multiplier ports rather
// than the divider set the pace; sixty patches make exactly three groups.
constexpr int kFmaLanes = 20;
static_assert(kMaxLanes == static_cast<std::size_t>(kFmaLanes));

// Element-wise IEEE double operations, never contracted (the build uses
// -ffp-contract=off, and no FMA instructions are enabled): two lanes per vector
// with SSE2 on x86-64 or NEON on arm64, four with AVX.
typedef double v2d __attribute__((vector_size(16)));
typedef double v4d __attribute__((vector_size(32)));

// The running statistics of twelve patches of `count` pixels each, lane a
// reading src[a], in vectors of W lanes. Per pixel and lane, exactly as
// PatchStats::add: n += 1; delta = v - mean; mean += delta / n;
// m2 += (v - mean) * delta. n is the same in every lane (the pixel's index plus
// one, an exact integer), so it is kept once.
template <typename V, int W>
__attribute__((always_inline)) inline void measure_lanes_with(
    std::size_t count, const std::uint16_t* const src[kLanes], double out[kLanes]) {
  constexpr int kVecs = kLanes / W;
  V mean[kVecs] = {}, m2[kVecs] = {};
  double n = 0.0;
  for (std::size_t j = 0; j < count; ++j) {
    n += 1.0;
    const V nv = V{} + n;
    for (int q = 0; q < kVecs; ++q) {
      V v;
      for (int l = 0; l < W; ++l) v[l] = static_cast<double>(src[W * q + l][j]);
      const V delta = v - mean[q];
      mean[q] = mean[q] + delta / nv;
      m2[q] = m2[q] + (v - mean[q]) * delta;
    }
  }
  for (int q = 0; q < kVecs; ++q) {
    for (int l = 0; l < W; ++l) out[W * q + l] = count == 0 ? 0.0 : std::sqrt(m2[q][l] / n);
  }
}

void measure_lanes_portable(std::size_t count, const std::uint16_t* const src[kLanes],
                            double out[kLanes]) {
  measure_lanes_with<v2d, 2>(count, src, out);
}

void bgrx_luminances_portable(const std::uint8_t* p, std::size_t count, std::uint16_t* out) {
  std::size_t j = 0;
#if defined(__SSE2__)
  // Eight pixels a step. Each pixel's bytes widen to 16 bits, pmaddwd forms
  // 11 B + 59 G and 30 R + 0 X in 32 bits, and the two halves are added; every
  // sum is at most 25500, so packing back to 16 bits is exact.
  const __m128i weights = _mm_setr_epi16(11, 59, 30, 0, 11, 59, 30, 0);
  const __m128i zero = _mm_setzero_si128();
  for (; j + 8 <= count; j += 8, p += 32) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128 a0 = _mm_castsi128_ps(_mm_madd_epi16(_mm_unpacklo_epi8(a, zero), weights));
    const __m128 a1 = _mm_castsi128_ps(_mm_madd_epi16(_mm_unpackhi_epi8(a, zero), weights));
    const __m128 b0 = _mm_castsi128_ps(_mm_madd_epi16(_mm_unpacklo_epi8(b, zero), weights));
    const __m128 b1 = _mm_castsi128_ps(_mm_madd_epi16(_mm_unpackhi_epi8(b, zero), weights));
    const __m128i sa =
        _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(a0, a1, _MM_SHUFFLE(2, 0, 2, 0))),
                      _mm_castps_si128(_mm_shuffle_ps(a0, a1, _MM_SHUFFLE(3, 1, 3, 1))));
    const __m128i sb =
        _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(b0, b1, _MM_SHUFFLE(2, 0, 2, 0))),
                      _mm_castps_si128(_mm_shuffle_ps(b0, b1, _MM_SHUFFLE(3, 1, 3, 1))));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), _mm_packs_epi32(sa, sb));
  }
#endif
  for (; j < count; ++j, p += 4) out[j] = luminance(p[2], p[1], p[0]);
}

#if defined(__x86_64__) || defined(__i386__)
#define LUMVET_X86_EXTENSIONS 1

// The same statistics four lanes to a vector: a four-lane division costs the
// divider as much as two two-lane ones, but the rest of each step takes half the
// instructions.
__attribute__((target("avx"))) void measure_lanes_avx(std::size_t count,
                                                      const std::uint16_t* const src[kLanes],
                                                      double out[kLanes]) {
  measure_lanes_with<v4d, 4>(count, src, out);
}

// The statistics with each division delta / n done exactly without the divider.
//
// Per pixel index, n is the same in every lane, so 1/n is split once into
// yh = RN(1/n) and yl = RN((1 - n yh) yh), where 1 - n yh is exact (one fused
// multiply-add). Then q = RN(delta yh + RN(delta yl)), one multiplication and
// one fused multiply-add, is the correctly rounded delta / n:
// - yh + yl equals 1/n within a relative 2^-105, and RN(delta yl) adds at most
//   2^-106, so the sum that the fused operation rounds once is delta / n within
//   a relative 2^-104;
// - delta / n is never that close to a rounding boundary (a midpoint between
//   two doubles): with delta = M 2^E (M an integer below 2^53), delta / n -
//   midpoint is a non-zero multiple of 2^min(E, F) / n, F being the midpoint's
//   last bit, which is at least a relative 2^-54 / n of delta / n. (It cannot
//   be zero: the midpoint would equal M 2^E / n, but its odd part needs 54 bits
//   and that of M 2^E / n has at most 53.) For any n below 2^49, far more
//   pixels than a patch can have, that exceeds 2^-104 (with room for the
//   slightly larger bound that the two roundings of yh and yl really give).
// So rounding the near-exact sum gives the same double as the division; every
// other operation is the reference's, in its order and unfused.
constexpr int kFmaVecs = kFmaLanes / 4;

// One pixel of every lane: n += 1 and the reference update, the division done
// as above.
__attribute__((target("avx2,fma"), always_inline)) inline void fma_step(
    double& n, const __m256d (&v)[kFmaVecs], __m256d (&mean)[kFmaVecs], __m256d (&m2)[kFmaVecs]) {
  n += 1.0;
  const __m128d nn = _mm_set_sd(n);
  const __m128d yh = _mm_div_sd(_mm_set_sd(1.0), nn);
  const __m128d yl = _mm_mul_sd(_mm_fnmadd_sd(yh, nn, _mm_set_sd(1.0)), yh);
  const __m256d yhv = _mm256_broadcastsd_pd(yh), ylv = _mm256_broadcastsd_pd(yl);
  for (int q = 0; q < kFmaVecs; ++q) {
    const __m256d delta = _mm256_sub_pd(v[q], mean[q]);
    const __m256d quotient = _mm256_fmadd_pd(delta, yhv, _mm256_mul_pd(delta, ylv));
    mean[q] = _mm256_add_pd(mean[q], quotient);
    m2[q] = _mm256_add_pd(m2[q], _mm256_mul_pd(_mm256_sub_pd(v[q], mean[q]), delta));
  }
}

// Four 16-bit values from each of four lanes, transposed: v[k] holds pixel k
// of the four lanes as doubles.
__attribute__((target("avx2,fma"), always_inline)) inline void load_four_by_four(
    const std::uint16_t* const src[4], std::size_t j, __m256d (&v)[4]) {
  const auto load = [&](int l) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src[l] + j));
  };
  const __m128i ab = _mm_unpacklo_epi16(load(0), load(1));
  const __m128i cd = _mm_unpacklo_epi16(load(2), load(3));
  const __m128i p01 = _mm_unpacklo_epi32(ab, cd);
  const __m128i p23 = _mm_unpackhi_epi32(ab, cd);
  v[0] = _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(p01));
  v[1] = _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(_mm_srli_si128(p01, 8)));
  v[2] = _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(p23));
  v[3] = _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(_mm_srli_si128(p23, 8)));
}

__attribute__((target("avx2,fma"))) void measure_lanes_fma(
    std::size_t count, const std::uint16_t* const src[kFmaLanes], double out[kFmaLanes]) {
  __m256d mean[kFmaVecs], m2[kFmaVecs];
  for (int q = 0; q < kFmaVecs; ++q) mean[q] = m2[q] = _mm256_setzero_pd();
  double n = 0.0;
  // Pixels go through a small block of doubles in lane order, transposed four
  // by four, so that the update loop reads whole vectors and keeps its state in
  // registers.
  constexpr std::size_t kBlock = 32;
  alignas(32) __m256d block[kBlock][kFmaVecs];
  std::size_t j = 0;
  for (; j + kBlock <= count; j += kBlock) {
    for (std::size_t b = 0; b < kBlock; b += 4) {
      for (int q = 0; q < kFmaVecs; ++q) {
        __m256d four[4];
        load_four_by_four(src + 4 * q, j + b, four);
        for (int k = 0; k < 4; ++k) block[b + static_cast<std::size_t>(k)][q] = four[k];
      }
    }
    for (std::size_t b = 0; b < kBlock; ++b) fma_step(n, block[b], mean, m2);
  }
  for (; j < count; ++j) {
    __m256d v[kFmaVecs];
    for (int q = 0; q < kFmaVecs; ++q) {
      v[q] = _mm256_setr_pd(src[4 * q][j], src[4 * q + 1][j], src[4 * q + 2][j], src[4 * q + 3][j]);
    }
    fma_step(n, v, mean, m2);
  }
  for (int q = 0; q < kFmaVecs; ++q) {
    alignas(32) double m[4];
    _mm256_store_pd(m, m2[q]);
    for (int l = 0; l < 4; ++l) out[4 * q + l] = count == 0 ? 0.0 : std::sqrt(m[l] / n);
  }
}

// pmaddubsw forms 11 B + 59 G and 30 R + 0 X of each pixel in 16 bits (at most
// 17850 and 7650: no saturation) and phaddw adds the two: eight pixels in three
// instructions besides the loads and the store.
__attribute__((target("ssse3"))) void bgrx_luminances_ssse3(const std::uint8_t* p,
                                                            std::size_t count, std::uint16_t* out) {
  const __m128i weights = _mm_setr_epi8(11, 59, 30, 0, 11, 59, 30, 0, 11, 59, 30, 0, 11, 59, 30, 0);
  std::size_t j = 0;
  for (; j + 8 <= count; j += 8, p += 32) {
    const __m128i a =
        _mm_maddubs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), weights);
    const __m128i b =
        _mm_maddubs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), weights);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), _mm_hadd_epi16(a, b));
  }
  for (; j < count; ++j, p += 4) out[j] = luminance(p[2], p[1], p[0]);
}

#endif

}  // namespace

LaneKernel lane_kernel() {
#ifdef LUMVET_X86_EXTENSIONS
  const CpuExtensions usable = usable_cpu_extensions();
  if (usable.avx2_fma) return {measure_lanes_fma, kFmaLanes};
  if (usable.avx) return {measure_lanes_avx, kLanes};
#endif
  return {measure_lanes_portable, kLanes};
}

}  // namespace detail

void bgrx_luminances(const std::uint8_t* bgrx, std::size_t count, std::uint16_t* out) {
#ifdef LUMVET_X86_EXTENSIONS
  if (usable_cpu_extensions().ssse3) {
    detail::bgrx_luminances_ssse3(bgrx, count, out);
    return;
  }
#endif
  detail::bgrx_luminances_portable(bgrx, count, out);
}

}  // namespace lumvet
