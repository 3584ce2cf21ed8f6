#include "nn/assessor.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "scoring/file_scoring.h"

namespace lumvet {

void shuffle_indices(std::int32_t* indices, std::int32_t count, RandomState& rs) {
  for (std::int32_t i = 0; i < count; ++i) indices[i] = i;
  for (std::int32_t n = 0; n < count / 2; ++n) {
    // The raw generator states are non-negative, so the remainders are indices.
    const std::int32_t a = random_next(rs) % count;
    const std::int32_t b = random_next(rs) % count;
    if (a != b) std::swap(indices[a], indices[b]);
  }
}

void net_set_sample(NeuralNet& net, const double* features, std::int32_t positive) {
  std::copy(features, features + net.input_count, net.input_units.begin() + 1);
  net.targets[1] = positive != 0 ? TARGET_HIGH : TARGET_LOW;
  if (net.output_count == 2) net.targets[2] = positive != 0 ? TARGET_LOW : TARGET_HIGH;
}

std::int32_t net_eval_sample(NeuralNet& net, const double* features, std::int32_t positive,
                             double& abs_error) {
  net_set_sample(net, features, positive);
  net_forward(net);
  abs_error = std::fabs(net.targets[1] - net.output_units[1]);
  if (net.output_units[1] < 0.5) return positive == 0 ? 1 : 0;
  return positive == 1 ? 1 : 0;
}

std::int32_t net_output_score(const NeuralNet& net) {
  double x;
  if (net.output_count == 2) {
    x = (net.output_units[1] - net.output_units[2]) * TWO_OUTPUT_SCORE_FACTOR;
  } else {
    x = (net.output_units[1] - 0.5) * ONE_OUTPUT_SCORE_FACTOR;
  }
  if (std::isnan(x)) return 0;  // converting it to an integer would be undefined
  if (x < -1.0) return 100;
  if (x > 1.0) x = 1.0;
  return static_cast<std::int32_t>(x * -100.0);
}

std::int32_t net_score_file(NeuralNet& net, const std::string& path, double scale,
                            RandomState& rs) {
  if (net.input_count > NET_FEATURE_BUFFER_SIZE) return 0;
  FeatureVector features;
  if (!extract_file_features(path, features, rs)) return 0;
  std::array<double, NET_FEATURE_BUFFER_SIZE> buffer{};
  std::copy(features.begin(), features.end(), buffer.begin());
  const double r = 1.0 / scale;
  for (std::int32_t i = 0; i < net.input_count; ++i) buffer[i] = buffer[i] * r;
  net_set_sample(net, buffer.data(), 1);
  net_forward(net);
  return net_output_score(net);
}

std::int32_t net_assess_file(NeuralNet& net, const std::string& path, double scale,
                             RandomState& rs) {
  const std::int32_t first = net_score_file(net, path, scale, rs);
  if (!assessment_needs_second_score(first)) return first;
  // Fresh patches: the generator has moved on.
  const std::int32_t second = net_score_file(net, path, scale, rs);
  return combine_assessment(first, second);
}

}  // namespace lumvet
