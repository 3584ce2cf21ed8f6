// decode_image_file: recognise the format by its leading bytes, hand the open file
// to that format's decoder, and shrink the result when limits ask for it; and the
// helpers that several decoders share.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
  if (starts_with(head, size, "RIFF", 4) && size >= 12 && std::memcmp(head + 8, "WEBP", 4) == 0) {
    return ImageFormat::webp;
  }
  // An ISO base media file: its first box is "ftyp", whose major brand names the
  // kind. HEIF still images (HEVC, or any codec for mif1/msf1), AVIF, and
  // Canon's CR3 raw files share the container.
  if (size >= 12 && std::memcmp(head + 4, "ftyp", 4) == 0) {
    static const char* const heif_brands[] = {"heic", "heix", "heim", "heis", "hevc",
                                              "hevx", "hevm", "hevs", "mif1", "msf1",
                                              "mif2", "avif", "avis"};
    for (const char* brand : heif_brands) {
      if (std::memcmp(head + 8, brand, 4) == 0) return ImageFormat::heif;
    }
    if (std::memcmp(head + 8, "crx ", 4) == 0) return ImageFormat::raw;
    return ImageFormat::unknown;
  }
  // JPEG XL: a bare codestream, or the container's signature box. Recognised so
  // that callers can name the format, but not decoded (the decoder of the
  // distribution's libjxl prints its failures on damaged files).
  if (starts_with(head, size, "\xFF\x0A", 2) ||
      starts_with(head, size, "\0\0\0\x0CJXL \r\n\x87\n", 12)) {
    return ImageFormat::jxl;
  }
  // Raw formats with headers of their own: Fujifilm RAF, Olympus ORF, Panasonic
  // RW2, Canon CRW, Minolta MRW.
  if (starts_with(head, size, "FUJIFILMCCD-RAW", 15) || starts_with(head, size, "IIRO", 4) ||
      starts_with(head, size, "IIRS", 4) || starts_with(head, size, "MMOR", 4) ||
      starts_with(head, size, "IIU\0", 4) || starts_with(head, size, "\0MRM", 4) ||
      (starts_with(head, size, "II\x1A\0\0\0", 6) && size >= 14 &&
       std::memcmp(head + 6, "HEAPCCDR", 8) == 0)) {
    return ImageFormat::raw;
  }
  return ImageFormat::unknown;
}

const char* raw_mode_name(RawMode mode) {
  switch (mode) {
    case RawMode::preview:
      return "preview";
    case RawMode::develop:
      return "develop";
  }
  return nullptr;
}

std::optional<RawMode> parse_raw_mode(const std::string& name) {
  if (name == "preview") return RawMode::preview;
  if (name == "develop") return RawMode::develop;
  return std::nullopt;
}

namespace detail {

bool read_file_bytes(std::FILE* file, std::size_t limit, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  std::uint8_t chunk[1 << 16];
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
    if (got == 0) return std::ferror(file) == 0;
    if (got > limit - bytes.size()) return false;
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
}

void rgba_row_to_bgrx(const std::uint8_t* rgba, std::int32_t width, std::uint8_t* bgrx) {
  for (std::int32_t x = 0; x < width; ++x, rgba += 4, bgrx += 4) {
    const std::uint32_t r = rgba[0], g = rgba[1], b = rgba[2], a = rgba[3];
    if (a == 255) {
      bgrx[0] = static_cast<std::uint8_t>(b);
      bgrx[1] = static_cast<std::uint8_t>(g);
      bgrx[2] = static_cast<std::uint8_t>(r);
    } else {
      bgrx[0] = composite_over_white(b, a);
      bgrx[1] = composite_over_white(g, a);
      bgrx[2] = composite_over_white(r, a);
    }
    bgrx[3] = 255;
  }
}

}  // namespace detail

namespace {

// Opens a regular file and tells its format from the leading bytes (and, for
// TIFF, whether it is a camera raw file); the file is left at its start. Null
// when it cannot be opened or read.
FilePtr open_image(const std::string& path, ImageFormat& format) {
  FilePtr file(platform::open_regular_file(path));
  if (!file) return file;
  std::uint8_t head[IMAGE_HEAD_BYTES];
  const std::size_t got = std::fread(head, 1, sizeof head, file.get());
  if (std::fseek(file.get(), 0, SEEK_SET) != 0) return nullptr;
  format = sniff_image_format(head, got);
  if (format == ImageFormat::tiff && detail::tiff_is_camera_raw(file.get())) {
    format = ImageFormat::raw;
  }
  return file;
}

// The whole image at full size; false when the format's decoder fails or yields
// no pixels.
bool decode_whole(std::FILE* file, ImageFormat format, const DecodeOptions& options,
                  Bitmap32& bitmap, DecodeSource& source) {
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
    case ImageFormat::webp:
      ok = detail::decode_webp(file, bitmap);
      break;
    case ImageFormat::heif:
      ok = detail::decode_heif(file, bitmap);
      break;
    case ImageFormat::jxl:  // recognised, not decoded: see the README's formats section
    case ImageFormat::raw: {
      detail::BitmapRowSink sink(bitmap);
      ok = detail::decode_raw_rows(file, options.raw, sink, source);
      break;
    }
    case ImageFormat::unknown:
      break;
  }
  return ok && bitmap.pixels && bitmap.width > 0 && bitmap.height > 0;
}

}  // namespace

std::optional<Bitmap32> decode_image_file(const std::string& path, std::int32_t max_width,
                                          std::int32_t max_height) {
  return decode_image_file(path, max_width, max_height, DecodeOptions{}, nullptr);
}

std::optional<Bitmap32> decode_image_file(const std::string& path, std::int32_t max_width,
                                          std::int32_t max_height, const DecodeOptions& options,
                                          DecodeInfo* info) {
  const DecodeMemoryScope memory;
  DecodeInfo local;
  DecodeInfo& report = info != nullptr ? *info : local;
  report = DecodeInfo{};
  FilePtr file = open_image(path, report.format);
  if (!file) return std::nullopt;
  Bitmap32 bitmap;
  if (!decode_whole(file.get(), report.format, options, bitmap, report.source)) return std::nullopt;
  if (max_width != 0 && max_height != 0 &&
      (bitmap.width > max_width || bitmap.height > max_height)) {
    return shrink_to_bitmap(bitmap, max_width, max_height);
  }
  return bitmap;
}

bool decode_image_rows(const std::string& path, ImageRowSink& sink) {
  return decode_image_rows(path, sink, DecodeOptions{}, nullptr);
}

bool decode_image_rows(const std::string& path, ImageRowSink& sink, const DecodeOptions& options,
                       DecodeInfo* info) {
  const DecodeMemoryScope memory;
  DecodeInfo local;
  DecodeInfo& report = info != nullptr ? *info : local;
  report = DecodeInfo{};
  KeptFrame* keep = sink.frame_to_keep();
  if (keep != nullptr) keep->clear();
  FilePtr file = open_image(path, report.format);
  if (!file) return false;
  if (report.format == ImageFormat::jpeg) return detail::decode_jpeg_rows(file.get(), sink);
  if (report.format == ImageFormat::raw) {
    return detail::decode_raw_rows(file.get(), options.raw, sink, report.source);
  }
  Bitmap32 bitmap;
  if (!decode_whole(file.get(), report.format, options, bitmap, report.source)) return false;
  file.reset();
  if (!sink.begin(bitmap.width, bitmap.height)) return false;
  std::uint8_t* rows[IMAGE_ROW_BATCH];
  if (sink.wants_luma()) {
    // Each row's luminance goes into its own first quarter, which its BGRX bytes
    // no longer need once read (the conversion reads ahead of where it writes),
    // unless the frame is kept: then into rows of their own.
    std::vector<std::uint8_t> kept_luma;
    if (keep != nullptr) {
      kept_luma.resize(static_cast<std::size_t>(IMAGE_ROW_BATCH) *
                       static_cast<std::size_t>(bitmap.width));
    }
    for (std::int32_t y = 0; y < bitmap.height; y += IMAGE_ROW_BATCH) {
      const std::int32_t n = std::min(IMAGE_ROW_BATCH, bitmap.height - y);
      for (std::int32_t i = 0; i < n; ++i) {
        rows[i] = keep != nullptr
                      ? kept_luma.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(bitmap.width)
                      : bitmap.row(y + i);
        bgrx_to_luma(bitmap.row(y + i), bitmap.width, rows[i]);
      }
      sink.take_rows(y, n, rows);
    }
  } else {
    for (std::int32_t y = 0; y < bitmap.height; y += IMAGE_ROW_BATCH) {
      const std::int32_t n = std::min(IMAGE_ROW_BATCH, bitmap.height - y);
      for (std::int32_t i = 0; i < n; ++i) rows[i] = bitmap.row(y + i);
      sink.take_rows(y, n, rows);
    }
  }
  if (keep != nullptr) {
    keep->kind = KeptFrame::Kind::bgrx;
    keep->width = bitmap.width;
    keep->height = bitmap.height;
    keep->bitmap = std::move(bitmap);
  }
  return true;
}

std::optional<Bitmap32> decode_image_preview(const std::string& path, std::int32_t max_width,
                                             std::int32_t max_height, ImageSize& full_size) {
  const DecodeMemoryScope memory;
  full_size = {};
  ImageFormat format = ImageFormat::unknown;
  FilePtr file = open_image(path, format);
  if (!file) return std::nullopt;
  Bitmap32 bitmap;
  if (format == ImageFormat::jpeg) {
    detail::JpegView view;
    view.fit_width = max_width;
    view.fit_height = max_height;
    if (!detail::decode_jpeg_view(file.get(), view, bitmap, full_size)) return std::nullopt;
  } else {
    DecodeSource source = DecodeSource::image;
    if (!decode_whole(file.get(), format, DecodeOptions{}, bitmap, source)) return std::nullopt;
    full_size = {bitmap.width, bitmap.height};
  }
  if (bitmap.width > max_width || bitmap.height > max_height) {
    return shrink_to_bitmap(bitmap, max_width, max_height);
  }
  return bitmap;
}

std::optional<Bitmap32> decode_image_region(const std::string& path, std::int32_t x, std::int32_t y,
                                            std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 0) return std::nullopt;
  const DecodeMemoryScope memory;
  ImageFormat format = ImageFormat::unknown;
  FilePtr file = open_image(path, format);
  if (!file) return std::nullopt;
  Bitmap32 bitmap;
  if (format == ImageFormat::jpeg) {
    detail::JpegView view;
    view.x = x;
    view.y = y;
    view.width = width;
    view.height = height;
    ImageSize size;
    if (!detail::decode_jpeg_view(file.get(), view, bitmap, size)) return std::nullopt;
    return bitmap;
  }
  DecodeSource source = DecodeSource::image;
  KeptFrame whole;
  if (!decode_whole(file.get(), format, DecodeOptions{}, whole.bitmap, source)) return std::nullopt;
  whole.kind = KeptFrame::Kind::bgrx;
  whole.width = whole.bitmap.width;
  whole.height = whole.bitmap.height;
  return kept_frame_region(whole, x, y, width, height);
}

void bgrx_to_luma(const std::uint8_t* bgrx, std::int32_t count, std::uint8_t* luma) {
  for (std::int32_t i = 0; i < count; ++i, bgrx += 4) {
    const std::uint32_t y = 19595u * bgrx[2] + 38470u * bgrx[1] + 7471u * bgrx[0] + 32768u;
    luma[i] = static_cast<std::uint8_t>(y >> 16);
  }
}

std::optional<Bitmap32> load_bitmap32(const std::string& path) {
  return load_bitmap32(path, DecodeOptions{}, nullptr);
}

std::optional<Bitmap32> load_bitmap32(const std::string& path, const DecodeOptions& options,
                                      DecodeInfo* info) {
  std::optional<Bitmap32> bitmap = decode_image_file(path, 0, 0, options, info);
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
