// Patch contrast features: 30 square patches at random positions, and the
// population standard deviation of the luminance inside each.
#pragma once

#include <cstdint>

#include "imaging/bitmap.h"
#include "scoring/constants.h"
#include "scoring/random.h"

namespace lumvet {

// 15 percent of the image's area, split over the 30 patches.
inline constexpr int PATCH_COVERAGE_PERCENT = 15;

// Side of every patch of a width x height image:
// trunc(sqrt(double(15 * w * h) * 0.0003333333333333333)), the product in 64 bits.
std::int32_t patch_side(std::int32_t width, std::int32_t height);

// True when patches fit strictly inside the image (side < width and side < height,
// that is an aspect ratio below 200:1) and the image is within MAX_IMAGE_PIXELS.
bool image_is_measurable(std::int32_t width, std::int32_t height);

// Luminance of a BGRX pixel: 30 R + 59 G + 11 B, an integer in [0, 25500].
inline std::int32_t pixel_luminance(const std::uint8_t* p) {
  return 30 * p[2] + 59 * p[1] + 11 * p[0];
}

// Running population statistics, updated per value exactly in this order:
// n += 1; delta = v - mean; mean += delta / n; m2 += (v - mean) * delta.
struct PatchStats {
  double n = 0.0;
  double mean = 0.0;
  double m2 = 0.0;

  void add(double v) {
    n += 1.0;
    const double delta = v - mean;
    mean = mean + delta / n;
    m2 = m2 + (v - mean) * delta;
  }
  // sqrt(m2 / n), or 0.0 when no value was added.
  double deviation() const;
};

// Patch positions of one draw: column offsets are drawn before row offsets, two
// steps per patch, 60 in all.
struct PatchPlacement {
  std::int32_t side = 0;
  std::int32_t x[FEATURE_COUNT] = {};
  std::int32_t y[FEATURE_COUNT] = {};
};

// Draws the 30 positions for an image of this size. REQUIRES image_is_measurable.
PatchPlacement draw_patch_placement(std::int32_t width, std::int32_t height, RandomState& rs);

// Measures one FeatureVector of `bitmap` into `features`, drawing 60 values.
// A bitmap that is not measurable (see image_is_measurable) draws nothing, leaves
// `features` untouched and returns false.
bool extract_patch_features(const Bitmap32& bitmap, FeatureVector& features, RandomState& rs);

// The statistics of a patch placement on a bitmap: the reference pixel walk,
// one patch after another, row by row.
void measure_patches(const Bitmap32& bitmap, const PatchPlacement& placement,
                     FeatureVector& features);

}  // namespace lumvet
