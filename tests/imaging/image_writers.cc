#include "tests/imaging/image_writers.h"

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <tiffio.h>

#include <cstdio>
#include <sstream>

#include "imaging/imaging.h"
#include "tests/support/test_support.h"

namespace lumvet::testing {

namespace {

ColorMapObject* make_color_map(const std::vector<std::uint8_t>& rgb) {
  if (rgb.empty()) return nullptr;
  int count = 2;
  while (count * 3 < static_cast<int>(rgb.size())) count *= 2;
  std::vector<GifColorType> colors(static_cast<std::size_t>(count), GifColorType{0, 0, 0});
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3)
    colors[i / 3] = {rgb[i], rgb[i + 1], rgb[i + 2]};
  return GifMakeMapObject(count, colors.data());
}

void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

Bitmap32 test_picture(int width, int height, unsigned salt) {
  return make_test_bitmap(width, height, [=](int i, int j, std::uint8_t* p) {
    const unsigned v = (static_cast<unsigned>(i * 7919 + j * 104729) ^ salt) * 2654435761u;
    const bool textured = ((i / 37) + (j / 53)) % 3 != 0;
    p[0] = static_cast<std::uint8_t>(textured ? v >> 24 : (i + j) / 3);
    p[1] = static_cast<std::uint8_t>((i * 3 + j) & 0xFF);
    p[2] = static_cast<std::uint8_t>(textured ? (v >> 8) & 0x7F : i / 2);
    p[3] = static_cast<std::uint8_t>(255 - (i + 2 * j) % 180);
  });
}

bool write_gif(const std::string& path, int screen_width, int screen_height,
               const std::vector<std::uint8_t>& global_palette,
               const std::vector<GifFrame>& frames) {
  int error = 0;
  GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
  if (gif == nullptr) return false;
  EGifSetGifVersion(gif, true);
  ColorMapObject* global = make_color_map(global_palette);
  bool ok = EGifPutScreenDesc(gif, screen_width, screen_height, 8, 0, global) == GIF_OK;
  for (const GifFrame& frame : frames) {
    if (frame.transparent >= 0) {
      GraphicsControlBlock gcb{};
      gcb.TransparentColor = frame.transparent;
      GifByteType ext[4];
      const std::size_t n = EGifGCBToExtension(&gcb, ext);
      ok = ok && EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext) == GIF_OK;
    }
    ColorMapObject* local = make_color_map(frame.local_palette);
    ok = ok && EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height,
                                frame.interlaced, local) == GIF_OK;
    GifFreeMapObject(local);
    // Interlaced rows go out in four passes: every 8th from 0, from 4, every 4th
    // from 2, every 2nd from 1.
    const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < (frame.interlaced ? 4 : 1); ++pass) {
      for (int y = frame.interlaced ? start[pass] : 0; y < frame.height;
           y += frame.interlaced ? step[pass] : 1) {
        std::vector<GifPixelType> line(frame.indices.begin() + y * frame.width,
                                       frame.indices.begin() + (y + 1) * frame.width);
        ok = ok && EGifPutLine(gif, line.data(), frame.width) == GIF_OK;
      }
    }
  }
  GifFreeMapObject(global);
  return EGifCloseFile(gif, &error) == GIF_OK && ok;
}

bool write_tiff(const std::string& path, int width, int height, int channels,
                const std::vector<std::uint8_t>& samples) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) return false;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, channels);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_DEFLATE);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 4);
  const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
  if (channels == 4) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
  bool ok = true;
  for (int y = 0; y < height; ++y) {
    auto* row = const_cast<std::uint8_t*>(samples.data() + std::size_t(width) * channels * y);
    ok = ok && TIFFWriteScanline(tif, row, static_cast<std::uint32_t>(y), 0) == 1;
  }
  TIFFClose(tif);
  return ok;
}

std::vector<std::uint8_t> bmp_bytes(const Bitmap32& bitmap, bool top_down) {
  const std::uint32_t stride = (static_cast<std::uint32_t>(bitmap.width) * 3 + 3) & ~3u;
  const std::uint32_t image_bytes = stride * static_cast<std::uint32_t>(bitmap.height);
  std::vector<std::uint8_t> b = {'B', 'M'};
  // File size, reserved, pixel offset; a 40-byte header: size, 24-bit BI_RGB, 2835 dpm.
  for (std::uint32_t v : {54 + image_bytes, 0u, 54u, 40u, static_cast<std::uint32_t>(bitmap.width),
                          static_cast<std::uint32_t>(top_down ? -bitmap.height : bitmap.height),
                          1u | 24u << 16, 0u, image_bytes, 2835u, 2835u, 0u, 0u}) {
    put32(b, v);
  }
  for (int i = 0; i < bitmap.height; ++i) {
    const std::uint8_t* p = bitmap.row(top_down ? i : bitmap.height - 1 - i);
    for (int x = 0; x < bitmap.width; ++x, p += 4) b.insert(b.end(), {p[0], p[1], p[2]});
    b.resize(b.size() + stride - 3 * static_cast<std::uint32_t>(bitmap.width), 0);
  }
  return b;
}

std::string compare_with_djpeg(const Bitmap32& bitmap, const std::string& jpeg_path,
                               const std::string& scratch_dir) {
  const std::string pnm = scratch_dir + "/reference.pnm";
  std::remove(pnm.c_str());  // a fresh file: overwriting one in place makes ext4 flush it
  // djpeg exits with 2 after warnings (a truncated file), still writing the image.
  const int code = run_program("/usr/bin/djpeg", {"-pnm", "-outfile", pnm, jpeg_path}).exit_code;
  const std::vector<std::uint8_t> bytes = read_bytes(pnm);
  const std::string text(bytes.begin(), bytes.end());
  int kind = 0, width = 0, height = 0, maxval = 0, header = 0;
  if ((code != 0 && code != 2) ||
      std::sscanf(text.c_str(), "P%d %d %d %d%n", &kind, &width, &height, &maxval, &header) != 4) {
    return "djpeg failed on " + jpeg_path;
  }
  const std::size_t channels = kind == 6 ? 3 : 1;  // P6 RGB or P5 gray
  std::ostringstream why;
  if (width != bitmap.width || height != bitmap.height ||
      text.size() != header + 1 + channels * width * height) {
    why << "size " << bitmap.width << "x" << bitmap.height << " vs " << width << "x" << height;
    return why.str();
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = bitmap.row(y) + 4 * x;
      const std::uint8_t* r = bytes.data() + header + 1 + channels * (std::size_t(y) * width + x);
      const int c = channels == 3 ? 1 : 0;
      if (p[2] != r[0] || p[1] != r[c] || p[0] != r[2 * c] || p[3] != 255) {
        why << "pixel (" << x << ", " << y << "): BGRX " << +p[0] << " " << +p[1] << " " << +p[2]
            << " " << +p[3] << ", djpeg R G B " << +r[0] << " " << +r[c] << " " << +r[2 * c];
        return why.str();
      }
    }
  }
  return "";
}

std::string capture_process_output(const std::function<void()>& body) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  body();
  const std::string out = ::testing::internal::GetCapturedStdout();
  return out + ::testing::internal::GetCapturedStderr();
}

void expect_damage_is_quiet(const std::vector<std::vector<std::uint8_t>>& files,
                            const std::string& dir) {
  const std::string path = dir + "/damaged";
  const auto decodes = [&](const std::vector<std::uint8_t>& bytes) {
    std::remove(path.c_str());  // a fresh file: rewriting one in place makes ext4 flush it
    write_bytes(path, bytes);
    const std::optional<Bitmap32> b = load_bitmap32(path);
    return b && b->width > 0 && b->height > 0 && b->pixels != nullptr;
  };
  for (std::size_t f = 0; f < files.size(); ++f) {
    const std::vector<std::uint8_t>& bytes = files[f];
    int decoded = 0;
    const std::string printed = capture_process_output([&] {
      for (std::size_t n = 0; n < bytes.size(); n += (n < 64 ? 1 : 1 + bytes.size() / 150))
        decoded += decodes({bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)});
      for (std::size_t i = 0; i < bytes.size(); i += 1 + bytes.size() / 300) {
        for (const int value : {0x00, 0xFF, 0x7F}) {
          std::vector<std::uint8_t> damaged = bytes;
          damaged[i] = static_cast<std::uint8_t>(value);
          decoded += decodes(damaged);
        }
      }
    });
    EXPECT_EQ(printed, "") << "file " << f;
    EXPECT_GT(decoded, 0) << "file " << f;
  }
}

void expect_refused_cheaply(const std::string& path, long max_kib) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const bool refused = !load_bitmap32(path).has_value();
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        std::_Exit(refused && usage.ru_maxrss < max_kib ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "")
      << path;
}

}  // namespace lumvet::testing
