// Scoring image files: decode once, two draws, the average truncated; refused files
// draw nothing.
#include "scoring/file_scoring.h"

#include <gtest/gtest.h>

#include "imaging/imaging.h"
#include "scoring/features.h"
#include "tests/imaging/image_writers.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

class FileScoringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    start_imaging_library();
    init_embedded_model(model);
  }
  void TearDown() override { release_svm_model(model); }

  SvmModel model;
  testing::ScopedTempDir dir;
};

TEST_F(FileScoringTest, ReferenceImageFromStateOne) {
  const std::string path = dir.file("reference.png");
  ASSERT_TRUE(testing::write_png(path, testing::make_reference_bitmap()));
  RandomState rs;
  const FileScore s = score_image_file_checked(model, path, FEATURE_SCALE, rs);
  EXPECT_TRUE(s.decoded);
  EXPECT_EQ(s.score, -48);  // (-73 + -23) / 2
  EXPECT_EQ(rs.value, 280090412);
  EXPECT_EQ(rs.value, random_jump(1, 120));
}

TEST_F(FileScoringTest, UniformImagesScore304) {
  for (const auto& [name, w, h] : {std::tuple{"uniform.png", 64, 48}, std::tuple{"one.png", 1, 1},
                                   std::tuple{"small.png", 14, 14}}) {
    const std::string path = dir.file(name);
    ASSERT_TRUE(testing::write_png(path, testing::make_uniform_bitmap(w, h, 90, 120, 200)));
    RandomState rs;
    EXPECT_EQ(score_image_file(model, path, FEATURE_SCALE, rs), 304) << name;
    EXPECT_EQ(rs.value, random_jump(1, 120)) << name;
  }
}

TEST_F(FileScoringTest, RefusedFilesScoreZeroAndDrawNothing) {
  testing::write_text(dir.file("x.jpg"), "not an image");
  // Decodable, but an aspect ratio of 200:1 or more leaves no room for patches.
  ASSERT_TRUE(testing::write_png(dir.file("thin.png"), testing::make_uniform_bitmap(1, 800, 1, 2, 3)));
  ASSERT_TRUE(testing::write_png(dir.file("flat.png"), testing::make_uniform_bitmap(800, 1, 1, 2, 3)));
  for (const char* name : {"missing.jpg", "x.jpg", "thin.png", "flat.png"}) {
    RandomState rs{12345};
    const FileScore s = score_image_file_checked(model, dir.file(name), FEATURE_SCALE, rs);
    EXPECT_FALSE(s.decoded) << name;
    EXPECT_EQ(s.score, 0) << name;
    EXPECT_EQ(rs.value, 12345) << name;
    FeatureVector features;
    features.fill(-1.0);
    EXPECT_FALSE(extract_file_features(dir.file(name), features, rs)) << name;
    EXPECT_EQ(features[0], -1.0);
    EXPECT_EQ(features[29], -1.0);
    EXPECT_EQ(rs.value, 12345) << name;
  }
}

TEST_F(FileScoringTest, FileFeaturesEqualThoseOfTheBitmap) {
  const Bitmap32 reference = testing::make_reference_bitmap();
  ASSERT_TRUE(testing::write_png(dir.file("reference.png"), reference));
  RandomState from_file, from_bitmap;
  FeatureVector a, b;
  ASSERT_TRUE(extract_file_features(dir.file("reference.png"), a, from_file));
  ASSERT_TRUE(extract_patch_features(reference, b, from_bitmap));
  EXPECT_EQ(a, b);
  EXPECT_EQ(from_file.value, random_jump(1, 60));
}

TEST(AverageDrawScores, TruncatesTowardZero) {
  EXPECT_EQ(average_draw_scores(99, 100), 99);
  EXPECT_EQ(average_draw_scores(-3, 0), -1);
  EXPECT_EQ(average_draw_scores(-3, -4), -3);
  EXPECT_EQ(average_draw_scores(-73, -23), -48);
}

}  // namespace
}  // namespace lumvet
