// The sharpness assessor's model: a linear classifier over the edge-slope
// features with a logistic calibration, its file format and the score it gives.
//
// Score of a photo: the features f are standardised, z_k = (f_k - mean_k) /
// scale_k, the decision value is s = bias + sum_k w_k z_k (positive: blurred),
// and the chance that the photo is blurred is p = 1 / (1 + exp(a s + b)). The
// score is p in per cent, rounded: 0 (surely sharp) to 100 (surely blurred).
//
// Model file, little-endian, exactly 60 + 24 n bytes for n features:
//   8 bytes   magic "LUMVSHRP"
//   uint32    format version (1)
//   16 bytes  feature set name, NUL-padded (e.g. "edge-slope-2")
//   uint32    feature count n
//   n x (double mean, double scale, double weight)
//   double    bias, a, b
//   uint32    0 (reserved)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sharpness/edge_slopes.h"

namespace lumvet {

inline constexpr std::uint32_t SHARPNESS_MODEL_VERSION = 1;
inline constexpr std::size_t SHARPNESS_MODEL_FILE_SIZE = 60 + 24 * SHARPNESS_FEATURE_COUNT;
// The score of a photo that cannot be judged (SharpnessMeasure::measurable false):
// an even chance, which is not listed at the default threshold.
inline constexpr std::int32_t UNMEASURABLE_SHARPNESS_SCORE = 50;
// Photos scoring above this are listed by default: more likely blurred than not.
inline constexpr std::int32_t SHARPNESS_LIST_THRESHOLD = 50;

struct SharpnessModel {
  std::vector<double> mean;     // SHARPNESS_FEATURE_COUNT values each
  std::vector<double> scale;    // all > 0
  std::vector<double> weights;
  double bias = 0.0;
  double calibration_a = -1.0;  // p = 1 / (1 + exp(a s + b))
  double calibration_b = 0.0;
};

// The model compiled into the program (models/ holds the same bytes).
const SharpnessModel& embedded_sharpness_model();

// s = bias + sum_k w_k (f_k - mean_k) / scale_k, summed in ascending k.
double sharpness_decision(const SharpnessModel& model, const SharpnessMeasure& measure);
// The score 0 ... 100 of a measured photo; UNMEASURABLE_SHARPNESS_SCORE when
// the photo could not be measured.
std::int32_t sharpness_score(const SharpnessModel& model, const SharpnessMeasure& measure);

std::vector<std::uint8_t> encode_sharpness_model(const SharpnessModel& model);
// On failure returns false and sets `error` to the reason, a phrase that follows
// the file's name ("is not a sharpness model file", "is for feature set X, ...").
bool decode_sharpness_model(const std::uint8_t* bytes, std::size_t size, SharpnessModel& model,
                            std::string& error);
// Reads a model file; on failure `error` is one line without the program name,
// e.g. "model file F is for feature set X; lumvet measures edge-slope-1".
bool load_sharpness_model_file(const std::string& path, SharpnessModel& model,
                               std::string& error);

}  // namespace lumvet
