#include "svm_train/svm_training.h"

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

#include "imaging/imaging.h"
#include "platform/platform.h"
#include "platform/program_start.h"
#include "scoring/constants.h"
#include "scoring/file_scoring.h"
#include "scoring/model_dir.h"
#include "scoring/model_file.h"
#include "svm_train/smo.h"

namespace lumvet {

namespace {

constexpr const char* PROGRAM_NAME = "lumvet-train";
// As fopen would create it: read and write for all, less the umask.
constexpr unsigned NEW_FILE_MODE = 0666;

// The values recorded in the model file's name besides the feature count, the box
// constant, the scale and the repetitions.
constexpr int MODEL_NAME_FIELD_5 = 15;
constexpr int MODEL_NAME_FIELD_6 = 1;

int seconds_since(std::int64_t t0_ms) {
  return static_cast<int>((platform::elapsed_ms() - t0_ms) / 1000);
}

}  // namespace

SvmTrainingSet collect_svm_training_set(const TrainingPhotos& photos, RandomState& rs,
                                        std::FILE* progress) {
  SvmTrainingSet set;
  set.samples.reserve(photos.count() * TRAIN_REPETITIONS * FEATURE_COUNT);
  set.labels.reserve(photos.count() * TRAIN_REPETITIONS);
  // One factor for the whole run: division by the scale through its reciprocal
  // (bit pattern 3F15D867C3ECE2A5).
  const double factor = 1.0 / FEATURE_SCALE;
  FeatureVector features;
  const auto read = [&](const std::string& path, PhotoClass photo_class) {
    if (!extract_file_features(path, features, rs)) return false;
    for (const double v : features) set.samples.push_back(v * factor);
    set.labels.push_back(photo_class == PhotoClass::good ? -1 : +1);
    return true;
  };
  set.skipped = read_training_photos(photos, TRAIN_REPETITIONS, read, progress).skipped;
  return set;
}

bool kernel_cache_fits(std::int64_t sample_count) {
  if (sample_count <= 0) return true;
  const auto n = static_cast<std::uint64_t>(sample_count);
  // n <= 2^31, so n * n * 8 cannot overflow 64 bits.
  return n * n * sizeof(double) <= KERNEL_CACHE_MAX_BYTES;
}

SvmModel make_svm_training_model(SvmTrainingSet set) {
  SvmModel model;
  model.sample_count = set.count();
  model.dims = FEATURE_COUNT;
  model.samples = std::move(set.samples);
  model.labels = std::move(set.labels);
  const auto n = static_cast<std::size_t>(model.sample_count);
  model.alphas.assign(n, 0.0);
  model.bias = 0.0;
  // The cache only saves time: without it (too large, or not to be had) the
  // solver computes every kernel value afresh, with the same results.
  if (model.dims > 2 && n > 0 && kernel_cache_fits(model.sample_count)) {
    model.kernel_cache.reset(new (std::nothrow) double[n * n]());
  }
  return model;
}

std::string svm_model_file_name() {
  char name[128];
  std::snprintf(name, sizeof name, "test_%d-%d_%g-%g=%d-%d-%d=e%d.svm", FEATURE_COUNT,
                TRAIN_REPETITIONS, TRAIN_C, SMO_TOLERANCE, MODEL_NAME_FIELD_5, MODEL_NAME_FIELD_6,
                static_cast<int>(FEATURE_SCALE), TRAIN_REPETITIONS);
  return name;
}

bool save_svm_model(SvmModel& model, const std::string& path) {
  if (model.weights.empty()) svm_compute_weights(model);
  return platform::replace_file(path, encode_svm_model(model), NEW_FILE_MODE) ==
         platform::ReplaceStatus::replaced;
}

void evaluate_folder(const std::string& folder, const SvmModel& model, RandomState& rs,
                     std::FILE* out) {
  const auto score = [&](const std::string& path) {
    return score_image_file(model, path, FEATURE_SCALE, rs);
  };
  report_blurred_in_folder(folder, score, out);
}

int run_svm_training(const SvmTrainingOptions& options, RandomState& rs, std::FILE* out,
                     std::FILE* err) {
  start_imaging_library();
  const std::string model_dir =
      options.model_dir.empty() ? default_model_dir() : as_model_dir(options.model_dir);
  const std::string model_path = model_dir + svm_model_file_name();

  const TrainingPhotos photos = list_training_photos(options.good_dir, options.blur_dir);
  const std::string folders = options.good_dir + "/ and " + options.blur_dir + "/";
  if (photos.count() == 0) {
    report_problem(out, err, PROGRAM_NAME, "no photos to train on in " + folders);
    return EXIT_NOT_TRAINED;
  }
  const std::string problem =
      training_photos_problem(photos, TRAIN_REPETITIONS, options.good_dir, options.blur_dir);
  if (!problem.empty()) {
    report_problem(out, err, PROGRAM_NAME, problem);
    return EXIT_NOT_TRAINED;
  }

  // Wall-clock time since the start of reading, in whole seconds.
  const std::int64_t t0 = platform::elapsed_ms();
  SvmTrainingSet set = collect_svm_training_set(photos, rs, out);
  std::fprintf(out, "reading pics took %d secs\n", seconds_since(t0));
  report_skipped_photos(set.skipped, PROGRAM_NAME, out, err);
  if (set.count() == 0) {
    report_problem(out, err, PROGRAM_NAME, "no photo in " + folders + " could be decoded");
    return EXIT_NOT_TRAINED;
  }

  SvmModel model = make_svm_training_model(std::move(set));
  smo_solve(model, TRAIN_C, rs);
  svm_compute_weights(model);

  const std::int32_t n = model.sample_count;
  std::int32_t support_vectors = 0;
  std::int64_t correct = 0;
  for (std::int32_t k = 0; k < n; ++k) {
    const auto i = static_cast<std::size_t>(k);
    if (model.alphas[i] > SMO_ALPHA_EPSILON) ++support_vectors;
    if ((svm_decision_value(model, k) > 0.0) == (model.labels[i] > 0)) ++correct;
  }
  std::fprintf(out, "support vectors=%d\n", support_vectors);
  std::fprintf(out, "correct classification = %d%%\n", static_cast<int>(correct * 100 / n));
  std::fprintf(out, "training on %d samples complete in %d secs\n", n, seconds_since(t0));

  int exit_code = EXIT_DONE;
  if (!save_svm_model(model, model_path)) {
    report_problem(out, err, PROGRAM_NAME, "cannot write model file " + model_path);
    exit_code = EXIT_NOT_TRAINED;
  }
  // The folders lie directly under the model directory, which ends in '/'.
  evaluate_folder(model_dir + "blur", model, rs, out);
  evaluate_folder(model_dir + "good", model, rs, out);
  release_svm_model(model);
  std::fflush(out);
  return exit_code;
}

}  // namespace lumvet
