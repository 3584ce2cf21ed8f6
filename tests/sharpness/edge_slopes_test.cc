// The edge-slope features on pictures whose answer is known: edges blurred by a
// known Gaussian, smeared along one axis, with more or less contrast, flat or
// too small to judge.
#include "sharpness/edge_slopes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sharpness/sharpness_model.h"
#include "tests/sharpness/synthetic.h"

namespace lumvet {
namespace {

using testing::CheckerOptions;
using testing::make_checker;
using testing::measure_luma;

SharpnessMeasure checker_measure(double sigma, int low = 28, int high = 228,
                                 std::int32_t motion = 0) {
  CheckerOptions o;
  o.sigma = sigma;
  o.low = low;
  o.high = high;
  o.motion = motion;
  return measure_luma(make_checker(o));
}

// A model that calls everything it measures surely blurred.
SharpnessModel blurred_by_default() {
  SharpnessModel m;
  m.mean.assign(SHARPNESS_FEATURE_COUNT, 0.0);
  m.scale.assign(SHARPNESS_FEATURE_COUNT, 1.0);
  m.weights.assign(SHARPNESS_FEATURE_COUNT, 0.0);
  m.bias = 100.0;
  return m;
}

// An edge blurred by a Gaussian of sigma climbs at most 1 / (sigma sqrt(2 pi))
// of its height per pixel: the wider the blur, the less steep every feature.
TEST(EdgeSlopes, WiderGaussianBlurReadsAsLessSteepEdges) {
  const double sigmas[] = {0.0, 0.5, 1.0, 2.0, 4.0};
  std::vector<SharpnessMeasure> m;
  for (const double sigma : sigmas) {
    m.push_back(checker_measure(sigma));
    ASSERT_TRUE(m.back().measurable) << sigma;
    EXPECT_EQ(m.back().measured_tiles, m.back().tiles) << sigma;
    EXPECT_DOUBLE_EQ(m.back().features[6], 1.0) << sigma;
  }
  for (std::size_t i = 1; i < m.size(); ++i) {
    const double sigma = sigmas[i];
    EXPECT_LT(m[i].features[0], m[i - 1].features[0]) << "sigma " << sigma;
    EXPECT_LT(m[i].features[1], m[i - 1].features[1]) << "sigma " << sigma;
    EXPECT_LT(m[i].features[2], m[i - 1].features[2]) << "sigma " << sigma;
  }
  // The 2 x 2 level halves the width of a blur: steeper there than at full
  // size once the edges are wider than a pixel.
  for (std::size_t i = 2; i < m.size(); ++i) {
    EXPECT_LT(m[i].features[4], m[i - 1].features[4]) << "sigma " << sigmas[i];
    EXPECT_GT(m[i].features[4], m[i].features[0]) << "sigma " << sigmas[i];
  }
  // The blurrier, the higher the score: a chance of blur that never falls.
  for (std::size_t i = 1; i < m.size(); ++i) {
    EXPECT_GE(sharpness_score(embedded_sharpness_model(), m[i]),
              sharpness_score(embedded_sharpness_model(), m[i - 1]))
        << "sigma " << sigmas[i];
  }
  // A pixel-sharp edge takes its whole height in one step.
  EXPECT_GT(std::exp(m[0].features[0]), 0.85);
  // Blurred edges: the steepest step is the Gaussian's peak, to within the
  // diagonal steps' weight and the plateau the blur lowers.
  for (std::size_t i = 2; i < m.size(); ++i) {
    const double peak = 1.0 / (sigmas[i] * std::sqrt(2.0 * std::numbers::pi));
    const double steepness = std::exp(m[i].features[0]);
    EXPECT_GT(steepness, 0.8 * peak) << "sigma " << sigmas[i];
    EXPECT_LT(steepness, 1.1 * peak) << "sigma " << sigmas[i];
  }
}

// The measure divides by each tile's range: the same edges at a third of the
// contrast read almost the same, and score almost the same, also where the
// score is undecided (sigma 0.6 to 0.8) and most sensitive.
TEST(EdgeSlopes, ContrastOfTheEdgesChangesLittle) {
  for (const double sigma : {0.0, 0.6, 0.7, 0.8, 1.0, 2.0}) {
    const SharpnessMeasure high = checker_measure(sigma, 28, 228);
    const SharpnessMeasure low = checker_measure(sigma, 98, 158);
    ASSERT_TRUE(high.measurable && low.measurable) << sigma;
    for (int k = 0; k < SHARPNESS_FEATURE_COUNT; ++k) {
      EXPECT_NEAR(low.features[k], high.features[k], 0.1) << "sigma " << sigma << " feature " << k;
    }
    const SharpnessModel& model = embedded_sharpness_model();
    EXPECT_LE(std::abs(sharpness_score(model, low) - sharpness_score(model, high)), 5)
        << "sigma " << sigma;
  }
}

// Motion smears edges across one axis only: the weakest direction loses far
// more than the strongest, and their ratio (feature 3) grows.
TEST(EdgeSlopes, MotionBlurShowsInTheWeakestDirection) {
  const SharpnessMeasure sharp = checker_measure(0.0);
  const SharpnessMeasure moved = checker_measure(0.0, 28, 228, 9);
  ASSERT_TRUE(sharp.measurable && moved.measurable);
  const double weakest_loss = sharp.features[0] - moved.features[0];
  const double strongest_loss =
      (sharp.features[0] + sharp.features[3]) - (moved.features[0] + moved.features[3]);
  EXPECT_GT(weakest_loss, std::log(4.0));
  EXPECT_LT(strongest_loss, std::log(1.5));
  EXPECT_GT(moved.features[3], sharp.features[3] + std::log(4.0));
  // A Gaussian of about the same width blurs every direction alike.
  EXPECT_LT(checker_measure(2.0).features[3], std::log(1.5));
}

// Large smooth areas (sky, fog, a plain background) neither help nor hurt: the
// sharpest tiles decide, only the share of measured tiles changes.
TEST(EdgeSlopes, SmoothAreasDoNotMakeAPhotoBlurred) {
  CheckerOptions o;
  testing::LumaImage half = make_checker(o);
  std::fill(half.pixels.begin() + static_cast<std::ptrdiff_t>(half.pixels.size() / 2),
            half.pixels.end(), std::uint8_t{200});
  const SharpnessMeasure full = measure_luma(make_checker(o));
  const SharpnessMeasure sky = measure_luma(half);
  ASSERT_TRUE(sky.measurable);
  EXPECT_NEAR(sky.features[0], full.features[0], 0.02);
  EXPECT_NEAR(sky.features[4], full.features[4], 0.02);
  EXPECT_NEAR(sky.features[6], 0.5, 0.1);
  // The steepest tile lies in the textured half.
  EXPECT_EQ(sky.sharpest.size, SLOPE_TILE);
  EXPECT_LT(sky.sharpest.y + sky.sharpest.size, half.height / 2 + SLOPE_TILE);
}

// Without edges of at least SLOPE_MIN_RANGE grey levels in SLOPE_MIN_TILES tiles
// there is nothing to judge: not measurable, features 0, the even score 50
// whatever the model, never a confident sharp or blurred.
TEST(EdgeSlopes, FlatFaintAndTinyPicturesAreNotMeasurable) {
  struct Case {
    const char* what;
    testing::LumaImage image;
  };
  CheckerOptions faint;
  faint.low = 100;
  faint.high = 100 + SLOPE_MIN_RANGE - 1;
  // Three tiles, one short of the minimum, either way round.
  CheckerOptions narrow;
  narrow.width = SLOPE_TILE + 2 + SLOPE_TILE - 1;  // 1 tile across
  narrow.height = 3 * SLOPE_TILE + 1;              // 3 tiles down
  CheckerOptions low;
  low.width = 3 * SLOPE_TILE + 2;
  low.height = 2 * SLOPE_TILE;  // (64 - 1) / 32 = 1 tile down
  const Case cases[] = {
      {"flat white", testing::make_flat(256, 256, 255)},
      {"contrast below the minimum", make_checker(faint)},
      {"1 x 3 tiles", make_checker(narrow)},
      {"3 x 1 tiles", make_checker(low)},
      {"1 x 1", testing::make_flat(1, 1, 0)},
      {"300 x 1", make_checker({300, 1})},
      {"33 x 33", make_checker({33, 33})},
  };
  for (const Case& c : cases) {
    const SharpnessMeasure m = measure_luma(c.image);
    EXPECT_FALSE(m.measurable) << c.what;
    EXPECT_LT(m.measured_tiles, SLOPE_MIN_TILES) << c.what;
    for (int k = 0; k < SHARPNESS_FEATURE_COUNT; ++k) EXPECT_EQ(m.features[k], 0.0) << c.what;
    EXPECT_EQ(sharpness_score(embedded_sharpness_model(), m), UNMEASURABLE_SHARPNESS_SCORE)
        << c.what;
    EXPECT_EQ(sharpness_score(blurred_by_default(), m), 50) << c.what;
  }
  // At the minimum range itself the edges count.
  faint.high = faint.low + SLOPE_MIN_RANGE;
  EXPECT_TRUE(measure_luma(make_checker(faint)).measurable);
}

// The smallest picture measured holds four whole tiles: 2 x 32 columns besides
// the first and the last, 2 x 32 rows besides the last.
TEST(EdgeSlopes, SmallestMeasurablePictureHoldsFourTiles) {
  const SharpnessMeasure m = measure_luma(make_checker({2 * SLOPE_TILE + 2, 2 * SLOPE_TILE + 1}));
  EXPECT_TRUE(m.measurable);
  EXPECT_EQ(m.tiles, 4);
  EXPECT_EQ(m.measured_tiles, 4);
  for (int k = 0; k < SHARPNESS_FEATURE_COUNT; ++k) EXPECT_TRUE(std::isfinite(m.features[k])) << k;
  EXPECT_NE(sharpness_score(blurred_by_default(), m), UNMEASURABLE_SHARPNESS_SCORE);
  // A long thin strip of edges is judged too.
  EXPECT_TRUE(measure_luma(make_checker({2000, 2 * SLOPE_TILE + 1})).measurable);
}

}  // namespace
}  // namespace lumvet
