// Grey pictures with known edges, built in memory as luminance rows: a
// checkerboard whose edges are blurred by a known Gaussian or smeared along
// one axis, and the measure of such a picture.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/bitmap.h"
#include "sharpness/edge_slopes.h"
#include "tests/support/luma_rows.h"

namespace lumvet::testing {

struct CheckerOptions {
  std::int32_t width = 256;
  std::int32_t height = 256;
  std::int32_t square = 16;  // side of a square in pixels; edges lie between pixels
  int low = 28;              // grey levels of the dark and the bright squares
  int high = 228;
  double sigma = 0.0;       // Gaussian blur of both axes; 0: none
  std::int32_t motion = 0;  // with sigma 0: a box smear of this many pixels across (odd)
};

// The checkerboard low + (high - low) (1 + s(x) s(y)) / 2, s a square wave of
// +-1, each factor blurred as asked (the Gaussian is separable, so the 2-D blur
// of the board is the product of the blurred waves), rounded to grey levels.
LumaImage make_checker(const CheckerOptions& options);

LumaImage make_flat(std::int32_t width, std::int32_t height, std::uint8_t level);

// The picture's measure, its rows fed to an EdgeSlopeMeter top to bottom.
SharpnessMeasure measure_luma(const LumaImage& image);

// A BGRX bitmap showing the picture in grey.
Bitmap32 luma_to_bitmap(const LumaImage& image);

}  // namespace lumvet::testing
