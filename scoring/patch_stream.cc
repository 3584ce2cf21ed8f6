#include "scoring/patch_stream.h"

#include <algorithm>
#include <cmath>

namespace lumvet {

namespace {

// Two doubles per vector: SSE2 on x86-64, NEON on arm64; element-wise IEEE
// operations either way, never contracted (the build uses -ffp-contract=off).
typedef double v2d __attribute__((vector_size(16)));

constexpr int kLanes = 8;
constexpr int kVecs = kLanes / 2;

// The running statistics of up to eight patches of `count` pixels each, lane a
// reading src[a]. Per pixel and lane, exactly as PatchStats::add:
// n += 1; delta = v - mean; mean += delta / n; m2 += (v - mean) * delta.
void measure_lanes(std::size_t count, const std::uint16_t* const src[kLanes], double out[kLanes]) {
  v2d n[kVecs] = {}, mean[kVecs] = {}, m2[kVecs] = {};
  const v2d one = {1.0, 1.0};
  for (std::size_t j = 0; j < count; ++j) {
    for (int q = 0; q < kVecs; ++q) {
      const v2d v = {static_cast<double>(src[2 * q][j]), static_cast<double>(src[2 * q + 1][j])};
      n[q] = n[q] + one;
      const v2d delta = v - mean[q];
      mean[q] = mean[q] + delta / n[q];
      m2[q] = m2[q] + (v - mean[q]) * delta;
    }
  }
  for (int q = 0; q < kVecs; ++q) {
    for (int l = 0; l < 2; ++l) {
      out[2 * q + l] = count == 0 ? 0.0 : std::sqrt(m2[q][l] / n[q][l]);
    }
  }
}

}  // namespace

PatchRowFeeder::PatchRowFeeder(std::int32_t width, std::int32_t height,
                               const std::vector<PatchPlacement>& placements)
    : side_(placements.empty() ? 0 : placements.front().side),
      pixels_per_patch_(static_cast<std::size_t>(side_) * static_cast<std::size_t>(side_)),
      patch_count_(placements.size() * FEATURE_COUNT),
      x_(patch_count_),
      y_(patch_count_),
      result_(patch_count_, 0.0),
      lum_(patch_count_),
      row_covered_(static_cast<std::size_t>(height), 0) {
  (void)width;
  for (std::size_t p = 0; p < placements.size(); ++p) {
    for (int k = 0; k < FEATURE_COUNT; ++k) {
      const std::size_t i = p * FEATURE_COUNT + static_cast<std::size_t>(k);
      x_[i] = placements[p].x[k];
      y_[i] = placements[p].y[k];
      for (std::int32_t r = 0; r < side_; ++r) row_covered_[static_cast<std::size_t>(y_[i] + r)] = 1;
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

bool PatchRowFeeder::row_needed(std::int32_t y) const {
  return row_covered_[static_cast<std::size_t>(y)] != 0;
}

template <int kBytes, int kR, int kG, int kB>
void PatchRowFeeder::add_row(std::int32_t y, const std::uint8_t* row) {
  // Open the patches whose first row this is (or was, if rows were skipped).
  while (next_ < by_start_.size() && y_[by_start_[next_]] <= y) {
    const std::int32_t i = by_start_[next_++];
    std::vector<std::uint16_t>& buf = lum_[static_cast<std::size_t>(i)];
    if (!spare_.empty()) {
      buf.swap(spare_.back());
      spare_.pop_back();
    }
    buf.resize(pixels_per_patch_);
    open_.push_back(i);
  }
  const std::size_t side = static_cast<std::size_t>(side_);
  for (std::size_t o = 0; o < open_.size();) {
    const std::int32_t i = open_[o];
    const std::int32_t r = y - y_[static_cast<std::size_t>(i)];
    std::uint16_t* dst = lum_[static_cast<std::size_t>(i)].data() + static_cast<std::size_t>(r) * side;
    const std::uint8_t* p = row + static_cast<std::size_t>(x_[static_cast<std::size_t>(i)]) * kBytes;
    for (std::size_t j = 0; j < side; ++j, p += kBytes) {
      dst[j] = static_cast<std::uint16_t>(30 * p[kR] + 59 * p[kG] + 11 * p[kB]);
    }
    if (r + 1 == side_) {
      ready_.push_back(i);
      open_[o] = open_.back();
      open_.pop_back();
    } else {
      ++o;
    }
  }
  if (ready_.size() >= kLanes) measure_ready(false);
}

void PatchRowFeeder::measure_ready(bool all) {
  static const std::uint16_t kIdle[1] = {0};
  std::vector<std::uint16_t> idle;
  while (ready_.size() >= kLanes || (all && !ready_.empty())) {
    const std::size_t lanes = std::min<std::size_t>(kLanes, ready_.size());
    const std::uint16_t* src[kLanes];
    if (lanes < kLanes && idle.size() < pixels_per_patch_) idle.assign(pixels_per_patch_, 0);
    for (std::size_t a = 0; a < kLanes; ++a) {
      src[a] = a < lanes ? lum_[static_cast<std::size_t>(ready_[a])].data()
                         : (idle.empty() ? kIdle : idle.data());
    }
    double out[kLanes];
    measure_lanes(pixels_per_patch_, src, out);
    for (std::size_t a = 0; a < lanes; ++a) {
      const std::size_t i = static_cast<std::size_t>(ready_[a]);
      result_[i] = out[a];
      spare_.emplace_back();
      spare_.back().swap(lum_[i]);
    }
    ready_.erase(ready_.begin(), ready_.begin() + static_cast<std::ptrdiff_t>(lanes));
  }
}

void PatchRowFeeder::add_bgrx_row(std::int32_t y, const std::uint8_t* bgrx) {
  add_row<4, 2, 1, 0>(y, bgrx);
}

void PatchRowFeeder::add_rgb_row(std::int32_t y, const std::uint8_t* rgb) {
  add_row<3, 0, 1, 2>(y, rgb);
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
