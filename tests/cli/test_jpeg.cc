#include "tests/cli/test_jpeg.h"

#include <functional>
#include <stdexcept>

#include "tests/support/image_files.h"
#include "tests/support/test_support.h"

namespace lumvet::testing {

namespace {

// Writes a width x height grey JPEG whose pixel (row i, column j) is grey(i, j),
// asked for row by row.
void write_grey_jpeg(const std::string& path, int width, int height,
                     const std::function<std::uint8_t(int, int)>& grey) {
  const Bitmap32 bitmap = make_test_bitmap(width, height, [&grey](int i, int j, std::uint8_t* bgr) {
    bgr[0] = bgr[1] = bgr[2] = grey(i, j);
  });
  if (!write_jpeg(path, bitmap)) throw std::runtime_error("cannot create " + path);
}

}  // namespace

void write_flat_jpeg(const std::string& path, std::uint8_t grey) {
  write_grey_jpeg(path, 64, 48, [grey](int, int) { return grey; });
}

void write_noise_jpeg(const std::string& path, std::uint32_t seed, int amplitude) {
  std::uint32_t state = seed * 2654435761u + 1;
  write_grey_jpeg(path, 96, 64, [&state, amplitude](int, int) {
    state = state * 1664525u + 1013904223u;
    const int v = 128 +
                  static_cast<int>((state >> 24) % static_cast<std::uint32_t>(amplitude + 1)) -
                  amplitude / 2;
    return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
  });
}

void write_part_noise_jpeg(const std::string& path) {
  std::uint32_t state = 1;
  write_grey_jpeg(path, 96, 64, [&state](int, int j) {
    state = state * 1664525u + 1013904223u;
    const int v = j < 80 ? 80 + static_cast<int>((state >> 24) % 97u) : 128;
    return static_cast<std::uint8_t>(v);
  });
}

}  // namespace lumvet::testing
