// Decoded pixels of every format against their source: JPEG against libjpeg-turbo's
// own djpeg, byte for byte; the lossless formats exactly.
#include <png.h>

#include <gtest/gtest.h>

#include "imaging/imaging.h"
#include "tests/imaging/image_writers.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::JpegColor;
using testing::JpegOptions;
using testing::PngImage;

// Smooth gradients with a fine pattern on top, so that every DCT frequency and the
// chroma upsampling matter; the reserved byte carries a fourth channel for CMYK.
Bitmap32 textured_bitmap(int width, int height) {
  return testing::make_test_bitmap(width, height, [](int i, int j, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>((i * j) % 256);
    p[1] = static_cast<std::uint8_t>((7 * j + 2 * i) % 256);
    p[2] = static_cast<std::uint8_t>(((i / 3) ^ (j / 2)) * 9 % 256);
    p[3] = static_cast<std::uint8_t>(255 - (i + j) % 200);
  });
}

class DecodeTest : public ::testing::Test {
 protected:
  void SetUp() override { start_imaging_library(); }

  // Decodes `path` with the library and with djpeg and compares every pixel.
  void expect_equals_djpeg(const std::string& path) {
    testing::ReferenceImage reference;
    ASSERT_TRUE(testing::djpeg_decode(path, dir.path(), reference)) << path;
    const std::optional<Bitmap32> decoded = load_bitmap32(path);
    ASSERT_TRUE(decoded.has_value()) << path;
    EXPECT_EQ(testing::compare_with_reference(*decoded, reference), "") << path;
  }

  Bitmap32 decode(const std::string& path) {
    std::optional<Bitmap32> b = load_bitmap32(path);
    EXPECT_TRUE(b.has_value()) << path;
    return b ? std::move(*b) : Bitmap32{};
  }

  testing::ScopedTempDir dir;
};

TEST_F(DecodeTest, JpegMatchesDjpegForEverySamplingAndMode) {
  if (testing::djpeg_program().empty()) GTEST_SKIP() << "djpeg (libjpeg-turbo-progs) not installed";
  struct Case {
    const char* name;
    int width, height;
    JpegOptions options;
  } cases[] = {
      {"420", 64, 48, {90, 2, 2, false, 0, JpegColor::ycc}},
      {"420_odd", 37, 23, {90, 2, 2, false, 0, JpegColor::ycc}},
      {"422_odd", 35, 17, {85, 2, 1, false, 0, JpegColor::ycc}},
      {"440_odd", 19, 33, {85, 1, 2, false, 0, JpegColor::ycc}},
      {"444_odd", 29, 31, {95, 1, 1, false, 0, JpegColor::ycc}},
      {"progressive_420_odd", 45, 27, {80, 2, 2, true, 0, JpegColor::ycc}},
      {"progressive_444", 40, 24, {80, 1, 1, true, 0, JpegColor::ycc}},
      {"restart_markers", 50, 41, {75, 2, 2, false, 1, JpegColor::ycc}},
      {"gray_odd", 33, 21, {90, 1, 1, false, 0, JpegColor::gray}},
      {"gray_progressive", 16, 9, {90, 1, 1, true, 0, JpegColor::gray}},
      {"cmyk", 23, 15, {90, 1, 1, false, 0, JpegColor::cmyk}},
      {"ycck_odd", 27, 19, {90, 1, 1, false, 0, JpegColor::ycck}},
      {"one_pixel", 1, 1, {90, 2, 2, false, 0, JpegColor::ycc}},
  };
  for (const Case& c : cases) {
    const std::string path = dir.file(std::string(c.name) + ".jpg");
    ASSERT_TRUE(testing::write_jpeg(path, textured_bitmap(c.width, c.height), c.options));
    expect_equals_djpeg(path);
  }
}

TEST_F(DecodeTest, CmykUsesInvertedValuesTimesBlack) {
  // One uniform CMYK colour survives JPEG exactly: C M Y K = 200 100 50 128 gives
  // R = (200*128 + 127)/255 = 100, G = (100*128 + 127)/255 = 50, B = (50*128 + 127)/255 = 25.
  const std::string path = dir.file("cmyk.jpg");
  const Bitmap32 src = testing::make_test_bitmap(16, 16, [](int, int, std::uint8_t* p) {
    p[0] = 200, p[1] = 100, p[2] = 50, p[3] = 128;
  });
  ASSERT_TRUE(testing::write_jpeg(path, src, {100, 1, 1, false, 0, JpegColor::cmyk}));
  const Bitmap32 b = decode(path);
  ASSERT_EQ(b.width, 16);
  EXPECT_EQ(b.row(5)[2], 100);
  EXPECT_EQ(b.row(5)[1], 50);
  EXPECT_EQ(b.row(5)[0], 25);
  EXPECT_EQ(b.row(5)[3], 255);
}

TEST_F(DecodeTest, FormatIsTakenFromTheBytesNotTheName) {
  const std::string path = dir.file("really_a_png.jpg");
  ASSERT_TRUE(testing::write_png(path, testing::make_reference_bitmap()));
  const Bitmap32 b = decode(path);
  EXPECT_EQ(b.width, 200);
  EXPECT_EQ(b.height, 100);
}

TEST_F(DecodeTest, PngRgbIsExact) {
  const Bitmap32 src = testing::make_reference_bitmap();
  const std::string path = dir.file("ref.png");
  ASSERT_TRUE(testing::write_png(path, src));
  const Bitmap32 b = decode(path);
  ASSERT_EQ(b.width, 200);
  ASSERT_EQ(b.height, 100);
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 200; ++x) {
      const std::uint8_t* p = b.row(y) + 4 * x;
      const std::uint8_t* q = src.row(y) + 4 * x;
      ASSERT_TRUE(p[0] == q[0] && p[1] == q[1] && p[2] == q[2] && p[3] == 255) << x << "," << y;
    }
  }
}

// Expected B, G, R of each pixel of a PNG, and the PNG itself.
struct PngCase {
  const char* name;
  PngImage image;
  std::vector<std::array<int, 3>> expected;  // r, g, b per pixel
};

PngImage png_image(int width, int height, int color_type, int bit_depth) {
  PngImage image;
  image.width = width;
  image.height = height;
  image.color_type = color_type;
  image.bit_depth = bit_depth;
  return image;
}

std::vector<PngCase> png_cases() {
  std::vector<PngCase> cases;
  {  // 16-bit RGB keeps the high byte; alpha 16-bit composited from its high byte.
    PngCase c{"rgba16", png_image(2, 1, PNG_COLOR_TYPE_RGB_ALPHA, 16), {}};
    c.image.data = {0x12, 0xFF, 0x34, 0x00, 0xAB, 0xCD, 0xFF, 0xFF,   // opaque
                    0xC8, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x64, 0x80};  // c 200 0 255, a 100
    // (200*100 + 255*155 + 127)/255 = 233; (0 + 39525 + 127)/255 = 155; 255 stays 255.
    c.expected = {{0x12, 0x34, 0xAB}, {233, 155, 255}};
    cases.push_back(c);
  }
  {  // 8-bit RGBA: a = 0 is white, a = 128 over black is 127.
    PngCase c{"rgba8", png_image(3, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8), {}};
    c.image.data = {10, 20, 30, 0, 0, 0, 0, 128, 1, 2, 3, 255};
    c.expected = {{255, 255, 255}, {127, 127, 127}, {1, 2, 3}};
    cases.push_back(c);
  }
  {  // 2-bit gray scales 0..3 to 0, 85, 170, 255.
    PngCase c{"gray2", png_image(4, 1, PNG_COLOR_TYPE_GRAY, 2), {}};
    c.image.data = {0b00011011};
    c.expected = {{0, 0, 0}, {85, 85, 85}, {170, 170, 170}, {255, 255, 255}};
    cases.push_back(c);
  }
  {  // 16-bit gray with alpha.
    PngCase c{"gray_alpha16", png_image(1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 16), {}};
    c.image.data = {0x50, 0x01, 0x80, 0xFF};  // gray 80, alpha 128
    c.expected = {{167, 167, 167}};           // (80*128 + 255*127 + 127)/255
    cases.push_back(c);
  }
  {  // 4-bit palette with tRNS: index 1 half transparent, index 2 beyond tRNS opaque.
    PngCase c{"palette4_trns", png_image(3, 1, PNG_COLOR_TYPE_PALETTE, 4), {}};
    c.image.palette = {255, 0, 0, 0, 100, 0, 9, 8, 7};
    c.image.palette_alpha = {255, 51};
    c.image.data = {0x01, 0x20};
    c.expected = {{255, 0, 0}, {204, 224, 204}, {9, 8, 7}};  // (100*51 + 255*204 + 127)/255 = 224
    cases.push_back(c);
  }
  {  // 1-bit palette.
    PngCase c{"palette1", png_image(9, 1, PNG_COLOR_TYPE_PALETTE, 1), {}};
    c.image.palette = {1, 2, 3, 250, 251, 252};
    c.image.data = {0b10000000, 0b10000000};
    c.expected = {{250, 251, 252}, {1, 2, 3}, {1, 2, 3}, {1, 2, 3}, {1, 2, 3},
                  {1, 2, 3},       {1, 2, 3}, {1, 2, 3}, {250, 251, 252}};
    cases.push_back(c);
  }
  {  // tRNS colour key on 8-bit RGB and 8-bit gray.
    PngCase c{"rgb_trns", png_image(2, 1, PNG_COLOR_TYPE_RGB, 8), {}};
    c.image.data = {5, 6, 7, 5, 6, 8};
    c.image.transparent = {5, 6, 7};
    c.expected = {{255, 255, 255}, {5, 6, 8}};
    cases.push_back(c);
    PngCase g{"gray_trns", png_image(2, 1, PNG_COLOR_TYPE_GRAY, 8), {}};
    g.image.data = {40, 41};
    g.image.transparent = {41};
    g.expected = {{40, 40, 40}, {255, 255, 255}};
    cases.push_back(g);
  }
  {  // Interlaced RGBA, 11 x 7: every Adam7 pass has pixels, composited once.
    PngCase c{"interlaced", png_image(11, 7, PNG_COLOR_TYPE_RGB_ALPHA, 8), {}};
    c.image.interlaced = true;
    for (int i = 0; i < 77; ++i) {
      const auto v = static_cast<std::uint8_t>(i * 3);
      const auto a = static_cast<std::uint8_t>(i % 2 ? 255 : 0);
      c.image.data.insert(c.image.data.end(), {v, std::uint8_t(v + 1), std::uint8_t(v + 2), a});
      if (a == 255) c.expected.push_back({v, v + 1, v + 2});
      else c.expected.push_back({255, 255, 255});
    }
    cases.push_back(c);
  }
  return cases;
}

TEST_F(DecodeTest, PngColourTypesBitDepthsAndTransparency) {
  for (const PngCase& c : png_cases()) {
    const std::string path = dir.file(std::string(c.name) + ".png");
    ASSERT_TRUE(testing::write_png(path, c.image)) << c.name;
    const Bitmap32 b = decode(path);
    ASSERT_EQ(b.width, c.image.width) << c.name;
    ASSERT_EQ(b.height, c.image.height) << c.name;
    for (int i = 0; i < c.image.width * c.image.height; ++i) {
      const std::uint8_t* p = b.row(i / b.width) + 4 * (i % b.width);
      const std::array<int, 4> got = {p[2], p[1], p[0], p[3]};
      const std::array<int, 4> want = {c.expected[i][0], c.expected[i][1], c.expected[i][2], 255};
      EXPECT_EQ(got, want) << c.name << " pixel " << i;
    }
  }
}

TEST_F(DecodeTest, GifFirstFrameOnWhiteWithTransparency) {
  // Screen 6 x 4; frame 1 is 3 x 2 at (2, 1), index 2 transparent; frame 2 covers
  // everything in black and must not show.
  testing::GifFrame first;
  first.left = 2, first.top = 1, first.width = 3, first.height = 2;
  first.indices = {0, 1, 2, 1, 0, 3};
  first.transparent = 2;
  testing::GifFrame second;
  second.width = 6, second.height = 4;
  second.indices.assign(24, 0);
  second.local_palette = {0, 0, 0};
  const std::vector<std::uint8_t> palette = {10, 20, 30, 40, 50, 60, 70, 80, 90};
  const std::string path = dir.file("anim.gif");
  ASSERT_TRUE(testing::write_gif(path, 6, 4, palette, {first, second}));
  const Bitmap32 b = decode(path);
  ASSERT_EQ(b.width, 6);
  ASSERT_EQ(b.height, 4);
  auto rgb = [&](int x, int y) {
    const std::uint8_t* p = b.row(y) + 4 * x;
    return std::array<int, 3>{p[2], p[1], p[0]};
  };
  const std::array<int, 3> white = {255, 255, 255};
  EXPECT_EQ(rgb(0, 0), white);  // outside the frame
  EXPECT_EQ(rgb(2, 1), (std::array<int, 3>{10, 20, 30}));
  EXPECT_EQ(rgb(3, 1), (std::array<int, 3>{40, 50, 60}));
  EXPECT_EQ(rgb(4, 1), white);  // transparent index
  EXPECT_EQ(rgb(2, 2), (std::array<int, 3>{40, 50, 60}));
  EXPECT_EQ(rgb(4, 2), (std::array<int, 3>{0, 0, 0}));  // palette padding entry
  EXPECT_EQ(rgb(5, 3), white);
}

TEST_F(DecodeTest, GifInterlacedWithLocalPalette) {
  testing::GifFrame frame;
  frame.width = 3, frame.height = 11, frame.interlaced = true;
  for (int y = 0; y < 11; ++y) frame.indices.insert(frame.indices.end(), 3, static_cast<std::uint8_t>(y % 4));
  frame.local_palette = {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3};
  const std::string path = dir.file("interlaced.gif");
  ASSERT_TRUE(testing::write_gif(path, 3, 11, {}, {frame}));
  const Bitmap32 b = decode(path);
  ASSERT_EQ(b.height, 11);
  for (int y = 0; y < 11; ++y) EXPECT_EQ(b.row(y)[4 * 2 + 1], y % 4) << y;
}

TEST_F(DecodeTest, TiffRgbGrayAndAlpha) {
  const std::vector<std::uint8_t> rgb = {1, 2, 3, 4, 5, 6, 7, 8, 9, 250, 251, 252, 13, 14, 15, 16, 17, 18};
  ASSERT_TRUE(testing::write_tiff(dir.file("rgb.tif"), 3, 2, 3, rgb));
  const Bitmap32 b = decode(dir.file("rgb.tif"));
  ASSERT_EQ(b.width, 3);
  ASSERT_EQ(b.height, 2);
  for (int i = 0; i < 6; ++i) {
    const std::uint8_t* p = b.row(i / 3) + 4 * (i % 3);
    EXPECT_EQ((std::array<int, 4>{p[2], p[1], p[0], p[3]}),
              (std::array<int, 4>{rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], 255}));
  }
  ASSERT_TRUE(testing::write_tiff(dir.file("gray.tif"), 2, 1, 1, {7, 200}));
  const Bitmap32 g = decode(dir.file("gray.tif"));
  EXPECT_EQ((std::array<int, 3>{g.row(0)[0], g.row(0)[1], g.row(0)[2]}), (std::array<int, 3>{7, 7, 7}));
  // Unassociated alpha over white follows the same formula as PNG.
  ASSERT_TRUE(testing::write_tiff(dir.file("rgba.tif"), 3, 1, 4,
                                  {200, 0, 255, 100, 0, 0, 0, 128, 9, 9, 9, 0}));
  const Bitmap32 a = decode(dir.file("rgba.tif"));
  ASSERT_EQ(a.width, 3);
  const std::uint8_t* p = a.row(0);
  EXPECT_EQ((std::array<int, 3>{p[2], p[1], p[0]}), (std::array<int, 3>{233, 155, 255}));
  EXPECT_EQ((std::array<int, 3>{p[6], p[5], p[4]}), (std::array<int, 3>{127, 127, 127}));
  EXPECT_EQ((std::array<int, 3>{p[10], p[9], p[8]}), (std::array<int, 3>{255, 255, 255}));
}

TEST_F(DecodeTest, BmpBottomUpTopDownAndPalette) {
  const Bitmap32 src = textured_bitmap(13, 7);
  for (bool top_down : {false, true}) {
    const std::string path = dir.file(top_down ? "top_down.bmp" : "bottom_up.bmp");
    testing::write_bytes(path, testing::bmp_bytes_24(src, top_down));
    const Bitmap32 b = decode(path);
    ASSERT_EQ(b.width, 13);
    ASSERT_EQ(b.height, 7);
    for (int y = 0; y < 7; ++y) {
      for (int x = 0; x < 13; ++x) {
        const std::uint8_t* p = b.row(y) + 4 * x;
        const std::uint8_t* q = src.row(y) + 4 * x;
        ASSERT_TRUE(p[0] == q[0] && p[1] == q[1] && p[2] == q[2] && p[3] == 255) << x << "," << y;
      }
    }
  }
  testing::write_bytes(dir.file("palette.bmp"),
                       testing::bmp_bytes_8(3, 2, {0, 1, 1, 1, 0, 0}, {9, 8, 7, 200, 100, 50}));
  const Bitmap32 p = decode(dir.file("palette.bmp"));
  ASSERT_EQ(p.width, 3);
  EXPECT_EQ((std::array<int, 3>{p.row(0)[2], p.row(0)[1], p.row(0)[0]}), (std::array<int, 3>{9, 8, 7}));
  EXPECT_EQ((std::array<int, 3>{p.row(1)[2], p.row(1)[1], p.row(1)[0]}), (std::array<int, 3>{200, 100, 50}));
}

TEST(CompositeOverWhite, Formula) {
  EXPECT_EQ(composite_over_white(77, 255), 77);
  EXPECT_EQ(composite_over_white(77, 0), 255);
  EXPECT_EQ(composite_over_white(0, 128), 127);    // (32385 + 127) / 255 = 127.5, truncated
  EXPECT_EQ(composite_over_white(200, 100), 233);  // 59652 / 255
}

TEST(SniffImageFormat, LeadingBytes) {
  auto sniff = [](const std::string& s) {
    return sniff_image_format(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  };
  EXPECT_EQ(sniff(std::string("\xFF\xD8\xFF\xE0", 4)), ImageFormat::jpeg);
  EXPECT_EQ(sniff(std::string("\x89PNG\r\n\x1A\n", 8)), ImageFormat::png);
  EXPECT_EQ(sniff(std::string("\x89PNG\r\n\x1A", 7)), ImageFormat::unknown);
  EXPECT_EQ(sniff("GIF89a"), ImageFormat::gif);
  EXPECT_EQ(sniff(std::string("II*\0", 4)), ImageFormat::tiff);
  EXPECT_EQ(sniff(std::string("MM\0*", 4)), ImageFormat::tiff);
  EXPECT_EQ(sniff("BM"), ImageFormat::bmp);
  EXPECT_EQ(sniff("hello"), ImageFormat::unknown);
  EXPECT_EQ(sniff(""), ImageFormat::unknown);
}

}  // namespace
}  // namespace lumvet
