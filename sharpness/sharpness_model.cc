#include "sharpness/sharpness_model.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/coding.h"
#include "platform/platform.h"

namespace lumvet {
namespace {

constexpr char MAGIC[8] = {'L', 'U', 'M', 'V', 'S', 'H', 'R', 'P'};
constexpr std::size_t NAME_BYTES = 16;
constexpr std::size_t HEADER_BYTES = 8 + 4 + NAME_BYTES + 4;
static_assert(HEADER_BYTES + 24 * SHARPNESS_FEATURE_COUNT + 24 + 4 == SHARPNESS_MODEL_FILE_SIZE);

// Features are logarithms of ratios in [1/256, 1] and a share in [0, 1]; a
// standardised feature stays within a few hundred even with a tiny scale. A
// model whose decision could overflow or whose numbers are not finite is refused.
constexpr double MAX_ABS_PARAMETER = 1e6;

bool usable(double v) { return std::isfinite(v) && std::fabs(v) <= MAX_ABS_PARAMETER; }

}  // namespace

double sharpness_decision(const SharpnessModel& model, const SharpnessMeasure& measure) {
  double s = model.bias;
  for (std::size_t k = 0; k < SHARPNESS_FEATURE_COUNT; ++k) {
    s += model.weights[k] * ((measure.features[k] - model.mean[k]) / model.scale[k]);
  }
  return s;
}

std::int32_t sharpness_score(const SharpnessModel& model, const SharpnessMeasure& measure) {
  if (!measure.measurable) return UNMEASURABLE_SHARPNESS_SCORE;
  const double s = sharpness_decision(model, measure);
  const double p = 1.0 / (1.0 + std::exp(model.calibration_a * s + model.calibration_b));
  return static_cast<std::int32_t>(std::floor(100.0 * p + 0.5));
}

std::vector<std::uint8_t> encode_sharpness_model(const SharpnessModel& model) {
  std::vector<std::uint8_t> bytes(MAGIC, MAGIC + sizeof MAGIC);
  put_fixed32(bytes, SHARPNESS_MODEL_VERSION);
  char name[NAME_BYTES] = {};
  std::strncpy(name, SHARPNESS_FEATURE_SET, NAME_BYTES - 1);
  bytes.insert(bytes.end(), name, name + NAME_BYTES);
  put_fixed32(bytes, SHARPNESS_FEATURE_COUNT);
  for (std::size_t k = 0; k < SHARPNESS_FEATURE_COUNT; ++k) {
    put_double(bytes, model.mean[k]);
    put_double(bytes, model.scale[k]);
    put_double(bytes, model.weights[k]);
  }
  put_double(bytes, model.bias);
  put_double(bytes, model.calibration_a);
  put_double(bytes, model.calibration_b);
  put_fixed32(bytes, 0);
  return bytes;
}

bool decode_sharpness_model(const std::uint8_t* bytes, std::size_t size, SharpnessModel& model,
                            std::string& error) {
  if (size < HEADER_BYTES || std::memcmp(bytes, MAGIC, sizeof MAGIC) != 0) {
    error = "is not a sharpness model file";
    return false;
  }
  const std::uint32_t version = decode_fixed32(bytes + 8);
  if (version != SHARPNESS_MODEL_VERSION) {
    error = "has format version " + std::to_string(version) + "; this lumvet reads version " +
            std::to_string(SHARPNESS_MODEL_VERSION);
    return false;
  }
  char name[NAME_BYTES + 1] = {};
  std::memcpy(name, bytes + 12, NAME_BYTES);
  for (char& c : name) {
    if (c != 0 && (c < 0x20 || c > 0x7e)) c = '?';
  }
  const std::uint32_t count = decode_fixed32(bytes + 12 + NAME_BYTES);
  if (std::strcmp(name, SHARPNESS_FEATURE_SET) != 0 || count != SHARPNESS_FEATURE_COUNT) {
    error = std::string("is for feature set ") + name + " with " + std::to_string(count) +
            " features; lumvet measures " + SHARPNESS_FEATURE_SET + " with " +
            std::to_string(SHARPNESS_FEATURE_COUNT);
    return false;
  }
  if (size != SHARPNESS_MODEL_FILE_SIZE) {
    error = "is not a sharpness model file: it must be exactly " +
            std::to_string(SHARPNESS_MODEL_FILE_SIZE) + " bytes long";
    return false;
  }
  SharpnessModel m;
  const std::uint8_t* p = bytes + HEADER_BYTES;
  for (std::size_t k = 0; k < SHARPNESS_FEATURE_COUNT; ++k, p += 24) {
    m.mean.push_back(decode_double(p));
    m.scale.push_back(decode_double(p + 8));
    m.weights.push_back(decode_double(p + 16));
  }
  m.bias = decode_double(p);
  m.calibration_a = decode_double(p + 8);
  m.calibration_b = decode_double(p + 16);
  bool ok = usable(m.bias) && usable(m.calibration_a) && usable(m.calibration_b);
  for (std::size_t k = 0; k < SHARPNESS_FEATURE_COUNT; ++k) {
    ok =
        ok && usable(m.mean[k]) && usable(m.weights[k]) && usable(m.scale[k]) && m.scale[k] >= 1e-6;
  }
  if (!ok) {
    error = "holds numbers that are not finite or out of range";
    return false;
  }
  model = std::move(m);
  return true;
}

bool load_sharpness_model_file(const std::string& path, SharpnessModel& model, std::string& error) {
  // One byte more than a model holds tells that a file is too long.
  std::vector<std::uint8_t> bytes;
  if (!platform::read_regular_file_prefix(path, SHARPNESS_MODEL_FILE_SIZE + 1, bytes)) {
    error = "cannot read model file " + path;
    return false;
  }
  std::string reason;
  if (!decode_sharpness_model(bytes.data(), bytes.size(), model, reason)) {
    error = "model file " + path + " " + reason;
    return false;
  }
  return true;
}

}  // namespace lumvet
