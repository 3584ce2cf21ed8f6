// BMP through stb_image, compiled here with only its BMP decoder and with every
// symbol private to this file. stb_image reads uncompressed BMPs of 1, 4, 8, 16,
// 24 and 32 bits per pixel with the 12, 40, 56, 108 and 124-byte headers,
// bit-field masks, and top-down and bottom-up row order; RLE-compressed BMPs are
// refused. A 32-bit BMP whose alpha bytes are all 0 is taken as opaque (as stb_image
// does); other alpha is composited over white.
//
// The header is judged here before stb_image allocates anything (read_bmp_layout):
// its size, that the pixel-data offset leaves room for the headers and the
// palette, that the file holds every row, and, when the palette has fewer
// entries than the bit depth can index, that no pixel names a missing entry
// (stb_image would read that entry from uninitialised memory).
//
// stb_image's one pixel buffer (RGBA, four bytes per pixel) is allocated with
// new[] and becomes the bitmap's own storage after an in-place conversion to
// BGRX, so a BMP costs one bitmap, like every other format.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "imaging/decode_budget.h"
#include "imaging/decoders.h"
#include "imaging/imaging.h"

namespace lumvet::detail {
namespace {

void* stb_allocate(std::size_t size) { return new (std::nothrow) std::uint8_t[size]; }

void stb_release(void* p) { delete[] static_cast<std::uint8_t*>(p); }

[[maybe_unused]] void* stb_reallocate(void* p, std::size_t old_size, std::size_t size) {
  void* fresh = stb_allocate(size);
  if (fresh != nullptr && p != nullptr) std::memcpy(fresh, p, old_size < size ? old_size : size);
  if (fresh != nullptr) stb_release(p);
  return fresh;
}

}  // namespace
}  // namespace lumvet::detail

#define STBI_MALLOC(size) lumvet::detail::stb_allocate(size)
#define STBI_REALLOC_SIZED(p, old_size, size) lumvet::detail::stb_reallocate(p, old_size, size)
#define STBI_FREE(p) lumvet::detail::stb_release(p)
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
  return static_cast<int>(
      std::fread(data, 1, static_cast<std::size_t>(size), static_cast<std::FILE*>(user)));
}

void skip_callback(void* user, int n) { std::fseek(static_cast<std::FILE*>(user), n, SEEK_CUR); }

int eof_callback(void* user) { return std::feof(static_cast<std::FILE*>(user)) != 0; }

std::uint32_t le16(const unsigned char* p) { return p[0] | (std::uint32_t{p[1]} << 8); }
std::uint32_t le32(const unsigned char* p) { return le16(p) | (le16(p + 2) << 16); }

// What the headers announce, in the terms stb_image reads them in.
struct BmpLayout {
  std::int64_t width = 0;
  std::int64_t height = 0;  // rows, whatever their order
  std::int64_t bits_per_pixel = 0;
  std::int64_t data_offset = 0;      // where the rows begin
  std::int64_t palette_entries = 0;  // as stb_image counts them; 0 above 8 bits
  std::int64_t row_bytes = 0;        // padded to 4 bytes
};

// Whether every pixel of a palette image names one of the palette's entries:
// the rows are read from data_offset, a block at a time.
bool palette_indices_fit(std::FILE* file, const BmpLayout& bmp) {
  if (std::fseek(file, static_cast<long>(bmp.data_offset), SEEK_SET) != 0) return false;
  const std::int64_t bits = bmp.bits_per_pixel;
  const std::int64_t used_bits = bmp.width * bits;  // per row, before the padding
  const std::int64_t entries = bmp.palette_entries;
  std::int64_t left = bmp.row_bytes * bmp.height;
  std::int64_t at = 0;  // byte position within the current row
  unsigned char block[65536];
  while (left > 0) {
    const std::size_t want =
        left < std::int64_t{sizeof block} ? static_cast<std::size_t>(left) : sizeof block;
    if (std::fread(block, 1, want, file) != want) return false;
    left -= static_cast<std::int64_t>(want);
    for (std::size_t i = 0; i < want; ++i, at = at + 1 == bmp.row_bytes ? 0 : at + 1) {
      for (std::int64_t bit = 0; bit < 8; bit += bits) {
        if (at * 8 + bit >= used_bits) break;  // padding, or bits past the last pixel
        const unsigned index = (block[i] >> (8 - bits - bit)) & ((1u << bits) - 1);
        if (index >= entries) return false;
      }
    }
  }
  return true;
}

// Judges the headers before anything is allocated; the file is left at its start.
// Refuses what stb_image would refuse after allocating (an unknown header size,
// a bit depth it cannot read), a size that is not allowed, a pixel-data offset
// that cannot hold the headers and the palette stb_image reads (it would read a
// negative number of entries and go on with an uninitialised palette), a palette
// of more than 256 entries, a file too short to hold every row (stb_image would
// read the missing bytes as zeros, and a damaged size field would have it
// allocate and fill up to the pixel limit from a few bytes), and a palette image
// with a pixel beyond its palette.
bool read_bmp_layout(std::FILE* file, BmpLayout& bmp) {
  unsigned char head[34];
  const std::size_t got = std::fread(head, 1, sizeof head, file);
  if (got < 30 || head[0] != 'B' || head[1] != 'M') return false;
  bmp.data_offset = le32(head + 10);
  const std::uint32_t header_size = le32(head + 14);
  if (header_size == 12) {
    bmp.width = le16(head + 18);
    bmp.height = le16(head + 20);
    bmp.bits_per_pixel = le16(head + 24);
  } else if (header_size == 40 || header_size == 56 || header_size == 108 || header_size == 124) {
    if (got < 34) return false;
    bmp.width = static_cast<std::int32_t>(le32(head + 18));
    bmp.height = static_cast<std::int32_t>(le32(head + 22));
    if (bmp.height < 0) bmp.height = -bmp.height;
    bmp.bits_per_pixel = le16(head + 28);
  } else {
    return false;
  }
  const std::int64_t bits = bmp.bits_per_pixel;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  if (!image_size_allowed(bmp.width, bmp.height) || bmp.data_offset > INT32_MAX) return false;
  if (bits <= 8) {
    // stb_image's own count: the bytes between the headers and the offset, three
    // per entry after a 12-byte header (counted from 24 bytes past the file
    // header, as stb_image does) and four after the others.
    bmp.palette_entries = header_size == 12 ? (bmp.data_offset - 14 - 24) / 3
                                            : (bmp.data_offset - 14 - header_size) / 4;
    if (bmp.palette_entries < 1 || bmp.palette_entries > 256) return false;
  }
  bmp.row_bytes = (bmp.width * bits + 31) / 32 * 4;
  if (std::fseek(file, 0, SEEK_END) != 0) return false;
  const long file_size = std::ftell(file);
  if (file_size < 0 || file_size - bmp.data_offset < bmp.row_bytes * bmp.height) return false;
  if (bits <= 8 && bmp.palette_entries < (std::int64_t{1} << bits) &&
      !palette_indices_fit(file, bmp)) {
    return false;
  }
  return std::fseek(file, 0, SEEK_SET) == 0;
}

}  // namespace

bool decode_bmp(std::FILE* file, Bitmap32& out) {
  BmpLayout layout;
  if (!read_bmp_layout(file, layout)) return false;
  reserve_decode_memory(4 * static_cast<std::uint64_t>(layout.width * layout.height));

  const stbi_io_callbacks callbacks = {read_callback, skip_callback, eof_callback};
  int width = 0, height = 0, channels = 0;
  std::unique_ptr<std::uint8_t[]> pixels(
      stbi_load_from_callbacks(&callbacks, file, &width, &height, &channels, 4));
  if (!pixels || width != layout.width || height != layout.height) return false;

  // RGBA to BGRX over white, in place.
  std::uint8_t* p = pixels.get();
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  for (std::size_t i = 0; i < count; ++i, p += 4) {
    const std::uint32_t r = p[0], g = p[1], b = p[2], a = p[3];
    p[0] = composite_over_white(b, a);
    p[1] = composite_over_white(g, a);
    p[2] = composite_over_white(r, a);
    p[3] = 255;
  }
  out.width = width;
  out.height = height;
  out.pixels = std::move(pixels);
  return true;
}

}  // namespace lumvet::detail
