// libjpeg-turbo's fancy chroma upsampling and YCbCr -> BGRX colour conversion,
// reproduced exactly but for chosen column spans of a row only.
//
// A JPEG decoded with libjpeg's raw-data interface yields the Y, Cb and Cr
// planes at their stored resolutions; these routines turn the pixels of a span
// into the very BGRX bytes that jpeg_read_scanlines would have written with
// the library's defaults (fancy upsampling, JCS_EXT_BGRX), so a reader that
// looks at a quarter of each row pays for a quarter of the conversion.
#pragma once

#include <cstdint>

namespace lumvet::detail {

// The chroma of output columns x0 ... x1 - 1 (values 0..255) of a component
// stored at half the horizontal resolution, `width` samples wide (width > 2),
// fancy-upsampled as libjpeg does:
// - 2:1 horizontally, 1:1 vertically (4:2:2): from `near` alone (`far` unused);
//   output 2c is (3 s[c] + s[c-1] + 1) >> 2 and output 2c + 1 is
//   (3 s[c] + s[c+1] + 2) >> 2, with s = near;
// - 2:1 both ways (4:2:0): with s[c] = 3 near[c] + far[c], where `far` is the
//   stored row next nearest to the output row (above for even output rows,
//   below for odd ones, repeated at the image's edges); output 2c is
//   (3 s[c] + s[c-1] + 8) >> 4 and output 2c + 1 is (3 s[c] + s[c+1] + 7) >> 4.
// In both, s[-1] reads as s[0] and s[width] as s[width - 1]: libjpeg's first
// and last columns.
// out[x] receives column x (indices are absolute); columns from x0 rounded down
// to even up to x1 + 15 may be written. `sums` is scratch of width + 32
// initialised values.
void upsample_chroma_span(const std::uint8_t* near, const std::uint8_t* far, bool vertical,
                          std::int32_t width, std::int32_t x0, std::int32_t x1, std::int16_t* sums,
                          std::int16_t* out);

// The same for a full-resolution component: out[x] = row[x] for x0 <= x < x1.
void copy_chroma_span(const std::uint8_t* row, std::int32_t x0, std::int32_t x1, std::int16_t* out);

// `count` pixels from Y and the upsampled Cb and Cr to BGRX (reserved byte 255)
// with libjpeg's integer arithmetic (16 fraction bits, tables folded into
// arithmetic):
//   R = clamp(y + ((91881 (cr - 128) + 32768) >> 16))
//   G = clamp(y + ((-22554 (cb - 128) - 46802 (cr - 128) + 32768) >> 16))
//   B = clamp(y + ((116130 (cb - 128) + 32768) >> 16))
// with arithmetic shifts and clamp to 0..255.
void ycc_to_bgrx_span(const std::uint8_t* y, const std::int16_t* cb, const std::int16_t* cr,
                      std::int32_t count, std::uint8_t* bgrx);

}  // namespace lumvet::detail
