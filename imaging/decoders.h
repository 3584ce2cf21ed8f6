// The per-format decoders behind decode_image_file. Each reads an open file from
// its start and, on success, leaves a full-size BGRX bitmap in `out` with the
// reserved byte 255 and any transparency composited over white. On failure it
// returns false; `out` may then hold a partly written bitmap that the caller
// discards. None of them prints anything, and none allocates pixels for a size
// that image_size_allowed refuses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/imaging.h"

namespace lumvet::detail {

// Full frame: the bitmap is allocated once the size is known and the decoder
// writes straight into its rows (it counts as a whole frame for the memory budget).
class BitmapRowSink : public ImageRowSink {
 public:
  explicit BitmapRowSink(Bitmap32& out) : out_(out) {}
  bool begin(std::int32_t width, std::int32_t height) override {
    out_ = make_bitmap32(width, height);
    return out_.pixels != nullptr;
  }
  std::uint8_t* row_storage(std::int32_t y) override { return out_.row(y); }
  bool whole_frame() const override { return true; }
  void take_rows(std::int32_t, std::int32_t, std::uint8_t* const*) override {}

 private:
  Bitmap32& out_;
};

bool decode_jpeg(std::FILE* file, Bitmap32& out);
// The one JPEG decoder behind decode_jpeg: the same settings and calls, the
// rows going to `sink` (decode_jpeg's sink allocates the bitmap in begin and hands
// out its rows as storage). For a sink that reads only column spans, a
// single-scan YCbCr file is read as raw planes and only those spans converted,
// to the same bytes.
bool decode_jpeg_rows(std::FILE* file, ImageRowSink& sink);
// decode_jpeg_rows on a JPEG held in memory (a raw file's preview).
bool decode_jpeg_memory_rows(const std::uint8_t* data, std::size_t size, ImageRowSink& sink);
// Part of a JPEG at one of libjpeg's scales. With a box (fit_width and
// fit_height above 0), the image is decoded at the smallest of the scales 1/8,
// 2/8 ... 8/8 whose size still covers the image's size fitted to the box
// (shrink_geometry); without one, at full size. Of that scaled image the region
// x, y, width, height is kept, clamped to it (the whole image when width or
// height is 0): only the rows down to the region's bottom, and the iMCU columns
// it touches, are decoded. `image_size` receives the full size. The pixels are
// BGRX as decode_jpeg's.
struct JpegView {
  std::int32_t fit_width = 0;
  std::int32_t fit_height = 0;
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};
bool decode_jpeg_view(std::FILE* file, const JpegView& view, Bitmap32& out, ImageSize& image_size);
bool decode_png(std::FILE* file, Bitmap32& out);
bool decode_gif(std::FILE* file, Bitmap32& out);
bool decode_tiff(std::FILE* file, Bitmap32& out);
bool decode_bmp(std::FILE* file, Bitmap32& out);
bool decode_webp(std::FILE* file, Bitmap32& out);
bool decode_heif(std::FILE* file, Bitmap32& out);

// Whether a TIFF-structured file is a camera raw file rather than a picture: a
// DNG (DNGVersion in the first directory), a CR2 (its signature after the
// header), or a file with a colour-filter-array or linear-raw directory among its
// first directories and their sub-directories (NEF, ARW, PEF, SRW, ...). The file
// is left at its start.
bool tiff_is_camera_raw(std::FILE* file);

// A camera raw file through LibRaw, as `mode` asks (see RawMode), its rows handed
// to `sink` like decode_jpeg_rows; `source` tells which path was taken. A preview
// that is missing, not JPEG, smaller than full size or unreadable before its
// first row falls back to a develop; a failure after the sink has begun fails the
// decode.
bool decode_raw_rows(std::FILE* file, RawMode mode, ImageRowSink& sink, DecodeSource& source);

// Largest file that a decoder reading the whole file into memory accepts (WebP,
// HEIF, raw): no real photograph within MAX_IMAGE_PIXELS comes near.
inline constexpr std::size_t MAX_IMAGE_FILE_BYTES = std::size_t{1} << 30;

// The whole file from its current position, when it holds at most `limit` bytes.
bool read_file_bytes(std::FILE* file, std::size_t limit, std::vector<std::uint8_t>& bytes);

// A row of 8-bit R, G, B, A samples as BGRX with the alpha composited over white;
// `rgba` may be `bgrx` itself (converted in place).
void rgba_row_to_bgrx(const std::uint8_t* rgba, std::int32_t width, std::uint8_t* bgrx);

}  // namespace lumvet::detail
