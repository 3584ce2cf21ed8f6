// The 32-bit bitmap that decoders produce and the patch statistics read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace lumvet {

// Largest image, in pixels, that lumvet decodes or measures: 2^28 pixels, a
// 1 GiB full-frame bitmap (a 16384 x 16384 panorama). Headers that claim more are
// refused before any pixel buffer is allocated.
inline constexpr std::int64_t MAX_IMAGE_PIXELS = std::int64_t{1} << 28;

// True for a positive size of at most MAX_IMAGE_PIXELS pixels, the product taken in
// 64 bits. Decoders test every size a header claims with this before allocating.
inline bool image_size_allowed(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width <= MAX_IMAGE_PIXELS && height <= MAX_IMAGE_PIXELS &&
         width * height <= MAX_IMAGE_PIXELS;
}

// Owning 32-bit bitmap: four bytes per pixel in the order blue, green, red,
// reserved; rows top to bottom, `stride()` = width * 4 bytes apart.
struct Bitmap32 {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::unique_ptr<std::uint8_t[]> pixels;

  std::size_t stride() const { return static_cast<std::size_t>(width) * 4; }
  std::size_t byte_size() const { return stride() * static_cast<std::size_t>(height); }
  std::uint8_t* row(std::int32_t y) { return pixels.get() + stride() * static_cast<std::size_t>(y); }
  const std::uint8_t* row(std::int32_t y) const {
    return pixels.get() + stride() * static_cast<std::size_t>(y);
  }
};

// Allocates an uninitialised bitmap. Returns an empty bitmap (no pixels, size 0 x 0)
// when the size is not allowed (see image_size_allowed) or the allocation fails.
inline Bitmap32 make_bitmap32(std::int32_t width, std::int32_t height) {
  Bitmap32 b;
  if (!image_size_allowed(width, height)) return b;
  b.width = width;
  b.height = height;
  b.pixels.reset(new (std::nothrow) std::uint8_t[b.byte_size()]);
  if (!b.pixels) {
    b.width = 0;
    b.height = 0;
  }
  return b;
}

}  // namespace lumvet
