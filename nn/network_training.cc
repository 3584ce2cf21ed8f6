#include "nn/network_training.h"

#include <cstddef>
#include <utility>

#include "imaging/imaging.h"
#include "nn/assessor.h"
#include "nn/network_file.h"
#include "platform/program_start.h"
#include "scoring/file_scoring.h"
#include "scoring/model_dir.h"

namespace lumvet {

namespace {

constexpr const char* PROGRAM_NAME = "lumvet-train";

}  // namespace

NetworkTrainingSet collect_network_training_set(const TrainingPhotos& photos, RandomState& rs) {
  NetworkTrainingSet set;
  // One factor for the whole run: division by the scale through its reciprocal.
  const double factor = 1.0 / FEATURE_SCALE;
  FeatureVector features;
  const auto read = [&](const std::string& path, PhotoClass photo_class) {
    if (!extract_file_features(path, features, rs)) return false;
    for (const double v : features) set.features.push_back(v * factor);
    set.positive.push_back(photo_class == PhotoClass::good ? 1 : 0);
    return true;
  };
  TrainingReadings readings =
      read_training_photos(photos, NETWORK_TRAIN_REPETITIONS, read, nullptr);
  set.sharp_photos = static_cast<std::int32_t>(readings.decoded.good.size());
  set.blurred_photos = static_cast<std::int32_t>(readings.decoded.blur.size());
  set.skipped = std::move(readings.skipped);
  return set;
}

std::unique_ptr<NeuralNet> train_network(const NetworkTrainingSet& set, RandomState& rs,
                                         std::FILE* out) {
  std::unique_ptr<NeuralNet> net = net_create(
      FEATURE_COUNT, NETWORK_HIDDEN_COUNT, NETWORK_OUTPUT_COUNT, NETWORK_INITIAL_WEIGHT_SCALE, rs);
  if (!net) return nullptr;
  const std::int32_t count = set.count();
  std::vector<std::int32_t> order(static_cast<std::size_t>(count));
  auto sample = [&](std::int32_t i) {
    return set.features.data() + static_cast<std::size_t>(i) * FEATURE_COUNT;
  };
  for (std::int32_t epoch = 1; epoch <= NETWORK_EPOCHS; ++epoch) {
    shuffle_indices(order.data(), count, rs);
    for (const std::int32_t i : order) {
      net_set_sample(*net, sample(i), set.positive[static_cast<std::size_t>(i)]);
      net_train_step(*net, NETWORK_ETA, NETWORK_MOMENTUM);
    }
    std::int32_t correct = 0;
    double error_sum = 0.0;
    for (std::int32_t i = 0; i < count; ++i) {
      double error = 0.0;
      correct += net_eval_sample(*net, sample(i), set.positive[static_cast<std::size_t>(i)], error);
      error_sum += error;
    }
    std::fprintf(out, "epoch %d: %d/%d correct (%.1f%%), mean error %.6f\n", epoch, correct, count,
                 100.0 * correct / count, error_sum / count);
  }
  return net;
}

int run_network_training(const NetworkTrainingOptions& options, RandomState& rs, std::FILE* out,
                         std::FILE* err) {
  start_imaging_library();
  const std::string model_dir =
      options.model_dir.empty() ? default_model_dir() : as_model_dir(options.model_dir);
  const std::string path = model_dir + NETWORK_FILE_NAME;

  const TrainingPhotos photos = list_training_photos(options.good_dir, options.blur_dir);
  const std::string problem = training_photos_problem(photos, NETWORK_TRAIN_REPETITIONS,
                                                      options.good_dir, options.blur_dir);
  if (!problem.empty()) {
    report_problem(out, err, PROGRAM_NAME, problem);
    return EXIT_NOT_TRAINED;
  }
  const NetworkTrainingSet set = collect_network_training_set(photos, rs);
  std::fprintf(out, "read %d sharp and %d blurred photos: %d samples\n", set.sharp_photos,
               set.blurred_photos, set.count());
  if (!set.skipped.empty()) {
    std::fprintf(out, "photos that could not be decoded: %zu\n", set.skipped.size());
  }
  report_skipped_photos(set.skipped, PROGRAM_NAME, out, err);
  if (set.count() == 0) {
    report_problem(
        out, err, PROGRAM_NAME,
        "no photos to train on in " + options.good_dir + "/ and " + options.blur_dir + "/");
    return EXIT_NOT_TRAINED;
  }

  const std::unique_ptr<NeuralNet> net = train_network(set, rs, out);
  if (!net) {
    report_problem(out, err, PROGRAM_NAME, "out of memory for the network");
    return EXIT_NOT_TRAINED;
  }
  if (net_save(*net, path, out) == 0) {
    report_problem(out, err, PROGRAM_NAME, "cannot write network file " + path);
    return EXIT_NOT_TRAINED;
  }
  std::fprintf(out, "wrote %s\n", path.c_str());
  std::fflush(out);
  return EXIT_DONE;
}

}  // namespace lumvet
