// Scoring image files: decode once, two draws, the average truncated; refused files
// draw nothing. The streaming path (score_image_file_checked, extract_file_features)
// against the plain one (load_bitmap32, then the full-frame bitmap), bit for bit:
// the same scores, features, decode outcomes and final RandomState.
#include "scoring/file_scoring.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "imaging/imaging.h"
#include "platform/cpu_features.h"
#include "scoring/features.h"
#include "tests/imaging/image_writers.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::JpegColor;

constexpr std::int32_t SEEDS[] = {1, -7, 2147483646};

class FileScoringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    start_imaging_library();
    init_embedded_model(model);
  }
  void TearDown() override { release_svm_model(model); }

  // Both paths from each seed: the same score, outcome, single-draw features and
  // final state; a refused file scores 0 and draws nothing. Returns how many
  // seeds decoded.
  int expect_same(const std::string& path, const std::string& what, int seeds = 3) {
    int decoded = 0;
    for (int s = 0; s < seeds; ++s) {
      const std::int32_t seed = SEEDS[s];
      RandomState fast{seed}, plain{seed};
      const FileScore a = score_image_file_checked(model, path, FEATURE_SCALE, fast);
      const FileScore b = score_image_file_reference(model, path, FEATURE_SCALE, plain);
      EXPECT_EQ(a.score, b.decoded ? b.score : 0) << what << " seed " << seed;
      EXPECT_EQ(a.decoded, b.decoded) << what << " seed " << seed;
      EXPECT_EQ(fast.value, b.decoded ? random_jump(seed, 120) : seed) << what;
      EXPECT_EQ(fast.value, plain.value) << what;
      decoded += b.decoded;

      FeatureVector fa, fb;
      fa.fill(-1.0);
      fb.fill(-1.0);
      RandomState fast1{seed}, plain1{seed};
      EXPECT_EQ(extract_file_features(path, fa, fast1), b.decoded) << what;
      EXPECT_EQ(extract_file_features_reference(path, fb, plain1), b.decoded) << what;
      EXPECT_EQ(std::memcmp(fa.data(), fb.data(), sizeof fa), 0) << what << " seed " << seed;
      EXPECT_EQ(fa[0] == -1.0 && fa[29] == -1.0, !b.decoded) << what;
      EXPECT_EQ(fast1.value, plain1.value) << what;
    }
    return decoded;
  }

  SvmModel model;
  testing::ScopedTempDir dir;
};

TEST_F(FileScoringTest, ReferenceAndUniformImages) {
  ASSERT_TRUE(testing::write_png(dir.file("reference.png"), testing::make_reference_bitmap()));
  RandomState rs;
  const FileScore s = score_image_file_checked(model, dir.file("reference.png"), FEATURE_SCALE, rs);
  EXPECT_TRUE(s.decoded);
  EXPECT_EQ(s.score, -48);  // draws -73 and -23
  EXPECT_EQ(rs.value, 280090412);
  EXPECT_EQ(average_draw_scores(-3, 0), -1);  // truncated toward zero
  for (const auto& [w, h] : {std::pair{64, 48}, {1, 1}, {14, 14}}) {
    ASSERT_TRUE(
        testing::write_png(dir.file("u.png"), testing::make_uniform_bitmap(w, h, 90, 120, 200)));
    rs.value = 1;
    EXPECT_EQ(score_image_file(model, dir.file("u.png"), FEATURE_SCALE, rs), 304) << w;
    EXPECT_EQ(rs.value, random_jump(1, 120)) << w;
  }
}

TEST_F(FileScoringTest, FastPathEqualsPlainPathForJpegModesAndSizes) {
  const testing::JpegOptions modes[] = {
      {90, 2, 2, false, 0, JpegColor::ycc},  {85, 2, 1, false, 0, JpegColor::ycc},
      {85, 1, 2, false, 0, JpegColor::ycc},  {95, 1, 1, false, 0, JpegColor::ycc},
      {80, 2, 2, true, 0, JpegColor::ycc},   {80, 1, 1, true, 0, JpegColor::ycc},
      {75, 2, 2, false, 1, JpegColor::ycc},  {90, 1, 1, false, 0, JpegColor::gray},
      {90, 1, 1, true, 0, JpegColor::gray},  {90, 1, 1, false, 0, JpegColor::cmyk},
      {90, 2, 2, false, 0, JpegColor::ycck},
  };
  // Tiny (no pixel measured), odd, tall, and large enough for many patches to be
  // in progress at once.
  const std::pair<int, int> sizes[] = {{14, 14}, {37, 23}, {97, 613}, {641, 479}};
  unsigned salt = 1;
  for (std::size_t m = 0; m < std::size(modes); ++m) {
    for (const auto& [w, h] : sizes) {
      const std::string what =
          "mode " + std::to_string(m) + " " + std::to_string(w) + "x" + std::to_string(h);
      ASSERT_TRUE(testing::write_jpeg(dir.file("image.jpg"), testing::test_picture(w, h, salt++),
                                      modes[m]));
      EXPECT_EQ(expect_same(dir.file("image.jpg"), what), 3) << what;
    }
  }
  // The sample photos, in turn with SSE2 only (what every x86-64 runs), without
  // FMA, and with every extension.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(LUMVET_SOURCE_DIR "/samples")) {
    if (entry.path().extension() != ".jpg") continue;
    limit_cpu_extensions(static_cast<CpuExtensionLimit>(files++ % 3));
    EXPECT_EQ(expect_same(entry.path().string(), entry.path().filename().string(), 2), 2);
  }
  limit_cpu_extensions(CpuExtensionLimit::all);
  EXPECT_EQ(files, 17);
}

// Every format, and files that are not measurable (an aspect ratio of 200:1 or
// more leaves no room for patches) or no image at all; then all of them in a row
// from one RandomState, so that failures come in the middle of the sequence.
TEST_F(FileScoringTest, FastPathEqualsPlainPathForOtherFormatsAndRefusedFiles) {
  const Bitmap32 b = testing::test_picture(203, 151, 9);
  ASSERT_TRUE(testing::write_png(dir.file("a.png"), b));
  ASSERT_TRUE(testing::write_tiff(dir.file("a.tif"), 5, 4, 3, std::vector<std::uint8_t>(60, 77)));
  testing::write_bytes(dir.file("a.bmp"), testing::bmp_bytes(b, false));
  testing::GifFrame frame{0, 0, 40, 30, false, {}, {}, -1};
  for (int i = 0; i < 1200; ++i) frame.indices.push_back(static_cast<std::uint8_t>(i * 7 % 3));
  ASSERT_TRUE(
      testing::write_gif(dir.file("a.gif"), 40, 30, {0, 0, 0, 255, 255, 255, 9, 99, 199}, {frame}));
  ASSERT_TRUE(testing::write_jpeg(dir.file("a.jpg"), testing::test_picture(317, 209, 4)));
  ASSERT_TRUE(testing::write_jpeg(dir.file("p.jpg"), testing::test_picture(300, 200, 5),
                                  {90, 2, 2, true, 0, JpegColor::ycc}));
  ASSERT_TRUE(testing::write_jpeg(dir.file("thin.jpg"), testing::test_picture(800, 1, 3)));
  ASSERT_TRUE(testing::write_jpeg(dir.file("tall.jpg"), testing::test_picture(1, 200, 3)));
  ASSERT_TRUE(testing::write_png(dir.file("thin.png"), testing::test_picture(1, 800, 3)));
  testing::write_text(dir.file("x.jpg"), "not an image");
  testing::make_dir(dir.file("folder.jpg"));
  const std::vector<std::string> names = {"a.jpg", "x.jpg",      "a.png", "thin.jpg",
                                          "a.tif", "tall.jpg",   "a.bmp", "thin.png",
                                          "a.gif", "folder.jpg", "p.jpg", "none.jpg"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(expect_same(dir.file(names[i]), names[i]), i % 2 == 0 ? 3 : 0) << names[i];
  }
  for (std::int32_t seed : SEEDS) {
    RandomState fast{seed}, plain{seed};
    for (const std::string& name : names) {
      const FileScore a = score_image_file_checked(model, dir.file(name), FEATURE_SCALE, fast);
      const FileScore b = score_image_file_reference(model, dir.file(name), FEATURE_SCALE, plain);
      EXPECT_EQ(a.score, b.score) << name;
      EXPECT_EQ(fast.value, plain.value) << name;
    }
    EXPECT_EQ(fast.value, random_jump(seed, 120 * 6));
  }
}

// Cuts and damaged bytes of a baseline and a progressive file: whether the decode
// succeeds (a cut file decodes as far as its data goes), fails at the header or
// fails half-way, both paths end the same way.
TEST_F(FileScoringTest, FastPathEqualsPlainPathForTruncatedAndDamagedJpegs) {
  for (bool progressive : {false, true}) {
    ASSERT_TRUE(testing::write_jpeg(dir.file("source.jpg"), testing::test_picture(61, 45, 5),
                                    {85, 2, 2, progressive, 0, JpegColor::ycc}));
    const std::vector<std::uint8_t> bytes = testing::read_bytes(dir.file("source.jpg"));
    const std::string path = dir.file("damaged.jpg");
    int decoded = 0, refused = 0;
    for (std::size_t n = 0; n < bytes.size(); n += (n < 700 ? 37 : 131)) {
      std::remove(path.c_str());  // a fresh file: rewriting one in place makes ext4 flush it
      testing::write_bytes(path, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + n));
      (expect_same(path, "cut at " + std::to_string(n), 1) ? decoded : refused) += 1;
    }
    for (std::size_t i = 2; i < bytes.size(); i += 61) {
      std::vector<std::uint8_t> damaged = bytes;
      damaged[i] ^= 0x5A;
      std::remove(path.c_str());
      testing::write_bytes(path, damaged);
      expect_same(path, "byte " + std::to_string(i), 1);
    }
    EXPECT_GT(decoded, 0);
    EXPECT_GT(refused, 0);
  }
}

}  // namespace
}  // namespace lumvet
