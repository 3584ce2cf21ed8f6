#include "tests/support/test_photos.h"

#include <algorithm>

#include "tests/support/image_files.h"
#include "tests/support/test_support.h"

namespace lumvet::testing {

Bitmap32 make_textured_bitmap(std::int32_t width, std::int32_t height, std::uint32_t seed) {
  Bitmap32 b = make_bitmap32(width, height);
  std::uint32_t s = seed * 2654435761u + 1;
  auto next = [&s]() {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
  };
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      std::uint8_t* p = b.row(y) + 4 * x;
      p[0] = p[1] = p[2] = 128;
      p[3] = 255;
    }
  }
  // Overlapping random blocks.
  const std::int64_t blocks = static_cast<std::int64_t>(width) * height / 2;
  for (std::int64_t n = 0; n < blocks; ++n) {
    const std::int32_t size = 1 + static_cast<std::int32_t>(next() % 4);
    const std::int32_t x0 = static_cast<std::int32_t>(next() % static_cast<std::uint32_t>(width));
    const std::int32_t y0 = static_cast<std::int32_t>(next() % static_cast<std::uint32_t>(height));
    const auto level = static_cast<std::uint8_t>(next() % 256);
    const auto tint = static_cast<std::uint8_t>(next() % 64);
    for (std::int32_t y = y0; y < std::min(height, y0 + size); ++y) {
      for (std::int32_t x = x0; x < std::min(width, x0 + size); ++x) {
        std::uint8_t* p = b.row(y) + 4 * x;
        p[0] = static_cast<std::uint8_t>(std::min(255, level + tint));
        p[1] = level;
        p[2] = static_cast<std::uint8_t>(std::max(0, level - tint));
      }
    }
  }
  return b;
}

Bitmap32 box_blurred(const Bitmap32& bitmap, int radius, int passes) {
  const std::int32_t w = bitmap.width;
  const std::int32_t h = bitmap.height;
  Bitmap32 a = make_bitmap32(w, h);
  std::copy(bitmap.pixels.get(), bitmap.pixels.get() + bitmap.byte_size(), a.pixels.get());
  Bitmap32 t = make_bitmap32(w, h);
  const int n = 2 * radius + 1;
  for (int pass = 0; pass < passes; ++pass) {
    for (int dir = 0; dir < 2; ++dir) {
      for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x) {
          for (int c = 0; c < 4; ++c) {
            int sum = 0;
            for (int d = -radius; d <= radius; ++d) {
              const std::int32_t xx = dir == 0 ? std::clamp(x + d, 0, w - 1) : x;
              const std::int32_t yy = dir == 1 ? std::clamp(y + d, 0, h - 1) : y;
              sum += a.row(yy)[4 * xx + c];
            }
            t.row(y)[4 * x + c] = static_cast<std::uint8_t>((sum + n / 2) / n);
          }
        }
      }
      std::swap(a, t);
    }
  }
  return a;
}

void write_photo_folders(const std::string& good_dir, const std::string& blur_dir, int count,
                         std::int32_t width, std::int32_t height) {
  make_dir(good_dir);
  make_dir(blur_dir);
  for (int i = 0; i < count; ++i) {
    const Bitmap32 sharp = make_textured_bitmap(width, height, static_cast<std::uint32_t>(i + 1));
    write_jpeg(good_dir + "/sharp_" + std::to_string(i) + ".jpg", sharp);
    write_jpeg(blur_dir + "/blur_" + std::to_string(i) + ".jpg", box_blurred(sharp, 2, 2));
  }
}

}  // namespace lumvet::testing
