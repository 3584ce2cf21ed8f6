// The linear support-vector model: the record shared with the trainer, the
// weights compiled into the program, and the score of one draw.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/bitmap.h"
#include "scoring/constants.h"
#include "scoring/random.h"

namespace lumvet {

struct SvmModel {
  std::int32_t sample_count = 0;    // training samples; 0 for the embedded model
  std::vector<double> samples;      // sample_count rows of dims values, row-major
  std::vector<std::int8_t> labels;  // +1 or -1 per sample
  std::vector<double> alphas;       // Lagrange multipliers, one per sample
  double bias = 0.0;
  std::int32_t dims = 0;        // length of a feature vector
  std::vector<double> weights;  // dims values; empty means absent
  // sample_count x sample_count kernel values, row-major, 0.0 = not yet computed;
  // null means absent.
  std::unique_ptr<double[]> kernel_cache;
};

// The compiled-in model, written from its bit patterns.
extern const std::uint64_t EMBEDDED_WEIGHT_BITS[FEATURE_COUNT];
inline constexpr std::uint64_t EMBEDDED_BIAS_BITS = 0x40085854C0DFCC33;  // 3.04313040431
double embedded_weight(int k);
double embedded_bias();

// Fills `model` with the embedded model: no samples, dims 30, the 30 weights and
// the bias. The caller releases it with release_svm_model.
void init_embedded_model(SvmModel& model);

// Frees the model's arrays (the samples, labels, multipliers and kernel cache only
// when sample_count is not 0; the weights always). Counts and bias stay as they are.
void release_svm_model(SvmModel& model);

// trunc((bias + sum_k weights[k] * (features[k] * (1.0 / scale))) * 100.0), the sum
// taken from the bias in ascending k. REQUIRES: model.dims == FEATURE_COUNT and
// weights present.
std::int32_t score_features(const SvmModel& model, const FeatureVector& features, double scale);

// Score of one draw on a bitmap: 30 fresh patches (60 generator steps), then
// score_features. A bitmap that cannot be measured (see image_is_measurable)
// scores 0 and draws nothing.
std::int32_t score_bitmap(const SvmModel& model, const Bitmap32& bitmap, double scale,
                          RandomState& rs);

}  // namespace lumvet
