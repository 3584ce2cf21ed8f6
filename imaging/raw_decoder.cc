// Camera raw files through LibRaw (its thread-safe build). By default the
// embedded JPEG preview is used when it is full size: it is what the camera
// showed, it decodes in a fraction of a demosaic's time, and a blurred shot is
// as blurred in it. It is decoded by the JPEG decoder, straight into the sink.
// Otherwise, or when a develop is asked for, LibRaw demosaics the sensor data
// with its default settings (AHD interpolation, daylight white balance, sRGB,
// 8 bits, the image turned upright as the file says).
//
// Before anything is unpacked, the sizes that the file declares are checked
// against the pixel limit, and a file too short to hold its sensor data at
// even half a bit a pixel is refused: LibRaw reads a cut file's missing data as
// zeros, and would otherwise allocate and demosaic a huge frame from a few bytes.
// LibRaw's default error callbacks, which print, are replaced: a data error
// (a cut or damaged file) refuses the decode.
#include <libraw/libraw.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "imaging/decode_budget.h"
#include "imaging/decoders.h"

namespace lumvet::detail {

namespace {

// Sensor data takes at least this many pixels a byte of file: no camera's
// compression comes below about a bit a pixel.
constexpr std::uint64_t MAX_RAW_PIXELS_PER_BYTE = 16;

// A preview whose longer side is at least this share of the sensor image's
// longer side counts as full size (previews are often cropped a little).
constexpr std::int64_t FULL_SIZE_PERCENT = 90;

// LibRaw reports data that ends early or cannot be decoded through this callback
// (the default one prints) and carries on with what it has; the decode is
// refused instead.
void note_data_error(void* data, const char*, const int) { *static_cast<bool*>(data) = true; }

// LibRaw with the preview's place in the file, which identification finds
// (LibRaw keeps it to itself). The preview is taken from the file's bytes
// directly rather than through LibRaw's unpack_thumb, whose handling of damaged
// preview descriptions in this LibRaw release can corrupt the heap.
class RawFile : public LibRaw {
 public:
  using LibRaw::LibRaw;
  std::int64_t preview_offset() const { return libraw_internal_data.internal_data.toffset; }
};

// The embedded preview when it is a whole JPEG stream inside the file.
bool find_jpeg_preview(const RawFile& raw, const std::vector<std::uint8_t>& bytes,
                       const std::uint8_t*& data, std::size_t& size) {
  const std::int64_t offset = raw.preview_offset();
  const std::size_t length = raw.imgdata.thumbnail.tlength;
  if (offset <= 0 || static_cast<std::uint64_t>(offset) >= bytes.size() || length < 3 ||
      length > bytes.size() - static_cast<std::size_t>(offset)) {
    return false;
  }
  data = bytes.data() + offset;
  size = length;
  return data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

struct ProcessedImageDeleter {
  void operator()(libraw_processed_image_t* image) const { LibRaw::dcraw_clear_mem(image); }
};

// Passes a full-size preview on to the caller's sink; refuses a smaller one
// before the caller sees it.
class PreviewGate : public ImageRowSink {
 public:
  PreviewGate(ImageRowSink& sink, std::int32_t sensor_long_side)
      : sink_(sink), sensor_long_side_(sensor_long_side) {}

  bool begin(std::int32_t width, std::int32_t height) override {
    const std::int64_t long_side = std::max(width, height);
    if (long_side * 100 < sensor_long_side_ * FULL_SIZE_PERCENT) return false;
    began_ = true;
    return sink_.begin(width, height);
  }
  std::uint8_t* row_storage(std::int32_t y) override { return sink_.row_storage(y); }
  void take_rows(std::int32_t first, std::int32_t count, std::uint8_t* const* rows) override {
    sink_.take_rows(first, count, rows);
  }
  bool wants_column_spans() const override { return sink_.wants_column_spans(); }
  bool wants_luma() const override { return sink_.wants_luma(); }
  const std::vector<ColumnSpan>& column_spans(std::int32_t y) override {
    return sink_.column_spans(y);
  }

  bool whole_frame() const override { return sink_.whole_frame(); }
  KeptFrame* frame_to_keep() override { return sink_.frame_to_keep(); }

  bool began() const { return began_; }

 private:
  ImageRowSink& sink_;
  std::int64_t sensor_long_side_;
  bool began_ = false;
};

// What a develop holds at its height, for the decoding-memory budget: the
// sensor data (2 bytes a photosite), LibRaw's working image (4 channels of 2
// bytes a pixel), the 8-bit image it makes of it (3 bytes a pixel) and the
// sink's frame.
std::uint64_t develop_memory_estimate(const libraw_image_sizes_t& sizes, bool whole_frame) {
  const std::uint64_t pixels = std::uint64_t{sizes.width} * sizes.height;
  return 2 * (std::uint64_t{sizes.raw_width} * sizes.raw_height) + 11 * pixels +
         (whole_frame ? 4 : 1) * pixels;
}

// Whether the preview that the file declares is full size (see PreviewGate).
bool preview_declared_full_size(const libraw_data_t& data) {
  const std::int64_t preview_long = std::max(data.thumbnail.twidth, data.thumbnail.theight);
  const std::int64_t sensor_long = std::max(data.sizes.width, data.sizes.height);
  return preview_long * 100 >= sensor_long * FULL_SIZE_PERCENT;
}

bool develop(LibRaw& raw, const bool& data_error, ImageRowSink& sink) {
  if (raw.unpack() != LIBRAW_SUCCESS || data_error || raw.dcraw_process() != LIBRAW_SUCCESS) {
    return false;
  }
  int error = LIBRAW_SUCCESS;
  const std::unique_ptr<libraw_processed_image_t, ProcessedImageDeleter> image(
      raw.dcraw_make_mem_image(&error));
  if (!image || error != LIBRAW_SUCCESS || image->type != LIBRAW_IMAGE_BITMAP ||
      image->colors != 3 || image->bits != 8 || !image_size_allowed(image->width, image->height)) {
    return false;
  }
  raw.recycle();  // the sensor data and the working image are no longer needed
  const std::int32_t width = image->width, height = image->height;
  if (!sink.begin(width, height)) return false;
  const bool luma = sink.wants_luma();
  // A frame to keep gets the BGRX rows; the sink's storage then holds only
  // the luminance of a luminance sink.
  KeptFrame* keep = sink.frame_to_keep();
  KeptFrame::Plane* frame = nullptr;
  if (keep != nullptr && keep->size_plane(0, 4 * width, height)) frame = &keep->planes[0];
  const std::size_t in_stride = static_cast<std::size_t>(width) * 3;
  std::uint8_t* rows[IMAGE_ROW_BATCH];
  for (std::int32_t y = 0; y < height; y += IMAGE_ROW_BATCH) {
    const std::int32_t n = std::min(IMAGE_ROW_BATCH, height - y);
    for (std::int32_t i = 0; i < n; ++i) {
      const std::uint8_t* in = image->data + in_stride * static_cast<std::size_t>(y + i);
      std::uint8_t* const bgrx = frame != nullptr ? frame->row(y + i) : sink.row_storage(y + i);
      std::uint8_t* out = bgrx;
      for (std::int32_t x = 0; x < width; ++x, in += 3, out += 4) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        out[3] = 255;
      }
      rows[i] = bgrx;
      // A luminance sink's row holds width * 4 bytes; its luminance goes in front.
      if (luma) {
        rows[i] = frame != nullptr ? sink.row_storage(y + i) : bgrx;
        bgrx_to_luma(bgrx, width, rows[i]);
      }
    }
    sink.take_rows(y, n, rows);
  }
  if (frame != nullptr) {
    keep->kind = KeptFrame::Kind::bgrx;
    keep->width = width;
    keep->height = height;
  }
  return true;
}

}  // namespace

bool decode_raw_rows(std::FILE* file, RawMode mode, ImageRowSink& sink, DecodeSource& source) {
  std::vector<std::uint8_t> bytes;
  if (!read_file_bytes(file, MAX_IMAGE_FILE_BYTES, bytes) || bytes.empty()) return false;
  const auto raw = std::make_unique<RawFile>(LIBRAW_OPIONS_NO_MEMERR_CALLBACK);
  bool data_error = false;
  raw->set_dataerror_handler(note_data_error, &data_error);
  if (raw->open_buffer(bytes.data(), bytes.size()) != LIBRAW_SUCCESS || data_error) return false;
  const libraw_image_sizes_t& sizes = raw->imgdata.sizes;
  if (!image_size_allowed(sizes.raw_width, sizes.raw_height) ||
      !image_size_allowed(sizes.width, sizes.height) ||
      std::uint64_t{sizes.raw_width} * sizes.raw_height >
          MAX_RAW_PIXELS_PER_BYTE * std::uint64_t{bytes.size()}) {
    return false;
  }
  const std::uint8_t* preview = nullptr;
  std::size_t preview_size = 0;
  const bool use_preview =
      mode == RawMode::preview && find_jpeg_preview(*raw, bytes, preview, preview_size);
  // One reservation for the path the file's declarations point to, the file's
  // bytes included: a preview is decoded like a JPEG file of the sensor's size
  // (the JPEG decoder's own reservation then adds nothing). A preview that turns
  // out smaller than it declared is developed within that reservation.
  // A frame kept besides the sink's rows counts as a whole frame.
  const bool whole_frame = sink.whole_frame() || sink.frame_to_keep() != nullptr;
  const std::uint64_t pixels = std::uint64_t{sizes.width} * sizes.height;
  reserve_decode_memory(
      bytes.size() + (use_preview && preview_declared_full_size(raw->imgdata)
                          ? (whole_frame ? 4 : 1) * pixels + 64 * std::uint64_t{sizes.width}
                          : develop_memory_estimate(sizes, whole_frame)));
  if (use_preview) {
    PreviewGate gate(sink, std::max(sizes.width, sizes.height));
    const bool ok = decode_jpeg_memory_rows(preview, preview_size, gate);
    if (gate.began()) {
      source = DecodeSource::raw_preview;
      return ok;
    }
  }
  source = DecodeSource::raw_develop;
  return develop(*raw, data_error, sink);
}

}  // namespace lumvet::detail
