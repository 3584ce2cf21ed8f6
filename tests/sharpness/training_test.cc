// Fitting the sharpness model: the logistic calibration of decision values and
// the whole fit on measured pictures, repeatable run after run.
#include "svm_train/sharpness_training.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "tests/sharpness/synthetic.h"

namespace lumvet {
namespace {

double chance_of_blur(double a, double b, double s) { return 1.0 / (1.0 + std::exp(a * s + b)); }

// Decision values that separate the classes: higher means blurrier, and the
// chances follow the decisions without reaching certainty.
TEST(SharpnessCalibration, SeparableClassesGiveOrderedChances) {
  const std::vector<double> s = {-3.0, -2.0, -1.0, -0.5, 0.5, 1.0, 2.0, 3.0};
  const std::vector<std::int8_t> y = {-1, -1, -1, -1, 1, 1, 1, 1};
  double a = 0.0, b = 0.0;
  fit_calibration(s, y, a, b);
  ASSERT_TRUE(std::isfinite(a) && std::isfinite(b));
  EXPECT_LT(a, 0.0);
  for (std::size_t i = 0; i < s.size(); ++i) {
    const double p = chance_of_blur(a, b, s[i]);
    EXPECT_EQ(p > 0.5, y[i] > 0) << s[i];
    EXPECT_GT(p, 0.01) << s[i];
    EXPECT_LT(p, 0.99) << s[i];
    if (i > 0) {
      EXPECT_GT(p, chance_of_blur(a, b, s[i - 1])) << s[i];
    }
  }
  // The same data, the same bits.
  double a2 = 0.0, b2 = 0.0;
  fit_calibration(s, y, a2, b2);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(a), std::bit_cast<std::uint64_t>(a2));
  EXPECT_EQ(std::bit_cast<std::uint64_t>(b), std::bit_cast<std::uint64_t>(b2));
}

// The classes count alike however many photos each has: mirror-image classes
// meet at an even chance at decision 0, and still nearly so with ten times more
// sharp photos than blurred ones (only the targets, kept short of 0 and 1 by
// one photo in each class's count, differ then).
TEST(SharpnessCalibration, ClassesWeighEquallyWhateverTheirSizes) {
  for (const int sharp_copies : {1, 10}) {
    std::vector<double> s;
    std::vector<std::int8_t> y;
    for (int copy = 0; copy < 10; ++copy) {
      s.insert(s.end(), {1.0, 2.5, -0.3});
      y.insert(y.end(), {1, 1, 1});
    }
    for (int copy = 0; copy < 10 * sharp_copies; ++copy) {
      s.insert(s.end(), {-1.0, -2.5, 0.3});
      y.insert(y.end(), {-1, -1, -1});
    }
    double a = 0.0, b = 0.0;
    fit_calibration(s, y, a, b);
    EXPECT_LT(a, 0.0) << sharp_copies;
    EXPECT_NEAR(chance_of_blur(a, b, 0.0), 0.5, sharp_copies == 1 ? 1e-9 : 0.05) << sharp_copies;
  }
}

SharpnessTrainingSet checker_training_set() {
  SharpnessTrainingSet set;
  auto add = [&set](double sigma, std::int32_t motion, int low, int high, std::int8_t label) {
    testing::CheckerOptions o;
    o.width = 130;
    o.height = 97;
    o.sigma = sigma;
    o.motion = motion;
    o.low = low;
    o.high = high;
    set.measures.push_back(testing::measure_luma(testing::make_checker(o)));
    set.labels.push_back(label);
  };
  for (const int high : {120, 250}) {
    add(0.0, 0, 20, high, -1);
    add(0.5, 0, 20, high, -1);
    add(0.8, 0, 20, high, -1);
    add(2.0, 0, 20, high, 1);
    add(3.0, 0, 20, high, 1);
    add(0.0, 7, 20, high, 1);
  }
  return set;
}

// A fit on a few pictures: the same seed gives the same model file, the file
// decodes (a feature that never varies keeps a usable scale), and the
// pictures it learnt from score on the right side of 50.
TEST(SharpnessFit, SmallSetFitsRepeatablyAndSeparates) {
  const SharpnessTrainingSet set = checker_training_set();
  RandomState rs1{1}, rs2{1};
  std::int32_t sv1 = 0, sv2 = 0;
  const SharpnessModel m1 = fit_sharpness_model(set, rs1, sv1);
  const SharpnessModel m2 = fit_sharpness_model(set, rs2, sv2);
  const std::vector<std::uint8_t> bytes = encode_sharpness_model(m1);
  EXPECT_EQ(bytes, encode_sharpness_model(m2));
  EXPECT_EQ(sv1, sv2);
  EXPECT_EQ(rs1.value, rs2.value);
  EXPECT_GT(sv1, 0);
  EXPECT_DOUBLE_EQ(m1.scale[6], 1.0);  // every picture is measured all over

  SharpnessModel decoded;
  std::string error;
  ASSERT_TRUE(decode_sharpness_model(bytes.data(), bytes.size(), decoded, error)) << error;
  EXPECT_LT(decoded.calibration_a, 0.0);
  for (std::size_t i = 0; i < set.measures.size(); ++i) {
    const std::int32_t score = sharpness_score(decoded, set.measures[i]);
    if (set.labels[i] > 0) {
      EXPECT_GT(score, SHARPNESS_LIST_THRESHOLD) << i;
    } else {
      EXPECT_LT(score, SHARPNESS_LIST_THRESHOLD) << i;
    }
  }
}

}  // namespace
}  // namespace lumvet
