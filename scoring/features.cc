#include "scoring/features.h"

#include <bit>
#include <cmath>

namespace lumvet {

namespace {

// 1/(100 * FEATURE_COUNT): the double nearest to 1/3000 (bit pattern 3F35D867C3ECE2A5).
double patch_area_factor() { return std::bit_cast<double>(std::uint64_t{0x3F35D867C3ECE2A5}); }

}  // namespace

std::int32_t patch_side(std::int32_t width, std::int32_t height) {
  const std::int64_t area = std::int64_t{PATCH_COVERAGE_PERCENT} * width * height;
  // Exact in double for every area below 2^53.
  return static_cast<std::int32_t>(std::sqrt(static_cast<double>(area) * patch_area_factor()));
}

bool image_is_measurable(std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 0) return false;
  if (std::int64_t{width} * height > MAX_IMAGE_PIXELS) return false;
  const std::int32_t side = patch_side(width, height);
  return side < width && side < height;
}

double PatchStats::deviation() const { return n == 0.0 ? 0.0 : std::sqrt(m2 / n); }

PatchPlacement draw_patch_placement(std::int32_t width, std::int32_t height, RandomState& rs) {
  PatchPlacement p;
  p.side = patch_side(width, height);
  const std::int32_t span_x = width - p.side;
  const std::int32_t span_y = height - p.side;
  for (int k = 0; k < FEATURE_COUNT; ++k) {
    p.x[k] = random_next(rs) % span_x;
    p.y[k] = random_next(rs) % span_y;
  }
  return p;
}

void measure_patches(const Bitmap32& bitmap, const PatchPlacement& placement,
                     FeatureVector& features) {
  const std::int32_t side = placement.side;
  for (int k = 0; k < FEATURE_COUNT; ++k) {
    PatchStats stats;
    for (std::int32_t i = 0; i < side; ++i) {
      const std::uint8_t* p = bitmap.row(placement.y[k] + i) + std::size_t{4} * placement.x[k];
      for (std::int32_t j = 0; j < side; ++j, p += 4) {
        stats.add(static_cast<double>(pixel_luminance(p)));
      }
    }
    features[k] = stats.deviation();
  }
}

bool extract_patch_features(const Bitmap32& bitmap, FeatureVector& features, RandomState& rs) {
  if (!bitmap.pixels || !image_is_measurable(bitmap.width, bitmap.height)) return false;
  const PatchPlacement placement = draw_patch_placement(bitmap.width, bitmap.height, rs);
  measure_patches(bitmap, placement, features);
  return true;
}

}  // namespace lumvet
