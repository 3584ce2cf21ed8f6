// Grey pictures as luminance rows, and the rows a decoder hands a sink that wants
// only luminance (for the imaging and sharpness tests).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/imaging.h"

namespace lumvet::testing {

struct LumaImage {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> pixels;  // rows top to bottom, one byte per pixel

  const std::uint8_t* row(std::int32_t y) const {
    return pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
  }
  bool operator==(const LumaImage&) const = default;
};

// Keeps every luminance row handed over, checking that they come in order.
class LumaRecorder : public ImageRowSink {
 public:
  bool wants_luma() const override { return true; }
  bool begin(std::int32_t width, std::int32_t height) override {
    image = {width, height, {}};
    storage_.resize(static_cast<std::size_t>(IMAGE_ROW_BATCH) * 4 *
                    static_cast<std::size_t>(width));
    return true;
  }
  std::uint8_t* row_storage(std::int32_t y) override {
    return storage_.data() + static_cast<std::size_t>(y % IMAGE_ROW_BATCH) * 4 *
                                 static_cast<std::size_t>(image.width);
  }
  void take_rows(std::int32_t first, std::int32_t count, std::uint8_t* const* rows) override {
    EXPECT_EQ(first * image.width, static_cast<std::int64_t>(image.pixels.size()));
    for (std::int32_t i = 0; i < count; ++i) {
      image.pixels.insert(image.pixels.end(), rows[i], rows[i] + image.width);
    }
  }

  LumaImage image;

 private:
  std::vector<std::uint8_t> storage_;
};

// The rows of a file's decode for a luminance sink, all of them.
inline LumaImage luma_rows(const std::string& path, const DecodeOptions& options = {}) {
  LumaRecorder sink;
  EXPECT_TRUE(decode_image_rows(path, sink, options, nullptr)) << path;
  EXPECT_EQ(sink.image.pixels.size(), static_cast<std::size_t>(sink.image.width) *
                                          static_cast<std::size_t>(sink.image.height))
      << path;
  return sink.image;
}

// bgrx_to_luma of the file's full-colour decode.
inline LumaImage luma_of_bitmap(const std::string& path, const DecodeOptions& options = {}) {
  const std::optional<Bitmap32> b = load_bitmap32(path, options, nullptr);
  EXPECT_TRUE(b.has_value()) << path;
  if (!b) return {};
  LumaImage image{b->width, b->height, {}};
  image.pixels.resize(static_cast<std::size_t>(b->width) * static_cast<std::size_t>(b->height));
  for (std::int32_t y = 0; y < b->height; ++y) {
    bgrx_to_luma(b->row(y), b->width, image.pixels.data() + static_cast<std::size_t>(y) * b->width);
  }
  return image;
}

}  // namespace lumvet::testing
