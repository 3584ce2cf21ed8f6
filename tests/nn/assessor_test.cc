// The assessor and the training of its network: samples, scores, files of photos.
#include "nn/assessor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
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
  shuffled(5);  // two attempts, four steps
  EXPECT_EQ(rs.value, random_jump(1, 4));
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
  EXPECT_EQ(net_eval_sample(*net, features, 1, error), 1);  // 0.5 counts as positive
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

TEST(NetOutputScore, MapsOutputsOntoScoresAndTheAssessRule) {
  // {outputs, output 1, output 2, score}. 0.45: 12.5000007 truncated; TARGET_HIGH: x = 1;
  // TARGET_LOW: x just below -1; not a number: 0, not an undefined conversion.
  const double cases[][4] = {{1, 0.6, 0, -25},
                             {1, 0.45, 0, 12},
                             {1, 0.5, 0, 0},
                             {1, TARGET_HIGH, 0, -100},
                             {1, TARGET_LOW, 0, 100},
                             {1, 1.0, 0, -100},
                             {1, std::nan(""), 0, 0},
                             {2, 0.3, 0.3, 0},
                             {2, TARGET_HIGH, TARGET_LOW, -100},
                             {2, TARGET_LOW, TARGET_HIGH, 100}};
  for (const auto& c : cases) {
    NeuralNet net;
    net.output_count = static_cast<std::int32_t>(c[0]);
    net.output_units = {0.0, c[1], c[2]};
    EXPECT_EQ(net_output_score(net), c[3]) << c[0] << " " << c[1];
  }

  // Only -19 ... 19 needs a second look; the two looks are averaged toward zero.
  for (std::int32_t s : {-19, 0, 19}) EXPECT_TRUE(assessment_needs_second_score(s));
  for (std::int32_t s : {-20, 20}) EXPECT_FALSE(assessment_needs_second_score(s));
  EXPECT_EQ(combine_assessment(-13, -2), -7);
}

// A network whose output is sigmoid(bias) whatever the photo: {bias, score,
// draws}: 0.5 scores 0 and takes a second look; clearly sharp or blurred, one
// look. (The features' scaling shows in lumqet_test and the training below.)
TEST(NetScoreFile, ASecondLookWhenUndecidedNoDrawWhenUndecodable) {
  testing::ScopedTempDir dir;
  const std::string photo = dir.file("photo.jpg");
  ASSERT_TRUE(testing::write_jpeg(photo, testing::make_textured_bitmap(160, 120, 3)));
  RandomState rs;
  auto net = net_create(FEATURE_COUNT, 0, 1, 0.0, rs);
  const double looks[][3] = {{0.0, 0, 120}, {5.0, -100, 60}, {-5.0, 100, 60}};
  for (const auto& l : looks) {
    net->input_weights[FEATURE_COUNT + 1] = l[0];  // row 1, column 0
    rs.value = 99;
    EXPECT_EQ(net_assess_file(*net, photo, FEATURE_SCALE, rs), l[1]);
    EXPECT_EQ(rs.value, random_jump(99, static_cast<std::uint64_t>(l[2])));
  }
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

// Ten readings of each photo, sharp ones first, scaled through 1/12000; a photo
// that does not decode is named and skipped, a folder is no photo.
TEST(NetworkTraining, SeparatesSharpFromBlurredReproducibly) {
  testing::ScopedTempDir dir;
  const std::string good = dir.file("good"), blur = dir.file("blur");
  testing::write_photo_folders(good, blur, 6, 160, 120);
  testing::write_text(good + "/broken.JPG", "no picture");
  testing::make_dir(good + "/folder.jpg");
  NetworkTrainingOptions options;
  options.good_dir = good;
  options.blur_dir = blur;
  options.model_dir = dir.path();  // a '/' is added
  const std::string path = dir.file(NETWORK_FILE_NAME);
  const RunResult first = train(options, 77);
  EXPECT_EQ(first.exit_code, EXIT_DONE);
  EXPECT_EQ(first.err, "lumvet-train: cannot decode " + good + "/broken.JPG; skipped\n");
  const std::string head =
      "read 6 sharp and 6 blurred photos: 120 samples\nphotos that could not be decoded: 1\n";
  EXPECT_EQ(first.out.rfind(head + "epoch 1: ", 0), 0u) << first.out;
  const std::string report = first.out.substr(0, first.out.rfind("wrote "));
  EXPECT_NE(report.find("\nepoch 15: "), std::string::npos) << report;
  EXPECT_EQ(first.out.substr(report.size()), "wrote " + path + "\n");
  const std::vector<std::uint8_t> bytes = testing::read_bytes(path);
  EXPECT_EQ(bytes.size(), 4236u);

  // The same samples again; the network written gets 90 per cent of them right,
  // where chance gives 50.
  RandomState rs{77};
  const NetworkTrainingSet set = collect_network_training_set(list_training_photos(good, blur), rs);
  EXPECT_EQ(set.skipped, std::vector<std::string>{good + "/broken.JPG"});
  ASSERT_EQ(set.count(), 120);
  for (int i = 0; i < 120; ++i) EXPECT_EQ(set.positive[i], i % 12 < 6 ? 1 : 0) << i;
  RandomState check{77};
  FeatureVector f;
  ASSERT_TRUE(extract_file_features(good + "/sharp_0.jpg", f, check));
  for (int k = 0; k < FEATURE_COUNT; ++k) EXPECT_EQ(set.features[k], f[k] * (1.0 / 12000.0));
  const auto net = net_load(path, stdout);
  ASSERT_TRUE(net);
  int correct = 0;
  for (int i = 0; i < set.count(); ++i) {
    double error = 0.0;
    correct += net_eval_sample(*net, &set.features[static_cast<std::size_t>(i) * FEATURE_COUNT],
                               set.positive[i], error);
  }
  EXPECT_GE(correct, 108) << report;

  // lumvet-train --network on good/ and blur/ of the current directory.
  testing::make_dir(dir.file("m"));
  const RunResult r =
      testing::run_program(testing::built_program("train/lumvet-train"),
                           {"--network", "--seed=77", "--model-dir=" + dir.file("m")}, dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.rfind("wrote ")), report);
  EXPECT_EQ(testing::read_bytes(dir.file("m/") + NETWORK_FILE_NAME), bytes);

  EXPECT_EQ(train(options, 78).exit_code, EXIT_DONE);
  EXPECT_NE(testing::read_bytes(path), bytes);

  // A model folder that does not exist: the whole report, then the failure.
  options.model_dir = dir.file("no/such/dir");
  const RunResult failed = train(options, 77);
  EXPECT_TRUE(testing::ran(failed, EXIT_NOT_TRAINED, report,
                           first.err + "lumvet-train: cannot write network file " +
                               dir.file("no/such/dir/") + NETWORK_FILE_NAME + "\n"));
}

TEST(NetworkTraining, NoPhotosIsAFailureAndWritesNothing) {
  testing::ScopedTempDir dir;
  NetworkTrainingOptions options;
  options.good_dir = dir.file("good");
  options.blur_dir = dir.file("blur");  // missing
  options.model_dir = dir.path();
  testing::make_dir(dir.file("good"));
  testing::write_text(dir.file("good") + "/a.jpg", "broken");
  const RunResult run = train(options, 1);
  EXPECT_EQ(run.exit_code, EXIT_NOT_TRAINED);
  EXPECT_EQ(run.out,
            "read 0 sharp and 0 blurred photos: 0 samples\n"
            "photos that could not be decoded: 1\n");
  EXPECT_EQ(run.err, "lumvet-train: cannot decode " + dir.file("good") +
                         "/a.jpg; skipped\nlumvet-train: no photos to train on in " +
                         dir.file("good") + "/ and " + dir.file("blur") + "/\n");
  EXPECT_TRUE(testing::read_bytes(dir.file(NETWORK_FILE_NAME)).empty());
}

}  // namespace
}  // namespace lumvet
