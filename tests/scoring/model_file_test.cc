#include "scoring/model_file.h"

#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using Bytes = std::vector<std::uint8_t>;

void append_le(Bytes& bytes, std::uint64_t v, int size) {
  for (int i = 0; i < size; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

SvmModel model_with(double bias, const std::vector<double>& weights) {
  SvmModel model;
  model.dims = static_cast<std::int32_t>(weights.size());
  model.bias = bias;
  model.weights = weights;
  return model;
}

std::vector<double> ramp_weights() {
  std::vector<double> w(FEATURE_COUNT);
  for (int k = 0; k < FEATURE_COUNT; ++k) w[k] = (k - 14.5) / 7.0;
  return w;
}

TEST(ModelFile, LayoutAndBitExactRoundTrip) {
  const std::vector<double> w = ramp_weights();
  Bytes expected = {0x1E, 0x00, 0x00, 0x00};
  append_le(expected, std::bit_cast<std::uint64_t>(-0.0), 8);  // the bias at offset 4: no gap
  for (const double v : w) append_le(expected, std::bit_cast<std::uint64_t>(v), 8);
  EXPECT_EQ(encode_svm_model(model_with(-0.0, w)), expected);

  SvmModel embedded;
  init_embedded_model(embedded);
  SvmModel decoded;
  std::string error;
  ASSERT_TRUE(decode_svm_model(encode_svm_model(embedded), decoded, error)) << error;
  EXPECT_EQ(decoded.sample_count, 0);
  EXPECT_EQ(decoded.dims, FEATURE_COUNT);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(decoded.bias), EMBEDDED_BIAS_BITS);
  ASSERT_EQ(decoded.weights.size(), static_cast<std::size_t>(FEATURE_COUNT));
  for (int k = 0; k < FEATURE_COUNT; ++k) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(decoded.weights[k]), EMBEDDED_WEIGHT_BITS[k]) << k;
  }
}

// The refusals as the program words them, with the file's name: lumvet_test.
TEST(ModelFile, RefusesWrongSizesCountsAndValues) {
  const Bytes good = encode_svm_model(model_with(3.0, ramp_weights()));
  const std::string bad_size = "is not a model file: it must be exactly 252 bytes long";
  Bytes longer = good;
  longer.push_back(0);
  std::vector<std::pair<Bytes, std::string>> cases = {
      {{}, bad_size}, {Bytes(good.begin(), good.end() - 1), bad_size}, {longer, bad_size}};
  for (const std::int32_t dims : {29, 31, 0, -30}) {
    Bytes b = good;
    for (int i = 0; i < 4; ++i)
      b[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(dims) >> (8 * i));
    cases.push_back(
        {b, "holds " + std::to_string(dims) + " features per photo, lumvet measures 30"});
  }
  // A smaller model written consistently for its own count is still not one lumvet can use.
  cases.push_back({encode_svm_model(model_with(1.0, std::vector<double>(20, 0.5))),
                   "holds 20 features per photo, lumvet measures 30"});
  const std::string bad_values =
      "holds a bias or weights that are not finite or too large to score with";
  for (const double v : {std::numeric_limits<double>::quiet_NaN(),
                         std::numeric_limits<double>::infinity(), -1e300, 1e8}) {
    std::vector<double> w = ramp_weights();
    w[17] = v;
    cases.push_back({encode_svm_model(model_with(0.0, w)), bad_values});
    cases.push_back({encode_svm_model(model_with(v * 30, ramp_weights())), bad_values});
  }
  for (const auto& [bytes, reason] : cases) {
    SvmModel model = model_with(7.0, {1.0});
    std::string error;
    EXPECT_FALSE(decode_svm_model(bytes, model, error)) << reason;
    EXPECT_EQ(error, reason);
    EXPECT_EQ(model.bias, 7.0);  // untouched
    EXPECT_EQ(model.weights.size(), 1u);
  }
  // Large but safe: every score stays far inside 32 bits.
  SvmModel model;
  std::string error;
  EXPECT_TRUE(decode_svm_model(
      encode_svm_model(model_with(-1e6, std::vector<double>(FEATURE_COUNT, 500000.0))), model,
      error))
      << error;
}

}  // namespace
}  // namespace lumvet
