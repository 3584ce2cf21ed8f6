#include "scoring/patch_stream.h"

#include <algorithm>

#include "scoring/patch_lanes.h"

namespace lumvet {

using detail::kMaxLanes;
using detail::lane_kernel;
using detail::LaneKernel;
using detail::luminance;

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

void PatchRowFeeder::column_spans(std::int32_t y, std::vector<ColumnSpan>& spans) const {
  spans.clear();
  if (!row_needed(y)) return;
  for (std::size_t i = 0; i < patch_count_; ++i) {
    if (y_[i] <= y && y < y_[i] + side_) spans.push_back({x_[i], x_[i] + side_});
  }
  std::sort(spans.begin(), spans.end(),
            [](const ColumnSpan& a, const ColumnSpan& b) { return a.begin < b.begin; });
  // Merge overlapping and touching spans.
  std::size_t kept = 0;
  for (const ColumnSpan& s : spans) {
    if (kept > 0 && s.begin <= spans[kept - 1].end) {
      spans[kept - 1].end = std::max(spans[kept - 1].end, s.end);
    } else {
      spans[kept++] = s;
    }
  }
  spans.resize(kept);
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
  if (ready_.size() >= lane_kernel().lanes) measure_ready(false);
}

void PatchRowFeeder::measure_ready(bool all) {
  // Idle lanes of a last, partial group read zeros.
  std::vector<std::uint16_t> idle;
  const LaneKernel kernel = lane_kernel();
  const std::size_t group = kernel.lanes;
  while (ready_.size() >= group || (all && !ready_.empty())) {
    const std::size_t lanes = std::min(group, ready_.size());
    if (lanes < group && idle.size() < pixels_per_patch_ + 1) idle.assign(pixels_per_patch_ + 1, 0);
    const std::uint16_t* src[kMaxLanes];
    for (std::size_t a = 0; a < group; ++a) {
      src[a] = a < lanes ? lum_[static_cast<std::size_t>(ready_[a])].data() : idle.data();
    }
    double out[kMaxLanes];
    kernel.measure(pixels_per_patch_, src, out);
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
