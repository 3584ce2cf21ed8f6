// lumvet-train: the training set, the model file, the report and the evaluation,
// on made-up sharp photographs and blurred copies of them; the program's options.
#include "svm_train/svm_training.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <filesystem>
#include <regex>
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
      testing::run_program(testing::built_program("svm_train/lumvet-train"),
                           {"--seed=2024", "--model-dir=" + tree.dir.file("m")}, tree.dir.path());
  ASSERT_EQ(run.exit_code, SVM_TRAINING_EXIT_OK) << run.err;
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

  // 252 bytes: dims, bias and weights as trained, little-endian.
  std::vector<std::uint8_t> bytes = {0x1E, 0x00, 0x00, 0x00};
  for (int k = -1; k < FEATURE_COUNT; ++k) {
    const auto v = std::bit_cast<std::uint64_t>(k < 0 ? model.bias : model.weights[k]);
    for (int i = 0; i < 64; i += 8) bytes.push_back(static_cast<std::uint8_t>(v >> i));
  }
  EXPECT_EQ(read_bytes(tree.model_file()), bytes);

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
  EXPECT_TRUE(read_bytes(dir.file(svm_model_file_name())).empty());  // from neither run

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

// The self-test report of seed 1, help and version; usage errors are one line and
// exit 2 (the option splitter has its own tests: here, this program's messages).
TEST(TrainProgram, SelfTestHelpVersionAndUsageErrors) {
  const std::string program = testing::built_program("svm_train/lumvet-train");
  const RunResult r = testing::run_program(program, {"--seed", "1", "--selftest"});
  EXPECT_EQ(r.exit_code, 0);
  // Sample 8 keeps a multiplier of about 7e-18: above 0.0, so it is listed.
  EXPECT_EQ(r.out + r.err,
            "correct classification = 100%\ny=-0.4*x + (9.00572)\nsupport vectors: 3 6 8 14\n");
  EXPECT_EQ(testing::run_program(program, {"--help"}).out.rfind("usage: lumvet-train", 0), 0u);
  EXPECT_EQ(testing::run_program(program, {"--version"}).out.rfind("lumvet-train ", 0), 0u);
  const std::pair<std::vector<std::string>, std::string> errors[] = {
      {{"--bogus=1"}, "unknown option '--bogus'"},
      {{"--seed=99999999999", "--selftest"},
       "invalid value '99999999999' for --seed: expected a whole number"},
      {{"--good="}, "option '--good' needs a folder"},
      {{"--selftest", "extra"}, "unexpected argument 'extra'"}};
  for (const auto& [args, message] : errors) {
    const RunResult e = testing::run_program(program, args);
    EXPECT_EQ(e.exit_code, TRAIN_EXIT_USAGE_ERROR) << message;
    EXPECT_EQ(e.out, "");
    EXPECT_EQ(e.err.rfind("lumvet-train: " + message, 0), 0u) << e.err;
    EXPECT_EQ(std::count(e.err.begin(), e.err.end(), '\n'), 1) << e.err;
  }
}

// Output that cannot be written is a failure (both programs once exited 0); a
// reader that has gone away (a closed pipe) ends the program without a message.
TEST(TrainProgram, OutputFailuresAreReported) {
  for (const std::string& command :
       {testing::built_program("svm_train/lumvet-train") + " --selftest",
        testing::built_program("nn/lumqet") + " /dev/null"}) {
    const auto full = testing::run_program("/bin/sh", {"-c", command + " > /dev/full"});
    EXPECT_EQ(full.exit_code, 1) << command;
    EXPECT_NE(full.err.find("cannot write output"), std::string::npos) << command;
    const auto closed =
        testing::run_program("/bin/sh", {"-c", "trap '' PIPE; " + command + " | true; true"});
    EXPECT_EQ(closed.err, "") << command;
  }
}

// Under a file-size limit (ulimit -f) a write that passes it fails like any other
// instead of ending the program with SIGXFSZ: standard output redirected to a
// file gives exit code 1 with one line, and a model or network file that
// cannot be written gives exit code 1, leaves the earlier file as it was and
// no temporary file beside it.
TEST(TrainProgram, FileSizeLimitIsAWriteFailure) {
  TrainingTree tree(2, 0);
  const std::string out = tree.dir.file("out.txt");
  // Only the program runs under the limit; its standard error reaches r.out
  // through a pipe.
  const auto limited = [&](const std::string& command) {
    return testing::run_program("/bin/bash", {"-c", "cd '" + tree.dir.path() +
                                                        "' && set -o pipefail && (ulimit -f 0 && "
                                                        "exec " +
                                                        command + ") 2>&1 | cat"});
  };
  for (const std::string& command :
       {testing::built_program("svm_train/lumvet-train") + " --selftest",
        testing::built_program("nn/lumqet") + " --seed=1 /dev/null",
        testing::built_program("cli/lumvet") + " --seed=1 --format=tsv -R " + tree.dir.path()}) {
    const RunResult r = limited(command + " > " + out);
    EXPECT_EQ(r.exit_code, 1) << command;
    EXPECT_NE(r.out.find("cannot write output"), std::string::npos) << command << ": " << r.out;
  }

  const std::string network = tree.dir.file("m/test_30-15-1_0.5-0.05-1=15-1-12000=e15.nn");
  for (const std::string& file : {tree.model_file(), network}) testing::write_text(file, "old");
  for (const char* mode : {"", "--network "}) {
    const RunResult r = limited(testing::built_program("svm_train/lumvet-train") + " " + mode +
                                "--seed=3 --model-dir=m > /dev/null");
    EXPECT_EQ(r.exit_code, 1) << mode << r.out;
  }
  for (const std::string& file : {tree.model_file(), network}) {
    EXPECT_EQ(read_bytes(file), (std::vector<std::uint8_t>{'o', 'l', 'd'})) << file;
  }
  for (const auto& e : std::filesystem::directory_iterator(tree.dir.file("m"))) {
    EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
  }
}

}  // namespace
}  // namespace lumvet
