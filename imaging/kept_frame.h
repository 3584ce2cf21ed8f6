// A decoded picture kept after a measuring decode, so that parts of it can be
// shown (a thumbnail, a full-size crop) without reading the file again.
//
// A decoder keeps the frame in the form it already holds: a JPEG stored as
// YCbCr (or grey) as its planes at their stored resolutions, so that the pixels
// never shown are never colour-converted, and every other picture as its BGRX
// bitmap. A decoder that has no cheap way to keep it leaves the frame empty,
// and the caller decodes the file again for what it wants to show.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "imaging/bitmap.h"
#include "platform/platform.h"

namespace lumvet {

struct KeptFrame {
  enum class Kind { none, bgrx, planes };

  // One component of a planar frame: rows of `stride` bytes, of which the
  // first `height` rows and `width` columns are the picture's samples.
  // Its memory is kept from frame to frame and not initialised: the decoder
  // writes every byte of the rows it uses.
  struct Plane {
    platform::LargeBuffer bytes;
    std::size_t capacity = 0;
    std::int32_t stride = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    int h_samp = 1;  // sampling factors as the JPEG file states them
    int v_samp = 1;
    const std::uint8_t* row(std::int32_t y) const {
      return bytes.get() + static_cast<std::size_t>(stride) * static_cast<std::size_t>(y);
    }
    std::uint8_t* row(std::int32_t y) {
      return bytes.get() + static_cast<std::size_t>(stride) * static_cast<std::size_t>(y);
    }
  };

  Kind kind = Kind::none;
  std::int32_t width = 0;  // the full-size frame
  std::int32_t height = 0;
  // Kind::bgrx: the pixels of a bitmap handed over whole, or else BGRX rows
  // written into planes[0] (whose memory is reused).
  Bitmap32 bitmap;
  // Kind::planes: 1 (grey) or 3 (Y, Cb, Cr) components, the largest sampling
  // factors, and whether the chroma is upsampled as libjpeg does by default
  // (every JPEG libjpeg's fancy upsampling reproduces: luma at the largest
  // factors, chroma at 1 x 1 with 4:4:4, 4:2:2 or 4:2:0 and rows over two
  // samples wide); other chroma is repeated from the nearest sample.
  int components = 0;
  std::array<Plane, 3> planes;
  int max_h = 1;
  int max_v = 1;
  bool libjpeg_upsampling = false;

  // Empties the frame; the planes keep their memory for the next one.
  void clear();
  // Readies plane c for `rows` rows of `stride` bytes; false when the memory
  // cannot be had (the frame is then left empty by the caller).
  bool size_plane(int c, std::int32_t stride, std::int32_t rows);
  // Row y of a Kind::bgrx frame.
  const std::uint8_t* bgrx_row(std::int32_t y) const {
    return bitmap.pixels ? bitmap.row(y) : planes[0].row(y);
  }
};

// The frame fitted to a max_width x max_height box (shrink_geometry, at least a
// pixel each way; the frame's own size when it fits), each pixel the mean of up to 4 x 4 samples spread
// over the pixels it covers (2 x 2 of a planar frame's chroma). Empty when the frame is.
std::optional<Bitmap32> kept_frame_thumbnail(const KeptFrame& frame, std::int32_t max_width,
                                             std::int32_t max_height);

// The full-size pixels of a region, clamped to the frame, as BGRX: for a frame
// kept as a bitmap, or as planes with libjpeg_upsampling, the very bytes that a
// full decode gives. Empty when the frame is, or the region misses it.
std::optional<Bitmap32> kept_frame_region(const KeptFrame& frame, std::int32_t x, std::int32_t y,
                                          std::int32_t width, std::int32_t height);

}  // namespace lumvet
