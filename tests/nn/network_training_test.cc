#include "nn/network_training.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nn/assessor.h"
#include "nn/network_file.h"
#include "scoring/file_scoring.h"
#include "tests/support/image_files.h"
#include "tests/support/test_photos.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::capture_output;
using testing::ScopedTempDir;

struct TrainingRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};

TrainingRun train(const NetworkTrainingOptions& options, std::int32_t seed) {
  TrainingRun run;
  RandomState rs{seed};
  run.err = capture_output([&](std::FILE* err) {
    run.out = capture_output(
        [&](std::FILE* out) { run.exit_code = run_network_training(options, rs, out, err); });
  });
  return run;
}

TEST(NetworkTrainingSet, TenReadingsOfEachPhotoGoodFirst) {
  ScopedTempDir dir;
  const std::string good = dir.file("good");
  const std::string blur = dir.file("blur");
  testing::write_photo_folders(good, blur, 2, 120, 90);
  testing::write_text(good + "/broken.JPG", "no picture");  // skipped
  testing::make_dir(good + "/folder.jpg");                  // folders are not photos
  testing::write_text(blur + "/notes.txt", "x");

  RandomState rs{4242};
  const NetworkTrainingSet set = collect_network_training_set(good, blur, rs);
  EXPECT_EQ(set.sharp_photos, 2);
  EXPECT_EQ(set.blurred_photos, 2);
  EXPECT_EQ(set.skipped_photos, 1);
  ASSERT_EQ(set.count(), 40);
  ASSERT_EQ(set.features.size(), 40u * FEATURE_COUNT);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(set.positive[i], i % 4 < 2 ? 1 : 0) << i;

  // Sorted names, one reading each, scaled through the reciprocal of 12000.
  RandomState check{4242};
  const double factor = 1.0 / 12000.0;
  const std::vector<std::string> order = {good + "/sharp_0.jpg", good + "/sharp_1.jpg",
                                          blur + "/blur_0.jpg", blur + "/blur_1.jpg"};
  for (std::size_t s = 0; s < 8; ++s) {
    FeatureVector f;
    ASSERT_TRUE(extract_file_features(order[s % 4], f, check));
    for (int k = 0; k < FEATURE_COUNT; ++k) {
      ASSERT_EQ(set.features[s * FEATURE_COUNT + k], f[k] * factor) << s << " " << k;
    }
  }

  // Missing folders give nothing.
  const NetworkTrainingSet none = collect_network_training_set(dir.file("x"), dir.file("y"), rs);
  EXPECT_EQ(none.count(), 0);
}

TEST(NetworkTraining, SeparatesSharpFromBlurred) {
  ScopedTempDir dir;
  testing::write_photo_folders(dir.file("good"), dir.file("blur"), 6, 160, 120);
  RandomState rs{31337};
  const NetworkTrainingSet set = collect_network_training_set(dir.file("good"), dir.file("blur"), rs);
  ASSERT_EQ(set.count(), 120);
  std::unique_ptr<NeuralNet> net;
  const std::string report = capture_output([&](std::FILE* out) { net = train_network(set, rs, out); });
  ASSERT_TRUE(net);
  EXPECT_EQ(net->input_count, 30);
  EXPECT_EQ(net->hidden_count, 15);
  EXPECT_EQ(net->output_count, 1);
  EXPECT_EQ(report.rfind("epoch 1: ", 0), 0u) << report;
  EXPECT_NE(report.find("\nepoch 15: "), std::string::npos) << report;

  int correct = 0;
  for (int i = 0; i < set.count(); ++i) {
    double error = 0.0;
    correct += net_eval_sample(*net, &set.features[static_cast<std::size_t>(i) * FEATURE_COUNT],
                               set.positive[i], error);
  }
  EXPECT_GE(correct, 108) << report;  // 90 per cent, where chance gives 50

  // New pictures of each kind: sharp ones score low, blurred ones high.
  const std::string sharp = dir.file("new_sharp.jpg");
  const std::string blurred = dir.file("new_blurred.jpg");
  const Bitmap32 picture = testing::make_textured_bitmap(160, 120, 77);
  ASSERT_TRUE(testing::write_jpeg(sharp, picture));
  ASSERT_TRUE(testing::write_jpeg(blurred, testing::box_blurred(picture, 2, 2)));
  EXPECT_LT(net_assess_file(*net, sharp, FEATURE_SCALE, rs), 0);
  EXPECT_GT(net_assess_file(*net, blurred, FEATURE_SCALE, rs), LIST_THRESHOLD);
}

TEST(NetworkTraining, RunIsReproducibleFromTheSeed) {
  ScopedTempDir dir;
  testing::write_photo_folders(dir.file("good"), dir.file("blur"), 3, 120, 90);
  NetworkTrainingOptions options;
  options.good_dir = dir.file("good");
  options.blur_dir = dir.file("blur");
  options.model_dir = dir.file("m1");  // a '/' is added
  testing::make_dir(dir.file("m1"));
  testing::make_dir(dir.file("m2"));

  const TrainingRun first = train(options, 5);
  EXPECT_EQ(first.exit_code, NETWORK_TRAINING_EXIT_OK);
  EXPECT_EQ(first.err, "");
  const std::string path1 = dir.file("m1") + "/" + NETWORK_FILE_NAME;
  EXPECT_EQ(first.out.rfind("read 3 sharp and 3 blurred photos: 60 samples\nepoch 1: ", 0), 0u)
      << first.out;
  EXPECT_NE(first.out.find("\nepoch 15: "), std::string::npos);
  EXPECT_EQ(first.out.substr(first.out.rfind("wrote ")), "wrote " + path1 + "\n");
  const std::vector<std::uint8_t> bytes1 = testing::read_bytes(path1);
  EXPECT_EQ(bytes1.size(), 4236u);

  options.model_dir = dir.file("m2") + "/";
  const TrainingRun second = train(options, 5);
  EXPECT_EQ(second.exit_code, NETWORK_TRAINING_EXIT_OK);
  EXPECT_EQ(testing::read_bytes(dir.file("m2") + "/" + NETWORK_FILE_NAME), bytes1);
  EXPECT_EQ(second.out.substr(0, second.out.rfind("wrote ")),
            first.out.substr(0, first.out.rfind("wrote ")));

  // Another seed, another network.
  train(options, 6);
  EXPECT_NE(testing::read_bytes(dir.file("m2") + "/" + NETWORK_FILE_NAME), bytes1);
}

TEST(NetworkTraining, FailuresAreReportedAndWriteNothing) {
  ScopedTempDir dir;
  NetworkTrainingOptions options;
  options.good_dir = dir.file("good");
  options.blur_dir = dir.file("blur");
  options.model_dir = dir.path();

  // No photos at all (folders missing, or only undecodable files).
  TrainingRun run = train(options, 1);
  EXPECT_EQ(run.exit_code, NETWORK_TRAINING_EXIT_FAILED);
  EXPECT_EQ(run.out, "read 0 sharp and 0 blurred photos: 0 samples\n");
  EXPECT_EQ(run.err, "lumvet-train: no photos to train on in " + dir.file("good") + "/ and " +
                         dir.file("blur") + "/\n");
  testing::make_dir(dir.file("good"));
  testing::write_text(dir.file("good") + "/a.jpg", "broken");
  run = train(options, 1);
  EXPECT_EQ(run.exit_code, NETWORK_TRAINING_EXIT_FAILED);
  EXPECT_EQ(run.out,
            "read 0 sharp and 0 blurred photos: 0 samples\n"
            "photos that could not be decoded: 1\n");
  EXPECT_FALSE(testing::read_bytes(dir.file(NETWORK_FILE_NAME)).size() > 0);

  // A model directory that does not exist: the network cannot be written.
  testing::write_photo_folders(dir.file("good"), dir.file("blur"), 1, 100, 80);
  options.model_dir = dir.file("no/such/dir");
  run = train(options, 1);
  EXPECT_EQ(run.exit_code, NETWORK_TRAINING_EXIT_FAILED);
  EXPECT_EQ(run.err, "lumvet-train: cannot write network file " + dir.file("no/such/dir/") +
                         NETWORK_FILE_NAME + "\n");
  EXPECT_EQ(run.out.find("wrote "), std::string::npos);
}

TEST(NetworkTraining, LumvetTrainNetworkRunsIt) {
  ScopedTempDir dir;
  testing::write_photo_folders(dir.file("good"), dir.file("blur"), 2, 100, 80);
  testing::make_dir(dir.file("m"));
  NetworkTrainingOptions options;
  options.good_dir = dir.file("good");
  options.blur_dir = dir.file("blur");
  options.model_dir = dir.path();
  const TrainingRun direct = train(options, 77);

  // good/ and blur/ of the current directory.
  const std::string program = testing::built_program("svm_train/lumvet-train");
  testing::RunResult r = testing::run_program(
      program, {"--network", "--seed=77", "--model-dir=" + dir.file("m")}, dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.substr(0, r.out.rfind("wrote ")), direct.out.substr(0, direct.out.rfind("wrote ")));
  EXPECT_EQ(testing::read_bytes(dir.file("m") + "/" + NETWORK_FILE_NAME),
            testing::read_bytes(dir.file(NETWORK_FILE_NAME)));

  r = testing::run_program(program, {"--network", "--good", dir.file("none"), "--blur",
                                     dir.file("none"), "--model-dir", dir.file("m")});
  EXPECT_EQ(r.exit_code, NETWORK_TRAINING_EXIT_FAILED);
  EXPECT_EQ(r.err, "lumvet-train: no photos to train on in " + dir.file("none") + "/ and " +
                       dir.file("none") + "/\n");
}

}  // namespace
}  // namespace lumvet
