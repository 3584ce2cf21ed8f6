// Training the sharpness assessor's model: the edge-slope features of a sharp
// and a blurred folder, the SMO solver on the standardised features, and a
// logistic calibration of its decision values into a chance of blur.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "scoring/random.h"
#include "scoring/training_photos.h"
#include "sharpness/sharpness_model.h"

namespace lumvet {

// The box constant of the solver on standardised features.
inline constexpr double SHARPNESS_TRAIN_C = 1.0;
// The model file's name in the model directory.
inline constexpr const char* SHARPNESS_MODEL_FILE_NAME = "sharpness.lvsm";

struct SharpnessTrainingSet {
  std::vector<SharpnessMeasure> measures;  // one per usable photo
  std::vector<std::int8_t> labels;         // -1 sharp, +1 blurred
  std::vector<std::string> skipped;        // photos that cannot be decoded
  std::vector<std::string> unmeasurable;   // photos with too few edges to measure
};

// Measures every photo once (the measure draws nothing), good ones first, in list
// order, through the trainers' photo reader. A photo that cannot be decoded or
// measured gives no sample.
SharpnessTrainingSet collect_sharpness_training_set(const TrainingPhotos& photos);

// Fits the model to `set`: per-feature mean and population standard deviation
// (a feature that never varies gets scale 1), the linear SVM on the
// standardised features by smo_solve with SHARPNESS_TRAIN_C and `rs`, then a
// and b of p = 1 / (1 + exp(a s + b)) by Newton's method on the decision values
// s, with the two classes weighted equally. `support_vectors` receives the
// number of non-zero multipliers. REQUIRES: at least one sample.
SharpnessModel fit_sharpness_model(const SharpnessTrainingSet& set, RandomState& rs,
                                   std::int32_t& support_vectors);

// Fits p = 1 / (1 + exp(a s + b)) to decision values and labels (+1 = blurred),
// each class weighted by half over its count. Deterministic.
void fit_calibration(const std::vector<double>& decisions, const std::vector<std::int8_t>& labels,
                     double& a, double& b);

}  // namespace lumvet

namespace lumvet {

// The whole run of `lumvet-train --assessor=sharpness` on a seeded `rs`: measures
// the photos of options.good_dir and options.blur_dir (names ending in .jpg,
// sorted), prints "measured N photos (G sharp, B blurred) in N secs",
// "support vectors=N" and "correct classification = N%" (at the listing
// threshold of 50) to `out`, and writes SHARPNESS_MODEL_FILE_NAME into the model
// directory (or options.model_path when set). Problems go to `err`, one line each;
// skipped photos are named. Returns 0, or 1 when there is no photo of either
// class or the model file could not be written.
struct SharpnessTrainingOptions {
  std::string good_dir = "good";
  std::string blur_dir = "blur";
  std::string model_path;  // the file to write
};
int run_sharpness_training(const SharpnessTrainingOptions& options, RandomState& rs,
                           std::FILE* out, std::FILE* err);

}  // namespace lumvet
