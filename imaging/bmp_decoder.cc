// BMP through stb_image, compiled here with only its BMP decoder and with every
// symbol private to this file. stb_image reads uncompressed BMPs of 1, 4, 8, 16,
// 24 and 32 bits per pixel with the 12, 40, 56, 108 and 124-byte headers,
// bit-field masks, and top-down and bottom-up row order; RLE-compressed BMPs are
// refused. A 32-bit BMP whose alpha bytes are all 0 is taken as opaque (as stb_image
// does); other alpha is composited over white.
//
// The header's size, and that the file holds that many rows, are checked here
// before stb_image allocates anything. stb_image
// returns RGBA in a buffer of its own, so this one format pays a copy into the
// bitmap.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "imaging/decoders.h"
#include "imaging/imaging.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_NO_FAILURE_STRINGS
#include <stb/stb_image.h>

namespace lumvet::detail {

namespace {

int read_callback(void* user, char* data, int size) {
  if (size <= 0) return 0;
  return static_cast<int>(std::fread(data, 1, static_cast<std::size_t>(size), static_cast<std::FILE*>(user)));
}

void skip_callback(void* user, int n) { std::fseek(static_cast<std::FILE*>(user), n, SEEK_CUR); }

int eof_callback(void* user) { return std::feof(static_cast<std::FILE*>(user)) != 0; }

std::uint32_t le16(const unsigned char* p) { return p[0] | (std::uint32_t{p[1]} << 8); }
std::uint32_t le32(const unsigned char* p) { return le16(p) | (le16(p + 2) << 16); }

// Width and height as the header states them: 16-bit unsigned in the 12-byte
// header, 32-bit signed in the others (a negative height means top-down rows).
// Refuses a file too short to hold the rows that the header announces: stb_image
// would read the missing bytes as zeros, and a damaged size field would have it
// allocate and fill up to the pixel limit from a few bytes.
bool read_bmp_size(std::FILE* file, std::int64_t& width, std::int64_t& height) {
  unsigned char head[30];
  if (std::fread(head, 1, sizeof head, file) != sizeof head) return false;
  if (head[0] != 'B' || head[1] != 'M') return false;
  std::int64_t bits_per_pixel = 0;
  if (le32(head + 14) == 12) {
    width = le16(head + 18);
    height = le16(head + 20);
    bits_per_pixel = le16(head + 24);
  } else {
    width = static_cast<std::int32_t>(le32(head + 18));
    height = static_cast<std::int32_t>(le32(head + 22));
    if (height < 0) height = -height;
    bits_per_pixel = le16(head + 28);
  }
  if (!image_size_allowed(width, height) || bits_per_pixel <= 0 || bits_per_pixel > 32) return false;
  const std::int64_t row_bytes = (width * bits_per_pixel + 31) / 32 * 4;
  if (std::fseek(file, 0, SEEK_END) != 0) return false;
  const long file_size = std::ftell(file);
  if (file_size < 0 || file_size < row_bytes * height) return false;
  return std::fseek(file, 0, SEEK_SET) == 0;
}

struct StbiFree {
  void operator()(stbi_uc* p) const { stbi_image_free(p); }
};

}  // namespace

bool decode_bmp(std::FILE* file, Bitmap32& out) {
  std::int64_t header_width = 0, header_height = 0;
  if (!read_bmp_size(file, header_width, header_height)) return false;

  const stbi_io_callbacks callbacks = {read_callback, skip_callback, eof_callback};
  int width = 0, height = 0, channels = 0;
  std::unique_ptr<stbi_uc, StbiFree> rgba(
      stbi_load_from_callbacks(&callbacks, file, &width, &height, &channels, 4));
  if (!rgba || width != header_width || height != header_height) return false;

  out = make_bitmap32(width, height);
  if (!out.pixels) return false;
  const stbi_uc* s = rgba.get();
  std::uint8_t* d = out.pixels.get();
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  for (std::size_t i = 0; i < pixels; ++i, s += 4, d += 4) {
    const std::uint32_t a = s[3];
    d[0] = composite_over_white(s[2], a);
    d[1] = composite_over_white(s[1], a);
    d[2] = composite_over_white(s[0], a);
    d[3] = 255;
  }
  return true;
}

}  // namespace lumvet::detail
