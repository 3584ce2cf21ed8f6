// lumvet-train: the training set, the model file, the report and the evaluation,
// on made-up sharp photographs and blurred copies of them.
#include "svm_train/svm_training.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "imaging/imaging.h"
#include "scoring/file_scoring.h"
#include "scoring/model_file.h"
#include "svm_train/smo.h"
#include "tests/support/image_files.h"
#include "tests/support/test_photos.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::capture_output;
using testing::read_bytes;
using testing::RunResult;
using testing::ScopedTempDir;

RunResult train(const SvmTrainingOptions& options, std::int32_t seed) {
  RunResult run;
  RandomState rs{seed};
  run.err = capture_output([&](std::FILE* err) {
    run.out = capture_output(
        [&](std::FILE* out) { run.exit_code = run_svm_training(options, rs, out, err); });
  });
  return run;
}

// good/ and blur/ to train on, and a model directory m/ whose blur/ and good/
// hold other pictures to evaluate.
struct TrainingTree {
  ScopedTempDir dir;
  SvmTrainingOptions options{dir.file("good"), dir.file("blur"), dir.file("m")};  // '/' added
  TrainingTree(int photos, int evaluated) {
    testing::write_photo_folders(dir.file("good"), dir.file("blur"), photos, 120, 90);
    testing::make_dir(dir.file("m"));
    testing::write_photo_folders(dir.file("m/good"), dir.file("m/blur"), evaluated, 100, 80);
  }
  std::string model_file() const { return dir.file("m/test_30-10_0.75-0.0001=15-1-12000=e10.svm"); }
};

// `text` with the number before every " secs" replaced by N.
std::string mask_seconds(const std::string& text) {
  return std::regex_replace(text, std::regex("[0-9]+ secs"), "N secs");
}

// Every photo is read ten times, the sharp ones (-1) before the blurred ones (+1),
// each reading drawing fresh patches; one that does not decode is named once.
TEST(SvmTrainingSet, TenReadingsGoodThenBlurUndecodableSkipped) {
  ScopedTempDir dir;
  const std::string good = dir.file("good"), blur = dir.file("blur");
  testing::write_photo_folders(good, blur, 2, 120, 90);
  ASSERT_TRUE(testing::write_jpeg(blur + "/blur_2.jpg", testing::make_textured_bitmap(120, 90, 9)));
  testing::write_text(good + "/broken.JPG", "no picture");
  testing::make_dir(blur + "/folder.jpg");  // folders are not photos
  const std::string order[] = {good + "/sharp_0.jpg", good + "/sharp_1.jpg", blur + "/blur_0.jpg",
                               blur + "/blur_1.jpg", blur + "/blur_2.jpg"};
  RandomState rs{4242};
  SvmTrainingSet set;
  EXPECT_EQ(capture_output([&](std::FILE* out) {
              set = collect_svm_training_set(list_training_photos(good, blur), rs, out);
            }),
            "..........");
  EXPECT_EQ(set.skipped, std::vector<std::string>{good + "/broken.JPG"});
  ASSERT_EQ(set.count(), 50);
  RandomState check{4242};
  for (std::size_t s = 0; s < 50; ++s) {
    EXPECT_EQ(set.labels[s], s % 5 < 2 ? -1 : +1) << s;
    FeatureVector f;
    ASSERT_TRUE(extract_file_features(order[s % 5], f, check));
    for (int k = 0; k < FEATURE_COUNT; ++k) {
      ASSERT_EQ(set.samples[s * FEATURE_COUNT + k], f[k] * (1.0 / 12000.0)) << s << " " << k;
    }
  }
  EXPECT_EQ(rs.value, check.value);
}

TEST(SvmTrainingSet, KernelCacheOnlyWhereItFits) {
  // 1 GiB holds the cache of 11,585 samples, not of 11,586.
  EXPECT_TRUE(kernel_cache_fits(11585));
  EXPECT_FALSE(kernel_cache_fits(11586));
  EXPECT_FALSE(kernel_cache_fits(2147483647));
  // 5000 photos read ten times: all 50,000 samples, without a 20 GB cache.
  SvmTrainingSet large;
  large.samples.assign(50000u * FEATURE_COUNT, 0.5);
  large.labels.assign(50000, +1);
  const SvmModel big = make_svm_training_model(std::move(large));
  EXPECT_EQ(big.sample_count, 50000);
  EXPECT_FALSE(big.kernel_cache);
}

// lumvet-train on good/ and blur/ of the current directory, replacing the model
// file it finds.
TEST(SvmTraining, ReportModelFileAndEvaluation) {
  TrainingTree tree(3, 2);
  testing::write_text(tree.model_file(), "old");
  const RunResult run =
      testing::run_program(testing::built_program("train/lumvet-train"),
                           {"--seed=2024", "--model-dir=" + tree.dir.file("m")}, tree.dir.path());
  ASSERT_EQ(run.exit_code, EXIT_DONE) << run.err;
  EXPECT_EQ(run.err, "");

  // The same training by hand, from the same seed.
  RandomState rs{2024};
  start_imaging_library();
  SvmModel model = make_svm_training_model(collect_svm_training_set(
      list_training_photos(tree.options.good_dir, tree.options.blur_dir), rs, nullptr));
  smo_solve(model, 0.75, rs);
  svm_compute_weights(model);
  int support = 0, correct = 0;
  for (int k = 0; k < 60; ++k) {
    support += model.alphas[k] > 1.5e-8;
    correct += (svm_decision_value(model, k) > 0.0) == (model.labels[k] > 0);
  }
  EXPECT_GE(correct, 54);  // blurred copies are told from sharp photos

  // The evaluation of m/blur, then m/good, continues from the state the training left.
  const std::int32_t evaluation_seed = rs.value;
  const std::string evaluation = capture_output([&](std::FILE* out) {
    evaluate_folder(tree.dir.file("m/blur"), model, rs, out);
    evaluate_folder(tree.dir.file("m/good"), model, rs, out);
  });
  const std::size_t blur_summary = evaluation.find("2/2 are blurred\n0/2 are blurred\n");
  ASSERT_NE(blur_summary, std::string::npos) << evaluation;
  EXPECT_EQ(mask_seconds(run.out),
            "..........reading pics took N secs\nsupport vectors=" + std::to_string(support) +
                "\ncorrect classification = " + std::to_string(correct * 100 / 60) +
                "%\ntraining on 60 samples complete in N secs\n" + evaluation);

  // The weights as trained, in the model file's layout (model_file_test).
  EXPECT_EQ(read_bytes(tree.model_file()), encode_svm_model(model));

  // lumvet --model scores with those weights: from the evaluation's start state it
  // lists m/blur as the evaluation did.
  const RunResult scored =
      testing::run_program(testing::built_program("cli/lumvet"),
                           {"--model", tree.model_file(),
                            "--seed=" + std::to_string(evaluation_seed), tree.dir.file("m/blur")});
  EXPECT_EQ(scored.out,
            "BLUR\tPATH\n" + evaluation.substr(0, blur_summary) + "2/2 are somewhat blurred\n");
}

// One class alone, the other folder empty (m/ holds folders only) or missing: no
// pair to optimise, no support vector, and a decision value of 0.0 counts as -1.
TEST(SvmTraining, OneClassAlone) {
  TrainingTree tree(3, 0);
  for (const bool sharp_only : {false, true}) {
    SvmTrainingOptions options = tree.options;
    (sharp_only ? options.blur_dir : options.good_dir) = tree.dir.file(sharp_only ? "none" : "m");
    const RunResult run = train(options, 9);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    const std::string report = std::string("\nsupport vectors=0\ncorrect classification = ") +
                               (sharp_only ? "100" : "0") + "%\ntraining on 30 samples";
    EXPECT_NE(run.out.find(report), std::string::npos) << run.out;
    EXPECT_EQ(read_bytes(tree.model_file()).size(), 252u);
  }
}

TEST(SvmTraining, FailuresAreReported) {
  ScopedTempDir dir;
  const SvmTrainingOptions options{dir.file("good"), dir.file("blur"), dir.path()};
  const std::string folders = dir.file("good") + "/ and " + dir.file("blur") + "/";
  RunResult run = train(options, 1);
  EXPECT_TRUE(testing::ran(run, EXIT_NOT_TRAINED, "",
                           "lumvet-train: no photos to train on in " + folders + "\n"));

  // Photos that cannot be decoded are read, named and skipped: still nothing to train on.
  testing::make_dir(dir.file("blur"));
  testing::write_text(dir.file("blur/a.jpg"), "broken");
  run = train(options, 1);
  EXPECT_EQ(run.exit_code, EXIT_NOT_TRAINED);
  EXPECT_EQ(mask_seconds(run.out), "..........reading pics took N secs\n");
  EXPECT_EQ(run.err, "lumvet-train: cannot decode " + dir.file("blur/a.jpg") +
                         "; skipped\nlumvet-train: no photo in " + folders + " could be decoded\n");
  EXPECT_TRUE(read_bytes(dir.file(svm_model_file_name())).empty());  // from neither run

  // A folder where the model file should go: the run fails, but its report and
  // both evaluations are those of a run that could write the file.
  TrainingTree tree(2, 1);
  testing::make_dir(tree.model_file());
  const RunResult failed = train(tree.options, 5);
  EXPECT_EQ(failed.exit_code, EXIT_NOT_TRAINED);
  EXPECT_EQ(failed.err, "lumvet-train: cannot write model file " + tree.model_file() + "\n");
  ASSERT_EQ(::rmdir(tree.model_file().c_str()), 0);
  const RunResult written = train(tree.options, 5);
  EXPECT_EQ(written.exit_code, EXIT_DONE);
  EXPECT_EQ(mask_seconds(failed.out), mask_seconds(written.out));
}

// Photos scoring above 10 are listed, and every .jpg entry counts. With weights
// 0.0, a photo that decodes scores trunc(bias x 100).
TEST(EvaluateFolder, ListsAboveTenCountsEveryMatchingEntry) {
  ScopedTempDir dir;
  start_imaging_library();
  ASSERT_TRUE(testing::write_jpeg(dir.file("a.jpg"), testing::make_textured_bitmap(60, 40, 3)));
  testing::write_text(dir.file("b.jpg"), "not a picture");  // scores 0, counts
  testing::write_text(dir.file("c.png"), "other");
  SvmModel model;
  model.dims = FEATURE_COUNT;
  model.weights.assign(FEATURE_COUNT, 0.0);
  RandomState rs{1};
  const auto evaluate = [&](const std::string& folder, double bias) {
    model.bias = bias;
    return capture_output([&](std::FILE* out) { evaluate_folder(folder, model, rs, out); });
  };
  EXPECT_EQ(evaluate(dir.path(), 0.115), "11\t" + dir.file("a.jpg") + "\n1/2 are blurred\n");
  EXPECT_EQ(evaluate(dir.path(), 0.105), "0/2 are blurred\n");  // 10 is not listed
  EXPECT_EQ(evaluate(dir.file("missing"), 0.5), "");
}

}  // namespace
}  // namespace lumvet
