// The model file of the linear model: the weights and the bias that lumvet-train
// writes and `lumvet --model=FILE` scores with.
//
// Layout, little-endian on every host, with no header, magic or padding:
//   offset 0    4 bytes         dims, signed 32-bit (30)
//   offset 4    8 bytes         bias, IEEE-754 double
//   offset 12   8 x dims bytes  weights w_0 ... w_{dims-1}, IEEE-754 doubles
// With 30 features a file has 252 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scoring/constants.h"
#include "scoring/linear_model.h"

namespace lumvet {

// The size of a model file that lumvet can score with.
inline constexpr std::size_t SVM_MODEL_FILE_SIZE = 4 + 8 + 8 * FEATURE_COUNT;  // 252

// The bytes of the model file of `model`: dims, bias, then the dims weights.
// REQUIRES: model.weights holds model.dims values.
std::vector<std::uint8_t> encode_svm_model(const SvmModel& model);

// The model of a model file's bytes: sample_count 0, dims, bias and weights, like
// the embedded model. Refuses, with a one-line reason in `error` (no newline),
// bytes that are not exactly SVM_MODEL_FILE_SIZE long, a dims other than
// FEATURE_COUNT, and weights or a bias that are not finite or so large that a
// score would not fit in 32 bits (see svm_model_scores_fit). `model` is left as it
// was on failure.
bool decode_svm_model(const std::vector<std::uint8_t>& bytes, SvmModel& model, std::string& error);

// Reads and decodes the model file at `path`; `error` names the file.
bool load_svm_model_file(const std::string& path, SvmModel& model, std::string& error);

// True when every score the model can give for features in 0 ... 12750 fits in a
// signed 32-bit integer with a wide margin: |bias| + sum |w_k| x 12750 / 12000,
// times 100, at most 2e9. False for a non-finite bias or weight.
// REQUIRES: model.weights holds model.dims values.
bool svm_model_scores_fit(const SvmModel& model);

}  // namespace lumvet
