// WebP, HEIF/AVIF and DNG files encoded with the libraries' own encoders
// (libwebp, libheif with x265 and aom, libtiff), for the
// test suites and the benchmark programs alike (no GoogleTest here).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/bitmap.h"

namespace lumvet::testing {

// 8-bit samples R, G, B, A interleaved, rows top to bottom.
struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;
};

// The bitmap's colours; alpha taken from its reserved byte when `alpha`, else 255.
RgbaImage rgba_of(const Bitmap32& bitmap, bool alpha);

// Each encoder returns the file's bytes, empty on failure. `quality` 0-100;
// `alpha` keeps the image's alpha channel (else it is left out of the file).
std::vector<std::uint8_t> webp_bytes(const RgbaImage& image, bool alpha, bool lossless,
                                     int quality = 90);
// An animated WebP: each image a frame of 100 ms, all the first image's size.
std::vector<std::uint8_t> animated_webp_bytes(const std::vector<RgbaImage>& frames, bool lossless);

enum class HeifCodec { hevc, av1 };
std::vector<std::uint8_t> heif_bytes(const RgbaImage& image, bool alpha, HeifCodec codec,
                                     int quality = 90);

// Writes a DNG of a colour-filter-array image: 16-bit samples of which
// `white_level` is the brightest, RGGB, one value a pixel (`cfa`, width * height
// values). With `preview_jpeg` (a whole JPEG file of preview_width x
// preview_height), the first directory holds that preview and a sub-directory the
// sensor data; without, the first directory is the sensor data.
bool write_dng(const std::string& path, int width, int height,
               const std::vector<std::uint16_t>& cfa, std::uint16_t white_level,
               const std::vector<std::uint8_t>& preview_jpeg = {}, int preview_width = 0,
               int preview_height = 0);

// The RGGB mosaic of a bitmap's colours scaled to 0 ... white_level.
std::vector<std::uint16_t> cfa_mosaic(const Bitmap32& bitmap, std::uint16_t white_level);

}  // namespace lumvet::testing
