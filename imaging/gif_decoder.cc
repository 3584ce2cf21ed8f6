// GIF through giflib's record-level API: only the records up to the first image
// are read, so an animation costs no more than its first frame (giflib's
// DGifSlurp would decode, and allocate, every frame before any size check).
//
// The picture is the logical screen. The first frame is drawn at its position;
// screen pixels it does not cover, and pixels of its transparent colour, are
// transparent and so white over the background. A screen of zero size takes the
// frame's extent.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <gif_lib.h>

#include "imaging/decode_budget.h"
#include "imaging/decoders.h"

namespace lumvet::detail {

namespace {

int read_from_file(GifFileType* gif, GifByteType* buffer, int length) {
  if (length <= 0) return 0;
  return static_cast<int>(std::fread(buffer, 1, static_cast<std::size_t>(length),
                                     static_cast<std::FILE*>(gif->UserData)));
}

// Draws the image whose descriptor record comes next.
bool read_first_image(GifFileType* gif, int transparent, Bitmap32& out) {
  if (DGifGetImageDesc(gif) == GIF_ERROR) return false;
  const GifImageDesc& frame = gif->Image;
  const ColorMapObject* map = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
  if (map == nullptr || map->Colors == nullptr) return false;
  // giflib reads sizes and offsets as unsigned 16-bit values.
  if (!image_size_allowed(frame.Width, frame.Height) || frame.Left < 0 || frame.Top < 0) {
    return false;
  }
  std::int64_t width = gif->SWidth, height = gif->SHeight;
  if (width <= 0 || height <= 0) {
    width = std::int64_t{frame.Left} + frame.Width;
    height = std::int64_t{frame.Top} + frame.Height;
  }
  if (!image_size_allowed(width, height)) return false;

  // Decode every line first, appending as data arrives, so that a header that
  // claims a large frame costs memory only as far as its data really goes.
  // Rows of an interlaced image arrive in four passes: every 8th row from 0, every
  // 8th from 4, every 4th from 2, every 2nd from 1.
  static constexpr int PASS_START[4] = {0, 4, 2, 1};
  static constexpr int PASS_STEP[4] = {8, 8, 4, 2};
  const int passes = frame.Interlace ? 4 : 1;
  const std::size_t line_size = static_cast<std::size_t>(frame.Width);
  std::vector<GifPixelType> lines;
  std::vector<int> line_rows;
  for (int pass = 0; pass < passes; ++pass) {
    const int start = frame.Interlace ? PASS_START[pass] : 0;
    const int step = frame.Interlace ? PASS_STEP[pass] : 1;
    for (int row = start; row < frame.Height; row += step) {
      lines.resize(lines.size() + line_size);
      if (DGifGetLine(gif, lines.data() + lines.size() - line_size, frame.Width) == GIF_ERROR) {
        return false;
      }
      line_rows.push_back(row);
    }
  }

  // The lines are held already; the bitmap comes on top of them.
  reserve_decode_memory(4 * static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) +
                        lines.size());
  out = make_bitmap32(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
  if (!out.pixels) return false;
  std::fill(out.pixels.get(), out.pixels.get() + out.byte_size(), std::uint8_t{255});
  for (std::size_t n = 0; n < line_rows.size(); ++n) {
    const std::int64_t y = std::int64_t{frame.Top} + line_rows[n];
    if (y >= out.height) continue;
    const GifPixelType* line = lines.data() + n * line_size;
    std::uint8_t* p = out.row(static_cast<std::int32_t>(y));
    for (int x = 0; x < frame.Width; ++x) {
      const std::int64_t cx = std::int64_t{frame.Left} + x;
      if (cx >= out.width) break;
      const int index = line[x];
      if (index == transparent) continue;
      std::uint8_t* q = p + 4 * cx;
      if (index < map->ColorCount) {
        const GifColorType& c = map->Colors[index];
        q[0] = c.Blue;
        q[1] = c.Green;
        q[2] = c.Red;
      } else {  // an index beyond the colour table: black
        q[0] = q[1] = q[2] = 0;
      }
    }
  }
  return true;
}

bool read_first_frame(GifFileType* gif, Bitmap32& out) {
  int transparent = NO_TRANSPARENT_COLOR;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) return false;
    switch (type) {
      case IMAGE_DESC_RECORD_TYPE:
        return read_first_image(gif, transparent, out);
      case EXTENSION_RECORD_TYPE: {
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
        // block[0] is the length of the data that follows it.
        if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] == 4) {
          GraphicsControlBlock gcb;
          if (DGifExtensionToGCB(4, block + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
        }
        while (block != nullptr) {
          if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
        }
        break;
      }
      case TERMINATE_RECORD_TYPE:
        return false;  // no image at all
      default:
        break;
    }
  }
}

}  // namespace

bool decode_gif(std::FILE* file, Bitmap32& out) {
  int error = 0;
  GifFileType* gif = DGifOpen(file, read_from_file, &error);
  if (gif == nullptr) return false;
  const bool ok = read_first_frame(gif, out);
  DGifCloseFile(gif, &error);  // leaves `file` open: it was not opened by giflib
  return ok;
}

}  // namespace lumvet::detail
