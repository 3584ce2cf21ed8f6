// How steep a photo's edges are for their contrast, measured over the whole frame:
// the features of the sharpness assessor.
//
// The frame is cut into square tiles. In a tile whose brightest and darkest
// pixels differ by at least SLOPE_MIN_RANGE grey levels, the largest step between
// neighbouring pixels in each of four directions (across, down and both
// diagonals) is divided by that range. A sharp edge takes most of its height in
// one step, so the ratio is near 1; an edge blurred over w pixels takes about
// 1/w of it per step. The ratio ignores how much contrast the scene has, and
// tiles without contrast (sky, fog, a smooth background) do not count at all.
// The sharpest tiles decide: the features are upper quantiles of the ratios over
// the tiles, taken per direction, so that motion blur, which smears edges in
// one direction only, shows in the weakest direction. The same is measured on
// the frame averaged over 2 x 2 pixels, where a sharp photo keeps its ratios and
// a slightly soft one gains.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace lumvet {

// Tile side in pixels of the level measured.
inline constexpr std::int32_t SLOPE_TILE = 32;
// Smallest brightness range (grey levels) of a tile that is measured.
inline constexpr int SLOPE_MIN_RANGE = 32;
// Fewer measured tiles than this at full size: the photo shows too little
// structure to judge.
inline constexpr std::int32_t SLOPE_MIN_TILES = 4;
// Number of features and the name of the set, as model files record them.
inline constexpr int SHARPNESS_FEATURE_COUNT = 7;
inline constexpr const char* SHARPNESS_FEATURE_SET = "edge-slope-1";

// Where a tile lies, in pixels of the full-size frame.
struct TileRegion {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t size = 0;  // 0: none
};

struct SharpnessMeasure {
  // False when fewer than SLOPE_MIN_TILES tiles could be measured (a flat or a
  // tiny image); the features are then all 0.
  bool measurable = false;
  std::int32_t tiles = 0;           // tiles of the full-size frame
  std::int32_t measured_tiles = 0;  // of those, with enough contrast
  //  0  ln q98 of the ratios, weakest direction      (full size)
  //  1  ln q90, weakest direction                    (full size)
  //  2  ln q50, weakest direction                    (full size)
  //  3  ln(q98 strongest direction / q98 weakest)    (full size)
  //  4  ln q98, weakest direction                    (2 x 2 means)
  //  5  ln q90, weakest direction                    (2 x 2 means)
  //  6  measured tiles / tiles                       (full size)
  // The half-size features repeat the full-size ones when the half-size frame
  // has fewer than SLOPE_MIN_TILES measured tiles.
  std::array<double, SHARPNESS_FEATURE_COUNT> features{};
  // The full-size tile whose edges are steepest (largest sum of its four ratios).
  TileRegion sharpest;
};

// One level of the measure, fed one row at a time.
class SlopeLevel {
 public:
  SlopeLevel(std::int32_t width, std::int32_t height);
  // Row y of the level, rows in order, `width` bytes each.
  void add_row(const std::uint8_t* row);

  // The ratios of the measured tiles, per direction (across, down, down-right,
  // down-left), in tile order.
  const std::array<std::vector<float>, 4>& ratios() const { return ratios_; }
  std::int32_t tiles() const { return tiles_x_ * tiles_y_; }
  std::int32_t measured_tiles() const { return static_cast<std::int32_t>(ratios_[0].size()); }
  TileRegion sharpest() const { return sharpest_; }

 private:
  void measure_row(std::int32_t y, const std::uint8_t* row, const std::uint8_t* below);
  void close_tile_row(std::int32_t tile_row);

  std::int32_t width_;
  std::int32_t tiles_x_;
  std::int32_t tiles_y_;
  std::int32_t next_row_ = 0;
  std::vector<std::uint8_t> previous_;  // the row before the one being added
  // Per tile of the current tile row: darkest, brightest, largest step per direction.
  std::vector<std::uint8_t> low_, high_, step_;  // step_: 4 per tile
  std::array<std::vector<float>, 4> ratios_;
  TileRegion sharpest_;
  float sharpest_sum_ = -1.0f;
};

// The whole measure: the full-size level and the 2 x 2 level, fed with the
// frame's luminance rows top to bottom.
class EdgeSlopeMeter {
 public:
  EdgeSlopeMeter(std::int32_t width, std::int32_t height);
  void add_row(const std::uint8_t* luma);
  SharpnessMeasure finish() const;

 private:
  std::int32_t width_;
  std::int32_t rows_ = 0;
  SlopeLevel full_;
  SlopeLevel half_;
  std::vector<std::uint8_t> pending_;  // an even row awaiting its odd partner
  std::vector<std::uint8_t> half_row_;
};

// The q-quantile (0 <= q <= 1) of `values`: the element at index
// floor(q * (n - 1)) of the ascending order. REQUIRES: values not empty.
float slope_quantile(std::vector<float> values, double q);

}  // namespace lumvet
