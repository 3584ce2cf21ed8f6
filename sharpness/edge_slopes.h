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
// the frame averaged over 2 x 2, 4 x 4 and 8 x 8 pixels. The 2 x 2 level tells a
// slightly soft photo (whose ratios rise there) from a blurred one; the viewing
// level, the first whose frame has at most VIEWING_PIXELS pixels, shows the
// photo as it is seen on a screen, where the softness every large photo has at
// 100 % no longer shows but real blur still does. With the frame's size among
// the features, a model can judge blur against the size of the photo.
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
// Levels measured: the full frame and its 2 x 2, 4 x 4 and 8 x 8 means.
inline constexpr int SLOPE_LEVELS = 4;
// The viewing level is the first with at most this many pixels (the full frame
// of a photo up to 2.5 megapixels, the 4 x 4 means of a 24-megapixel one).
inline constexpr double VIEWING_PIXELS = 2.5e6;
// Number of features and the name of the set, as model files record them.
inline constexpr int SHARPNESS_FEATURE_COUNT = 11;
inline constexpr const char* SHARPNESS_FEATURE_SET = "edge-slope-2";

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
  //  7  ln q98, weakest direction                    (viewing level)
  //  8  ln q90, weakest direction                    (viewing level)
  //  9  ln(q98 strongest / q98 weakest)              (viewing level)
  // 10  ln(width * height / 10^6), the size in megapixels
  // A level with fewer than SLOPE_MIN_TILES measured tiles gives way to the
  // next finer level that has them (at worst the full frame).
  std::array<double, SHARPNESS_FEATURE_COUNT> features{};
  // The full-size tile whose edges are steepest (largest sum of its four ratios).
  TileRegion sharpest;
  std::int32_t viewing_level = 0;  // 0 ... SLOPE_LEVELS - 1
};

// Most cells a side of a SlopeMap.
inline constexpr std::int32_t SLOPE_MAP_MAX_CELLS = 32;

// Where the full-size frame's edges are steep, for display: the tile grid
// gathered into at most SLOPE_MAP_MAX_CELLS cells a side, each holding the
// largest mean ratio (of the four directions, as `sharpest` ranks tiles) among
// its tiles, or -1 where none of its tiles had contrast. Cell (c, r) covers the
// pixels from x = origin_x + c * cell_width, y = r * cell_height on.
struct SlopeMap {
  std::int32_t cols = 0;
  std::int32_t rows = 0;
  std::int32_t origin_x = 1;
  std::int32_t cell_width = 0;
  std::int32_t cell_height = 0;
  std::vector<float> value;  // cols * rows, row by row
};

// One level of the measure, fed one row at a time.
class SlopeLevel {
 public:
  // With `keep_map`, every tile's mean ratio is kept for map().
  SlopeLevel(std::int32_t width, std::int32_t height, bool keep_map = false);
  // Row y of the level, rows in order, `width` bytes each.
  void add_row(const std::uint8_t* row);

  // The ratios of the measured tiles, per direction (across, down, down-right,
  // down-left), in tile order.
  const std::array<std::vector<float>, 4>& ratios() const { return ratios_; }
  std::int32_t tiles() const { return tiles_x_ * tiles_y_; }
  std::int32_t measured_tiles() const { return static_cast<std::int32_t>(ratios_[0].size()); }
  TileRegion sharpest() const { return sharpest_; }
  // REQUIRES: made with keep_map, every row added.
  SlopeMap map() const;

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
  bool keep_map_ = false;
  std::vector<float> tile_means_;  // with keep_map: per tile in tile order, -1 without contrast
};

// Rows of a level averaged over 2 x 2 pixels: every second row yields a row of
// the next level, (a + b + c + d + 2) / 4 rounded down, half as wide.
class RowHalver {
 public:
  explicit RowHalver(std::int32_t width);
  // Takes the next row (`width` bytes); returns the row of the next level that it
  // completes, or null after an even-numbered row.
  const std::uint8_t* add_row(const std::uint8_t* row);

 private:
  std::int32_t rows_ = 0;
  std::vector<std::uint8_t> pending_;  // an even row awaiting its odd partner
  std::vector<std::uint8_t> half_;
};

// The whole measure on SLOPE_LEVELS levels, fed with the frame's luminance rows
// top to bottom.
class EdgeSlopeMeter {
 public:
  // With `keep_map`, slope_map() can tell where the edges were measured; the
  // measure itself is the same.
  EdgeSlopeMeter(std::int32_t width, std::int32_t height, bool keep_map = false);
  void add_row(const std::uint8_t* luma);
  SharpnessMeasure finish() const;
  SlopeMap slope_map() const { return levels_[0].map(); }

 private:
  std::int32_t width_;
  std::int32_t height_;
  std::vector<SlopeLevel> levels_;  // level k: means over 2^k x 2^k pixels
  std::vector<RowHalver> halvers_;  // halvers_[k] makes level k + 1 from level k
};

// The q-quantile (0 <= q <= 1) of `values`: the element at index
// floor(q * (n - 1)) of the ascending order. REQUIRES: values not empty.
float slope_quantile(std::vector<float> values, double q);

}  // namespace lumvet
