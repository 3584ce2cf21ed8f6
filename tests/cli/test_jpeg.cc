#include "tests/cli/test_jpeg.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include <jpeglib.h>

namespace lumvet::testing {

void write_test_jpeg(const std::string& path, int width, int height,
                     const std::function<void(int, int, std::uint8_t*)>& fill) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) throw std::runtime_error("cannot create " + path);
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, f);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
  for (int i = 0; i < height; ++i) {
    for (int j = 0; j < width; ++j) fill(i, j, &row[static_cast<std::size_t>(j) * 3]);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(f);
}

void write_flat_jpeg(const std::string& path, std::uint8_t grey) {
  write_test_jpeg(path, 64, 48,
                  [grey](int, int, std::uint8_t* rgb) { rgb[0] = rgb[1] = rgb[2] = grey; });
}

void write_noise_jpeg(const std::string& path, std::uint32_t seed, int amplitude) {
  std::uint32_t state = seed * 2654435761u + 1;
  write_test_jpeg(path, 96, 64, [&state, amplitude](int, int, std::uint8_t* rgb) {
    state = state * 1664525u + 1013904223u;
    const int v = 128 +
                  static_cast<int>((state >> 24) % static_cast<std::uint32_t>(amplitude + 1)) -
                  amplitude / 2;
    rgb[0] = rgb[1] = rgb[2] = static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
  });
}

void write_part_noise_jpeg(const std::string& path) {
  std::uint32_t state = 1;
  write_test_jpeg(path, 96, 64, [&state](int, int j, std::uint8_t* rgb) {
    state = state * 1664525u + 1013904223u;
    const int v = j < 80 ? 80 + static_cast<int>((state >> 24) % 97u) : 128;
    rgb[0] = rgb[1] = rgb[2] = static_cast<std::uint8_t>(v);
  });
}

}  // namespace lumvet::testing
