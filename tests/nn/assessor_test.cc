#include "nn/assessor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "scoring/file_scoring.h"
#include "scoring/model_dir.h"
#include "tests/support/image_files.h"
#include "tests/support/test_photos.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::ScopedTempDir;

std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }

std::vector<std::int32_t> shuffled(std::int32_t count, RandomState& rs) {
  std::vector<std::int32_t> indices(static_cast<std::size_t>(count), -1);
  shuffle_indices(indices.data(), count, rs);
  return indices;
}

TEST(ShuffleIndices, DrawsTwoStepsPerSwapAttempt) {
  RandomState rs;  // 1
  EXPECT_EQ(shuffled(10, rs), (std::vector<std::int32_t>{2, 1, 0, 7, 3, 5, 6, 9, 4, 8}));
  EXPECT_EQ(rs.value, 2007237709);

  // count 5: two attempts, four steps, and a permutation.
  rs.value = 1;
  std::vector<std::int32_t> five = shuffled(5, rs);
  EXPECT_EQ(rs.value, random_jump(1, 4));
  std::sort(five.begin(), five.end());
  EXPECT_EQ(five, (std::vector<std::int32_t>{0, 1, 2, 3, 4}));

  // count 1 and 0: nothing drawn.
  rs.value = 1;
  EXPECT_EQ(shuffled(1, rs), std::vector<std::int32_t>{0});
  shuffled(0, rs);
  EXPECT_EQ(rs.value, 1);
}

TEST(NetSetSample, LoadsInputsAndTargetsByClass) {
  RandomState rs;
  auto net = net_create(3, 0, 2, 0.5, rs);
  net->input_units[0] = 42.0;  // not touched
  const double features[] = {0.25, -1.5, 3.0, 99.0};
  net_set_sample(*net, features, 1);
  EXPECT_EQ(net->input_units, (std::vector<double>{42.0, 0.25, -1.5, 3.0}));
  EXPECT_EQ(bits(net->targets[1]), 0x3FECCCCCC0000000u);  // TARGET_HIGH
  EXPECT_EQ(bits(net->targets[2]), 0x3FB99999A0000000u);  // TARGET_LOW
  net_set_sample(*net, features, 0);
  EXPECT_EQ(net->targets[1], TARGET_LOW);
  EXPECT_EQ(net->targets[2], TARGET_HIGH);
  net_set_sample(*net, features, -7);  // any non-zero value is positive
  EXPECT_EQ(net->targets[1], TARGET_HIGH);

  // Only the first two targets have a class meaning; a third is left alone.
  auto three = net_create(1, 0, 3, 0.5, rs);
  three->targets = {5.0, 5.0, 5.0, 5.0};
  net_set_sample(*three, features, 1);
  EXPECT_EQ(three->targets, (std::vector<double>{5.0, TARGET_HIGH, 5.0, 5.0}));
}

TEST(NetEvalSample, OnlyOutputOneDecides) {
  RandomState rs;
  auto net = net_create(2, 0, 2, 0.0, rs);  // every weight zero: outputs exactly 0.5
  const double features[] = {0.3, 0.7};
  double error = -1.0;
  EXPECT_EQ(net_eval_sample(*net, features, 1, error), 1);
  EXPECT_EQ(net->output_units[1], 0.5);
  EXPECT_EQ(error, TARGET_HIGH - 0.5);
  EXPECT_EQ(net_eval_sample(*net, features, 0, error), 0);
  EXPECT_EQ(error, 0.5 - TARGET_LOW);

  // Output 1 below 0.5, output 2 above it: output 1 alone says "negative".
  net->input_weights[1 * 3 + 0] = -1.0;  // bias of output 1
  net->input_weights[2 * 3 + 0] = 1.0;   // bias of output 2
  EXPECT_EQ(net_eval_sample(*net, features, 0, error), 1);
  EXPECT_EQ(net_eval_sample(*net, features, 1, error), 0);
  EXPECT_EQ(error, TARGET_HIGH - sigmoid(-1.0));
}

std::int32_t one_output_score(double output) {
  NeuralNet net;
  net.output_count = 1;
  net.output_units = {0.0, output};
  return net_output_score(net);
}

std::int32_t two_output_score(double first, double second) {
  NeuralNet net;
  net.output_count = 2;
  net.output_units = {0.0, first, second};
  return net_output_score(net);
}

TEST(NetOutputScore, MapsOutputsOntoScores) {
  EXPECT_EQ(ONE_OUTPUT_SCORE_FACTOR, 2.500000149011621);
  EXPECT_EQ(TWO_OUTPUT_SCORE_FACTOR, 1.2500000395812108);

  EXPECT_EQ(one_output_score(0.6), -25);
  EXPECT_EQ(one_output_score(0.4), 25);
  EXPECT_EQ(one_output_score(0.45), 12);  // 12.5000007 truncated
  EXPECT_EQ(one_output_score(0.5), 0);
  EXPECT_EQ(one_output_score(TARGET_HIGH), -100);  // exactly x = 1
  EXPECT_EQ(one_output_score(TARGET_LOW), 100);    // x just below -1
  EXPECT_EQ(one_output_score(1.0), -100);          // saturated at x = 1
  EXPECT_EQ(one_output_score(0.0), 100);

  EXPECT_EQ(two_output_score(0.3, 0.3), 0);
  EXPECT_EQ(two_output_score(TARGET_HIGH, TARGET_LOW), -100);
  EXPECT_EQ(two_output_score(TARGET_LOW, TARGET_HIGH), 100);

  // Outputs that are not numbers (absurd weights) give no score rather than an
  // undefined conversion.
  EXPECT_EQ(one_output_score(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(NetAssess, SecondLookOnlyBetweenMinus19And19) {
  EXPECT_FALSE(assessment_needs_second_score(20));
  EXPECT_FALSE(assessment_needs_second_score(-20));
  EXPECT_FALSE(assessment_needs_second_score(100));
  EXPECT_TRUE(assessment_needs_second_score(19));
  EXPECT_TRUE(assessment_needs_second_score(-19));
  EXPECT_TRUE(assessment_needs_second_score(0));
  EXPECT_EQ(combine_assessment(12, 25), 18);
  EXPECT_EQ(combine_assessment(-13, -2), -7);  // truncated toward zero
}

// A network whose output ignores the features: sigmoid(bias) from every image.
std::unique_ptr<NeuralNet> constant_net(std::int32_t inputs, double bias) {
  RandomState rs;
  auto net = net_create(inputs, 0, 1, 0.0, rs);
  net->input_weights[static_cast<std::size_t>(inputs) + 1] = bias;  // row 1, column 0
  return net;
}

TEST(NetScoreFile, FeedsScaledFeaturesOfTheFile) {
  ScopedTempDir dir;
  const std::string photo = dir.file("photo.jpg");
  ASSERT_TRUE(testing::write_jpeg(photo, testing::make_textured_bitmap(160, 120, 3)));

  // The same forward pass by hand, from the same state.
  RandomState rs{12345};
  auto net = net_create(FEATURE_COUNT, 4, 1, 0.7, rs);
  RandomState manual_rs{777};
  FeatureVector features;
  ASSERT_TRUE(extract_file_features(photo, features, manual_rs));
  auto manual = net_copy(*net);
  const double r = 1.0 / 12000.0;
  for (int i = 0; i < FEATURE_COUNT; ++i) manual->input_units[i + 1] = features[i] * r;
  net_forward(*manual);

  rs.value = 777;
  const std::int32_t score = net_score_file(*net, photo, FEATURE_SCALE, rs);
  EXPECT_EQ(rs.value, manual_rs.value);  // 60 draws
  EXPECT_EQ(bits(net->output_units[1]), bits(manual->output_units[1]));
  EXPECT_EQ(score, net_output_score(*manual));
  EXPECT_EQ(net->targets[1], TARGET_HIGH);  // loaded as a positive sample

  // Fewer inputs take the first features; more take 0.0 after the thirtieth.
  auto small = net_create(5, 0, 1, 0.0, rs);
  rs.value = 777;
  net_score_file(*small, photo, FEATURE_SCALE, rs);
  EXPECT_EQ(small->input_units[5], features[4] * r);
  auto wide = net_create(40, 0, 1, 0.0, rs);
  rs.value = 777;
  net_score_file(*wide, photo, FEATURE_SCALE, rs);
  EXPECT_EQ(wide->input_units[30], features[29] * r);
  EXPECT_EQ(wide->input_units[31], 0.0);
  EXPECT_EQ(wide->input_units[40], 0.0);

  // A file that cannot be decoded scores 0 and draws nothing, also when assessed.
  testing::write_text(dir.file("bad.jpg"), "not a picture");
  rs.value = 777;
  EXPECT_EQ(net_score_file(*net, dir.file("bad.jpg"), FEATURE_SCALE, rs), 0);
  EXPECT_EQ(net_assess_file(*net, dir.file("missing.jpg"), FEATURE_SCALE, rs), 0);
  EXPECT_EQ(rs.value, 777);
}

TEST(NetAssessFile, LooksTwiceOnlyAtUndecidedScores) {
  ScopedTempDir dir;
  const std::string photo = dir.file("photo.jpg");
  ASSERT_TRUE(testing::write_jpeg(photo, testing::make_textured_bitmap(160, 120, 4)));
  RandomState rs{99};

  // Output 0.5 scores 0: a second look, 120 draws in all.
  auto undecided = constant_net(FEATURE_COUNT, 0.0);
  EXPECT_EQ(net_assess_file(*undecided, photo, FEATURE_SCALE, rs), 0);
  EXPECT_EQ(rs.value, random_jump(99, 120));

  // A clearly sharp output (-100) and a clearly blurred one (100): one look.
  rs.value = 99;
  EXPECT_EQ(net_assess_file(*constant_net(FEATURE_COUNT, 5.0), photo, FEATURE_SCALE, rs), -100);
  EXPECT_EQ(rs.value, random_jump(99, 60));
  rs.value = 99;
  EXPECT_EQ(net_assess_file(*constant_net(FEATURE_COUNT, -5.0), photo, FEATURE_SCALE, rs), 100);
  EXPECT_EQ(rs.value, random_jump(99, 60));
}

TEST(ModelDir, BuildTreeOrInstalledDirectory) {
  EXPECT_EQ(as_model_dir("/data/models"), "/data/models/");
  EXPECT_EQ(as_model_dir("/data/models/"), "/data/models/");
  EXPECT_EQ(as_model_dir("rel"), "rel/");

  EXPECT_TRUE(path_is_inside("/b/build/nn/lumqet", "/b/build"));
  EXPECT_TRUE(path_is_inside("/b/build/nn/lumqet", "/b/build/"));
  EXPECT_FALSE(path_is_inside("/b/build-san/nn/lumqet", "/b/build"));
  EXPECT_FALSE(path_is_inside("/b/build", "/b/build"));
  EXPECT_FALSE(path_is_inside("/usr/bin/lumqet", ""));

  // This test program runs from the build tree.
  EXPECT_EQ(default_model_dir(), BUILD_MODEL_DIR);
}

}  // namespace
}  // namespace lumvet
