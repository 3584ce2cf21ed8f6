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

// Smooth areas, hard edges and noise, so that every DCT frequency, the chroma
// upsampling and the patch statistics matter; the reserved byte carries a fourth
// channel for CMYK. The same salt gives the same picture.
Bitmap32 test_picture(int width, int height, unsigned salt = 0);

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

// 8-bit RGB (channels 3) or RGB + unassociated alpha (4) TIFF, samples interleaved.
bool write_tiff(const std::string& path, int width, int height, int channels,
                const std::vector<std::uint8_t>& samples);

// Uncompressed 24-bit BMP, bottom-up or (top_down) with a negative height.
std::vector<std::uint8_t> bmp_bytes(const Bitmap32& bitmap, bool top_down);

// The first pixel where `bitmap` differs from djpeg's decode of `jpeg_path` (or
// from a reserved byte of 255), as text; empty when all agree. `scratch_dir`
// receives djpeg's output.
std::string compare_with_djpeg(const Bitmap32& bitmap, const std::string& jpeg_path,
                               const std::string& scratch_dir);

// Everything written to standard output and standard error (the file descriptors,
// so C libraries are caught too) while `body` runs.
std::string capture_process_output(const std::function<void()>& body);

// Every truncation and a spread of single-byte changes of each file, written
// into `dir`: whatever the outcome no crash, no sanitizer report and no message
// (and some damage is harmless, so something decodes).
void expect_damage_is_quiet(const std::vector<std::vector<std::uint8_t>>& files,
                            const std::string& dir);

// `path` is refused in a fresh process (a death-test child) whose peak resident
// size stays below `max_kib` kilobytes: no frame or buffer of the claimed size was made.
void expect_refused_cheaply(const std::string& path, long max_kib);

}  // namespace lumvet::testing
