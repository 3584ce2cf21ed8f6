// Test images written with the real encoders (giflib, libtiff; libjpeg and libpng
// through tests/support/image_files.h) or, for BMP, byte by byte; and reference
// decodes by libjpeg-turbo's djpeg.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "imaging/bitmap.h"
#include "tests/support/image_files.h"

namespace lumvet::testing {

struct GifFrame {
  int left = 0, top = 0, width = 0, height = 0;
  bool interlaced = false;
  std::vector<std::uint8_t> indices;        // width * height, row by row in picture order
  std::vector<std::uint8_t> local_palette;  // r, g, b triples, or empty
  int transparent = -1;
};
bool write_gif(const std::string& path, int screen_width, int screen_height,
               const std::vector<std::uint8_t>& global_palette,
               const std::vector<GifFrame>& frames);

// 8-bit TIFF: channels 1 (gray), 3 (RGB) or 4 (RGB + unassociated alpha); samples
// interleaved, row by row.
bool write_tiff(const std::string& path, int width, int height, int channels,
                const std::vector<std::uint8_t>& samples);

// Uncompressed BMP with a 40-byte header: 24-bit from the bitmap, bottom-up or
// (top_down) with a negative height.
std::vector<std::uint8_t> bmp_bytes_24(const Bitmap32& bitmap, bool top_down);
// 8-bit palette BMP; palette entries r, g, b.
std::vector<std::uint8_t> bmp_bytes_8(int width, int height,
                                      const std::vector<std::uint8_t>& indices,
                                      const std::vector<std::uint8_t>& palette);

// Pixels decoded by djpeg (-ppm; RGB triples, gray expanded) and their size.
struct ReferenceImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
};
// Path of djpeg, or empty when it is not installed.
std::string djpeg_program();
bool djpeg_decode(const std::string& jpeg_path, const std::string& scratch_dir,
                  ReferenceImage& out);

// The first mismatch between a bitmap and reference RGB pixels, as text; empty
// when every pixel agrees and the reserved bytes are 255.
std::string compare_with_reference(const Bitmap32& bitmap, const ReferenceImage& reference);

// Everything written to standard output and standard error (the file descriptors,
// so C libraries are caught too) while `body` runs.
std::string capture_process_output(const std::function<void()>& body);

}  // namespace lumvet::testing
