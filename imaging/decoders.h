// The per-format decoders behind decode_image_file. Each reads an open file from
// its start and, on success, leaves a full-size BGRX bitmap in `out` with the
// reserved byte 255 and any transparency composited over white. On failure it
// returns false; `out` may then hold a partly written bitmap that the caller
// discards. None of them prints anything, and none allocates pixels for a size
// that image_size_allowed refuses.
#pragma once

#include <cstdio>

#include "imaging/bitmap.h"
#include "imaging/imaging.h"

namespace lumvet::detail {

bool decode_jpeg(std::FILE* file, Bitmap32& out);
// The one JPEG decoder behind decode_jpeg: the same settings and calls, the
// rows going to `sink` (decode_jpeg's sink allocates the bitmap in begin and hands
// out its rows as storage). For a sink that reads only column spans, a
// single-scan YCbCr file is read as raw planes and only those spans converted,
// to the same bytes.
bool decode_jpeg_rows(std::FILE* file, ImageRowSink& sink);
bool decode_png(std::FILE* file, Bitmap32& out);
bool decode_gif(std::FILE* file, Bitmap32& out);
bool decode_tiff(std::FILE* file, Bitmap32& out);
bool decode_bmp(std::FILE* file, Bitmap32& out);

}  // namespace lumvet::detail
