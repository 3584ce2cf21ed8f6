// The luminance the sharpness assessor reads: rows from the imaging layer for a
// sink that wants only luminance, against the full-colour decode and libjpeg's
// own greyscale output, and files measured through them.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "imaging/imaging.h"
#include "sharpness/assess.h"
#include "tests/sharpness/synthetic.h"
#include "tests/support/image_files.h"
#include "tests/support/test_photos.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::luma_of_bitmap;
using testing::luma_rows;
using testing::ScopedTempDir;

// libjpeg's greyscale output of a JPEG file, as djpeg writes it.
testing::LumaImage djpeg_grey(const std::string& jpeg, const ScopedTempDir& dir) {
  const std::string pgm = dir.file("grey.pgm");
  std::remove(pgm.c_str());
  EXPECT_EQ(testing::run_program("/usr/bin/djpeg", {"-grayscale", "-pnm", "-outfile", pgm, jpeg})
                .exit_code,
            0);
  const std::vector<std::uint8_t> bytes = testing::read_bytes(pgm);
  const std::string text(bytes.begin(), bytes.end());
  int width = 0, height = 0, maxval = 0, header = 0;
  testing::LumaImage image;
  if (std::sscanf(text.c_str(), "P5 %d %d %d%n", &width, &height, &maxval, &header) != 3) {
    ADD_FAILURE() << "djpeg wrote no greyscale image for " << jpeg;
    return image;
  }
  image.width = width;
  image.height = height;
  image.pixels.assign(bytes.begin() + header + 1, bytes.end());
  return image;
}

// Where two luminance images first differ, or "".
std::string difference(const testing::LumaImage& a, const testing::LumaImage& b) {
  std::ostringstream why;
  if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size()) {
    why << "size " << a.width << "x" << a.height << " vs " << b.width << "x" << b.height;
    return why.str();
  }
  for (std::size_t i = 0; i < a.pixels.size(); ++i) {
    if (a.pixels[i] != b.pixels[i]) {
      why << "pixel (" << i % a.width << ", " << i / a.width << "): " << +a.pixels[i] << " vs "
          << +b.pixels[i];
      return why.str();
    }
  }
  return "";
}

Bitmap32 colourful(std::int32_t width, std::int32_t height) {
  return testing::make_textured_bitmap(width, height, 7);
}

// A PNG's rows are exactly the luminance of its pixels (transparency over white
// included), whatever the decoder: the same conversion for every format.
TEST(Luminance, PngRowsAreTheLuminanceOfItsPixels) {
  ScopedTempDir dir;
  ASSERT_TRUE(testing::write_png(dir.file("rgb.png"), colourful(123, 77)));
  testing::PngImage rgba;
  rgba.width = 70;
  rgba.height = 41;
  rgba.color_type = PNG_COLOR_TYPE_RGB_ALPHA;
  for (int y = 0; y < rgba.height; ++y) {
    for (int x = 0; x < rgba.width; ++x) {
      rgba.data.insert(rgba.data.end(),
                       {static_cast<std::uint8_t>(3 * x), static_cast<std::uint8_t>(5 * y),
                        static_cast<std::uint8_t>(x * y), static_cast<std::uint8_t>(4 * x + y)});
    }
  }
  ASSERT_TRUE(testing::write_png(dir.file("rgba.png"), rgba));
  for (const char* name : {"rgb.png", "rgba.png"}) {
    EXPECT_EQ(difference(luma_rows(dir.file(name)), luma_of_bitmap(dir.file(name))), "") << name;
  }
}

// A JPEG stored as YCbCr or grey hands over its Y plane: exactly libjpeg's
// greyscale output, whatever the sampling, progression or restart markers; for
// a grey JPEG that is also the luminance of its colour decode.
TEST(Luminance, YccAndGreyJpegRowsAreLibjpegGreyscale) {
  ScopedTempDir dir;
  const Bitmap32 picture = colourful(123, 77);
  struct Case {
    const char* name;
    testing::JpegOptions options;
  };
  testing::JpegOptions progressive444;
  progressive444.h_samp = progressive444.v_samp = 1;
  progressive444.progressive = true;
  testing::JpegOptions restart422;
  restart422.v_samp = 1;
  restart422.restart_rows = 1;
  testing::JpegOptions grey;
  grey.color = testing::JpegColor::gray;
  const Case cases[] = {{"baseline420.jpg", {}},
                        {"progressive444.jpg", progressive444},
                        {"restart422.jpg", restart422},
                        {"grey.jpg", grey}};
  for (const Case& c : cases) {
    const std::string path = dir.file(c.name);
    ASSERT_TRUE(testing::write_jpeg(path, picture, c.options)) << c.name;
    const testing::LumaImage rows = luma_rows(path);
    EXPECT_EQ(difference(rows, djpeg_grey(path, dir)), "") << c.name;
    if (c.options.color == testing::JpegColor::gray) {
      EXPECT_EQ(difference(rows, luma_of_bitmap(path)), "") << c.name;
    }
  }
}

// CMYK and YCCK JPEGs have no luminance plane: their rows are the luminance of
// the colour decode, and they are measured like any other photo.
TEST(Luminance, CmykJpegRowsAreTheLuminanceOfItsColours) {
  ScopedTempDir dir;
  const testing::LumaImage checker = testing::make_checker({160, 130});
  Bitmap32 ink = testing::luma_to_bitmap(checker);  // C = M = Y = grey, K = 255: no black ink
  for (std::int32_t y = 0; y < ink.height; ++y) {
    for (std::int32_t x = 0; x < ink.width; ++x) ink.row(y)[4 * x + 3] = 255;
  }
  for (const auto colour : {testing::JpegColor::cmyk, testing::JpegColor::ycck}) {
    testing::JpegOptions options;
    options.color = colour;
    options.quality = 95;
    const std::string path = dir.file("ink.jpg");
    ASSERT_TRUE(testing::write_jpeg(path, ink, options));
    EXPECT_EQ(difference(luma_rows(path), luma_of_bitmap(path)), "");
    bool decoded = false;
    std::int32_t width = 0, height = 0;
    const SharpnessMeasure m = measure_sharpness_file(path, decoded, width, height);
    EXPECT_TRUE(decoded);
    EXPECT_EQ(width, 160);
    EXPECT_EQ(height, 130);
    ASSERT_TRUE(m.measurable);
    EXPECT_NEAR(m.features[0], testing::measure_luma(checker).features[0], 0.15);
  }
}

// Measuring a file is measuring its luminance rows: a lossless PNG gives the
// very features of the picture in memory.
TEST(Luminance, FileMeasureEqualsTheMeasureOfItsRows) {
  ScopedTempDir dir;
  testing::CheckerOptions o;
  o.width = 150;
  o.height = 99;
  o.sigma = 1.5;
  const testing::LumaImage checker = testing::make_checker(o);
  ASSERT_TRUE(testing::write_png(dir.file("checker.png"), testing::luma_to_bitmap(checker)));
  bool decoded = false;
  std::int32_t width = 0, height = 0;
  const SharpnessMeasure from_file =
      measure_sharpness_file(dir.file("checker.png"), decoded, width, height);
  const SharpnessMeasure in_memory = testing::measure_luma(checker);
  EXPECT_TRUE(decoded);
  EXPECT_EQ(from_file.measurable, in_memory.measurable);
  EXPECT_EQ(from_file.measured_tiles, in_memory.measured_tiles);
  EXPECT_EQ(from_file.features, in_memory.features);
}

// A file that does not decode, even one cut inside its headers, scores 0 and
// reports no size (a flat picture's 50: edge_slopes_test and programs_test).
TEST(Luminance, UndecodableFilesScoreZero) {
  ScopedTempDir dir;
  testing::write_text(dir.file("text.jpg"), "not a picture\n");
  ASSERT_TRUE(testing::write_jpeg(dir.file("whole.jpg"), colourful(64, 64)));
  std::vector<std::uint8_t> cut = testing::read_bytes(dir.file("whole.jpg"));
  cut.resize(20);
  testing::write_bytes(dir.file("cut.jpg"), cut);
  for (const char* name : {"text.jpg", "cut.jpg", "missing.jpg"}) {
    const SharpnessResult r = assess_sharpness_file(dir.file(name), embedded_sharpness_model());
    EXPECT_FALSE(r.decoded) << name;
    EXPECT_EQ(r.score, 0) << name;
    EXPECT_EQ(r.width, 0) << name;
    EXPECT_FALSE(r.measure.measurable) << name;
  }
}

}  // namespace
}  // namespace lumvet
