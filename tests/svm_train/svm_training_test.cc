// lumvet-train: its options, the training set, the model file, the report and the
// evaluation, on made-up sharp photographs and blurred copies of them.
#include "svm_train/svm_training.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <string>
#include <vector>

#include "imaging/imaging.h"
#include "scoring/file_scoring.h"
#include "svm_train/smo.h"
#include "svm_train/train_command.h"
#include "tests/support/image_files.h"
#include "tests/support/test_photos.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::RunResult;

using testing::capture_output;
using testing::read_bytes;
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
  SvmTrainingOptions options;
  TrainingTree(int photos, int evaluated) {
    testing::write_photo_folders(dir.file("good"), dir.file("blur"), photos, 120, 90);
    testing::make_dir(dir.file("m"));
    testing::write_photo_folders(dir.file("m/good"), dir.file("m/blur"), evaluated, 100, 80);
    options.good_dir = dir.file("good");
    options.blur_dir = dir.file("blur");
    options.model_dir = dir.file("m");  // a '/' is added
  }
  std::string model_file() const { return dir.file("m/test_30-10_0.75-0.0001=15-1-12000=e10.svm"); }
};

// `text` with the number before every " secs" replaced by N.
std::string mask_seconds(const std::string& text) {
  std::string masked;
  std::size_t at = 0;
  for (std::size_t secs; (secs = text.find(" secs", at)) != std::string::npos; at = secs + 5) {
    std::size_t digits = secs;
    while (digits > at && text[digits - 1] >= '0' && text[digits - 1] <= '9') --digits;
    masked += text.substr(at, digits - at) + "N secs";
  }
  return masked + text.substr(at);
}

TEST(SvmTrainingSet, TenReadingsGoodThenBlurUndecodableSkipped) {
  ScopedTempDir dir;
  const std::string good = dir.file("good"), blur = dir.file("blur");
  testing::write_photo_folders(good, blur, 2, 120, 90);
  ASSERT_TRUE(testing::write_jpeg(
      blur + "/blur_2.jpg", testing::box_blurred(testing::make_textured_bitmap(120, 90, 9), 2, 2)));
  testing::write_text(good + "/broken.JPG", "no picture");  // named once, never a sample
  testing::make_dir(blur + "/folder.jpg");                  // folders are not photos
  testing::write_text(blur + "/notes.txt", "x");

  const TrainingPhotos photos = list_training_photos(good, blur);
  ASSERT_EQ(photos.good, (std::vector<std::string>{good + "/broken.JPG", good + "/sharp_0.jpg",
                                                   good + "/sharp_1.jpg"}));
  ASSERT_EQ(photos.blur, (std::vector<std::string>{blur + "/blur_0.jpg", blur + "/blur_1.jpg",
                                                   blur + "/blur_2.jpg"}));
  RandomState rs{4242};
  SvmTrainingSet set;
  EXPECT_EQ(
      capture_output([&](std::FILE* out) { set = collect_svm_training_set(photos, rs, out); }),
      "..........");
  EXPECT_EQ(set.skipped, std::vector<std::string>{good + "/broken.JPG"});
  ASSERT_EQ(set.count(), 50);
  // Two sharp (-1), then three blurred (+1), ten times over; every reading draws
  // fresh patches, in list order, scaled through 1/12000.
  RandomState check{4242};
  for (std::size_t s = 0; s < 50; ++s) {
    const std::size_t p = s % 5;
    EXPECT_EQ(set.labels[s], p < 2 ? -1 : +1) << s;
    FeatureVector f;
    ASSERT_TRUE(extract_file_features(p < 2 ? photos.good[p + 1] : photos.blur[p - 2], f, check));
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
  EXPECT_EQ(big.alphas.size(), 50000u);
  EXPECT_FALSE(big.kernel_cache);
}

TEST(SvmTraining, ReportModelFileAndEvaluation) {
  TrainingTree tree(3, 2);
  const RunResult run = train(tree.options, 2024);
  ASSERT_EQ(run.exit_code, SVM_TRAINING_EXIT_OK) << run.err;
  EXPECT_EQ(run.err, "");

  // The same training by hand, from the same seed.
  RandomState rs{2024};
  start_imaging_library();
  SvmModel model = make_svm_training_model(collect_svm_training_set(
      list_training_photos(tree.options.good_dir, tree.options.blur_dir), rs, nullptr));
  ASSERT_EQ(model.sample_count, 60);
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
  EXPECT_NE(evaluation.find("2/2 are blurred\n0/2 are blurred\n"), std::string::npos) << evaluation;
  EXPECT_EQ(mask_seconds(run.out),
            "..........reading pics took N secs\nsupport vectors=" + std::to_string(support) +
                "\ncorrect classification = " + std::to_string(correct * 100 / 60) +
                "%\ntraining on 60 samples complete in N secs\n" + evaluation);

  // dims, bias and weights as trained, little-endian.
  const std::vector<std::uint8_t> bytes = read_bytes(tree.model_file());
  ASSERT_EQ(bytes.size(), 252u);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 4),
            (std::vector<std::uint8_t>{0x1E, 0x00, 0x00, 0x00}));
  for (int k = -1; k < FEATURE_COUNT; ++k) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | bytes[static_cast<std::size_t>(12 + 8 * k + i)];
    EXPECT_EQ(v, std::bit_cast<std::uint64_t>(k < 0 ? model.bias : model.weights[k])) << k;
  }

  // lumvet --model scores with those weights: from the evaluation's start state
  // every score is the trained model's.
  const RunResult all = testing::run_program(
      testing::built_program("cli/lumvet"),
      {"--model", tree.model_file(), "--seed=" + std::to_string(evaluation_seed), "--format=tsv",
       tree.dir.file("m/blur")});
  RandomState again{evaluation_seed};
  std::string expected = "score\tstatus\tpath\n";
  for (const char* name : {"/blur_0.jpg", "/blur_1.jpg"}) {
    const std::string path = tree.dir.file("m/blur") + name;
    expected += std::to_string(score_image_file(model, path, FEATURE_SCALE, again)) + "\tok\t" +
                path + "\n";
  }
  EXPECT_EQ(all.out, expected);
}

TEST(SvmTraining, SameSeedSameModelFile) {
  TrainingTree tree(2, 1);
  ASSERT_EQ(train(tree.options, 77).exit_code, 0);
  const std::vector<std::uint8_t> first = read_bytes(tree.model_file());
  ASSERT_EQ(first.size(), 252u);
  ASSERT_EQ(train(tree.options, 77).exit_code, 0);  // replaces the file
  EXPECT_EQ(read_bytes(tree.model_file()), first);
  ASSERT_EQ(train(tree.options, 78).exit_code, 0);
  EXPECT_NE(read_bytes(tree.model_file()), first);

  // lumvet-train itself, on good/ and blur/ of the current directory.
  const RunResult r =
      testing::run_program(testing::built_program("svm_train/lumvet-train"),
                           {"--seed=77", "--model-dir=" + tree.dir.file("m")}, tree.dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.rfind("..........reading pics took ", 0), 0u) << r.out;
  EXPECT_EQ(read_bytes(tree.model_file()), first);
}

TEST(SvmTraining, OneClassAlone) {
  TrainingTree tree(3, 0);
  for (const bool good_missing : {true, false}) {
    // An empty folder (m/ holds folders only), or one that does not exist. One
    // class gives no pair to optimise: no support vector, all weights 0.0, and a
    // decision value of 0.0 counts as the -1 class.
    SvmTrainingOptions options = tree.options;
    (good_missing ? options.good_dir : options.blur_dir) =
        tree.dir.file(good_missing ? "m" : "none");
    const RunResult run = train(options, 9);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find(std::string("\nsupport vectors=0\ncorrect classification = ") +
                           (good_missing ? "0" : "100") + "%\ntraining on 30 samples"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(read_bytes(tree.model_file()).size(), 252u);
  }
}

TEST(SvmTraining, FailuresAreReported) {
  ScopedTempDir dir;
  SvmTrainingOptions options;
  options.good_dir = dir.file("good");
  options.blur_dir = dir.file("blur");
  options.model_dir = dir.path();
  const std::string folders = dir.file("good") + "/ and " + dir.file("blur") + "/";
  RunResult run = train(options, 1);
  EXPECT_EQ(run.exit_code, SVM_TRAINING_EXIT_FAILED);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "lumvet-train: no photos to train on in " + folders + "\n");

  // Photos that cannot be decoded are read, named and skipped: still nothing to train on.
  testing::make_dir(dir.file("blur"));
  testing::write_text(dir.file("blur/a.jpg"), "broken");
  run = train(options, 1);
  EXPECT_EQ(run.exit_code, SVM_TRAINING_EXIT_FAILED);
  EXPECT_EQ(mask_seconds(run.out), "..........reading pics took N secs\n");
  EXPECT_EQ(run.err, "lumvet-train: cannot decode " + dir.file("blur/a.jpg") +
                         "; skipped\nlumvet-train: no photo in " + folders + " could be decoded\n");
  EXPECT_TRUE(read_bytes(dir.file(svm_model_file_name())).empty());

  // A folder where the model file should go: the run fails, but its report and
  // both evaluations are those of a run that could write the file.
  TrainingTree tree(2, 1);
  testing::make_dir(tree.model_file());
  const RunResult failed = train(tree.options, 5);
  EXPECT_EQ(failed.exit_code, SVM_TRAINING_EXIT_FAILED);
  EXPECT_EQ(failed.err, "lumvet-train: cannot write model file " + tree.model_file() + "\n");
  ASSERT_EQ(::rmdir(tree.model_file().c_str()), 0);
  const RunResult written = train(tree.options, 5);
  EXPECT_EQ(written.exit_code, SVM_TRAINING_EXIT_OK);
  EXPECT_EQ(mask_seconds(failed.out), mask_seconds(written.out));
  // Two summaries: blur/, then good/.
  const std::size_t first = failed.out.find("/1 are blurred\n");
  ASSERT_NE(first, std::string::npos) << failed.out;
  EXPECT_NE(failed.out.find("/1 are blurred\n", first + 1), std::string::npos) << failed.out;
}

// Weights 0.0: every photo that decodes scores trunc(bias x 100) in both draws.
SvmModel constant_model(double bias) {
  SvmModel model;
  model.dims = FEATURE_COUNT;
  model.bias = bias;
  model.weights.assign(FEATURE_COUNT, 0.0);
  return model;
}

TEST(EvaluateFolder, ListsAboveTenCountsEveryMatchingEntry) {
  ScopedTempDir dir;
  start_imaging_library();
  const Bitmap32 picture = testing::make_textured_bitmap(60, 40, 3);
  ASSERT_TRUE(testing::write_jpeg(dir.file("b.JPG"), picture));
  ASSERT_TRUE(testing::write_jpeg(dir.file("a.jpg"), picture));
  testing::write_text(dir.file("c.jpg"), "not a picture");  // scores 0, counts
  testing::make_dir(dir.file("d.jpg"));                     // a folder counts too
  testing::write_text(dir.file("e.png"), "other");          // does not match
  testing::make_dir(dir.file("empty"));
  RandomState rs{1};
  const auto evaluate = [&](const std::string& folder, double bias) {
    return capture_output(
        [&](std::FILE* out) { evaluate_folder(folder, constant_model(bias), rs, out); });
  };
  EXPECT_EQ(evaluate(dir.path(), 0.115),
            "11\t" + dir.file("a.jpg") + "\n11\t" + dir.file("b.JPG") + "\n2/4 are blurred\n");
  EXPECT_EQ(evaluate(dir.path(), 0.105), "0/4 are blurred\n");  // 10 is not listed
  // No folder, or nothing that matches: not even the summary.
  EXPECT_EQ(evaluate(dir.file("empty"), 0.5), "");
  EXPECT_EQ(evaluate(dir.file("missing"), 0.5), "");
}

TEST(TrainProgram, SelfTestHelpAndVersion) {
  const std::string program = testing::built_program("svm_train/lumvet-train");
  auto r = testing::run_program(program, {"--seed", "1", "--selftest"});
  EXPECT_EQ(r.exit_code, 0);
  // Sample 8 keeps a multiplier of about 7e-18: above 0.0, so it is listed.
  EXPECT_EQ(r.out,
            "correct classification = 100%\n"
            "y=-0.4*x + (9.00572)\n"
            "support vectors: 3 6 8 14\n");
  EXPECT_EQ(r.err, "");
  r = testing::run_program(program, {"--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.rfind("usage: lumvet-train", 0), 0u);
  r = testing::run_program(program, {"--version"});
  EXPECT_EQ(r.out.rfind("lumvet-train ", 0), 0u);
}

TEST(TrainProgram, ErrorsAreOneLineAndExitTwo) {
  const std::string program = testing::built_program("svm_train/lumvet-train");
  const std::string bad_seed = "' for --seed: expected a whole number";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--bogus=1"}, "unknown option '--bogus'"},
      {{"--selftest", "--seed"}, "option '--seed' needs a value"},
      {{"--seed=99999999999", "--selftest"}, "invalid value '99999999999" + bad_seed},
      {{"--selftest=yes"}, "option '--selftest' takes no value"},
      {{"--good="}, "option '--good' needs a folder"},
      {{"--selftest", "extra"}, "unexpected argument 'extra'"},
      {{"x", "--", "--seed=1"}, "unexpected argument 'x'"}};
  for (const auto& [args, message] : cases) {
    const auto r = testing::run_program(program, args);
    EXPECT_EQ(r.exit_code, TRAIN_EXIT_USAGE_ERROR) << message;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("lumvet-train: " + message, 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

// Output that cannot be written is a failure, reported once; a reader that has
// gone away (a closed pipe) ends the program without a message.
TEST(TrainProgram, OutputFailuresAreReported) {
  for (const char* program : {"svm_train/lumvet-train", "nn/lumqet"}) {
    const std::string command =
        testing::built_program(program) +
        (std::string(program) == "nn/lumqet" ? " /dev/null" : " --selftest");
    const auto full = testing::run_program("/bin/sh", {"-c", command + " > /dev/full"});
    EXPECT_EQ(full.exit_code, 1) << program;
    EXPECT_NE(full.err.find("cannot write output"), std::string::npos) << program;
    const auto closed =
        testing::run_program("/bin/sh", {"-c", "trap '' PIPE; " + command + " | true; true"});
    EXPECT_EQ(closed.err, "") << program;
  }
}

}  // namespace
}  // namespace lumvet
