#include "tests/support/image_files.h"

#include <array>
#include <cstdio>

// jpeglib.h needs <cstdio> first.
#include <jpeglib.h>
#include <png.h>

namespace lumvet::testing {

bool write_jpeg(const std::string& path, const Bitmap32& bitmap, const JpegOptions& options) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, f);
  c.image_width = static_cast<JDIMENSION>(bitmap.width);
  c.image_height = static_cast<JDIMENSION>(bitmap.height);
  c.input_components = 4;
  const bool four_channel = options.color == JpegColor::cmyk || options.color == JpegColor::ycck;
  c.in_color_space = four_channel ? JCS_CMYK : JCS_EXT_BGRX;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, options.quality, TRUE);
  switch (options.color) {
    case JpegColor::ycc:
      c.comp_info[0].h_samp_factor = options.h_samp;
      c.comp_info[0].v_samp_factor = options.v_samp;
      for (int i = 1; i < 3; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
      break;
    case JpegColor::gray:
      jpeg_set_colorspace(&c, JCS_GRAYSCALE);
      break;
    case JpegColor::cmyk:
      break;
    case JpegColor::ycck:
      jpeg_set_colorspace(&c, JCS_YCCK);
      break;
  }
  if (options.progressive) jpeg_simple_progression(&c);
  c.restart_in_rows = options.restart_rows;
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row =
        const_cast<std::uint8_t*>(bitmap.row(static_cast<std::int32_t>(c.next_scanline)));
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  return std::fclose(f) == 0;
}

bool write_png(const std::string& path, const PngImage& image) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
               static_cast<png_uint_32>(image.height), image.bit_depth, image.color_type,
               image.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette;
  for (std::size_t i = 0; i + 2 < image.palette.size(); i += 3) {
    palette.push_back({image.palette[i], image.palette[i + 1], image.palette[i + 2]});
  }
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  if (!image.palette_alpha.empty()) {
    png_set_tRNS(png, info, image.palette_alpha.data(),
                 static_cast<int>(image.palette_alpha.size()), nullptr);
  } else if (image.transparent.size() == 3) {
    png_color_16 t{0, image.transparent[0], image.transparent[1], image.transparent[2], 0};
    png_set_tRNS(png, info, nullptr, 0, &t);
  }
  png_write_info(png, info);
  // Samples per pixel by colour type: gray 0, RGB 2, palette 3, gray + alpha 4, RGBA 6.
  const int channels = std::array{1, 0, 3, 1, 2, 0, 4}[image.color_type];
  const std::size_t stride = (std::size_t(image.width) * channels * image.bit_depth + 7) / 8;
  std::vector<png_bytep> rows;
  for (int y = 0; y < image.height; ++y) {
    rows.push_back(const_cast<png_bytep>(image.data.data() + stride * static_cast<std::size_t>(y)));
  }
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

bool write_png(const std::string& path, const Bitmap32& bitmap) {
  PngImage image;
  image.width = bitmap.width;
  image.height = bitmap.height;
  image.color_type = PNG_COLOR_TYPE_RGB;
  for (int y = 0; y < bitmap.height; ++y) {
    const std::uint8_t* p = bitmap.row(y);
    for (int x = 0; x < bitmap.width; ++x, p += 4)
      image.data.insert(image.data.end(), {p[2], p[1], p[0]});
  }
  return write_png(path, image);
}

}  // namespace lumvet::testing
