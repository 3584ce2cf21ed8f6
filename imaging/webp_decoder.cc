// WebP through libwebp, lossy and lossless: a still image is decoded straight into
// the bitmap as BGRA; an animation's first frame is taken from libwebp's
// animation decoder, which composes it on the canvas as a player would show it.
// Transparency is then composited over white. libwebp prints nothing.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <webp/decode.h>
#include <webp/demux.h>

#include "imaging/decode_budget.h"
#include "imaging/decoders.h"

namespace lumvet::detail {

namespace {

bool decode_still(const std::vector<std::uint8_t>& bytes, WebPDecoderConfig& config,
                  Bitmap32& out) {
  out = make_bitmap32(config.input.width, config.input.height);
  if (!out.pixels) return false;
  config.output.colorspace = MODE_BGRA;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = out.pixels.get();
  config.output.u.RGBA.stride = static_cast<int>(out.stride());
  config.output.u.RGBA.size = out.byte_size();
  const bool ok = WebPDecode(bytes.data(), bytes.size(), &config) == VP8_STATUS_OK;
  WebPFreeDecBuffer(&config.output);  // external memory: releases nothing of ours
  if (!ok) return false;
  if (config.input.has_alpha) {
    for (std::int32_t y = 0; y < out.height; ++y) {
      std::uint8_t* p = out.row(y);
      for (std::int32_t x = 0; x < out.width; ++x, p += 4) {
        const std::uint32_t a = p[3];
        p[0] = composite_over_white(p[0], a);
        p[1] = composite_over_white(p[1], a);
        p[2] = composite_over_white(p[2], a);
        p[3] = 255;
      }
    }
  }
  return true;
}

bool decode_first_frame(const std::vector<std::uint8_t>& bytes, Bitmap32& out) {
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) return false;
  options.color_mode = MODE_RGBA;
  options.use_threads = 0;
  const WebPData data{bytes.data(), bytes.size()};
  WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
  if (decoder == nullptr) return false;
  bool ok = false;
  WebPAnimInfo info;
  std::uint8_t* canvas = nullptr;
  int timestamp = 0;
  if (WebPAnimDecoderGetInfo(decoder, &info) &&
      image_size_allowed(info.canvas_width, info.canvas_height) &&
      WebPAnimDecoderGetNext(decoder, &canvas, &timestamp) && canvas != nullptr) {
    out = make_bitmap32(static_cast<std::int32_t>(info.canvas_width),
                        static_cast<std::int32_t>(info.canvas_height));
    if (out.pixels) {
      for (std::int32_t y = 0; y < out.height; ++y)
        rgba_row_to_bgrx(canvas + out.stride() * static_cast<std::size_t>(y), out.width,
                         out.row(y));
      ok = true;
    }
  }
  WebPAnimDecoderDelete(decoder);
  return ok;
}

}  // namespace

bool decode_webp(std::FILE* file, Bitmap32& out) {
  std::vector<std::uint8_t> bytes;
  if (!read_file_bytes(file, MAX_IMAGE_FILE_BYTES, bytes)) return false;
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) return false;
  // The header's size (the canvas, for an animation) before anything is allocated.
  if (WebPGetFeatures(bytes.data(), bytes.size(), &config.input) != VP8_STATUS_OK) return false;
  if (!image_size_allowed(config.input.width, config.input.height)) return false;
  // The file's bytes are held already; a still image is decoded straight into the
  // bitmap, an animation's frame onto libwebp's canvas and the one before it.
  const std::uint64_t pixels =
      std::uint64_t(config.input.width) * std::uint64_t(config.input.height);
  reserve_decode_memory(bytes.size() + (config.input.has_animation ? 12 : 4) * pixels);
  return config.input.has_animation ? decode_first_frame(bytes, out)
                                    : decode_still(bytes, config, out);
}

}  // namespace lumvet::detail
