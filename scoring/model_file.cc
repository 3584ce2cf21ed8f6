#include "scoring/model_file.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/coding.h"
#include "platform/platform.h"

namespace lumvet {

namespace {

// The largest feature a patch can give (half black, half white), scaled.
constexpr double MAX_SCALED_FEATURE = 12750.0 / FEATURE_SCALE;
// Below INT32_MAX (2147483647) with room to spare for the rounding of the sums.
constexpr double SCORE_LIMIT = 2.0e9;

}  // namespace

std::vector<std::uint8_t> encode_svm_model(const SvmModel& model) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(12 + 8 * model.weights.size());
  put_fixed32(bytes, static_cast<std::uint32_t>(model.dims));
  put_double(bytes, model.bias);
  for (const double w : model.weights) put_double(bytes, w);
  return bytes;
}

bool svm_model_scores_fit(const SvmModel& model) {
  double bound = std::fabs(model.bias);
  for (const double w : model.weights) bound += std::fabs(w) * MAX_SCALED_FEATURE;
  // A NaN or an infinity anywhere makes the comparison false.
  return bound * 100.0 <= SCORE_LIMIT;
}

bool decode_svm_model(const std::vector<std::uint8_t>& bytes, SvmModel& model, std::string& error) {
  // A sharpness model begins with its magic; its first bytes are no feature count.
  if (bytes.size() >= 8 && std::memcmp(bytes.data(), "LUMVSHRP", 8) == 0) {
    error = "is a sharpness model: use it with --assessor=sharpness";
    return false;
  }
  if (bytes.size() >= 4) {
    const std::int32_t dims = static_cast<std::int32_t>(decode_fixed32(bytes.data()));
    if (dims != FEATURE_COUNT) {
      error = "holds " + std::to_string(dims) + " features per photo, lumvet measures " +
              std::to_string(FEATURE_COUNT);
      return false;
    }
  }
  if (bytes.size() != SVM_MODEL_FILE_SIZE) {
    error = "is not a model file: it must be exactly " + std::to_string(SVM_MODEL_FILE_SIZE) +
            " bytes long";
    return false;
  }
  SvmModel decoded;
  decoded.dims = FEATURE_COUNT;
  decoded.bias = decode_double(bytes.data() + 4);
  decoded.weights.resize(FEATURE_COUNT);
  for (int k = 0; k < FEATURE_COUNT; ++k) {
    decoded.weights[static_cast<std::size_t>(k)] = decode_double(bytes.data() + 12 + 8 * k);
  }
  if (!svm_model_scores_fit(decoded)) {
    error = "holds a bias or weights that are not finite or too large to score with";
    return false;
  }
  model = std::move(decoded);
  return true;
}

bool load_svm_model_file(const std::string& path, SvmModel& model, std::string& error) {
  // One byte more than a model file holds is enough to tell that a file is too long.
  std::vector<std::uint8_t> bytes;
  if (!platform::read_regular_file_prefix(path, SVM_MODEL_FILE_SIZE + 1, bytes)) {
    error = "cannot read model file " + path;
    return false;
  }
  std::string reason;
  if (!decode_svm_model(bytes, model, reason)) {
    error = "model file " + path + " " + reason;
    return false;
  }
  return true;
}

}  // namespace lumvet
