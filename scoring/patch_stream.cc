#include "scoring/patch_stream.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif

namespace lumvet {

namespace {

// Twelve lanes: a lane's chain (subtract, divide, add) takes about as long as
// the divider needs for six two-lane or three four-lane divisions, so twelve
// chains in flight keep it busy. Sixty patches (two draws) also make exactly five
// groups.
constexpr int kLanes = 12;

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

inline std::uint16_t luminance(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return static_cast<std::uint16_t>(30 * r + 59 * g + 11 * b);
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

struct CpuExtensions {
  bool avx = __builtin_cpu_supports("avx");
  bool ssse3 = __builtin_cpu_supports("ssse3");
};

const CpuExtensions& cpu_extensions() {
  static const CpuExtensions found;
  return found;
}
#endif

std::atomic<bool> extensions_allowed{true};

void measure_lanes(std::size_t count, const std::uint16_t* const src[kLanes], double out[kLanes]) {
#ifdef LUMVET_X86_EXTENSIONS
  if (cpu_extensions().avx && extensions_allowed.load(std::memory_order_relaxed)) {
    measure_lanes_avx(count, src, out);
    return;
  }
#endif
  measure_lanes_portable(count, src, out);
}

}  // namespace

void allow_cpu_extensions(bool allow) { extensions_allowed.store(allow); }

void bgrx_luminances(const std::uint8_t* bgrx, std::size_t count, std::uint16_t* out) {
#ifdef LUMVET_X86_EXTENSIONS
  if (cpu_extensions().ssse3 && extensions_allowed.load(std::memory_order_relaxed)) {
    bgrx_luminances_ssse3(bgrx, count, out);
    return;
  }
#endif
  bgrx_luminances_portable(bgrx, count, out);
}

PatchRowFeeder::PatchRowFeeder(std::int32_t width, std::int32_t height,
                               const std::vector<PatchPlacement>& placements,
                               LuminanceBuffers* pool)
    : side_(placements.empty() ? 0 : placements.front().side),
      pixels_per_patch_(static_cast<std::size_t>(side_) * static_cast<std::size_t>(side_)),
      patch_count_(placements.size() * FEATURE_COUNT),
      x_(patch_count_),
      y_(patch_count_),
      result_(patch_count_, 0.0),
      lum_(patch_count_),
      pool_(pool != nullptr ? pool : &own_pool_),
      row_covered_(static_cast<std::size_t>(height), 0) {
  (void)width;
  for (std::size_t p = 0; p < placements.size(); ++p) {
    for (int k = 0; k < FEATURE_COUNT; ++k) {
      const std::size_t i = p * FEATURE_COUNT + static_cast<std::size_t>(k);
      x_[i] = placements[p].x[k];
      y_[i] = placements[p].y[k];
      for (std::int32_t r = 0; r < side_; ++r)
        row_covered_[static_cast<std::size_t>(y_[i] + r)] = 1;
    }
  }
  if (side_ > 0) {
    by_start_.resize(patch_count_);
    for (std::size_t i = 0; i < patch_count_; ++i) by_start_[i] = static_cast<std::int32_t>(i);
    std::stable_sort(by_start_.begin(), by_start_.end(),
                     [this](std::int32_t a, std::int32_t b) { return y_[a] < y_[b]; });
  }
  open_.reserve(patch_count_);
  ready_.reserve(patch_count_);
}

PatchRowFeeder::~PatchRowFeeder() {
  if (pool_ == &own_pool_) return;
  for (auto& buf : lum_) {
    if (buf.capacity() != 0) pool_->free.push_back(std::move(buf));
  }
}

bool PatchRowFeeder::row_needed(std::int32_t y) const {
  return row_covered_[static_cast<std::size_t>(y)] != 0;
}

std::vector<std::uint16_t> PatchRowFeeder::take_buffer() {
  std::vector<std::uint16_t> buf;
  if (!pool_->free.empty()) {
    buf.swap(pool_->free.back());
    pool_->free.pop_back();
  }
  // Only growth writes: a recycled buffer keeps its (larger) size.
  if (buf.size() < pixels_per_patch_) buf.resize(pixels_per_patch_);
  return buf;
}

template <bool kBgrx>
void PatchRowFeeder::add_row(std::int32_t y, const std::uint8_t* row) {
  // Open the patches whose first row this is (or was, if rows were skipped).
  while (next_ < by_start_.size() && y_[by_start_[next_]] <= y) {
    const std::int32_t i = by_start_[next_++];
    lum_[static_cast<std::size_t>(i)] = take_buffer();
    open_.push_back(i);
  }
  const std::size_t side = static_cast<std::size_t>(side_);
  for (std::size_t o = 0; o < open_.size();) {
    const std::size_t i = static_cast<std::size_t>(open_[o]);
    const std::int32_t r = y - y_[i];
    std::uint16_t* dst = lum_[i].data() + static_cast<std::size_t>(r) * side;
    if (kBgrx) {
      bgrx_luminances(row + static_cast<std::size_t>(x_[i]) * 4, side, dst);
    } else {
      const std::uint8_t* p = row + static_cast<std::size_t>(x_[i]) * 3;
      for (std::size_t j = 0; j < side; ++j, p += 3) dst[j] = luminance(p[0], p[1], p[2]);
    }
    if (r + 1 == side_) {
      ready_.push_back(static_cast<std::int32_t>(i));
      open_[o] = open_.back();
      open_.pop_back();
    } else {
      ++o;
    }
  }
  if (ready_.size() >= kLanes) measure_ready(false);
}

void PatchRowFeeder::measure_ready(bool all) {
  // Idle lanes of a last, partial group read zeros.
  std::vector<std::uint16_t> idle;
  while (ready_.size() >= kLanes || (all && !ready_.empty())) {
    const std::size_t lanes = std::min<std::size_t>(kLanes, ready_.size());
    if (lanes < kLanes && idle.size() < pixels_per_patch_ + 1)
      idle.assign(pixels_per_patch_ + 1, 0);
    const std::uint16_t* src[kLanes];
    for (std::size_t a = 0; a < kLanes; ++a) {
      src[a] = a < lanes ? lum_[static_cast<std::size_t>(ready_[a])].data() : idle.data();
    }
    double out[kLanes];
    measure_lanes(pixels_per_patch_, src, out);
    for (std::size_t a = 0; a < lanes; ++a) {
      const std::size_t i = static_cast<std::size_t>(ready_[a]);
      result_[i] = out[a];
      pool_->free.push_back(std::move(lum_[i]));
      lum_[i] = {};
    }
    ready_.erase(ready_.begin(), ready_.begin() + static_cast<std::ptrdiff_t>(lanes));
  }
}

void PatchRowFeeder::add_bgrx_row(std::int32_t y, const std::uint8_t* bgrx) {
  add_row<true>(y, bgrx);
}

void PatchRowFeeder::add_rgb_row(std::int32_t y, const std::uint8_t* rgb) {
  add_row<false>(y, rgb);
}

void PatchRowFeeder::finish() { measure_ready(true); }

void PatchRowFeeder::features(std::size_t placement, FeatureVector& out) const {
  for (int k = 0; k < FEATURE_COUNT; ++k) {
    out[k] = result_[placement * FEATURE_COUNT + static_cast<std::size_t>(k)];
  }
}

void measure_patches_fast(const Bitmap32& bitmap, const PatchPlacement& placement,
                          FeatureVector& features) {
  PatchRowFeeder feeder(bitmap.width, bitmap.height, {placement});
  for (std::int32_t y = 0; y < bitmap.height; ++y) {
    if (feeder.row_needed(y)) feeder.add_bgrx_row(y, bitmap.row(y));
  }
  feeder.finish();
  feeder.features(0, features);
}

}  // namespace lumvet
