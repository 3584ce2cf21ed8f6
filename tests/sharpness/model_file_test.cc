// The sharpness model file: its layout, a bit-exact round trip, the shipped
// model, and the one-line refusals of files that are not such a model.
#include "sharpness/sharpness_model.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::ScopedTempDir;

// Offsets in the file.
constexpr std::size_t VERSION_AT = 8;
constexpr std::size_t NAME_AT = 12;
constexpr std::size_t COUNT_AT = 28;
constexpr std::size_t FEATURES_AT = 32;
constexpr std::size_t TAIL_AT = FEATURES_AT + 24 * SHARPNESS_FEATURE_COUNT;

SharpnessModel odd_model() {
  SharpnessModel m;
  for (int k = 0; k < SHARPNESS_FEATURE_COUNT; ++k) {
    m.mean.push_back(-0.1 * k - 1.0 / 3.0);
    m.scale.push_back(1e-6 + k * 0.7);
    m.weights.push_back(k % 2 == 0 ? -0.0 : std::numeric_limits<double>::denorm_min() * k);
  }
  m.bias = 0.1 + 0.2;
  m.calibration_a = -123456.789;
  m.calibration_b = 1e-300;
  return m;
}

void put_u32(Bytes& bytes, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void put_f64(Bytes& bytes, std::size_t at, double v) {
  const auto bits = std::bit_cast<std::uint64_t>(v);
  for (int i = 0; i < 8; ++i) bytes[at + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

void expect_same_bits(double a, double b, const char* what) {
  EXPECT_EQ(std::bit_cast<std::uint64_t>(a), std::bit_cast<std::uint64_t>(b)) << what;
}

TEST(SharpnessModelFile, LayoutAndBitExactRoundTrip) {
  const Bytes bytes = encode_sharpness_model(odd_model());
  ASSERT_EQ(bytes.size(), SHARPNESS_MODEL_FILE_SIZE);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "LUMVSHRP");
  EXPECT_EQ(bytes[VERSION_AT], 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + NAME_AT)), "edge-slope-2");
  for (std::size_t i = NAME_AT + 12; i < COUNT_AT; ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(bytes[COUNT_AT], SHARPNESS_FEATURE_COUNT);
  EXPECT_EQ(Bytes(bytes.end() - 4, bytes.end()), Bytes(4, 0));

  SharpnessModel decoded;
  std::string error;
  ASSERT_TRUE(decode_sharpness_model(bytes.data(), bytes.size(), decoded, error)) << error;
  const SharpnessModel m = odd_model();
  for (int k = 0; k < SHARPNESS_FEATURE_COUNT; ++k) {
    expect_same_bits(decoded.mean[k], m.mean[k], "mean");
    expect_same_bits(decoded.scale[k], m.scale[k], "scale");
    expect_same_bits(decoded.weights[k], m.weights[k], "weight");
  }
  expect_same_bits(decoded.bias, m.bias, "bias");
  expect_same_bits(decoded.calibration_a, m.calibration_a, "a");
  expect_same_bits(decoded.calibration_b, m.calibration_b, "b");
  EXPECT_EQ(encode_sharpness_model(decoded), bytes);
}

// The model built into the programs is the file that models/ ships.
TEST(SharpnessModelFile, EmbeddedModelIsTheShippedFile) {
  const Bytes shipped = testing::read_bytes(LUMVET_SOURCE_DIR "/models/sharpness.lvsm");
  EXPECT_EQ(encode_sharpness_model(embedded_sharpness_model()), shipped);
  SharpnessModel decoded;
  std::string error;
  EXPECT_TRUE(decode_sharpness_model(shipped.data(), shipped.size(), decoded, error)) << error;
  // Steeper edges read as sharper: the shipped model's decision falls as all
  // the steepness features rise together.
  SharpnessMeasure soft, steep;
  soft.measurable = steep.measurable = true;
  for (int k = 0; k < 6; ++k) {
    soft.features[k] = k == 3 ? 0.0 : std::log(0.1);
    steep.features[k] = k == 3 ? 0.0 : std::log(0.9);
  }
  soft.features[6] = steep.features[6] = 0.5;
  EXPECT_GT(sharpness_score(decoded, soft), sharpness_score(decoded, steep));
}

// Every refusal is one line naming the file; the model is left as it was.
TEST(SharpnessModelFile, RefusesFilesThatAreNotThisModel) {
  ScopedTempDir dir;
  const Bytes good = encode_sharpness_model(odd_model());
  const std::string not_model = "is not a sharpness model file";
  const std::string bad_size = not_model + ": it must be exactly 324 bytes long";
  const std::string bad_numbers = "holds numbers that are not finite or out of range";
  auto with = [&good](const std::function<void(Bytes&)>& change) {
    Bytes b = good;
    change(b);
    return b;
  };
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr double inf = std::numeric_limits<double>::infinity();
  const std::pair<Bytes, std::string> cases[] = {
      {{}, not_model},
      {Bytes(good.begin(), good.begin() + 20), not_model},
      {Bytes(good.begin(), good.begin() + COUNT_AT + 4), bad_size},
      {Bytes(good.begin(), good.end() - 1), bad_size},
      {with([](Bytes& b) { b.push_back(0); }), bad_size},
      {with([](Bytes& b) { b[0] = 'l'; }), not_model},
      {with([](Bytes& b) { std::memcpy(b.data(), "LUMVETSV", 8); }), not_model},
      {with([](Bytes& b) { put_u32(b, VERSION_AT, 2); }),
       "has format version 2; this lumvet reads version 1"},
      {with([](Bytes& b) { b[NAME_AT + 11] = '1'; }),
       "is for feature set edge-slope-1 with 11 features; lumvet measures edge-slope-2 with 11"},
      {with([](Bytes& b) { std::memset(b.data() + NAME_AT, '\n', 16); }),
       "is for feature set ???????????????? with 11 features; lumvet measures edge-slope-2 with "
       "11"},
      {with([](Bytes& b) { put_u32(b, COUNT_AT, 8); }),
       "is for feature set edge-slope-2 with 8 features; lumvet measures edge-slope-2 with 11"},
      {with([](Bytes& b) { put_f64(b, FEATURES_AT + 16, nan); }), bad_numbers},
      {with([](Bytes& b) { put_f64(b, TAIL_AT, inf); }), bad_numbers},
      {with([](Bytes& b) { put_f64(b, TAIL_AT + 16, 1e300); }), bad_numbers},
      {with([](Bytes& b) { put_f64(b, FEATURES_AT + 8, 0.0); }), bad_numbers},
      {with([](Bytes& b) { put_f64(b, FEATURES_AT + 24 * 3 + 8, -0.0); }), bad_numbers},
      {with([](Bytes& b) { put_f64(b, FEATURES_AT + 8, 1e-9); }), bad_numbers},
  };
  int n = 0;
  for (const auto& [bytes, reason] : cases) {
    const std::string path = dir.file("model" + std::to_string(n++) + ".lvsm");
    testing::write_bytes(path, bytes);
    SharpnessModel model = odd_model();
    std::string error;
    EXPECT_FALSE(load_sharpness_model_file(path, model, error)) << reason;
    EXPECT_EQ(error, "model file " + path + " " + reason);
    EXPECT_EQ(encode_sharpness_model(model), good) << reason;
  }
  // A missing file and a model that loads: programs_test.
}

// Scores run from 0 (surely sharp) to 100 (surely blurred) through the
// calibration, rounded to the nearest per cent.
TEST(SharpnessModelFile, ScoreIsTheCalibratedChanceOfBlur) {
  SharpnessModel m;
  m.mean.assign(SHARPNESS_FEATURE_COUNT, 0.0);
  m.scale.assign(SHARPNESS_FEATURE_COUNT, 2.0);
  m.weights.assign(SHARPNESS_FEATURE_COUNT, 0.0);
  m.weights[0] = -1.0;  // steeper edges: less blurred
  m.calibration_a = -1.0;
  SharpnessMeasure x;
  x.measurable = true;
  const std::pair<double, std::int32_t> cases[] = {
      {0.0, 50},  {-2.0 * std::log(3.0), 75}, {2.0 * std::log(3.0), 25}, {-100.0, 100},
      {100.0, 0}, {-2.0 * std::log(99.0), 99}};
  for (const auto& [f0, score] : cases) {
    x.features[0] = f0;
    EXPECT_EQ(sharpness_score(m, x), score) << f0;
  }
}

}  // namespace
}  // namespace lumvet
