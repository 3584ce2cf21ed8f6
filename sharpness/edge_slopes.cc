#include "sharpness/edge_slopes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lumvet {
namespace {

// A ratio is at least one grey level over the largest possible range, so that
// its logarithm stays finite in a direction without any step.
constexpr float MIN_RATIO = 1.0f / 256.0f;

// A diagonal step spans sqrt(2) pixels, so a blurred edge climbs further in it
// than across or down; this brings the two closer without penalising a
// pixel-sharp edge much.
constexpr float DIAGONAL_WEIGHT = 0.9f;

inline std::uint8_t absdiff(std::uint8_t a, std::uint8_t b) {
  return static_cast<std::uint8_t>(a > b ? a - b : b - a);
}

double log_ratio(float r) { return std::log(static_cast<double>(std::max(r, MIN_RATIO))); }

}  // namespace

SlopeLevel::SlopeLevel(std::int32_t width, std::int32_t height, bool keep_map)
    : width_(width),
      tiles_x_(width >= 2 ? (width - 2) / SLOPE_TILE : 0),
      tiles_y_(height >= 1 ? (height - 1) / SLOPE_TILE : 0),
      keep_map_(keep_map) {
  if (tiles_x_ == 0 || tiles_y_ == 0) {
    tiles_x_ = tiles_y_ = 0;
    return;
  }
  previous_.resize(static_cast<std::size_t>(width));
  // Accumulators for every measured column (columns 1 ... tiles_x * SLOPE_TILE).
  const std::size_t span = static_cast<std::size_t>(tiles_x_) * SLOPE_TILE;
  low_.assign(span, 255);
  high_.assign(span, 0);
  step_.assign(4 * span, 0);
}

void SlopeLevel::add_row(const std::uint8_t* row) {
  if (tiles_x_ == 0) return;
  const std::int32_t y = next_row_++;
  if (y > 0 && y - 1 < tiles_y_ * SLOPE_TILE) {
    measure_row(y - 1, previous_.data(), row);
  }
  std::memcpy(previous_.data(), row, static_cast<std::size_t>(width_));
}

namespace {

// Pixel x of a row: its range and its steps to the right, down, down-right and
// down-left, folded into the running extremes of its column. Element-wise, so
// that the loop runs in vector registers; the pointers never overlap.
void fold_row(std::size_t span, const std::uint8_t* __restrict c, const std::uint8_t* __restrict b,
              std::uint8_t* __restrict lo, std::uint8_t* __restrict hi,
              std::uint8_t* __restrict s_across, std::uint8_t* __restrict s_down,
              std::uint8_t* __restrict s_right, std::uint8_t* __restrict s_left) {
  for (std::size_t x = 0; x < span; ++x) {
    const std::uint8_t v = c[x];
    lo[x] = std::min(lo[x], v);
    hi[x] = std::max(hi[x], v);
    s_across[x] = std::max(s_across[x], absdiff(v, c[x + 1]));
    s_down[x] = std::max(s_down[x], absdiff(v, b[x]));
    s_right[x] = std::max(s_right[x], absdiff(v, b[x + 1]));
    s_left[x] = std::max(s_left[x], absdiff(v, b[x - 1]));
  }
}

}  // namespace

// Row y of the measured area, from column 1; tiles are reduced once per tile row.
void SlopeLevel::measure_row(std::int32_t y, const std::uint8_t* row, const std::uint8_t* below) {
  const std::size_t span = low_.size();
  std::uint8_t* steps = step_.data();
  fold_row(span, row + 1, below + 1, low_.data(), high_.data(), steps, steps + span,
           steps + 2 * span, steps + 3 * span);
  if (y % SLOPE_TILE == SLOPE_TILE - 1) close_tile_row(y / SLOPE_TILE);
}

void SlopeLevel::close_tile_row(std::int32_t tile_row) {
  const std::size_t span = low_.size();
  for (std::int32_t t = 0; t < tiles_x_; ++t) {
    const std::size_t first = static_cast<std::size_t>(t) * SLOPE_TILE;
    std::uint8_t lo = 255, hi = 0, steps[4] = {0, 0, 0, 0};
    for (std::size_t x = first; x < first + SLOPE_TILE; ++x) {
      lo = std::min(lo, low_[x]);
      hi = std::max(hi, high_[x]);
      for (std::size_t d = 0; d < 4; ++d) steps[d] = std::max(steps[d], step_[d * span + x]);
    }
    const int range = hi - lo;
    if (range < SLOPE_MIN_RANGE) {
      if (keep_map_) tile_means_.push_back(-1.0f);
      continue;
    }
    float sum = 0.0f;
    for (std::size_t d = 0; d < 4; ++d) {
      float r = static_cast<float>(steps[d]) / static_cast<float>(range);
      if (d >= 2) r *= DIAGONAL_WEIGHT;
      ratios_[d].push_back(r);
      sum += r;
    }
    if (keep_map_) tile_means_.push_back(sum / 4.0f);
    if (sum > sharpest_sum_) {
      sharpest_sum_ = sum;
      sharpest_ = {1 + t * SLOPE_TILE, tile_row * SLOPE_TILE, SLOPE_TILE};
    }
  }
  std::fill(low_.begin(), low_.end(), 255);
  std::fill(high_.begin(), high_.end(), 0);
  std::fill(step_.begin(), step_.end(), 0);
}

SlopeMap SlopeLevel::map() const {
  SlopeMap m;
  if (tiles_x_ == 0 || tiles_y_ == 0) return m;
  const std::int32_t per_x = (tiles_x_ + SLOPE_MAP_MAX_CELLS - 1) / SLOPE_MAP_MAX_CELLS;
  const std::int32_t per_y = (tiles_y_ + SLOPE_MAP_MAX_CELLS - 1) / SLOPE_MAP_MAX_CELLS;
  m.cols = (tiles_x_ + per_x - 1) / per_x;
  m.rows = (tiles_y_ + per_y - 1) / per_y;
  m.cell_width = per_x * SLOPE_TILE;
  m.cell_height = per_y * SLOPE_TILE;
  m.value.assign(static_cast<std::size_t>(m.cols) * static_cast<std::size_t>(m.rows), -1.0f);
  const std::size_t known = tile_means_.size();
  for (std::int32_t ty = 0; ty < tiles_y_; ++ty) {
    for (std::int32_t tx = 0; tx < tiles_x_; ++tx) {
      const std::size_t t = static_cast<std::size_t>(ty) * static_cast<std::size_t>(tiles_x_) +
                            static_cast<std::size_t>(tx);
      if (t >= known) return m;
      float& cell = m.value[static_cast<std::size_t>(ty / per_y * m.cols + tx / per_x)];
      cell = std::max(cell, tile_means_[t]);
    }
  }
  return m;
}

float slope_quantile(std::vector<float> values, double q) {
  const auto k = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
  return values[k];
}

RowHalver::RowHalver(std::int32_t width)
    : pending_(static_cast<std::size_t>(width)), half_(static_cast<std::size_t>(width / 2)) {}

const std::uint8_t* RowHalver::add_row(const std::uint8_t* row) {
  if (rows_++ % 2 == 0) {
    if (!pending_.empty()) std::memcpy(pending_.data(), row, pending_.size());
    return nullptr;
  }
  const std::uint8_t* __restrict a = pending_.data();
  std::uint8_t* __restrict h = half_.data();
  const std::size_t n = half_.size();
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned sum = a[2 * i] + a[2 * i + 1] + row[2 * i] + row[2 * i + 1] + 2u;
    h[i] = static_cast<std::uint8_t>(sum >> 2);
  }
  return h;
}

EdgeSlopeMeter::EdgeSlopeMeter(std::int32_t width, std::int32_t height, bool keep_map)
    : width_(width), height_(height) {
  std::int32_t w = width, h = height;
  for (int k = 0; k < SLOPE_LEVELS; ++k) {
    levels_.emplace_back(w, h, k == 0 && keep_map);
    if (k + 1 < SLOPE_LEVELS) halvers_.emplace_back(w);
    w /= 2;
    h /= 2;
  }
}

void EdgeSlopeMeter::add_row(const std::uint8_t* luma) {
  const std::uint8_t* row = luma;
  for (std::size_t k = 0;; ++k) {
    levels_[k].add_row(row);
    if (k == halvers_.size()) break;
    row = halvers_[k].add_row(row);
    if (row == nullptr) break;
  }
}

namespace {

// Quantile q of the ratios in the weakest and in the strongest direction.
struct DirectionQuantiles {
  float weakest;
  float strongest;
};

DirectionQuantiles direction_quantiles(const SlopeLevel& level, double q) {
  DirectionQuantiles out{2.0f, 0.0f};
  for (const std::vector<float>& r : level.ratios()) {
    const float v = slope_quantile(r, q);
    out.weakest = std::min(out.weakest, v);
    out.strongest = std::max(out.strongest, v);
  }
  return out;
}

}  // namespace

SharpnessMeasure EdgeSlopeMeter::finish() const {
  SharpnessMeasure m;
  m.tiles = levels_[0].tiles();
  m.measured_tiles = levels_[0].measured_tiles();
  if (m.measured_tiles < SLOPE_MIN_TILES) return m;
  m.measurable = true;
  // Level k, or the next finer one with enough measured tiles.
  const auto usable = [this](int k) -> const SlopeLevel& {
    while (k > 0 && levels_[static_cast<std::size_t>(k)].measured_tiles() < SLOPE_MIN_TILES) --k;
    return levels_[static_cast<std::size_t>(k)];
  };
  const SlopeLevel& full = levels_[0];
  const DirectionQuantiles q98 = direction_quantiles(full, 0.98);
  m.features[0] = log_ratio(q98.weakest);
  m.features[1] = log_ratio(direction_quantiles(full, 0.90).weakest);
  m.features[2] = log_ratio(direction_quantiles(full, 0.50).weakest);
  m.features[3] = log_ratio(q98.strongest) - m.features[0];
  const SlopeLevel& half = usable(1);
  m.features[4] = log_ratio(direction_quantiles(half, 0.98).weakest);
  m.features[5] = log_ratio(direction_quantiles(half, 0.90).weakest);
  m.features[6] = static_cast<double>(m.measured_tiles) / static_cast<double>(m.tiles);
  double pixels = static_cast<double>(width_) * static_cast<double>(height_);
  m.features[10] = std::log(pixels / 1e6);
  while (m.viewing_level + 1 < SLOPE_LEVELS && pixels > VIEWING_PIXELS) {
    pixels /= 4.0;
    ++m.viewing_level;
  }
  const SlopeLevel& view = usable(m.viewing_level);
  const DirectionQuantiles v98 = direction_quantiles(view, 0.98);
  m.features[7] = log_ratio(v98.weakest);
  m.features[8] = log_ratio(direction_quantiles(view, 0.90).weakest);
  m.features[9] = log_ratio(v98.strongest) - m.features[7];
  m.sharpest = full.sharpest();
  return m;
}

}  // namespace lumvet
