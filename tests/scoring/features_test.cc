#include "scoring/features.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::make_test_bitmap;
using testing::make_uniform_bitmap;

TEST(PatchSide, WorkedSizesAndMeasurableLimits) {
  const struct {
    int w, h, side;
  } cases[] = {{4000, 3000, 244},
               {6000, 4000, 346},
               {1920, 1080, 101},
               {640, 480, 39},
               {100, 100, 7},
               {40, 20, 2},
               {15, 14, 1},
               {14, 14, 0},
               // 64-bit products keep the formula beyond 143,165,576 pixels.
               {16384, 16384, 1158}};
  for (const auto& c : cases) EXPECT_EQ(patch_side(c.w, c.h), c.side) << c.w << "x" << c.h;
  for (auto [w, h] : {std::pair{15, 14}, std::pair{1, 1}, std::pair{1, 199}}) {
    EXPECT_TRUE(image_is_measurable(w, h)) << w << "x" << h;
  }
  for (auto [w, h] : {std::pair{1, 200}, std::pair{800, 1}, std::pair{0, 10},
                      std::pair{16385, 16384}}) {  // the last above MAX_IMAGE_PIXELS
    EXPECT_FALSE(image_is_measurable(w, h)) << w << "x" << h;
  }
}

TEST(PatchFeatures, WorkedValues) {
  RandomState rs;
  const PatchPlacement p = draw_patch_placement(4000, 3000, rs);
  EXPECT_EQ(p.side, 244);
  EXPECT_EQ(p.x[0], 1783);
  EXPECT_EQ(p.y[0], 1785);
  EXPECT_EQ(p.x[1], 1733);
  EXPECT_EQ(p.y[1], 1622);

  // The 2x2 patch of luminances red, green, blue, white.
  PatchStats s;
  for (double v : {7650.0, 15045.0, 2805.0, 25500.0}) s.add(v);
  EXPECT_EQ(s.deviation(), 8554.860460580288);
  const std::uint8_t red[4] = {0, 0, 255, 0}, green[4] = {0, 255, 0, 0}, blue[4] = {255, 0, 0, 0};
  EXPECT_EQ(pixel_luminance(red), 7650);
  EXPECT_EQ(pixel_luminance(green), 15045);
  EXPECT_EQ(pixel_luminance(blue), 2805);

  rs.value = 1;
  FeatureVector f;
  ASSERT_TRUE(extract_patch_features(testing::make_reference_bitmap(), f, rs));
  EXPECT_EQ(f[0], 2186.824155596421);
  EXPECT_EQ(f[1], 2229.485027422252);
  EXPECT_EQ(f[2], 1882.217257890279);
  EXPECT_EQ(f[29], 1819.184028596337);
  EXPECT_EQ(rs.value, 130060903);
}

TEST(PatchFeatures, UniformAndAlternatingBitmaps) {
  RandomState rs{12345};
  FeatureVector f;
  ASSERT_TRUE(extract_patch_features(make_uniform_bitmap(300, 200, 10, 20, 30), f, rs));
  for (double v : f) EXPECT_EQ(v, 0.0);

  const Bitmap32 columns = make_test_bitmap(
      200, 100, [](int, int j, std::uint8_t* p) { p[0] = p[1] = p[2] = (j % 2) ? 255 : 0; });
  for (std::int32_t seed : {1, 99, -7}) {
    RandomState r{seed};
    ASSERT_TRUE(extract_patch_features(columns, f, r));
    for (double v : f) EXPECT_EQ(v, 12750.0);
  }
}

TEST(PatchFeatures, TinyBitmapsDrawSixtyValuesUnmeasurableOnesNone) {
  for (auto [w, h] : {std::pair{14, 14}, std::pair{15, 14}, std::pair{1, 1}}) {
    const Bitmap32 b = make_test_bitmap(w, h, [](int i, int j, std::uint8_t* p) {
      p[0] = p[1] = p[2] = static_cast<std::uint8_t>(i * 31 + j * 17);
    });
    RandomState rs;
    FeatureVector f;
    f.fill(-1.0);
    ASSERT_TRUE(extract_patch_features(b, f, rs));
    for (double v : f) EXPECT_EQ(v, 0.0);
    EXPECT_EQ(rs.value, random_jump(1, 60)) << w << "x" << h;
  }
  for (auto [w, h] : {std::pair{1, 800}, std::pair{800, 1}, std::pair{1, 200}}) {
    RandomState rs{42};
    FeatureVector f;
    f.fill(7.0);
    EXPECT_FALSE(extract_patch_features(make_uniform_bitmap(w, h, 1, 2, 3), f, rs));
    EXPECT_EQ(rs.value, 42);
    for (double v : f) EXPECT_EQ(v, 7.0);
  }
}

TEST(PatchFeatures, LastRowAndColumnNeverRead) {
  // Everything is grey except the last row and the last column.
  const Bitmap32 b = make_test_bitmap(60, 40, [](int i, int j, std::uint8_t* p) {
    p[0] = p[1] = p[2] = (i == 39 || j == 59) ? 255 : 100;
  });
  RandomState rs{777};
  FeatureVector f;
  for (int draw = 0; draw < 100; ++draw) {
    ASSERT_TRUE(extract_patch_features(b, f, rs));
    for (double v : f) ASSERT_EQ(v, 0.0);
  }
}

}  // namespace
}  // namespace lumvet
