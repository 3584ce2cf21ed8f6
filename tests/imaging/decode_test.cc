// Decoded pixels of every format against their source: JPEG against libjpeg-turbo's
// own djpeg, byte for byte; the lossless formats exactly.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "imaging/imaging.h"
#include "platform/platform.h"
#include "tests/imaging/image_writers.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::JpegColor;
using testing::PngImage;
using Rgb = std::array<int, 3>;

// The pixels in reading order as R, G, B; with `reserved_255`, one whose reserved
// byte is not 255 shows as -1 -1 -1.
std::vector<Rgb> rgb_pixels(const Bitmap32& b, bool reserved_255 = false) {
  std::vector<Rgb> pixels;
  for (int y = 0; y < b.height; ++y) {
    for (const std::uint8_t* p = b.row(y); p < b.row(y) + b.stride(); p += 4)
      pixels.push_back(!reserved_255 || p[3] == 255 ? Rgb{p[2], p[1], p[0]} : Rgb{-1, -1, -1});
  }
  return pixels;
}

// A file's decoded pixels; none when it does not decode.
std::vector<Rgb> decoded(const std::string& path) {
  const std::optional<Bitmap32> b = load_bitmap32(path);
  return b ? rgb_pixels(*b, true) : std::vector<Rgb>{};
}

class DecodeTest : public ::testing::Test {
 protected:
  void SetUp() override { start_imaging_library(); }
  testing::ScopedTempDir dir;
};

// A sink that reads only some columns of each row (none, all, the two edges, or
// a few spans that start on odd and even columns), for the JPEG decoder's
// span conversion; it remembers what it asked for.
class SpanSink : public ImageRowSink {
 public:
  bool begin(std::int32_t width, std::int32_t height) override {
    bitmap = make_bitmap32(width, height);
    asked.assign(static_cast<std::size_t>(height), {});
    return bitmap.pixels != nullptr;
  }
  std::uint8_t* row_storage(std::int32_t y) override { return bitmap.row(y); }
  void take_rows(std::int32_t, std::int32_t, std::uint8_t* const*) override {}
  bool wants_column_spans() const override { return true; }
  const std::vector<ColumnSpan>& column_spans(std::int32_t y) override {
    std::vector<ColumnSpan>& s = asked[static_cast<std::size_t>(y)];
    const std::int32_t w = bitmap.width;
    switch (y % 4) {
      case 0:
        break;
      case 1:
        s = {{0, w}};
        break;
      case 2:
        s = {{0, 1}, {w - 1, w}};
        break;
      default:
        for (std::int32_t x = y % 7; x < w; x += 11 + y % 5)
          s.push_back({x, std::min(w, x + 1 + (x + y) % 9)});
    }
    return s;
  }
  Bitmap32 bitmap;
  std::vector<std::vector<ColumnSpan>> asked;
};

// JPEG files of every sampling and mode, and the samples: the pixels are
// djpeg's, byte for byte, and a sink that reads only some columns gets those
// pixels in every column it asks for, whether the span conversion handles the
// file or leaves it to libjpeg.
TEST_F(DecodeTest, JpegMatchesDjpegWholeAndInSpans) {
  const auto noise = [](int w, int h) {
    return testing::make_test_bitmap(w, h, [](int i, int j, std::uint8_t* p) {
      const unsigned v =
          (static_cast<unsigned>(i) * 7919u + static_cast<unsigned>(j)) * 2654435761u;
      p[0] = static_cast<std::uint8_t>(v >> 24);
      p[1] = static_cast<std::uint8_t>(v >> 16);
      p[2] = static_cast<std::uint8_t>(v >> 8);
    });
  };
  const struct {
    int width, height;
    testing::JpegOptions options;
    bool noisy = false;
  } cases[] = {
      {37, 23, {90, 2, 2, false, 0, JpegColor::ycc}},  // 4:2:0, odd sizes
      {35, 17, {85, 2, 1, false, 0, JpegColor::ycc}},  // 4:2:2
      {19, 33, {85, 1, 2, false, 0, JpegColor::ycc}},  // 4:4:0, left to libjpeg
      {29, 31, {95, 1, 1, false, 0, JpegColor::ycc}},  // 4:4:4
      {16, 16, {90, 2, 2, false, 0, JpegColor::ycc}},  // the smallest converted
      {15, 40, {90, 2, 2, false, 0, JpegColor::ycc}},  // too narrow: left to libjpeg
      {45, 27, {80, 2, 2, true, 0, JpegColor::ycc}},   // progressive
      {40, 24, {80, 1, 1, true, 0, JpegColor::ycc}},
      {50, 41, {75, 2, 2, false, 1, JpegColor::ycc}},  // restart markers
      {33, 21, {90, 1, 1, false, 0, JpegColor::gray}},
      {16, 9, {90, 1, 1, true, 0, JpegColor::gray}},
      {23, 15, {90, 1, 1, false, 0, JpegColor::cmyk}},
      {27, 19, {90, 1, 1, false, 0, JpegColor::ycck}},
      {1, 1, {90, 2, 2, false, 0, JpegColor::ycc}},
      {301, 203, {100, 2, 2, false, 0, JpegColor::ycc}, true},  // every chroma extreme
      {300, 201, {100, 2, 1, false, 0, JpegColor::ycc}, true},
      {512, 384, {100, 1, 1, false, 0, JpegColor::ycc}, true},
  };
  std::vector<std::string> paths;
  for (const auto& c : cases) {
    paths.push_back(dir.file(std::to_string(paths.size()) + ".jpg"));
    ASSERT_TRUE(testing::write_jpeg(
        paths.back(), c.noisy ? noise(c.width, c.height) : testing::test_picture(c.width, c.height),
        c.options));
  }
  const std::string samples = std::string(LUMVET_SOURCE_DIR) + "/samples";
  for (const std::string& name : platform::list_jpg_files(samples))
    paths.push_back(samples + "/" + name);
  ASSERT_GT(paths.size(), std::size(cases));
  for (const std::string& path : paths) {
    const std::optional<Bitmap32> whole = load_bitmap32(path);
    ASSERT_TRUE(whole.has_value()) << path;
    EXPECT_EQ(testing::compare_with_djpeg(*whole, path, dir.path()), "") << path;
    SpanSink sink;
    ASSERT_TRUE(decode_image_rows(path, sink)) << path;
    for (std::int32_t y = 0; y < whole->height; ++y) {
      for (const ColumnSpan& s : sink.asked[static_cast<std::size_t>(y)]) {
        ASSERT_EQ(std::memcmp(sink.bitmap.row(y) + 4 * s.begin, whole->row(y) + 4 * s.begin,
                              4 * static_cast<std::size_t>(s.end - s.begin)),
                  0)
            << path << " row " << y << " columns " << s.begin << "-" << s.end;
      }
    }
  }
}

// The format comes from the bytes, not the name: a PNG named .jpg is exact.
// Transparency over white: (c a + 255 (255 - a) + 127) / 255.
TEST_F(DecodeTest, PngBitDepthsPalettesAndTransparency) {
  const Bitmap32 src = testing::make_reference_bitmap();
  ASSERT_TRUE(testing::write_png(dir.file("ref.jpg"), src));
  EXPECT_EQ(decoded(dir.file("ref.jpg")), rgb_pixels(src));
  constexpr int RGBA = PNG_COLOR_TYPE_RGB_ALPHA;
  // Width, height, colour type, bit depth, interlaced, data, palette, tRNS.
  std::vector<std::pair<PngImage, std::vector<Rgb>>> cases = {
      // 16 bits keep the high byte; c 200 0 255 at alpha 100: 233 155 255.
      {{2, 1, RGBA, 16, false, {18, 1, 52, 0, 171, 205, 255, 255, 200, 0, 0, 0, 255, 255, 100, 99}},
       {{18, 52, 171}, {233, 155, 255}}},
      // Alpha 0 is white, 128 over black 127 (127.5 truncated).
      {{3, 1, RGBA, 8, false, {10, 20, 30, 0, 0, 0, 0, 128, 1, 2, 3, 255}},
       {{255, 255, 255}, {127, 127, 127}, {1, 2, 3}}},
      {{4, 1, PNG_COLOR_TYPE_GRAY, 2, false, {0x1B}},
       {{0, 0, 0}, {85, 85, 85}, {170, 170, 170}, {255, 255, 255}}},
      // 4-bit palette, index 1 at alpha 51, index 2 beyond the tRNS entries opaque.
      {{3,
        1,
        PNG_COLOR_TYPE_PALETTE,
        4,
        false,
        {0x01, 0x20},
        {255, 0, 0, 0, 100, 0, 9, 8, 7},
        {255, 51}},
       {{255, 0, 0}, {204, 224, 204}, {9, 8, 7}}},
      {{2, 1, PNG_COLOR_TYPE_RGB, 8, false, {5, 6, 7, 5, 6, 8}, {}, {}, {5, 6, 7}},
       {{255, 255, 255}, {5, 6, 8}}},
  };
  // Interlaced, 11 x 7 (every Adam7 pass has pixels): composited once, at the end.
  PngImage interlaced{11, 7, RGBA, 8, true};
  std::vector<Rgb> expected;
  for (int i = 0; i < 77; ++i) {
    const int v = i * 3, a = i % 2 ? 255 : 128;
    interlaced.data.insert(interlaced.data.end(), {std::uint8_t(v), std::uint8_t(v + 1),
                                                   std::uint8_t(v + 2), std::uint8_t(a)});
    expected.push_back(a == 255 ? Rgb{v, v + 1, v + 2}
                                : Rgb{composite_over_white(v, a), composite_over_white(v + 1, a),
                                      composite_over_white(v + 2, a)});
  }
  cases.push_back({interlaced, expected});
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string path = dir.file(std::to_string(i) + ".png");
    ASSERT_TRUE(testing::write_png(path, cases[i].first));
    EXPECT_EQ(decoded(path), cases[i].second) << "case " << i;
  }
}

TEST_F(DecodeTest, GifFirstFrameOnWhiteAndInterlaced) {
  // Screen 4 x 3; frame 1 is 3 x 2 at (1, 1), index 2 transparent, index 3 the
  // table's black padding; frame 2 covers everything in black and must not show.
  testing::GifFrame first{1, 1, 3, 2, false, {0, 1, 2, 1, 0, 3}, {}, 2};
  testing::GifFrame second{0, 0, 4, 3, false, std::vector<std::uint8_t>(12, 0), {0, 0, 0}, -1};
  ASSERT_TRUE(testing::write_gif(dir.file("a.gif"), 4, 3, {10, 20, 30, 40, 50, 60, 70, 80, 90},
                                 {first, second}));
  const Rgb W = {255, 255, 255}, A = {10, 20, 30}, B = {40, 50, 60}, K = {0, 0, 0};
  EXPECT_EQ(decoded(dir.file("a.gif")), (std::vector<Rgb>{W, W, W, W, W, A, B, W, W, B, A, K}));
  // Rows arrive in four passes; a local palette.
  testing::GifFrame frame{0, 0, 1, 11, true, {}, {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3}, -1};
  std::vector<Rgb> rows;
  for (int y = 0; y < 11; ++y) {
    frame.indices.push_back(static_cast<std::uint8_t>(y % 4));
    rows.push_back({y % 4, y % 4, y % 4});
  }
  ASSERT_TRUE(testing::write_gif(dir.file("i.gif"), 1, 11, {}, {frame}));
  EXPECT_EQ(decoded(dir.file("i.gif")), rows);
}

TEST_F(DecodeTest, TiffAndBmp) {
  ASSERT_TRUE(testing::write_tiff(dir.file("rgb.tif"), 3, 1, 3, {1, 2, 3, 4, 5, 6, 250, 251, 252}));
  EXPECT_EQ(decoded(dir.file("rgb.tif")),
            (std::vector<Rgb>{{1, 2, 3}, {4, 5, 6}, {250, 251, 252}}));
  // Unassociated alpha over white follows the same formula as PNG.
  ASSERT_TRUE(testing::write_tiff(dir.file("rgba.tif"), 3, 1, 4,
                                  {200, 0, 255, 100, 0, 0, 0, 128, 9, 9, 9, 0}));
  EXPECT_EQ(decoded(dir.file("rgba.tif")),
            (std::vector<Rgb>{{233, 155, 255}, {127, 127, 127}, {255, 255, 255}}));
  const Bitmap32 src = testing::test_picture(13, 7);
  for (bool top_down : {false, true}) {
    testing::write_bytes(dir.file("a.bmp"), testing::bmp_bytes(src, top_down));
    EXPECT_EQ(decoded(dir.file("a.bmp")), rgb_pixels(src)) << top_down;
  }
}

}  // namespace
}  // namespace lumvet
