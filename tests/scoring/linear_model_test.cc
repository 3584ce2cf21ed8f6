#include "scoring/linear_model.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace lumvet {
namespace {

std::int32_t score_all(double f) {
  SvmModel m;
  init_embedded_model(m);
  FeatureVector v;
  v.fill(f);
  return score_features(m, v, FEATURE_SCALE);
}

TEST(EmbeddedModel, Contents) {
  SvmModel m;
  init_embedded_model(m);
  EXPECT_EQ(m.sample_count, 0);
  EXPECT_EQ(m.dims, 30);
  ASSERT_EQ(m.weights.size(), 30u);
  EXPECT_EQ(m.weights[0], -0.831788207919);
  EXPECT_EQ(m.weights[8], 0.0251381256303);
  EXPECT_EQ(m.weights[22], 0.126695437535);
  EXPECT_EQ(m.weights[29], -0.413860559914);
  EXPECT_EQ(m.bias, 3.04313040431);
  EXPECT_FALSE(m.kernel_cache);
  release_svm_model(m);
  EXPECT_TRUE(m.weights.empty());
  EXPECT_EQ(m.dims, 30);  // fields are not reset
}

TEST(EmbeddedModel, ScoresOfConstantFeatures) {
  EXPECT_EQ(score_all(0.0), 304);
  EXPECT_EQ(score_all(1000.0), 172);
  EXPECT_EQ(score_all(2000.0), 39);
  EXPECT_EQ(score_all(2500.0), -26);
  EXPECT_EQ(score_all(3000.0), -92);
  EXPECT_EQ(score_all(12750.0), -1382);
}

TEST(EmbeddedModel, ExtremeScores) {
  SvmModel m;
  init_embedded_model(m);
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
  const Bitmap32 columns = testing::make_test_bitmap(200, 100, [](int, int j, std::uint8_t* p) {
    p[0] = p[1] = p[2] = (j % 2) ? 255 : 0;
  });
  EXPECT_EQ(score_bitmap(m, columns, FEATURE_SCALE, u), -1382);
}

TEST(EmbeddedModel, UnmeasurableBitmapScoresZeroWithoutDraws) {
  SvmModel m;
  init_embedded_model(m);
  RandomState rs{5};
  EXPECT_EQ(score_bitmap(m, testing::make_uniform_bitmap(1, 800, 0, 0, 0), FEATURE_SCALE, rs), 0);
  EXPECT_EQ(rs.value, 5);
}

}  // namespace
}  // namespace lumvet
