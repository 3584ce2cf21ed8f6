// JPEG and PNG files written with libjpeg and libpng, for the tests and the
// benchmarks alike (no GoogleTest here).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/bitmap.h"

namespace lumvet::testing {

enum class JpegColor { ycc, gray, cmyk, ycck };

struct JpegOptions {
  int quality = 90;
  int h_samp = 2;  // luma sampling factors: 2x2 is 4:2:0, 2x1 4:2:2, 1x1 4:4:4
  int v_samp = 2;
  bool progressive = false;
  int restart_rows = 0;
  JpegColor color = JpegColor::ycc;
};

// Encodes the bitmap's blue, green, red bytes (for cmyk and ycck: its four bytes
// as C, M, Y, K). Returns false when the file cannot be written.
bool write_jpeg(const std::string& path, const Bitmap32& bitmap, const JpegOptions& options = {});

// Raw PNG content: rows of packed samples as the format stores them (16-bit samples
// big-endian), optionally a palette and tRNS.
struct PngImage {
  int width = 0;
  int height = 0;
  int color_type = 0;  // PNG_COLOR_TYPE_*
  int bit_depth = 8;
  bool interlaced = false;
  std::vector<std::uint8_t> data{};           // height rows, each packed, no filter byte
  std::vector<std::uint8_t> palette{};        // r, g, b triples
  std::vector<std::uint8_t> palette_alpha{};  // tRNS for palettes
  std::vector<std::uint16_t> transparent{};   // tRNS red, green, blue
};
bool write_png(const std::string& path, const PngImage& image);
// An 8-bit RGB PNG of the bitmap's pixels.
bool write_png(const std::string& path, const Bitmap32& bitmap);

}  // namespace lumvet::testing
