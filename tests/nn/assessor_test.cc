// The assessor and the training of its network: samples, scores, files of photos.
#include "nn/assessor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "nn/network_file.h"
#include "nn/network_training.h"
#include "scoring/file_scoring.h"
#include "scoring/model_dir.h"
#include "tests/support/image_files.h"
#include "tests/support/test_photos.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::RunResult;

std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }

TEST(ShuffleIndices, DrawsTwoStepsPerSwapAttempt) {
  RandomState rs;
  const auto shuffled = [&](std::int32_t count) {
    rs.value = 1;
    std::vector<std::int32_t> indices(static_cast<std::size_t>(count), -1);
    shuffle_indices(indices.data(), count, rs);
    return indices;
  };
  EXPECT_EQ(shuffled(10), (std::vector<std::int32_t>{2, 1, 0, 7, 3, 5, 6, 9, 4, 8}));
  EXPECT_EQ(rs.value, 2007237709);
  std::vector<std::int32_t> five = shuffled(5);  // two attempts, four steps
  EXPECT_EQ(rs.value, random_jump(1, 4));
  std::sort(five.begin(), five.end());
  EXPECT_EQ(five, (std::vector<std::int32_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(shuffled(1), std::vector<std::int32_t>{0});
  EXPECT_EQ(rs.value, 1);  // nothing drawn
}

TEST(NetSample, TargetsByClassAndOnlyOutputOneDecides) {
  RandomState rs;
  auto net = net_create(2, 0, 2, 0.0, rs);  // every weight zero: outputs exactly 0.5
  const double features[] = {0.3, 0.7, 99.0};
  net_set_sample(*net, features, -7);  // any non-zero class is positive
  EXPECT_EQ(net->input_units, (std::vector<double>{0.0, 0.3, 0.7}));
  EXPECT_EQ(net->targets, (std::vector<double>{0.0, TARGET_HIGH, TARGET_LOW}));

  double error = -1.0;
  EXPECT_EQ(net_eval_sample(*net, features, 1, error), 1);
  EXPECT_EQ(net->output_units[1], 0.5);
  EXPECT_EQ(error, TARGET_HIGH - 0.5);
  EXPECT_EQ(net_eval_sample(*net, features, 0, error), 0);
  EXPECT_EQ(net->targets[1], TARGET_LOW);
  EXPECT_EQ(error, 0.5 - TARGET_LOW);
  // Output 1 below 0.5, output 2 above it: output 1 alone says "negative".
  net->input_weights[1 * 3 + 0] = -1.0;  // bias of output 1
  net->input_weights[2 * 3 + 0] = 1.0;   // bias of output 2
  EXPECT_EQ(net_eval_sample(*net, features, 0, error), 1);
  EXPECT_EQ(net_eval_sample(*net, features, 1, error), 0);
  EXPECT_EQ(error, TARGET_HIGH - sigmoid(-1.0));
}

TEST(NetOutputScore, MapsOutputsOntoScoresAndTheAssessRule) {
  EXPECT_EQ(ONE_OUTPUT_SCORE_FACTOR, 2.500000149011621);
  EXPECT_EQ(TWO_OUTPUT_SCORE_FACTOR, 1.2500000395812108);
  // 0.45: 12.5000007 truncated; TARGET_HIGH: exactly x = 1; TARGET_LOW: x just
  // below -1; not a number (absurd weights): 0, not an undefined conversion.
  const std::pair<double, std::int32_t> one[] = {
      {0.6, -25},  {0.4, 25},           {0.45, 12},
      {0.5, 0},    {TARGET_HIGH, -100}, {TARGET_LOW, 100},
      {1.0, -100}, {0.0, 100},          {std::numeric_limits<double>::quiet_NaN(), 0}};
  NeuralNet net;
  net.output_count = 1;
  for (const auto& [output, score] : one) {
    net.output_units = {0.0, output};
    EXPECT_EQ(net_output_score(net), score) << output;
  }
  net.output_count = 2;
  const double two[][3] = {
      {0.3, 0.3, 0}, {TARGET_HIGH, TARGET_LOW, -100}, {TARGET_LOW, TARGET_HIGH, 100}};
  for (const auto& c : two) {
    net.output_units = {0.0, c[0], c[1]};
    EXPECT_EQ(net_output_score(net), c[2]) << c[0];
  }

  for (std::int32_t decided : {20, -20, 100}) EXPECT_FALSE(assessment_needs_second_score(decided));
  for (std::int32_t undecided : {19, -19, 0}) EXPECT_TRUE(assessment_needs_second_score(undecided));
  EXPECT_EQ(combine_assessment(12, 25), 18);
  EXPECT_EQ(combine_assessment(-13, -2), -7);  // truncated toward zero
}

// A network whose output ignores the features: sigmoid(bias) from every image.
std::unique_ptr<NeuralNet> constant_net(double bias) {
  RandomState rs;
  auto net = net_create(FEATURE_COUNT, 0, 1, 0.0, rs);
  net->input_weights[FEATURE_COUNT + 1] = bias;  // row 1, column 0
  return net;
}

TEST(NetScoreFile, ScaledFeaturesOfTheFileAndASecondLookWhenUndecided) {
  testing::ScopedTempDir dir;
  const std::string photo = dir.file("photo.jpg");
  ASSERT_TRUE(testing::write_jpeg(photo, testing::make_textured_bitmap(160, 120, 3)));

  // The same forward pass by hand, from the same state.
  RandomState rs{12345};
  auto net = net_create(FEATURE_COUNT, 4, 1, 0.7, rs);
  RandomState manual_rs{777};
  FeatureVector features;
  ASSERT_TRUE(extract_file_features(photo, features, manual_rs));
  auto manual = net_copy(*net);
  for (int i = 0; i < FEATURE_COUNT; ++i)
    manual->input_units[i + 1] = features[i] * (1.0 / 12000.0);
  net_forward(*manual);
  rs.value = 777;
  EXPECT_EQ(net_score_file(*net, photo, FEATURE_SCALE, rs), net_output_score(*manual));
  EXPECT_EQ(rs.value, manual_rs.value);  // 60 draws
  EXPECT_EQ(bits(net->output_units[1]), bits(manual->output_units[1]));

  // Output 0.5 scores 0: a second look, 120 draws in all. A clearly sharp output
  // (-100) and a clearly blurred one (100): one look.
  const struct {
    double bias;
    std::int32_t score, draws;
  } looks[] = {{0.0, 0, 120}, {5.0, -100, 60}, {-5.0, 100, 60}};
  for (const auto& l : looks) {
    rs.value = 99;
    EXPECT_EQ(net_assess_file(*constant_net(l.bias), photo, FEATURE_SCALE, rs), l.score);
    EXPECT_EQ(rs.value, random_jump(99, static_cast<std::uint64_t>(l.draws)));
  }

  // A file that cannot be decoded scores 0 and draws nothing.
  testing::write_text(dir.file("bad.jpg"), "not a picture");
  EXPECT_EQ(net_score_file(*net, dir.file("bad.jpg"), FEATURE_SCALE, rs), 0);
  EXPECT_EQ(net_assess_file(*net, dir.file("missing.jpg"), FEATURE_SCALE, rs), 0);
  EXPECT_EQ(rs.value, random_jump(99, 60));
}

TEST(ModelDir, BuildTreeOrInstalledDirectory) {
  EXPECT_TRUE(path_is_inside("/b/build/nn/lumqet", "/b/build/"));
  EXPECT_FALSE(path_is_inside("/b/build-san/nn/lumqet", "/b/build"));
  EXPECT_FALSE(path_is_inside("/b/build", "/b/build"));
  EXPECT_FALSE(path_is_inside("/usr/bin/lumqet", ""));
  EXPECT_EQ(default_model_dir(), BUILD_MODEL_DIR);  // this test runs from the build tree
}

RunResult train(const NetworkTrainingOptions& options, std::int32_t seed) {
  RunResult run;
  RandomState rs{seed};
  run.err = testing::capture_output([&](std::FILE* err) {
    run.out = testing::capture_output(
        [&](std::FILE* out) { run.exit_code = run_network_training(options, rs, out, err); });
  });
  return run;
}

TEST(NetworkTraining, SeparatesSharpFromBlurred) {
  testing::ScopedTempDir dir;
  const std::string good = dir.file("good");
  testing::write_photo_folders(good, dir.file("blur"), 6, 160, 120);
  testing::write_text(good + "/broken.JPG", "no picture");  // skipped
  testing::make_dir(good + "/folder.jpg");                  // folders are not photos
  RandomState rs{31337};
  const NetworkTrainingSet set = collect_network_training_set(good, dir.file("blur"), rs);
  EXPECT_EQ(set.sharp_photos, 6);
  EXPECT_EQ(set.skipped_photos, 1);
  ASSERT_EQ(set.count(), 120);
  // Ten readings of each photo, sharp ones first, scaled through 1/12000.
  for (int i = 0; i < 120; ++i) EXPECT_EQ(set.positive[i], i % 12 < 6 ? 1 : 0) << i;
  RandomState check{31337};
  FeatureVector f;
  ASSERT_TRUE(extract_file_features(good + "/sharp_0.jpg", f, check));
  for (int k = 0; k < FEATURE_COUNT; ++k) EXPECT_EQ(set.features[k], f[k] * (1.0 / 12000.0));

  std::unique_ptr<NeuralNet> net;
  const std::string report =
      testing::capture_output([&](std::FILE* out) { net = train_network(set, rs, out); });
  ASSERT_TRUE(net);
  EXPECT_EQ(net->hidden_count, 15);
  EXPECT_EQ(report.rfind("epoch 1: ", 0), 0u) << report;
  EXPECT_NE(report.find("\nepoch 15: "), std::string::npos) << report;
  int correct = 0;
  for (int i = 0; i < set.count(); ++i) {
    double error = 0.0;
    correct += net_eval_sample(*net, &set.features[static_cast<std::size_t>(i) * FEATURE_COUNT],
                               set.positive[i], error);
  }
  EXPECT_GE(correct, 108) << report;  // 90 per cent, where chance gives 50
}

TEST(NetworkTraining, RunIsReproducibleFromTheSeed) {
  testing::ScopedTempDir dir;
  testing::write_photo_folders(dir.file("good"), dir.file("blur"), 2, 100, 80);
  testing::make_dir(dir.file("m"));
  NetworkTrainingOptions options;
  options.good_dir = dir.file("good");
  options.blur_dir = dir.file("blur");
  options.model_dir = dir.path();  // a '/' is added
  const std::string path = dir.file(NETWORK_FILE_NAME);
  const RunResult first = train(options, 77);
  EXPECT_EQ(first.exit_code, NETWORK_TRAINING_EXIT_OK);
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(first.out.rfind("read 2 sharp and 2 blurred photos: 40 samples\nepoch 1: ", 0), 0u)
      << first.out;
  const std::string report = first.out.substr(0, first.out.rfind("wrote "));
  EXPECT_EQ(first.out.substr(report.size()), "wrote " + path + "\n");
  const std::vector<std::uint8_t> bytes = testing::read_bytes(path);
  EXPECT_EQ(bytes.size(), 4236u);

  // lumvet-train --network on good/ and blur/ of the current directory.
  const std::string program = testing::built_program("svm_train/lumvet-train");
  RunResult r = testing::run_program(
      program, {"--network", "--seed=77", "--model-dir=" + dir.file("m")}, dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.rfind("wrote ")), report);
  EXPECT_EQ(testing::read_bytes(dir.file("m/") + NETWORK_FILE_NAME), bytes);

  EXPECT_EQ(train(options, 78).exit_code, NETWORK_TRAINING_EXIT_OK);
  EXPECT_NE(testing::read_bytes(path), bytes);
}

TEST(NetworkTraining, FailuresAreReportedAndWriteNothing) {
  testing::ScopedTempDir dir;
  NetworkTrainingOptions options;
  options.good_dir = dir.file("good");
  options.blur_dir = dir.file("blur");
  options.model_dir = dir.path();
  const std::string no_photos = "lumvet-train: no photos to train on in " + dir.file("good") +
                                "/ and " + dir.file("blur") + "/\n";
  RunResult run = train(options, 1);
  EXPECT_EQ(run.exit_code, NETWORK_TRAINING_EXIT_FAILED);
  EXPECT_EQ(run.out, "read 0 sharp and 0 blurred photos: 0 samples\n");
  EXPECT_EQ(run.err, no_photos);
  testing::make_dir(dir.file("good"));
  testing::write_text(dir.file("good") + "/a.jpg", "broken");
  run = train(options, 1);
  EXPECT_EQ(run.exit_code, NETWORK_TRAINING_EXIT_FAILED);
  EXPECT_EQ(run.out,
            "read 0 sharp and 0 blurred photos: 0 samples\n"
            "photos that could not be decoded: 1\n");
  EXPECT_TRUE(testing::read_bytes(dir.file(NETWORK_FILE_NAME)).empty());

  testing::write_photo_folders(dir.file("good"), dir.file("blur"), 1, 100, 80);
  options.model_dir = dir.file("no/such/dir");
  run = train(options, 1);
  EXPECT_EQ(run.exit_code, NETWORK_TRAINING_EXIT_FAILED);
  EXPECT_EQ(run.err, "lumvet-train: cannot write network file " + dir.file("no/such/dir/") +
                         NETWORK_FILE_NAME + "\n");
  EXPECT_EQ(run.out.find("wrote "), std::string::npos);
}

}  // namespace
}  // namespace lumvet
