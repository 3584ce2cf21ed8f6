#include "scoring/linear_model.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace lumvet {
namespace {

TEST(EmbeddedModel, ScoresOfFeatureVectors) {
  SvmModel m;
  init_embedded_model(m);
  const struct {
    double value;
    std::int32_t score;
  } constant[] = {{0.0, 304},    {1000.0, 172}, {2000.0, 39},
                  {2500.0, -26}, {3000.0, -92}, {12750.0, -1382}};
  FeatureVector v;
  for (const auto& c : constant) {
    v.fill(c.value);
    EXPECT_EQ(score_features(m, v, FEATURE_SCALE), c.score) << c.value;
  }
  // 12750 wherever the weight is positive, or wherever it is negative.
  FeatureVector pos, neg;
  for (int k = 0; k < FEATURE_COUNT; ++k) {
    pos[k] = m.weights[k] > 0 ? 12750.0 : 0.0;
    neg[k] = m.weights[k] < 0 ? 12750.0 : 0.0;
  }
  EXPECT_EQ(score_features(m, pos, FEATURE_SCALE), 320);
  EXPECT_EQ(score_features(m, neg, FEATURE_SCALE), -1398);
}

TEST(EmbeddedModel, ScoreBitmapDraws) {
  SvmModel m;
  init_embedded_model(m);
  const Bitmap32 ref = testing::make_reference_bitmap();
  RandomState rs;
  EXPECT_EQ(score_bitmap(m, ref, FEATURE_SCALE, rs), -73);
  EXPECT_EQ(rs.value, 130060903);
  EXPECT_EQ(score_bitmap(m, ref, FEATURE_SCALE, rs), -23);
  EXPECT_EQ(rs.value, 280090412);

  RandomState u{99};
  EXPECT_EQ(score_bitmap(m, testing::make_uniform_bitmap(640, 480, 50, 60, 70), FEATURE_SCALE, u),
            304);
  const Bitmap32 columns = testing::make_test_bitmap(
      200, 100, [](int, int j, std::uint8_t* p) { p[0] = p[1] = p[2] = (j % 2) ? 255 : 0; });
  EXPECT_EQ(score_bitmap(m, columns, FEATURE_SCALE, u), -1382);

  // Unmeasurable: 0, and nothing drawn.
  u.value = 5;
  EXPECT_EQ(score_bitmap(m, testing::make_uniform_bitmap(1, 800, 0, 0, 0), FEATURE_SCALE, u), 0);
  EXPECT_EQ(u.value, 5);
}

}  // namespace
}  // namespace lumvet
