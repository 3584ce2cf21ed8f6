#include "tests/support/format_files.h"

#include <libheif/heif.h>
#include <tiffio.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cstring>

namespace lumvet::testing {

namespace {

// The image's samples without alpha: R, G, B.
std::vector<std::uint8_t> rgb_samples(const RgbaImage& image) {
  std::vector<std::uint8_t> rgb;
  rgb.reserve(image.rgba.size() / 4 * 3);
  for (std::size_t i = 0; i < image.rgba.size(); i += 4)
    rgb.insert(rgb.end(), image.rgba.begin() + static_cast<std::ptrdiff_t>(i),
               image.rgba.begin() + static_cast<std::ptrdiff_t>(i + 3));
  return rgb;
}

heif_error write_to_vector(heif_context*, const void* data, std::size_t size, void* userdata) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(userdata);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
  return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

}  // namespace

RgbaImage rgba_of(const Bitmap32& bitmap, bool alpha) {
  RgbaImage image{bitmap.width, bitmap.height, {}};
  image.rgba.reserve(static_cast<std::size_t>(bitmap.width) * bitmap.height * 4);
  for (int y = 0; y < bitmap.height; ++y) {
    const std::uint8_t* p = bitmap.row(y);
    for (int x = 0; x < bitmap.width; ++x, p += 4)
      image.rgba.insert(image.rgba.end(), {p[2], p[1], p[0], alpha ? p[3] : std::uint8_t{255}});
  }
  return image;
}

std::vector<std::uint8_t> webp_bytes(const RgbaImage& image, bool alpha, bool lossless,
                                     int quality) {
  std::uint8_t* output = nullptr;
  std::size_t size = 0;
  if (alpha) {
    size = lossless ? WebPEncodeLosslessRGBA(image.rgba.data(), image.width, image.height,
                                             image.width * 4, &output)
                    : WebPEncodeRGBA(image.rgba.data(), image.width, image.height, image.width * 4,
                                     static_cast<float>(quality), &output);
  } else {
    const std::vector<std::uint8_t> rgb = rgb_samples(image);
    size = lossless ? WebPEncodeLosslessRGB(rgb.data(), image.width, image.height, image.width * 3,
                                            &output)
                    : WebPEncodeRGB(rgb.data(), image.width, image.height, image.width * 3,
                                    static_cast<float>(quality), &output);
  }
  std::vector<std::uint8_t> bytes(output, output + size);
  WebPFree(output);
  return bytes;
}

std::vector<std::uint8_t> animated_webp_bytes(const std::vector<RgbaImage>& frames, bool lossless) {
  std::vector<std::uint8_t> bytes;
  if (frames.empty()) return bytes;
  WebPAnimEncoderOptions options;
  WebPConfig config;
  if (!WebPAnimEncoderOptionsInit(&options) || !WebPConfigInit(&config)) return bytes;
  config.lossless = lossless ? 1 : 0;
  WebPAnimEncoder* encoder = WebPAnimEncoderNew(frames[0].width, frames[0].height, &options);
  if (encoder == nullptr) return bytes;
  bool ok = true;
  int timestamp = 0;
  for (const RgbaImage& frame : frames) {
    WebPPicture picture;
    ok = ok && WebPPictureInit(&picture);
    picture.use_argb = 1;
    picture.width = frame.width;
    picture.height = frame.height;
    ok = ok && WebPPictureImportRGBA(&picture, frame.rgba.data(), frame.width * 4) &&
         WebPAnimEncoderAdd(encoder, &picture, timestamp, &config);
    WebPPictureFree(&picture);
    timestamp += 100;
  }
  WebPData data;
  WebPDataInit(&data);
  ok = ok && WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr) &&
       WebPAnimEncoderAssemble(encoder, &data);
  if (ok) bytes.assign(data.bytes, data.bytes + data.size);
  WebPDataClear(&data);
  WebPAnimEncoderDelete(encoder);
  return bytes;
}

std::vector<std::uint8_t> heif_bytes(const RgbaImage& image, bool alpha, HeifCodec codec,
                                     int quality) {
  std::vector<std::uint8_t> bytes;
  heif_context* context = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  heif_image* picture = nullptr;
  bool ok = heif_context_get_encoder_for_format(
                context, codec == HeifCodec::hevc ? heif_compression_HEVC : heif_compression_AV1,
                &encoder)
                .code == heif_error_Ok;
  ok = ok && heif_encoder_set_lossy_quality(encoder, quality).code == heif_error_Ok;
  // Quicker settings than the encoders' defaults: a benchmark encodes megapixels.
  if (ok) {
    heif_encoder_set_parameter(encoder, codec == HeifCodec::hevc ? "preset" : "speed",
                               codec == HeifCodec::hevc ? "fast" : "8");
  }
  ok = ok && heif_image_create(image.width, image.height, heif_colorspace_RGB,
                               alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                               &picture)
                     .code == heif_error_Ok;
  ok = ok &&
       heif_image_add_plane(picture, heif_channel_interleaved, image.width, image.height, 8).code ==
           heif_error_Ok;
  if (ok) {
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
    const std::vector<std::uint8_t> rgb = alpha ? image.rgba : rgb_samples(image);
    const std::size_t row = static_cast<std::size_t>(image.width) * (alpha ? 4 : 3);
    for (int y = 0; y < image.height; ++y)
      std::memcpy(plane + static_cast<std::size_t>(stride) * y, rgb.data() + row * y, row);
    ok = heif_context_encode_image(context, picture, encoder, nullptr, nullptr).code ==
         heif_error_Ok;
  }
  heif_writer writer{1, write_to_vector};
  if (ok && heif_context_write(context, &writer, &bytes).code != heif_error_Ok) bytes.clear();
  if (picture != nullptr) heif_image_release(picture);
  if (encoder != nullptr) heif_encoder_release(encoder);
  heif_context_free(context);
  return bytes;
}

namespace {

bool write_raw_directory(TIFF* tif, int width, int height, const std::vector<std::uint16_t>& cfa,
                         std::uint16_t white_level, bool sub_directory) {
  const std::uint16_t pattern_dim[2] = {2, 2};
  const std::uint8_t pattern[4] = {0, 1, 1, 2};  // R G / G B
  const std::uint32_t white = white_level;
  TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, 32803);  // colour filter array
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(height));
  TIFFSetField(tif, TIFFTAG_CFAREPEATPATTERNDIM, pattern_dim);
  TIFFSetField(tif, TIFFTAG_CFAPATTERN, 4, pattern);
  TIFFSetField(tif, TIFFTAG_WHITELEVEL, 1, &white);
  (void)sub_directory;
  for (int y = 0; y < height; ++y) {
    if (TIFFWriteScanline(tif, const_cast<std::uint16_t*>(cfa.data()) + std::size_t(y) * width,
                          static_cast<std::uint32_t>(y), 0) != 1)
      return false;
  }
  return TIFFWriteDirectory(tif) == 1;
}

void set_camera_tags(TIFF* tif) {
  const std::uint8_t version[4] = {1, 4, 0, 0};
  const std::uint8_t backward[4] = {1, 1, 0, 0};
  const float color_matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const float neutral[3] = {1, 1, 1};
  TIFFSetField(tif, TIFFTAG_DNGVERSION, version);
  TIFFSetField(tif, TIFFTAG_DNGBACKWARDVERSION, backward);
  TIFFSetField(tif, TIFFTAG_MAKE, "lumvet");
  TIFFSetField(tif, TIFFTAG_MODEL, "test sensor");
  TIFFSetField(tif, TIFFTAG_UNIQUECAMERAMODEL, "lumvet test sensor");
  TIFFSetField(tif, TIFFTAG_COLORMATRIX1, 9, color_matrix);
  TIFFSetField(tif, TIFFTAG_CALIBRATIONILLUMINANT1, 21);  // D65
  TIFFSetField(tif, TIFFTAG_ASSHOTNEUTRAL, 3, neutral);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
}

}  // namespace

bool write_dng(const std::string& path, int width, int height,
               const std::vector<std::uint16_t>& cfa, std::uint16_t white_level,
               const std::vector<std::uint8_t>& preview_jpeg, int preview_width,
               int preview_height) {
  if (cfa.size() != static_cast<std::size_t>(width) * height) return false;
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) return false;
  bool ok = true;
  set_camera_tags(tif);
  if (preview_jpeg.empty()) {
    ok = write_raw_directory(tif, width, height, cfa, white_level, false);
  } else {
    toff_t sub_offset = 0;
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(preview_width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(preview_height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(preview_height));
    TIFFSetField(tif, TIFFTAG_SUBIFD, 1, &sub_offset);
    ok = TIFFWriteRawStrip(tif, 0, const_cast<std::uint8_t*>(preview_jpeg.data()),
                           static_cast<tmsize_t>(preview_jpeg.size())) ==
             static_cast<tmsize_t>(preview_jpeg.size()) &&
         TIFFWriteDirectory(tif) == 1;
    ok = ok && write_raw_directory(tif, width, height, cfa, white_level, true);
  }
  TIFFClose(tif);
  return ok;
}

std::vector<std::uint16_t> cfa_mosaic(const Bitmap32& bitmap, std::uint16_t white_level) {
  std::vector<std::uint16_t> cfa;
  cfa.reserve(static_cast<std::size_t>(bitmap.width) * bitmap.height);
  for (int y = 0; y < bitmap.height; ++y) {
    const std::uint8_t* p = bitmap.row(y);
    for (int x = 0; x < bitmap.width; ++x, p += 4) {
      // R G / G B; the bitmap holds B, G, R.
      const int channel = (y % 2 == 0) ? (x % 2 == 0 ? 2 : 1) : (x % 2 == 0 ? 1 : 0);
      cfa.push_back(static_cast<std::uint16_t>((p[channel] * white_level + 127) / 255));
    }
  }
  return cfa;
}

}  // namespace lumvet::testing

// The x265 encoder that libheif uses keeps a process-wide buffer that only
// x265_cleanup frees, which libheif never calls: not a leak of ours. Only the
// test and benchmark programs encode HEIC.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }
