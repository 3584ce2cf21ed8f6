// Image access: the process-wide decoder life cycle and decoding of image files
// into 32-bit bitmaps. Nothing here ever prints.
//
// Formats are recognised by their content, never by the file name: JPEG
// (libjpeg-turbo), PNG (libpng), GIF (giflib, first frame), TIFF (libtiff, first
// directory), BMP (stb_image), WebP (libwebp, first frame of an animation),
// HEIF/HEIC/AVIF (libheif, the primary image) and camera raw files (LibRaw: the
// embedded full-size JPEG preview, or a full demosaic). JPEG XL files are
// recognised but not decoded. Transparency is composited over white.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/kept_frame.h"

namespace lumvet {

// Background that transparency is composited over: alpha 0, red, green, blue 255.
inline constexpr std::uint32_t BACKGROUND_ARGB = 0x00FFFFFF;

// One colour channel c with alpha a composited over the white background:
// (c a + 255 (255 - a) + 127) / 255 in integers.
inline std::uint8_t composite_over_white(std::uint32_t c, std::uint32_t a) {
  return static_cast<std::uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
}

// The decoders' process-wide life cycle: not started -> started -> stopped at
// process exit (only when it was started). Nothing resets it.
enum class ImagingState { not_started, started, stopped };

struct ImagingLibrary {
  ImagingState state = ImagingState::not_started;
  int start_count = 0;  // starts that did work (0 or 1)
  int stop_count = 0;   // stops that did work (0 or 1)
};

// The one record of the process, for tests to observe.
const ImagingLibrary& imaging_library();

// Sets the decoders up once (libtiff's process-wide message handlers are silenced)
// and registers stop_imaging_library with atexit; later calls do nothing. Every
// entry routine calls it before its first decode, and never on a usage exit.
// The decoders are linked in and hold no other process state, so decoding works
// without it; the start keeps the life cycle that the entry routines share.
void start_imaging_library();

// Runs at process exit: marks the decoders shut down when they were started;
// otherwise, or when called again, it does nothing.
void stop_imaging_library();

enum class ImageFormat { unknown, jpeg, png, gif, tiff, bmp, webp, heif, jxl, raw };

// The number of leading bytes that sniff_image_format may look at.
inline constexpr std::size_t IMAGE_HEAD_BYTES = 16;

// The format that the first bytes of a file announce (at least 8 bytes are needed
// to recognise PNG, 4 for TIFF, 3 for JPEG, 6 for GIF, 2 for BMP, 12 for WebP,
// HEIF/AVIF, and the JPEG XL container, 2 for a bare JPEG XL codestream, and up to
// 16 for the raw formats that are not TIFF-structured: CR3, RAF, ORF, RW2, CRW,
// MRW). Camera raw files built on TIFF (DNG, CR2, NEF, ARW, PEF, SRW, ...) show as
// tiff here; decoding tells them apart by their directories (see
// tiff_is_camera_raw).
ImageFormat sniff_image_format(const std::uint8_t* head, std::size_t size);

// How a camera raw file is turned into pixels. preview: the embedded JPEG
// preview when the file holds one at full size (its longer side at least 90 % of
// the sensor image's), else a develop. develop: always a full demosaic with
// LibRaw's default settings.
enum class RawMode { preview, develop };

struct DecodeOptions {
  RawMode raw = RawMode::preview;
};

// Where a decode's pixels came from: the format's own decoder (every format but
// raw), a raw file's embedded JPEG preview, or a raw file's demosaic.
enum class DecodeSource { image, raw_preview, raw_develop };

// What a decode reports besides its pixels; filled as far as the decode got.
struct DecodeInfo {
  ImageFormat format = ImageFormat::unknown;
  DecodeSource source = DecodeSource::image;
};

// "preview", "develop", or nullptr for any other name.
const char* raw_mode_name(RawMode mode);
std::optional<RawMode> parse_raw_mode(const std::string& name);

// Decodes an image file at full size, or shrunk to fit max_width x max_height
// when both limits are non-zero and the image exceeds one of them. Nothing when
// the path is not a readable regular file, the format is not recognised, the data
// is corrupt, or the size is not allowed (image_size_allowed); nothing is
// allocated for the pixels of a refused size.
std::optional<Bitmap32> decode_image_file(const std::string& path, std::int32_t max_width,
                                          std::int32_t max_height);
// The same with options; `info`, when given, receives the format and source.
std::optional<Bitmap32> decode_image_file(const std::string& path, std::int32_t max_width,
                                          std::int32_t max_height, const DecodeOptions& options,
                                          DecodeInfo* info);

// decode_image_file without limits, accepted only when it yields pixels and a
// non-zero size. Whether the patches of the scorer fit (image_is_measurable) is
// the scorer's acceptance test, made in scoring/file_scoring.cc.
std::optional<Bitmap32> load_bitmap32(const std::string& path);
std::optional<Bitmap32> load_bitmap32(const std::string& path, const DecodeOptions& options,
                                      DecodeInfo* info);

// Columns begin ... end - 1 of a row.
struct ColumnSpan {
  std::int32_t begin = 0;
  std::int32_t end = 0;
};

// Receives an image's rows top to bottom as a decoder produces them, so that no
// full-frame bitmap is needed. decode_image_rows calls begin once, then asks for
// storage and hands rows over in groups of at most IMAGE_ROW_BATCH consecutive
// rows, each group handed over before the next is asked for.
class ImageRowSink {
 public:
  virtual ~ImageRowSink() = default;
  // The image's size, before any row. Returning false refuses the image: the
  // decode then fails without decoding any pixel.
  virtual bool begin(std::int32_t width, std::int32_t height) = 0;
  // Where row y is to be decoded: width * 4 bytes that stay valid until the row
  // has been handed over.
  virtual std::uint8_t* row_storage(std::int32_t y) = 0;
  // Rows first ... first + count - 1 in their final BGRX pixels (reserved byte
  // 255); rows[i] is row first + i. The pointers may be the sink's storage or the
  // decoder's own.
  virtual void take_rows(std::int32_t first, std::int32_t count, std::uint8_t* const* rows) = 0;
  // A sink that reads only parts of rows may say so (the default reads whole
  // rows) and then, after begin, which parts: the spans of row y, ascending and
  // disjoint (none when the row is not read), valid until the next call. A
  // decoder may then fill only those columns of the rows it hands over (the
  // JPEG decoder does so for single-scan YCbCr files).
  virtual bool wants_column_spans() const { return false; }
  // Whether the sink keeps the whole frame (a bitmap), for the decoding-memory
  // budget's estimate; a sink that keeps only parts of rows says false.
  virtual bool whole_frame() const { return false; }
  // A sink that needs only luminance may say so (the default takes BGRX pixels).
  // Its rows then hold one byte per pixel, width bytes, the luminance
  // Y = 0.299 R + 0.587 G + 0.114 B in libjpeg's fixed-point arithmetic
  // (bgrx_to_luma); a JPEG stored as YCbCr or grey hands over its Y plane as
  // stored, without decoding its chroma at all. Column spans are not offered
  // to such a sink.
  virtual bool wants_luma() const { return false; }
  // A sink that wants the decoded frame kept after the decode (to show parts
  // of it) gives the frame to fill; a decoder that has no cheap way to keep it
  // leaves it empty (KeptFrame::Kind::none). The rows handed over are the same.
  virtual KeptFrame* frame_to_keep() { return nullptr; }
  virtual const std::vector<ColumnSpan>& column_spans(std::int32_t y) {
    (void)y;
    static const std::vector<ColumnSpan> none;
    return none;
  }
};

inline constexpr std::int32_t IMAGE_ROW_BATCH = 8;

// Luminance of `count` BGRX pixels as libjpeg computes it for a greyscale output
// of RGB data: (19595 R + 38470 G + 7471 B + 32768) >> 16.
void bgrx_to_luma(const std::uint8_t* bgrx, std::int32_t count, std::uint8_t* luma);

// Decodes an image file at full size like load_bitmap32, with exactly the same
// success, failure and pixels, handing its rows to `sink` instead of returning a
// bitmap. JPEG rows, and those of a raw file's JPEG preview, are decoded
// straight into the sink's storage by the very decoder that fills load_bitmap32's
// bitmaps (for a sink that wants column spans, possibly only in those spans);
// other formats are decoded whole
// first and their rows handed over from that bitmap. True when the file decoded
// and every row was handed over; on false the sink may have received some rows,
// which the caller discards.
bool decode_image_rows(const std::string& path, ImageRowSink& sink);
bool decode_image_rows(const std::string& path, ImageRowSink& sink, const DecodeOptions& options,
                       DecodeInfo* info);

struct ImageSize {
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// a * b / c with a 64-bit product, rounded to the nearest integer, halves away
// from zero. -1 when c is 0 or the quotient does not fit in 32 bits.
std::int32_t mul_div(std::int32_t a, std::int32_t b, std::int32_t c);

// The size a width x height image is shrunk to so that it fits the box keeping
// its aspect ratio: when width * max_height > height * max_width (relatively
// wider) the width becomes max_width and the height mul_div(max_width, height,
// width); otherwise the height becomes max_height and the width
// mul_div(max_height, width, height). The products are compared in 64 bits.
// REQUIRES: width, height > 0.
ImageSize shrink_geometry(std::int32_t width, std::int32_t height, std::int32_t max_width,
                          std::int32_t max_height);

// The source (already composited over the background) resampled to
// shrink_geometry's size by averaging the source pixels that fall in each target
// pixel. Nothing when that size has a zero or negative side.
std::optional<Bitmap32> shrink_to_bitmap(const Bitmap32& source, std::int32_t max_width,
                                         std::int32_t max_height);

// A small copy of an image for display, fitting max_width x max_height (never
// enlarged). A JPEG is decoded at the smallest of libjpeg's scales 1/8 ... 8/8
// that still covers the box, which skips most of the decoding work, and then
// shrunk (shrink_to_bitmap); other formats are decoded whole and shrunk.
// `full_size` receives the image's full size. Nothing when the file cannot be
// decoded.
std::optional<Bitmap32> decode_image_preview(const std::string& path, std::int32_t max_width,
                                             std::int32_t max_height, ImageSize& full_size);

// The pixels of the rectangle x, y, width, height of an image at full size,
// clamped to the image. A JPEG is decoded only down to the rectangle's bottom
// and only in the iMCU columns it touches. Nothing when the file cannot be
// decoded or the rectangle misses the image.
std::optional<Bitmap32> decode_image_region(const std::string& path, std::int32_t x, std::int32_t y,
                                            std::int32_t width, std::int32_t height);

}  // namespace lumvet
