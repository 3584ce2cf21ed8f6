// HEIF (HEIC), AVIF and other HEIF still images through libheif: the primary
// image at full size, as libheif decodes it by default, that is with its
// rotation, mirroring and crop applied, a grid image assembled from its tiles,
// and its alpha image attached. Images of more than 8 bits a sample are reduced
// to 8 bits by libheif (convert_hdr_to_8bit); no tone mapping is applied.
// Transparency is composited over white. Thumbnails, depth images and other
// images of the file are ignored; a file without a primary image is refused.
//
// HEVC is decoded by libde265, AV1 by libaom: libheif would prefer dav1d for AV1,
// but dav1d reports damaged data on standard error and libheif gives no way to
// silence it. libde265 and libaom print nothing.
#include <cstdint>
#include <cstdio>
#include <vector>

#include <libheif/heif.h>

#include "imaging/decode_budget.h"
#include "imaging/decoders.h"

namespace lumvet::detail {

namespace {

struct HeifObjects {
  heif_context* context = nullptr;
  heif_image_handle* handle = nullptr;
  heif_decoding_options* options = nullptr;
  heif_image* image = nullptr;

  HeifObjects() = default;
  HeifObjects(const HeifObjects&) = delete;
  HeifObjects& operator=(const HeifObjects&) = delete;
  ~HeifObjects() {
    if (image != nullptr) heif_image_release(image);
    if (options != nullptr) heif_decoding_options_free(options);
    if (handle != nullptr) heif_image_handle_release(handle);
    if (context != nullptr) heif_context_free(context);
  }
};

bool ok(const heif_error& error) { return error.code == heif_error_Ok; }

bool copy_pixels(heif_image* image, bool alpha, Bitmap32& out) {
  const int width = heif_image_get_width(image, heif_channel_interleaved);
  const int height = heif_image_get_height(image, heif_channel_interleaved);
  if (!image_size_allowed(width, height)) return false;
  int stride = 0;
  const std::uint8_t* plane =
      heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
  const int bytes_per_pixel = alpha ? 4 : 3;
  if (plane == nullptr || stride < width * bytes_per_pixel) return false;
  out = make_bitmap32(width, height);
  if (!out.pixels) return false;
  const bool premultiplied = alpha && heif_image_is_premultiplied_alpha(image) != 0;
  for (std::int32_t y = 0; y < out.height; ++y) {
    const std::uint8_t* in = plane + static_cast<std::size_t>(stride) * static_cast<std::size_t>(y);
    std::uint8_t* p = out.row(y);
    if (!alpha) {
      for (std::int32_t x = 0; x < out.width; ++x, in += 3, p += 4) {
        p[0] = in[2];
        p[1] = in[1];
        p[2] = in[0];
        p[3] = 255;
      }
    } else if (!premultiplied) {
      rgba_row_to_bgrx(in, out.width, p);
    } else {
      // Associated colour p over white: p + 255 - a, as for TIFF.
      for (std::int32_t x = 0; x < out.width; ++x, in += 4, p += 4) {
        const unsigned lift = 255u - in[3];
        for (int c = 0; c < 3; ++c) {
          const unsigned v = in[2 - c] + lift;
          p[c] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
        }
        p[3] = 255;
      }
    }
  }
  return true;
}

}  // namespace

bool decode_heif(std::FILE* file, Bitmap32& out) {
  std::vector<std::uint8_t> bytes;
  if (!read_file_bytes(file, MAX_IMAGE_FILE_BYTES, bytes)) return false;
  HeifObjects heif;
  heif.context = heif_context_alloc();
  if (heif.context == nullptr) return false;
  if (!ok(heif_context_read_from_memory_without_copy(heif.context, bytes.data(), bytes.size(),
                                                     nullptr)) ||
      !ok(heif_context_get_primary_image_handle(heif.context, &heif.handle))) {
    return false;
  }
  // The size the file declares, before any pixel is decoded.
  const int width = heif_image_handle_get_width(heif.handle);
  const int height = heif_image_handle_get_height(heif.handle);
  if (!image_size_allowed(width, height)) return false;
  // The file's bytes are held already; then the codec's planes (up to 4 bytes a
  // pixel with alpha), libheif's interleaved image and the bitmap, 4 each.
  reserve_decode_memory(bytes.size() + 12 * (std::uint64_t(width) * std::uint64_t(height)));
  heif.options = heif_decoding_options_alloc();
  if (heif.options == nullptr) return false;
  heif.options->convert_hdr_to_8bit = 1;
  const bool alpha = heif_image_handle_has_alpha_channel(heif.handle) != 0;
  const heif_chroma chroma = alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB;
  // libaom first; an image of another codec finds no such decoder, and libheif's
  // choice (libde265 for HEVC) is taken.
  heif.options->decoder_id = "aom";
  heif_error error =
      heif_decode_image(heif.handle, &heif.image, heif_colorspace_RGB, chroma, heif.options);
  if (error.code == heif_error_Unsupported_feature &&
      error.subcode == heif_suberror_Unsupported_codec) {
    heif.options->decoder_id = nullptr;
    error = heif_decode_image(heif.handle, &heif.image, heif_colorspace_RGB, chroma, heif.options);
  }
  if (!ok(error)) return false;
  return copy_pixels(heif.image, alpha, out);
}

}  // namespace lumvet::detail
