// The training run of lumvet-train: the training set, the model file, the report
// and the evaluation, on made-up sharp photographs and blurred copies of them.
#include "svm_train/svm_training.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <string>
#include <utility>
#include <vector>

#include "imaging/imaging.h"
#include "platform/platform.h"
#include "scoring/file_scoring.h"
#include "scoring/model_file.h"
#include "svm_train/smo.h"
#include "tests/support/image_files.h"
#include "tests/support/test_photos.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::capture_output;
using testing::ScopedTempDir;

const std::string MODEL_FILE_NAME = "test_30-10_0.75-0.0001=15-1-12000=e10.svm";

struct TrainingRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};

TrainingRun train(const SvmTrainingOptions& options, std::int32_t seed) {
  TrainingRun run;
  RandomState rs{seed};
  run.err = capture_output([&](std::FILE* err) {
    run.out = capture_output(
        [&](std::FILE* out) { run.exit_code = run_svm_training(options, rs, out, err); });
  });
  return run;
}

// A folder tree: good/ and blur/ to train on, and a model directory m/ whose
// blur/ and good/ hold other pictures to evaluate.
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
  std::string model_file() const { return dir.file("m/") + MODEL_FILE_NAME; }
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

// The lines of `text` from the first one that starts with `prefix` on.
std::string from_line(const std::string& text, const std::string& prefix) {
  const std::size_t at = text.rfind(prefix, 0) == 0 ? 0 : text.find("\n" + prefix);
  return at == std::string::npos ? "" : text.substr(at == 0 ? 0 : at + 1);
}

TEST(SvmTrainingSet, TenReadingsGoodThenBlurUndecodableSkipped) {
  ScopedTempDir dir;
  const std::string good = dir.file("good");
  const std::string blur = dir.file("blur");
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
  const std::string dots =
      capture_output([&](std::FILE* out) { set = collect_svm_training_set(photos, rs, out); });
  EXPECT_EQ(dots, "..........");
  EXPECT_EQ(set.skipped, std::vector<std::string>{good + "/broken.JPG"});
  ASSERT_EQ(set.count(), 50);
  ASSERT_EQ(set.samples.size(), 50u * FEATURE_COUNT);
  // Two sharp (-1), then three blurred (+1), ten times over.
  for (int i = 0; i < 50; ++i) EXPECT_EQ(set.labels[i], i % 5 < 2 ? -1 : +1) << i;

  // Every reading draws fresh patches, in list order, scaled through 1/12000.
  const double factor = std::bit_cast<double>(std::uint64_t{0x3F15D867C3ECE2A5});
  ASSERT_EQ(factor, 1.0 / 12000.0);
  RandomState check{4242};
  for (std::size_t s = 0; s < 50; ++s) {
    const std::size_t p = s % 5;
    FeatureVector f;
    ASSERT_TRUE(extract_file_features(p < 2 ? photos.good[p + 1] : photos.blur[p - 2], f, check));
    for (int k = 0; k < FEATURE_COUNT; ++k) {
      ASSERT_EQ(set.samples[s * FEATURE_COUNT + k], f[k] * factor) << s << " " << k;
    }
  }
  EXPECT_EQ(rs.value, check.value);
}

TEST(SvmTrainingSet, ModelHoldsExactlyTheSamples) {
  SvmTrainingSet set;
  set.samples.assign(3 * FEATURE_COUNT, 0.25);
  set.labels = {-1, +1, +1};
  const SvmModel model = make_svm_training_model(set);
  EXPECT_EQ(model.sample_count, 3);
  EXPECT_EQ(model.dims, FEATURE_COUNT);
  EXPECT_EQ(model.samples, set.samples);
  EXPECT_EQ(model.labels, set.labels);
  EXPECT_EQ(model.alphas, std::vector<double>(3, 0.0));
  EXPECT_EQ(model.bias, 0.0);
  EXPECT_TRUE(model.weights.empty());
  ASSERT_TRUE(model.kernel_cache);
  for (int c = 0; c < 9; ++c) EXPECT_EQ(model.kernel_cache[c], 0.0);

  EXPECT_FALSE(make_svm_training_model(SvmTrainingSet{}).kernel_cache);

  // 5000 photos read ten times: all 50,000 samples, without a 20 GB cache.
  SvmTrainingSet large;
  large.samples.assign(50000u * FEATURE_COUNT, 0.5);
  large.labels.assign(50000, +1);
  const SvmModel big = make_svm_training_model(std::move(large));
  EXPECT_EQ(big.sample_count, 50000);
  EXPECT_EQ(big.alphas.size(), 50000u);
  EXPECT_FALSE(big.kernel_cache);

  // A single sample has no partner: the solver returns, the weights are 0.0.
  SvmTrainingSet one;
  one.samples.assign(FEATURE_COUNT, 0.5);
  one.labels = {+1};
  SvmModel single = make_svm_training_model(std::move(one));
  RandomState rs{3};
  smo_solve(single, TRAIN_C, rs);
  svm_compute_weights(single);
  EXPECT_EQ(single.weights, std::vector<double>(FEATURE_COUNT, 0.0));
  // 1 GiB holds the cache of 11,585 samples, not of 11,586.
  EXPECT_TRUE(kernel_cache_fits(11585));
  EXPECT_FALSE(kernel_cache_fits(11586));
  EXPECT_FALSE(kernel_cache_fits(2147483647));
}

TEST(SvmTraining, ModelFileName) { EXPECT_EQ(svm_model_file_name(), MODEL_FILE_NAME); }

TEST(SvmTraining, ReportModelFileAndEvaluation) {
  TrainingTree tree(3, 2);
  const TrainingRun run = train(tree.options, 2024);
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
  int support = 0;
  int correct = 0;
  for (int k = 0; k < 60; ++k) {
    support += model.alphas[k] > 1.5e-8;
    correct += (svm_decision_value(model, k) > 0.0) == (model.labels[k] > 0);
  }
  const std::string report = "support vectors=" + std::to_string(support) +
                             "\ncorrect classification = " + std::to_string(correct * 100 / 60) +
                             "%\n";
  EXPECT_GE(correct, 54);  // blurred copies are told from sharp photos

  // The evaluation continues from the state the training left.
  const std::int32_t evaluation_seed = rs.value;
  const std::string evaluation = capture_output([&](std::FILE* out) {
    evaluate_folder(tree.dir.file("m/blur"), model, rs, out);
    evaluate_folder(tree.dir.file("m/good"), model, rs, out);
  });
  const std::string head = run.out.substr(0, run.out.size() - evaluation.size());
  EXPECT_EQ(mask_seconds(head), "..........reading pics took N secs\n" + report +
                                    "training on 60 samples complete in N secs\n")
      << run.out;
  EXPECT_EQ(run.out.substr(head.size()), evaluation);
  // Both blurred pictures are listed, neither sharp one.
  EXPECT_NE(evaluation.find("2/2 are blurred\n0/2 are blurred\n"), std::string::npos) << evaluation;

  // dims, bias and weights as trained, little-endian.
  const std::vector<std::uint8_t> bytes = testing::read_bytes(tree.model_file());
  ASSERT_EQ(bytes.size(), 252u);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 4),
            (std::vector<std::uint8_t>{0x1E, 0x00, 0x00, 0x00}));
  auto f64_at = [&](std::size_t offset) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | bytes[offset + i];
    return v;
  };
  EXPECT_EQ(f64_at(4), std::bit_cast<std::uint64_t>(model.bias));
  for (int k = 0; k < FEATURE_COUNT; ++k) {
    EXPECT_EQ(f64_at(12 + 8 * k), std::bit_cast<std::uint64_t>(model.weights[k])) << k;
  }

  // lumvet --model scores with those weights: from the evaluation's start state it
  // lists the blur folder exactly as the evaluation did.
  const std::string lumvet = testing::built_program("cli/lumvet");
  const testing::RunResult listed = testing::run_program(
      lumvet, {"--model=" + tree.model_file(), "--seed=" + std::to_string(evaluation_seed),
               tree.dir.file("m/blur")});
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  const std::string blur_part = evaluation.substr(0, evaluation.find(" are blurred\n"));
  const std::string lumvet_part = listed.out.substr(0, listed.out.find(" are somewhat blurred\n"));
  EXPECT_EQ("BLUR\tPATH\n" + blur_part, lumvet_part);
  // ... and every score, listed or not, is the trained model's.
  const testing::RunResult all = testing::run_program(
      lumvet, {"--model", tree.model_file(), "--seed=" + std::to_string(evaluation_seed),
               "--format=tsv", tree.dir.file("m/blur")});
  RandomState again{evaluation_seed};
  std::string expected = "score\tstatus\tpath\n";
  for (const char* name : {"/blur_0.jpg", "/blur_1.jpg"}) {
    const std::string path = tree.dir.file("m/blur") + name;
    expected += std::to_string(score_image_file(model, path, FEATURE_SCALE, again)) + "\tok\t" +
                path + "\n";
  }
  EXPECT_EQ(all.out, expected);
  release_svm_model(model);
}

TEST(SvmTraining, SameSeedSameModelFile) {
  TrainingTree tree(2, 1);
  ASSERT_EQ(train(tree.options, 77).exit_code, 0);
  const std::vector<std::uint8_t> first = testing::read_bytes(tree.model_file());
  ASSERT_EQ(first.size(), 252u);
  ASSERT_EQ(train(tree.options, 77).exit_code, 0);  // replaces the file
  EXPECT_EQ(testing::read_bytes(tree.model_file()), first);
  ASSERT_EQ(train(tree.options, 78).exit_code, 0);
  EXPECT_NE(testing::read_bytes(tree.model_file()), first);

  // lumvet-train itself, on good/ and blur/ of the current directory.
  testing::make_dir(tree.dir.file("m2"));
  const testing::RunResult r =
      testing::run_program(testing::built_program("svm_train/lumvet-train"),
                           {"--seed=77", "--model-dir=" + tree.dir.file("m2")}, tree.dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.rfind("..........reading pics took ", 0), 0u) << r.out;
  EXPECT_EQ(testing::read_bytes(tree.dir.file("m2/") + MODEL_FILE_NAME), first);
}

TEST(SvmTraining, OneClassAlone) {
  TrainingTree tree(3, 0);
  for (const bool good_missing : {true, false}) {
    SvmTrainingOptions options = tree.options;
    // An empty folder, or one that does not exist.
    if (good_missing) {
      options.good_dir = tree.dir.file("m");  // holds folders only
    } else {
      options.blur_dir = tree.dir.file("none");
    }
    RandomState rs{9};
    const SvmTrainingSet set = collect_svm_training_set(
        list_training_photos(options.good_dir, options.blur_dir), rs, nullptr);
    ASSERT_EQ(set.count(), 30);
    for (const std::int8_t label : set.labels) EXPECT_EQ(label, good_missing ? +1 : -1);

    // One class gives no pair to optimise: no support vector, all weights 0.0, and
    // a decision value of 0.0 counts as the -1 class.
    const TrainingRun run = train(options, 9);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(from_line(run.out, "support vectors="),
              std::string("support vectors=0\ncorrect classification = ") +
                  (good_missing ? "0" : "100") + "%\n" +
                  from_line(run.out, "training on 30 samples complete in "));
    EXPECT_EQ(testing::read_bytes(tree.model_file()).size(), 252u);
  }
}

TEST(SvmTraining, NoPhotosNoModelFile) {
  ScopedTempDir dir;
  SvmTrainingOptions options;
  options.good_dir = dir.file("good");
  options.blur_dir = dir.file("blur");
  options.model_dir = dir.path();
  const std::string folders = dir.file("good") + "/ and " + dir.file("blur") + "/";

  TrainingRun run = train(options, 1);
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
  EXPECT_EQ(platform::path_kind(dir.file(MODEL_FILE_NAME)), platform::PathKind::missing);
}

TEST(SvmTraining, UnwritableModelFileStillEvaluates) {
  TrainingTree tree(2, 1);
  // A folder where the model file should go: it cannot be replaced.
  testing::make_dir(tree.model_file());
  const TrainingRun failed = train(tree.options, 5);
  EXPECT_EQ(failed.exit_code, SVM_TRAINING_EXIT_FAILED);
  EXPECT_EQ(failed.err, "lumvet-train: cannot write model file " + tree.model_file() + "\n");

  // The report and both evaluations are those of a run that could write the file.
  ASSERT_EQ(::rmdir(tree.model_file().c_str()), 0);
  const TrainingRun written = train(tree.options, 5);
  EXPECT_EQ(written.exit_code, SVM_TRAINING_EXIT_OK);
  EXPECT_EQ(mask_seconds(failed.out), mask_seconds(written.out));
  EXPECT_NE(failed.out.find("training on 40 samples complete in "), std::string::npos);
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
  RandomState rs{1};

  EXPECT_EQ(capture_output([&](std::FILE* out) {
              evaluate_folder(dir.path(), constant_model(0.115), rs, out);
            }),
            "11\t" + dir.file("a.jpg") + "\n11\t" + dir.file("b.JPG") + "\n2/4 are blurred\n");
  // A score of exactly 10 is not listed.
  EXPECT_EQ(capture_output([&](std::FILE* out) {
              evaluate_folder(dir.path(), constant_model(0.105), rs, out);
            }),
            "0/4 are blurred\n");

  // No folder, or nothing that matches: not even the summary.
  testing::make_dir(dir.file("empty"));
  testing::write_text(dir.file("empty/x.txt"), "x");
  for (const std::string& folder : {dir.file("empty"), dir.file("missing")}) {
    EXPECT_EQ(capture_output(
                  [&](std::FILE* out) { evaluate_folder(folder, constant_model(0.5), rs, out); }),
              "");
  }
}

}  // namespace
}  // namespace lumvet
