// decode_image_file: recognise the format by its leading bytes, hand the open file
// to that format's decoder, and shrink the result when limits ask for it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "imaging/decode_budget.h"
#include "imaging/decoders.h"
#include "imaging/imaging.h"
#include "platform/platform.h"

namespace lumvet {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool starts_with(const std::uint8_t* head, std::size_t size, const char* magic, std::size_t n) {
  return size >= n && std::memcmp(head, magic, n) == 0;
}

}  // namespace

ImageFormat sniff_image_format(const std::uint8_t* head, std::size_t size) {
  if (starts_with(head, size, "\xFF\xD8\xFF", 3)) return ImageFormat::jpeg;
  if (starts_with(head, size, "\x89PNG\r\n\x1A\n", 8)) return ImageFormat::png;
  if (starts_with(head, size, "GIF87a", 6) || starts_with(head, size, "GIF89a", 6)) {
    return ImageFormat::gif;
  }
  // Classic TIFF (42) and BigTIFF (43), in either byte order.
  if (starts_with(head, size, "II*\0", 4) || starts_with(head, size, "MM\0*", 4) ||
      starts_with(head, size, "II+\0", 4) || starts_with(head, size, "MM\0+", 4)) {
    return ImageFormat::tiff;
  }
  if (starts_with(head, size, "BM", 2)) return ImageFormat::bmp;
  return ImageFormat::unknown;
}

namespace {

// Opens a regular file and tells its format from the leading bytes; the file is
// left at its start. Null when it cannot be opened or read.
FilePtr open_image(const std::string& path, ImageFormat& format) {
  FilePtr file(platform::open_regular_file(path));
  if (!file) return file;
  std::uint8_t head[8];
  const std::size_t got = std::fread(head, 1, sizeof head, file.get());
  if (std::fseek(file.get(), 0, SEEK_SET) != 0) return nullptr;
  format = sniff_image_format(head, got);
  return file;
}

// The whole image at full size; false when the format's decoder fails or yields
// no pixels.
bool decode_whole(std::FILE* file, ImageFormat format, Bitmap32& bitmap) {
  bool ok = false;
  switch (format) {
    case ImageFormat::jpeg:
      ok = detail::decode_jpeg(file, bitmap);
      break;
    case ImageFormat::png:
      ok = detail::decode_png(file, bitmap);
      break;
    case ImageFormat::gif:
      ok = detail::decode_gif(file, bitmap);
      break;
    case ImageFormat::tiff:
      ok = detail::decode_tiff(file, bitmap);
      break;
    case ImageFormat::bmp:
      ok = detail::decode_bmp(file, bitmap);
      break;
    case ImageFormat::unknown:
      break;
  }
  return ok && bitmap.pixels && bitmap.width > 0 && bitmap.height > 0;
}

}  // namespace

std::optional<Bitmap32> decode_image_file(const std::string& path, std::int32_t max_width,
                                          std::int32_t max_height) {
  const DecodeMemoryScope memory;
  ImageFormat format = ImageFormat::unknown;
  FilePtr file = open_image(path, format);
  if (!file) return std::nullopt;
  Bitmap32 bitmap;
  if (!decode_whole(file.get(), format, bitmap)) return std::nullopt;
  if (max_width != 0 && max_height != 0 &&
      (bitmap.width > max_width || bitmap.height > max_height)) {
    return shrink_to_bitmap(bitmap, max_width, max_height);
  }
  return bitmap;
}

bool decode_image_rows(const std::string& path, ImageRowSink& sink) {
  const DecodeMemoryScope memory;
  ImageFormat format = ImageFormat::unknown;
  FilePtr file = open_image(path, format);
  if (!file) return false;
  if (format == ImageFormat::jpeg) return detail::decode_jpeg_rows(file.get(), sink);
  Bitmap32 bitmap;
  if (!decode_whole(file.get(), format, bitmap)) return false;
  file.reset();
  if (!sink.begin(bitmap.width, bitmap.height)) return false;
  std::uint8_t* rows[IMAGE_ROW_BATCH];
  if (sink.wants_luma()) {
    // Each row's luminance goes into its own first quarter, which its BGRX bytes
    // no longer need once read (the conversion reads ahead of where it writes).
    for (std::int32_t y = 0; y < bitmap.height; y += IMAGE_ROW_BATCH) {
      const std::int32_t n = std::min(IMAGE_ROW_BATCH, bitmap.height - y);
      for (std::int32_t i = 0; i < n; ++i) {
        rows[i] = bitmap.row(y + i);
        bgrx_to_luma(rows[i], bitmap.width, rows[i]);
      }
      sink.take_rows(y, n, rows);
    }
    return true;
  }
  for (std::int32_t y = 0; y < bitmap.height; y += IMAGE_ROW_BATCH) {
    const std::int32_t n = std::min(IMAGE_ROW_BATCH, bitmap.height - y);
    for (std::int32_t i = 0; i < n; ++i) rows[i] = bitmap.row(y + i);
    sink.take_rows(y, n, rows);
  }
  return true;
}

void bgrx_to_luma(const std::uint8_t* bgrx, std::int32_t count, std::uint8_t* luma) {
  for (std::int32_t i = 0; i < count; ++i, bgrx += 4) {
    const std::uint32_t y = 19595u * bgrx[2] + 38470u * bgrx[1] + 7471u * bgrx[0] + 32768u;
    luma[i] = static_cast<std::uint8_t>(y >> 16);
  }
}

std::optional<Bitmap32> load_bitmap32(const std::string& path) {
  std::optional<Bitmap32> bitmap = decode_image_file(path, 0, 0);
  if (bitmap && (!bitmap->pixels || bitmap->width == 0 || bitmap->height == 0)) bitmap.reset();
  return bitmap;
}

std::int32_t mul_div(std::int32_t a, std::int32_t b, std::int32_t c) {
  if (c == 0) return -1;
  const std::int64_t product = std::int64_t{a} * b;
  std::int64_t q = product / c;
  const std::int64_t r = product % c;
  // Round half away from zero: compare twice the remainder with the divisor.
  const std::int64_t r2 = r < 0 ? -2 * r : 2 * r;
  const std::int64_t c_abs = c < 0 ? -std::int64_t{c} : c;
  if (r2 >= c_abs) q += ((product < 0) != (c < 0)) ? -1 : 1;
  if (q > INT32_MAX || q < INT32_MIN) return -1;
  return static_cast<std::int32_t>(q);
}

ImageSize shrink_geometry(std::int32_t width, std::int32_t height, std::int32_t max_width,
                          std::int32_t max_height) {
  // 64-bit products: with 32-bit ones a wide image against a tall box could wrap
  // and pick the wrong side.
  ImageSize size;
  if (std::int64_t{width} * max_height > std::int64_t{height} * max_width) {
    size.width = max_width;
    size.height = mul_div(max_width, height, width);
  } else {
    size.height = max_height;
    size.width = mul_div(max_height, width, height);
  }
  return size;
}

std::optional<Bitmap32> shrink_to_bitmap(const Bitmap32& source, std::int32_t max_width,
                                         std::int32_t max_height) {
  if (!source.pixels || source.width <= 0 || source.height <= 0) return std::nullopt;
  const ImageSize size = shrink_geometry(source.width, source.height, max_width, max_height);
  if (size.width <= 0 || size.height <= 0) return std::nullopt;
  Bitmap32 target = make_bitmap32(size.width, size.height);
  if (!target.pixels) return std::nullopt;
  // Target pixel (x, y) averages the source box [x W / w, (x + 1) W / w) by
  // [y H / h, (y + 1) H / h), rounded to nearest; a box is never empty when the
  // target is no larger than the source, and is one pixel wide where it is larger.
  const std::int64_t sw = source.width, sh = source.height, tw = size.width, th = size.height;
  for (std::int64_t y = 0; y < th; ++y) {
    const std::int64_t y0 = y * sh / th;
    const std::int64_t y1 = std::max(y0 + 1, (y + 1) * sh / th);
    std::uint8_t* out = target.row(static_cast<std::int32_t>(y));
    for (std::int64_t x = 0; x < tw; ++x, out += 4) {
      const std::int64_t x0 = x * sw / tw;
      const std::int64_t x1 = std::max(x0 + 1, (x + 1) * sw / tw);
      std::uint64_t sum[3] = {0, 0, 0};
      for (std::int64_t sy = y0; sy < y1; ++sy) {
        const std::uint8_t* p = source.row(static_cast<std::int32_t>(sy)) + 4 * x0;
        for (std::int64_t sx = x0; sx < x1; ++sx, p += 4) {
          sum[0] += p[0];
          sum[1] += p[1];
          sum[2] += p[2];
        }
      }
      const std::uint64_t n = static_cast<std::uint64_t>((y1 - y0) * (x1 - x0));
      for (int c = 0; c < 3; ++c) out[c] = static_cast<std::uint8_t>((sum[c] + n / 2) / n);
      out[3] = 255;
    }
  }
  return target;
}

}  // namespace lumvet
