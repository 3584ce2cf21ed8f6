// The streaming path (score_image_file_checked, extract_file_features) against the
// plain one (load_bitmap32, then score_bitmap on the full-frame bitmap), bit for
// bit: the same scores, features, decode outcomes and final RandomState, for
// every kind of file and from many starting states.
#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <filesystem>

#include "imaging/imaging.h"
#include "scoring/features.h"
#include "scoring/file_scoring.h"
#include "scoring/patch_stream.h"
#include "tests/imaging/image_writers.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::JpegColor;
using testing::JpegOptions;

constexpr std::int32_t SEEDS[] = {1, 12345, -7, 2147483646, 739806647};

// Smooth areas, hard edges and noise, so that patch statistics take many values;
// the reserved byte carries a fourth channel for CMYK.
Bitmap32 photo_like(int width, int height, unsigned salt) {
  return testing::make_test_bitmap(width, height, [=](int i, int j, std::uint8_t* p) {
    unsigned v = static_cast<unsigned>(i * 7919 + j * 104729) ^ salt;
    v *= 2654435761u;
    const bool textured = ((i / 37) + (j / 53)) % 3 != 0;
    p[0] = static_cast<std::uint8_t>(textured ? v >> 24 : (i + j) / 3);
    p[1] = static_cast<std::uint8_t>((i * 3 + j) & 0xFF);
    p[2] = static_cast<std::uint8_t>(textured ? (v >> 8) & 0x7F : i / 2);
    p[3] = static_cast<std::uint8_t>(255 - (i + 2 * j) % 180);
  });
}

std::vector<std::uint64_t> bits(const FeatureVector& f) {
  std::vector<std::uint64_t> b;
  for (double v : f) b.push_back(std::bit_cast<std::uint64_t>(v));
  return b;
}

class FastScoringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    start_imaging_library();
    init_embedded_model(model);
  }
  void TearDown() override { release_svm_model(model); }

  // Both paths from the first `seeds` SEEDS: the same score, outcome and final
  // state, and the same single-draw features. Returns how many seeds decoded.
  int expect_same(const std::string& path, const std::string& what, int seeds = 5) {
    int decoded = 0;
    for (int s = 0; s < seeds; ++s) {
      const std::int32_t seed = SEEDS[s];
      RandomState fast{seed}, plain{seed};
      const FileScore a = score_image_file_checked(model, path, FEATURE_SCALE, fast);
      const FileScore b = score_image_file_reference(model, path, FEATURE_SCALE, plain);
      EXPECT_EQ(a.score, b.score) << what << " seed " << seed;
      EXPECT_EQ(a.decoded, b.decoded) << what << " seed " << seed;
      EXPECT_EQ(fast.value, plain.value) << what << " seed " << seed;
      EXPECT_EQ(fast.value, b.decoded ? random_jump(seed, 120) : seed) << what;
      decoded += b.decoded;

      FeatureVector fa, fb;
      fa.fill(-1.0);
      fb.fill(-1.0);
      RandomState fast1{seed}, plain1{seed};
      EXPECT_EQ(extract_file_features(path, fa, fast1),
                extract_file_features_reference(path, fb, plain1))
          << what;
      EXPECT_EQ(bits(fa), bits(fb)) << what << " seed " << seed;
      EXPECT_EQ(fast1.value, plain1.value) << what;
    }
    return decoded;
  }

  SvmModel model;
  testing::ScopedTempDir dir;
};

TEST_F(FastScoringTest, JpegSamplingsModesAndSizes) {
  struct Mode {
    const char* name;
    JpegOptions options;
  } modes[] = {
      {"420", {90, 2, 2, false, 0, JpegColor::ycc}},
      {"422", {85, 2, 1, false, 0, JpegColor::ycc}},
      {"440", {85, 1, 2, false, 0, JpegColor::ycc}},
      {"444", {95, 1, 1, false, 0, JpegColor::ycc}},
      {"progressive_420", {80, 2, 2, true, 0, JpegColor::ycc}},
      {"progressive_444", {80, 1, 1, true, 0, JpegColor::ycc}},
      {"restart_markers", {75, 2, 2, false, 1, JpegColor::ycc}},
      {"gray", {90, 1, 1, false, 0, JpegColor::gray}},
      {"gray_progressive", {90, 1, 1, true, 0, JpegColor::gray}},
      {"cmyk", {90, 1, 1, false, 0, JpegColor::cmyk}},
      {"ycck", {90, 2, 2, false, 0, JpegColor::ycck}},
  };
  // Odd and even sizes, wide and tall, tiny (no pixel measured), and large
  // enough for many patches to be in progress at once.
  const std::pair<int, int> sizes[] = {{14, 14},  {15, 14},   {37, 23},  {200, 100},
                                       {97, 613}, {641, 479}, {803, 601}};
  unsigned salt = 1;
  for (const Mode& m : modes) {
    for (const auto& [w, h] : sizes) {
      const std::string what =
          std::string(m.name) + " " + std::to_string(w) + "x" + std::to_string(h);
      const std::string path = dir.file("image.jpg");
      ASSERT_TRUE(testing::write_jpeg(path, photo_like(w, h, salt++), m.options)) << what;
      EXPECT_EQ(expect_same(path, what), 5) << what;
    }
  }
}

TEST_F(FastScoringTest, SamplePhotos) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(LUMVET_SOURCE_DIR "/samples")) {
    if (entry.path().extension() != ".jpg") continue;
    EXPECT_EQ(expect_same(entry.path().string(), entry.path().filename().string(), 2), 2);
    ++files;
  }
  EXPECT_EQ(files, 17);
}

// The SSE2 code that every x86-64 processor runs, on the same photos.
TEST_F(FastScoringTest, SamplePhotosWithoutProcessorExtensions) {
  allow_cpu_extensions(false);
  for (const char* name : {"forest_stream.jpg", "dogs_window.jpg", "paint_brushes_blur_s4.jpg"}) {
    EXPECT_EQ(expect_same(std::string(LUMVET_SOURCE_DIR "/samples/") + name, name, 2), 2);
  }
  allow_cpu_extensions(true);
}

TEST_F(FastScoringTest, OtherFormatsAndRefusedFiles) {
  const Bitmap32 b = photo_like(203, 151, 9);
  ASSERT_TRUE(testing::write_png(dir.file("a.png"), b));
  ASSERT_TRUE(testing::write_tiff(dir.file("a.tif"), 5, 4, 3, std::vector<std::uint8_t>(60, 77)));
  testing::write_bytes(dir.file("a.bmp"), testing::bmp_bytes_24(b, false));
  testing::GifFrame frame;
  frame.width = 40, frame.height = 30;
  for (int i = 0; i < 1200; ++i) frame.indices.push_back(static_cast<std::uint8_t>(i * 7 % 3));
  ASSERT_TRUE(
      testing::write_gif(dir.file("a.gif"), 40, 30, {0, 0, 0, 255, 255, 255, 9, 99, 199}, {frame}));
  for (const char* name : {"a.png", "a.tif", "a.bmp", "a.gif"}) {
    EXPECT_EQ(expect_same(dir.file(name), name), 5) << name;
  }

  // Decodable, but too thin for patches; and no image at all.
  ASSERT_TRUE(testing::write_jpeg(dir.file("thin.jpg"), photo_like(800, 1, 3)));
  ASSERT_TRUE(testing::write_jpeg(dir.file("tall.jpg"), photo_like(1, 200, 3)));
  ASSERT_TRUE(testing::write_png(dir.file("thin.png"), photo_like(1, 800, 3)));
  testing::write_text(dir.file("text.jpg"), "not an image");
  testing::write_text(dir.file("empty.jpg"), "");
  testing::make_dir(dir.file("folder.jpg"));
  for (const char* name :
       {"thin.jpg", "tall.jpg", "thin.png", "text.jpg", "empty.jpg", "folder.jpg", "missing.jpg"}) {
    EXPECT_EQ(expect_same(dir.file(name), name), 0) << name;
  }
}

// Every cut and a spread of damaged bytes of a baseline and a progressive file:
// whether the decode succeeds (a cut file decodes as far as its data goes),
// fails at the header or fails half-way, both paths end the same way.
TEST_F(FastScoringTest, TruncatedAndDamagedJpegs) {
  for (bool progressive : {false, true}) {
    const std::string source = dir.file("source.jpg");
    ASSERT_TRUE(testing::write_jpeg(source, photo_like(61, 45, 5),
                                    {85, 2, 2, progressive, 0, JpegColor::ycc}));
    const std::vector<std::uint8_t> bytes = testing::read_bytes(source);
    const std::string path = dir.file("damaged.jpg");
    int decoded = 0, refused = 0;
    for (std::size_t n = 0; n < bytes.size(); n += (n < 700 ? 23 : 97)) {
      std::remove(path.c_str());
      testing::write_bytes(path, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + n));
      const int d = expect_same(path, "cut at " + std::to_string(n));
      decoded += d != 0;
      refused += d == 0;
    }
    for (std::size_t i = 2; i < bytes.size(); i += 41) {
      std::vector<std::uint8_t> damaged = bytes;
      damaged[i] ^= 0x5A;
      std::remove(path.c_str());
      testing::write_bytes(path, damaged);
      expect_same(path, "byte " + std::to_string(i));
    }
    EXPECT_GT(decoded, 0);
    EXPECT_GT(refused, 0);
  }
}

// A run of files from one RandomState, decodable and not mixed: each path
// carries the state from file to file, and both give the same sequence.
TEST_F(FastScoringTest, MixedSequenceCarriesTheSameState) {
  std::vector<std::string> files;
  for (int k = 0; k < 12; ++k) {
    char base[16];
    std::snprintf(base, sizeof base, "f%02d", k);
    const std::string name = dir.file(base);
    if (k % 4 == 1) {
      testing::write_text(name, "broken");
    } else if (k % 4 == 3) {
      ASSERT_TRUE(testing::write_png(name, photo_like(90 + k, 70, static_cast<unsigned>(k))));
    } else {
      ASSERT_TRUE(
          testing::write_jpeg(name, photo_like(300 + 17 * k, 200 + 9 * k, static_cast<unsigned>(k)),
                              {90, 2, 2, k % 3 == 0, 0, JpegColor::ycc}));
    }
    files.push_back(name);
  }
  for (std::int32_t seed : SEEDS) {
    RandomState fast{seed}, plain{seed};
    for (const std::string& f : files) {
      const FileScore a = score_image_file_checked(model, f, FEATURE_SCALE, fast);
      const FileScore b = score_image_file_reference(model, f, FEATURE_SCALE, plain);
      ASSERT_EQ(a.score, b.score) << f;
      ASSERT_EQ(a.decoded, b.decoded) << f;
      ASSERT_EQ(fast.value, plain.value) << f;
    }
    EXPECT_EQ(fast.value, random_jump(seed, 120 * 9));
  }
}

// Each image starts from its own state; how many images this thread measured
// before (the reused buffers) changes nothing.
TEST_F(FastScoringTest, MeasuringTwoDrawsEqualsTwoSingleDraws) {
  const std::string path = dir.file("big.jpg");
  ASSERT_TRUE(testing::write_jpeg(path, photo_like(1500, 1000, 77)));
  const std::string small = dir.file("small.jpg");
  ASSERT_TRUE(testing::write_jpeg(small, photo_like(120, 90, 78)));
  for (std::int32_t seed : SEEDS) {
    RandomState both{seed}, one_by_one{seed};
    FeatureVector two[2], first, second;
    ASSERT_TRUE(measure_image_file(path, 2, both, two));
    ASSERT_TRUE(extract_file_features(small, first, one_by_one));  // different sizes in between
    one_by_one.value = seed;
    ASSERT_TRUE(extract_file_features(path, first, one_by_one));
    ASSERT_TRUE(extract_file_features(path, second, one_by_one));
    EXPECT_EQ(bits(two[0]), bits(first));
    EXPECT_EQ(bits(two[1]), bits(second));
    EXPECT_EQ(both.value, one_by_one.value);
  }
}

}  // namespace
}  // namespace lumvet
