// Training the assessor's network: photographs of a sharp and a blurred folder,
// ten readings each, a 30-15-1 network trained by backpropagation, written as the
// network file that lumqet reads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "nn/network.h"
#include "platform/exit_codes.h"
#include "scoring/constants.h"
#include "scoring/random.h"
#include "scoring/training_photos.h"

namespace lumvet {

// The values recorded in NETWORK_FILE_NAME.
inline constexpr std::int32_t NETWORK_TRAIN_REPETITIONS = 10;  // readings per photo
inline constexpr std::int32_t NETWORK_HIDDEN_COUNT = 15;
inline constexpr std::int32_t NETWORK_OUTPUT_COUNT = 1;
inline constexpr std::int32_t NETWORK_EPOCHS = 15;
inline constexpr double NETWORK_ETA = 0.5;        // learning rate
inline constexpr double NETWORK_MOMENTUM = 0.05;  // factor on the previous change
// Initial weights are drawn uniformly from (-scale, scale]. The inputs lie in
// 0 ... 1.0625 (contrasts over 12000); this keeps every unit's starting sum well
// inside the logistic's steep middle, so no unit starts saturated.
inline constexpr double NETWORK_INITIAL_WEIGHT_SCALE = 0.3;

struct NetworkTrainingOptions {
  std::string good_dir = "good";  // sharp photos: the positive class
  std::string blur_dir = "blur";  // blurred photos
  std::string model_dir;          // ends in '/'; empty: the default model directory
};

// The training samples: FEATURE_COUNT scaled values per sample, row after row.
struct NetworkTrainingSet {
  std::vector<double> features;
  std::vector<std::int32_t> positive;  // 1 for a sharp photo, 0 for a blurred one
  std::int32_t sharp_photos = 0;       // photos read, each giving ten samples
  std::int32_t blurred_photos = 0;
  std::vector<std::string> skipped;  // photos that could not be decoded
  std::int32_t count() const { return static_cast<std::int32_t>(positive.size()); }
};

// Reads the photos NETWORK_TRAIN_REPETITIONS times over with read_training_photos:
// in each repetition every sharp photo and then every blurred one gives one
// FeatureVector through extract_file_features, each value multiplied by
// 1.0 / FEATURE_SCALE. Photos that cannot be decoded give no sample.
// REQUIRES: at most max_training_photos(NETWORK_TRAIN_REPETITIONS) photos.
NetworkTrainingSet collect_network_training_set(const TrainingPhotos& photos, RandomState& rs);

// Creates a FEATURE_COUNT-15-1 network (net_create, NETWORK_INITIAL_WEIGHT_SCALE)
// and trains it for NETWORK_EPOCHS epochs: each epoch visits every sample once,
// in shuffle_indices order, with net_set_sample and net_train_step, then prints
// "epoch %d: %d/%d correct (%.1f%%), mean error %.6f\n" from net_eval_sample over
// all samples in their stored order. Null when the network cannot be allocated.
// REQUIRES: set.count() > 0.
std::unique_ptr<NeuralNet> train_network(const NetworkTrainingSet& set, RandomState& rs,
                                         std::FILE* out);

// The whole run of `lumvet-train --network` on an already seeded `rs`: starts the
// imaging library, reads the training set, trains, and writes NETWORK_FILE_NAME
// into the model directory. Reports go to `out`; photos that cannot be decoded are
// named on `err` and skipped; a run without any photo or with more than
// max_training_photos(NETWORK_TRAIN_REPETITIONS), or a network file that cannot be
// written, gives one line on `err` and EXIT_NOT_TRAINED (no file is left half
// written).
int run_network_training(const NetworkTrainingOptions& options, RandomState& rs, std::FILE* out,
                         std::FILE* err);

}  // namespace lumvet
