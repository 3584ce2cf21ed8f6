// JPEG through libjpeg-turbo's libjpeg API with the library's defaults (accurate
// integer IDCT, fancy upsampling), so that the pixels are the reference libjpeg
// pixels. libjpeg reports fatal errors by calling error_exit, which longjmps back
// to the one setjmp in run_jpeg_decode; no C++ object with a destructor lives in
// the frames that a longjmp leaves.
#include <csetjmp>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

#include "imaging/decoders.h"

namespace lumvet::detail {

namespace {

// A progressive file may hold any number of scans, and each one makes libjpeg walk
// the whole coefficient buffer again; real files have a few dozen at most. More
// than this is taken as a hostile file rather than spending minutes on it.
constexpr int MAX_JPEG_SCANS = 500;

// Memory libjpeg may take for its own buffers: the whole-image coefficient buffer
// of a progressive or multi-scan file is about 3 bytes per pixel at 4:2:0 and 6 at
// 4:4:4. Beyond this the decode fails (libjpeg has no backing store), so even a
// few hundred bytes claiming a huge progressive image cost at most this much.
constexpr long MAX_JPEG_MEMORY = 1L << 30;

struct JpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

// Everything one decode needs, owned by decode_jpeg_rows and zero-initialised
// there so that jpeg_destroy_decompress is safe whatever point a failure is
// reached from. The sink lives outside the frames that a longjmp leaves.
struct JpegJob {
  jpeg_decompress_struct cinfo;
  JpegErrorManager error;
  jpeg_progress_mgr progress;
  std::FILE* file;
  ImageRowSink* sink;
};

[[noreturn]] void on_error_exit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings (corrupt data, premature end of file) are neither printed nor fatal.
void on_emit_message(j_common_ptr, int) {}
void on_output_message(j_common_ptr) {}

void on_progress(j_common_ptr cinfo) {
  if (cinfo->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > MAX_JPEG_SCANS) {
    on_error_exit(cinfo);
  }
}

// Adobe CMYK as libjpeg delivers it (inverted: 255 means no ink; YCCK already
// converted to CMYK) becomes R = C K / 255, G = M K / 255, B = Y K / 255, rounded
// to nearest, in place: the four bytes C, M, Y, K of a pixel become B, G, R, 255.
void cmyk_row_to_bgrx(std::uint8_t* p, JDIMENSION pixels) {
  for (JDIMENSION i = 0; i < pixels; ++i, p += 4) {
    const unsigned c = p[0], m = p[1], y = p[2], k = p[3];
    p[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
    p[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
    p[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
    p[3] = 255;
  }
}

// The decode proper; any libjpeg call may longjmp out of it.
bool read_jpeg(JpegJob* job) {
  j_decompress_ptr cinfo = &job->cinfo;
  jpeg_create_decompress(cinfo);
  cinfo->mem->max_memory_to_use = MAX_JPEG_MEMORY;
  job->progress.progress_monitor = on_progress;
  cinfo->progress = &job->progress;
  jpeg_stdio_src(cinfo, job->file);
  if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return false;
  // Before jpeg_start_decompress, which allocates per-width buffers and, for a
  // progressive file, the whole coefficient image.
  if (!image_size_allowed(cinfo->image_width, cinfo->image_height)) return false;

  bool cmyk = false;
  switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:  // libjpeg-turbo expands gray to R = G = B
    case JCS_YCbCr:
    case JCS_RGB:
      cinfo->out_color_space = JCS_EXT_BGRX;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo->out_color_space = JCS_CMYK;
      cmyk = true;
      break;
    default:
      return false;
  }
  jpeg_start_decompress(cinfo);
  if (cinfo->output_components != 4 || cinfo->output_width != cinfo->image_width ||
      cinfo->output_height != cinfo->image_height) {
    return false;
  }
  ImageRowSink& sink = *job->sink;
  if (!sink.begin(static_cast<std::int32_t>(cinfo->output_width),
                  static_cast<std::int32_t>(cinfo->output_height))) {
    return false;
  }

  // Into the sink's storage, a few rows at a time.
  JSAMPROW rows[IMAGE_ROW_BATCH];
  while (cinfo->output_scanline < cinfo->output_height) {
    const JDIMENSION y = cinfo->output_scanline;
    const JDIMENSION left = cinfo->output_height - y;
    const JDIMENSION n = left < IMAGE_ROW_BATCH ? left : IMAGE_ROW_BATCH;
    for (JDIMENSION i = 0; i < n; ++i) rows[i] = sink.row_storage(static_cast<std::int32_t>(y + i));
    const JDIMENSION got = jpeg_read_scanlines(cinfo, rows, n);
    if (got == 0) return false;  // only a suspending source returns nothing
    if (cmyk) {
      for (JDIMENSION i = 0; i < got; ++i) cmyk_row_to_bgrx(rows[i], cinfo->output_width);
    }
    sink.take_rows(static_cast<std::int32_t>(y), static_cast<std::int32_t>(got), rows);
  }
  // The rest of the file (trailing markers) is not read: jpeg_destroy_decompress
  // releases the decoder wherever it stands.
  return true;
}

bool run_jpeg_decode(JpegJob* job) {
  volatile bool ok = false;
  if (setjmp(job->error.jump) == 0) ok = read_jpeg(job);
  return ok;
}

}  // namespace

bool decode_jpeg_rows(std::FILE* file, ImageRowSink& sink) {
  JpegJob job{};
  job.file = file;
  job.sink = &sink;
  job.cinfo.err = jpeg_std_error(&job.error.pub);
  job.error.pub.error_exit = on_error_exit;
  job.error.pub.emit_message = on_emit_message;
  job.error.pub.output_message = on_output_message;
  const bool ok = run_jpeg_decode(&job);
  jpeg_destroy_decompress(&job.cinfo);  // the one cleanup point, after success or error
  return ok;
}

namespace {

// Full frame: the bitmap is allocated once the size is known, and libjpeg writes
// straight into its rows.
class BitmapRowSink : public ImageRowSink {
 public:
  explicit BitmapRowSink(Bitmap32& out) : out_(out) {}
  bool begin(std::int32_t width, std::int32_t height) override {
    out_ = make_bitmap32(width, height);
    return out_.pixels != nullptr;
  }
  std::uint8_t* row_storage(std::int32_t y) override { return out_.row(y); }
  void take_rows(std::int32_t, std::int32_t, std::uint8_t* const*) override {}

 private:
  Bitmap32& out_;
};

}  // namespace

bool decode_jpeg(std::FILE* file, Bitmap32& out) {
  BitmapRowSink sink(out);
  return decode_jpeg_rows(file, sink);
}

}  // namespace lumvet::detail
