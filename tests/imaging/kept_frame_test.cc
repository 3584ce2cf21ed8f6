// The frame that a measuring decode keeps (for the report's pictures): keeping
// it changes neither the rows a sink is handed nor whether a file decodes, and
// what is shown of it is the full decode's pixels.
#include "imaging/kept_frame.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "imaging/imaging.h"
#include "platform/platform.h"
#include "tests/imaging/image_writers.h"
#include "tests/support/format_files.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::JpegColor;

// Takes luminance rows, or BGRX rows (all columns, asked for as spans, as the
// patch statistics ask), and records every byte handed over; keeps the frame
// when given one.
class RecordingSink : public ImageRowSink {
 public:
  RecordingSink(bool luma, KeptFrame* keep) : luma_(luma), keep_(keep) {}
  bool begin(std::int32_t width, std::int32_t height) override {
    width_ = width;
    seen.clear();
    storage_.assign(static_cast<std::size_t>(IMAGE_ROW_BATCH) * 4 * static_cast<std::size_t>(width),
                    0);
    spans_ = {{0, width}};
    (void)height;
    return true;
  }
  std::uint8_t* row_storage(std::int32_t y) override {
    return storage_.data() + static_cast<std::size_t>(y % IMAGE_ROW_BATCH) * 4 *
                                 static_cast<std::size_t>(width_);
  }
  void take_rows(std::int32_t, std::int32_t count, std::uint8_t* const* rows) override {
    const std::size_t bytes = static_cast<std::size_t>(width_) * (luma_ ? 1 : 4);
    for (std::int32_t i = 0; i < count; ++i) seen.insert(seen.end(), rows[i], rows[i] + bytes);
  }
  bool wants_luma() const override { return luma_; }
  bool wants_column_spans() const override { return !luma_; }
  const std::vector<ColumnSpan>& column_spans(std::int32_t) override { return spans_; }
  KeptFrame* frame_to_keep() override { return keep_; }

  std::vector<std::uint8_t> seen;

 private:
  bool luma_;
  KeptFrame* keep_;
  std::int32_t width_ = 0;
  std::vector<std::uint8_t> storage_;
  std::vector<ColumnSpan> spans_;
};

double mean_difference(const Bitmap32& a, const Bitmap32& b) {
  double sum = 0;
  for (std::int32_t y = 0; y < a.height; ++y) {
    for (std::size_t i = 0; i < a.stride(); ++i) sum += std::abs(a.row(y)[i] - b.row(y)[i]);
  }
  return sum / (3.0 * a.width * a.height);
}

bool same_pixels(const Bitmap32& part, const Bitmap32& whole, std::int32_t x, std::int32_t y) {
  for (std::int32_t r = 0; r < part.height; ++r) {
    if (std::memcmp(part.row(r), whole.row(y + r) + 4 * static_cast<std::size_t>(x),
                    part.stride()) != 0) {
      return false;
    }
  }
  return true;
}

class KeptFrameTest : public ::testing::Test {
 protected:
  void SetUp() override { start_imaging_library(); }

  // JPEG files of every kind the decoder treats apart, the samples, a PNG, and
  // cut and damaged JPEG files.
  std::vector<std::string> files() {
    const struct {
      int width, height;
      testing::JpegOptions options;
    } cases[] = {
        {301, 203, {90, 2, 2, false, 0, JpegColor::ycc}},  // 4:2:0, odd sizes
        {135, 77, {85, 2, 1, false, 0, JpegColor::ycc}},   // 4:2:2
        {119, 133, {85, 1, 2, false, 0, JpegColor::ycc}},  // 4:4:0: chroma nearest
        {129, 131, {95, 1, 1, false, 0, JpegColor::ycc}},  // 4:4:4
        {245, 127, {80, 2, 2, true, 0, JpegColor::ycc}},   // progressive
        {140, 124, {80, 1, 1, true, 0, JpegColor::ycc}},
        {150, 141, {75, 2, 2, false, 1, JpegColor::ycc}},  // restart markers
        {133, 121, {90, 1, 1, false, 0, JpegColor::gray}},
        {116, 90, {90, 1, 1, true, 0, JpegColor::gray}},
        {123, 115, {90, 1, 1, false, 0, JpegColor::cmyk}},
        {127, 119, {90, 1, 1, false, 0, JpegColor::ycck}},
        {15, 40, {90, 2, 2, false, 0, JpegColor::ycc}},  // too narrow for fancy upsampling
        {1, 1, {90, 2, 2, false, 0, JpegColor::ycc}},
    };
    std::vector<std::string> paths;
    for (const auto& c : cases) {
      paths.push_back(dir.file(std::to_string(paths.size()) + ".jpg"));
      EXPECT_TRUE(
          testing::write_jpeg(paths.back(), testing::test_picture(c.width, c.height), c.options));
    }
    const std::string png = dir.file("picture.png");
    EXPECT_TRUE(testing::write_png(png, testing::test_picture(97, 61)));
    paths.push_back(png);
    // Camera raw files, developed and through their full-size preview.
    const Bitmap32 sensor = testing::test_picture(64, 48);
    const std::string preview = dir.file("preview.jpg");
    EXPECT_TRUE(testing::write_jpeg(preview, sensor));
    for (const bool with_preview : {false, true}) {
      paths.push_back(dir.file(with_preview ? "preview.dng" : "plain.dng"));
      EXPECT_TRUE(testing::write_dng(
          paths.back(), 64, 48, testing::cfa_mosaic(sensor, 4095), 4095,
          with_preview ? testing::read_bytes(preview) : std::vector<std::uint8_t>{}, 64, 48));
    }
    for (const bool progressive : {false, true}) {
      const std::string whole = dir.file(progressive ? "p.jpg" : "b.jpg");
      EXPECT_TRUE(testing::write_jpeg(whole, testing::test_picture(200, 160),
                                      {85, 2, 2, progressive, 0, JpegColor::ycc}));
      std::ifstream in(whole, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), {});
      std::string damaged = bytes;
      for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 40; ++i) damaged[i] ^= 0x5A;
      for (const auto& [name, content] :
           {std::pair{"cut", bytes.substr(0, bytes.size() * 2 / 3)}, std::pair{"bad", damaged}}) {
        paths.push_back(dir.file(std::string(name) + (progressive ? "p.jpg" : "b.jpg")));
        std::ofstream(paths.back(), std::ios::binary) << content;
      }
    }
    const std::string samples = std::string(LUMVET_SOURCE_DIR) + "/samples";
    for (const std::string& name : platform::list_jpg_files(samples)) {
      paths.push_back(samples + "/" + name);
    }
    return paths;
  }

  testing::ScopedTempDir dir;
};

// The sink's rows and the decode's success are the same with a frame kept, for
// luminance and BGRX sinks alike; JPEG files stored as YCbCr or grey keep their
// planes for a luminance sink, and so do single-scan ones for a span sink.
TEST_F(KeptFrameTest, KeepingChangesNoRowAndNoOutcome) {
  for (const std::string& path : files()) {
    for (const bool luma : {true, false}) {
      RecordingSink plain(luma, nullptr);
      const bool plain_ok = decode_image_rows(path, plain);
      KeptFrame frame;
      RecordingSink keeping(luma, &frame);
      const bool keeping_ok = decode_image_rows(path, keeping);
      ASSERT_EQ(keeping_ok, plain_ok) << path << (luma ? " luma" : " bgrx");
      if (!plain_ok) continue;
      ASSERT_EQ(keeping.seen, plain.seen) << path << (luma ? " luma" : " bgrx");
      if (path.ends_with("/0.jpg") || path.ends_with("preview.dng") ||
          (luma && (path.ends_with("/4.jpg") || path.ends_with("/7.jpg")))) {
        EXPECT_EQ(frame.kind, KeptFrame::Kind::planes) << path;
      }
      if (path.ends_with(".png") || path.ends_with("plain.dng") ||
          (!luma && path.ends_with("/4.jpg"))) {
        EXPECT_EQ(frame.kind, KeptFrame::Kind::bgrx) << path;
      }
    }
  }
}

// Regions of a kept frame are the full decode's pixels: exactly, where the
// chroma is upsampled as libjpeg does (and for bitmaps); close where the
// nearest chroma sample stands in (the test picture's chroma is noisy). Thumbnails fit the box and look
// like the full decode shrunk.
TEST_F(KeptFrameTest, RegionsAreTheDecodedPixelsAndThumbnailsTheShrunkFrame) {
  int planar = 0;
  for (const std::string& path : files()) {
    const std::optional<Bitmap32> whole = load_bitmap32(path);
    if (!whole) continue;
    for (const bool luma : {true, false}) {
      KeptFrame frame;
      RecordingSink sink(luma, &frame);
      ASSERT_TRUE(decode_image_rows(path, sink)) << path;
      if (frame.kind == KeptFrame::Kind::none) continue;
      ASSERT_EQ(frame.width, whole->width);
      ASSERT_EQ(frame.height, whole->height);
      const bool exact = frame.kind == KeptFrame::Kind::bgrx || frame.components == 1 ||
                         frame.libjpeg_upsampling;
      planar += frame.kind == KeptFrame::Kind::planes;
      const std::optional<Bitmap32> all = kept_frame_region(frame, 0, 0, 1 << 20, 1 << 20);
      ASSERT_TRUE(all.has_value()) << path;
      ASSERT_EQ(all->width, whole->width);
      if (exact) {
        EXPECT_TRUE(same_pixels(*all, *whole, 0, 0)) << path;
      } else {
        EXPECT_LT(mean_difference(*all, *whole), 10.0) << path;
      }
      const std::int32_t x = whole->width / 3, y = whole->height / 2;
      const std::optional<Bitmap32> part = kept_frame_region(frame, x, y, 37, 1000);
      ASSERT_TRUE(part.has_value()) << path;
      EXPECT_EQ(part->width, std::min(37, whole->width - x));
      EXPECT_EQ(part->height, whole->height - y);
      if (exact) {
        EXPECT_TRUE(same_pixels(*part, *whole, x, y)) << path;
      }
      EXPECT_FALSE(kept_frame_region(frame, whole->width, 0, 10, 10).has_value());

      const std::optional<Bitmap32> thumb = kept_frame_thumbnail(frame, 48, 48);
      ASSERT_TRUE(thumb.has_value()) << path;
      const std::optional<Bitmap32> shrunk =
          whole->width > 48 || whole->height > 48 ? shrink_to_bitmap(*whole, 48, 48)
                                                  : load_bitmap32(path);
      ASSERT_EQ(thumb->width, shrunk->width) << path;
      ASSERT_EQ(thumb->height, shrunk->height) << path;
      EXPECT_LT(mean_difference(*thumb, *shrunk), 12.0) << path;
    }
  }
  EXPECT_GT(planar, 10);
  // A strip far longer than wide keeps a pixel across.
  KeptFrame strip;
  strip.kind = KeptFrame::Kind::bgrx;
  strip.width = 12000;
  strip.height = 5;
  strip.bitmap = testing::test_picture(12000, 5);
  const std::optional<Bitmap32> line = kept_frame_thumbnail(strip, 48, 48);
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(line->width, 48);
  EXPECT_EQ(line->height, 1);
  KeptFrame empty;
  EXPECT_FALSE(kept_frame_thumbnail(empty, 48, 48).has_value());
  EXPECT_FALSE(kept_frame_region(empty, 0, 0, 8, 8).has_value());
}

}  // namespace
}  // namespace lumvet
