// PNG through libpng's sequential read API. Every colour type and bit depth
// is expanded to 8-bit BGR(A): palettes and gray to RGB, tRNS to alpha, 16-bit
// samples to their high byte. No gamma or colour-profile correction is applied:
// the pixels are the stored values. Transparency is composited here, with the
// integer formula of composite_over_white, rather than by libpng's simplified API,
// whose 8-bit compositing and 16-bit reduction go through linear light.
//
// libpng reports errors by longjmp to the setjmp in run_png_decode; no C++ object
// with a destructor lives in the frames that a longjmp leaves.
#include <csetjmp>
#include <cstdint>
#include <cstdio>

#include <png.h>

#include "imaging/decode_budget.h"
#include "imaging/decoders.h"
#include "imaging/imaging.h"

namespace lumvet::detail {

namespace {

struct PngJob {
  png_structp png;
  png_infop info;
  std::FILE* file;
  Bitmap32* out;
};

// libpng falls back to its own printing handler if this one returns.
[[noreturn]] void on_png_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void on_png_warning(png_structp, png_const_charp) {}

void composite_row(std::uint8_t* p, std::int32_t width) {
  for (std::int32_t x = 0; x < width; ++x, p += 4) {
    const std::uint32_t a = p[3];
    if (a != 255) {
      p[0] = composite_over_white(p[0], a);
      p[1] = composite_over_white(p[1], a);
      p[2] = composite_over_white(p[2], a);
      p[3] = 255;
    }
  }
}

void allocate_bitmap(Bitmap32& out, png_uint_32 width, png_uint_32 height) {
  out = make_bitmap32(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
}

// The decode proper; any libpng call may longjmp out of it.
bool read_png(PngJob* job) {
  png_structp png = job->png;
  png_infop info = job->info;
  png_init_io(png, job->file);
  png_read_info(png, info);
  png_uint_32 width = 0, height = 0;
  int bit_depth = 0, color_type = 0;
  png_get_IHDR(png, info, &width, &height, &bit_depth, &color_type, nullptr, nullptr, nullptr);
  if (!image_size_allowed(width, height)) return false;
  reserve_decode_memory(4 * static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height));

  const bool alpha =
      (color_type & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (bit_depth == 16) png_set_strip_16(png);
  png_set_expand(png);  // palette -> RGB, gray below 8 bits -> 8, tRNS -> alpha
  if ((color_type & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  if (!alpha) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<png_size_t>(width) * 4) return false;

  allocate_bitmap(*job->out, width, height);
  Bitmap32& out = *job->out;
  if (!out.pixels) return false;
  // Straight into the bitmap's rows; an interlaced image is refined in place over
  // its passes, so compositing waits for the last one.
  for (int pass = 0; pass < passes; ++pass) {
    for (std::int32_t y = 0; y < out.height; ++y) {
      png_read_row(png, out.row(y), nullptr);
      if (alpha && pass == passes - 1) composite_row(out.row(y), out.width);
    }
  }
  // The chunks after the image data are not read: the pixels are complete.
  return true;
}

bool run_png_decode(PngJob* job) {
  volatile bool ok = false;
  if (setjmp(png_jmpbuf(job->png)) == 0) ok = read_png(job);
  return ok;
}

}  // namespace

bool decode_png(std::FILE* file, Bitmap32& out) {
  PngJob job{};
  job.file = file;
  job.out = &out;
  job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, on_png_error, on_png_warning);
  if (job.png == nullptr) return false;
  job.info = png_create_info_struct(job.png);
  const bool ok = job.info != nullptr && run_png_decode(&job);
  png_destroy_read_struct(&job.png, &job.info, nullptr);  // the one cleanup point
  return ok;
}

}  // namespace lumvet::detail
