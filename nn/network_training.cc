#include "nn/network_training.h"

#include <cstddef>

#include "imaging/imaging.h"
#include "nn/assessor.h"
#include "nn/network_file.h"
#include "platform/platform.h"
#include "scoring/file_scoring.h"
#include "scoring/model_dir.h"

namespace lumvet {

namespace {

constexpr const char* PROGRAM_NAME = "lumvet-train";

// Reads one repetition of a folder's photos into `set`. Returns the number of
// photos that could not be decoded.
std::int32_t read_folder_once(const std::string& dir, const std::vector<std::string>& names,
                              std::int32_t positive, double factor, NetworkTrainingSet& set,
                              RandomState& rs) {
  std::int32_t skipped = 0;
  FeatureVector features;
  for (const std::string& name : names) {
    if (!extract_file_features(dir + "/" + name, features, rs)) {
      ++skipped;
      continue;
    }
    for (const double v : features) set.features.push_back(v * factor);
    set.positive.push_back(positive);
  }
  return skipped;
}

}  // namespace

NetworkTrainingSet collect_network_training_set(const std::string& good_dir,
                                                const std::string& blur_dir, RandomState& rs) {
  NetworkTrainingSet set;
  const std::vector<std::string> good = platform::list_jpg_files(good_dir);
  const std::vector<std::string> blur = platform::list_jpg_files(blur_dir);
  // One factor for the whole run: division by the scale through its reciprocal.
  const double factor = 1.0 / FEATURE_SCALE;
  for (std::int32_t r = 0; r < NETWORK_TRAIN_REPETITIONS; ++r) {
    const std::int32_t good_skipped = read_folder_once(good_dir, good, 1, factor, set, rs);
    const std::int32_t blur_skipped = read_folder_once(blur_dir, blur, 0, factor, set, rs);
    if (r == 0) {
      // A photo that does not decode once never does.
      set.sharp_photos = static_cast<std::int32_t>(good.size()) - good_skipped;
      set.blurred_photos = static_cast<std::int32_t>(blur.size()) - blur_skipped;
      set.skipped_photos = good_skipped + blur_skipped;
    }
  }
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

  const NetworkTrainingSet set =
      collect_network_training_set(options.good_dir, options.blur_dir, rs);
  std::fprintf(out, "read %d sharp and %d blurred photos: %d samples\n", set.sharp_photos,
               set.blurred_photos, set.count());
  if (set.skipped_photos > 0) {
    std::fprintf(out, "photos that could not be decoded: %d\n", set.skipped_photos);
  }
  if (set.count() == 0) {
    std::fflush(out);
    std::fprintf(err, "%s: no photos to train on in %s/ and %s/\n", PROGRAM_NAME,
                 options.good_dir.c_str(), options.blur_dir.c_str());
    return NETWORK_TRAINING_EXIT_FAILED;
  }

  const std::unique_ptr<NeuralNet> net = train_network(set, rs, out);
  if (!net) {
    std::fflush(out);
    std::fprintf(err, "%s: out of memory for the network\n", PROGRAM_NAME);
    return NETWORK_TRAINING_EXIT_FAILED;
  }
  if (net_save(*net, path, out) == 0) {
    std::fflush(out);
    std::fprintf(err, "%s: cannot write network file %s\n", PROGRAM_NAME, path.c_str());
    return NETWORK_TRAINING_EXIT_FAILED;
  }
  std::fprintf(out, "wrote %s\n", path.c_str());
  std::fflush(out);
  return NETWORK_TRAINING_EXIT_OK;
}

}  // namespace lumvet
