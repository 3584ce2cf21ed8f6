#include "tests/imaging/image_writers.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <gif_lib.h>
#include <tiffio.h>

#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace lumvet::testing {

namespace {

ColorMapObject* make_color_map(const std::vector<std::uint8_t>& rgb) {
  int count = 2;
  while (count * 3 < static_cast<int>(rgb.size())) count *= 2;
  std::vector<GifColorType> colors(static_cast<std::size_t>(count), GifColorType{0, 0, 0});
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3)
    colors[i / 3] = {rgb[i], rgb[i + 1], rgb[i + 2]};
  return GifMakeMapObject(count, colors.data());
}

}  // namespace

bool write_gif(const std::string& path, int screen_width, int screen_height,
               const std::vector<std::uint8_t>& global_palette,
               const std::vector<GifFrame>& frames) {
  int error = 0;
  GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
  if (gif == nullptr) return false;
  EGifSetGifVersion(gif, true);
  ColorMapObject* global = global_palette.empty() ? nullptr : make_color_map(global_palette);
  bool ok = EGifPutScreenDesc(gif, screen_width, screen_height, 8, 0, global) == GIF_OK;
  for (const GifFrame& frame : frames) {
    if (frame.transparent >= 0) {
      GraphicsControlBlock gcb{};
      gcb.TransparentColor = frame.transparent;
      GifByteType ext[4];
      const std::size_t n = EGifGCBToExtension(&gcb, ext);
      ok = ok && EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext) == GIF_OK;
    }
    ColorMapObject* local =
        frame.local_palette.empty() ? nullptr : make_color_map(frame.local_palette);
    ok = ok && EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height,
                                frame.interlaced, local) == GIF_OK;
    GifFreeMapObject(local);
    std::vector<int> order;
    if (frame.interlaced) {
      const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass) {
        for (int y = start[pass]; y < frame.height; y += step[pass]) order.push_back(y);
      }
    } else {
      for (int y = 0; y < frame.height; ++y) order.push_back(y);
    }
    for (int y : order) {
      std::vector<GifPixelType> line(frame.indices.begin() + y * frame.width,
                                     frame.indices.begin() + (y + 1) * frame.width);
      ok = ok && EGifPutLine(gif, line.data(), frame.width) == GIF_OK;
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
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_DEFLATE);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 4);
  if (channels == 4) {
    const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  bool ok = true;
  const std::size_t stride = static_cast<std::size_t>(width) * channels;
  for (int y = 0; y < height; ++y) {
    auto* row = const_cast<std::uint8_t*>(samples.data() + stride * static_cast<std::size_t>(y));
    ok = ok && TIFFWriteScanline(tif, row, static_cast<std::uint32_t>(y), 0) == 1;
  }
  TIFFClose(tif);
  return ok;
}

namespace {

void put16(std::vector<std::uint8_t>& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}

std::vector<std::uint8_t> bmp_header(int width, int height, int bpp, std::uint32_t palette_entries,
                                     std::uint32_t image_bytes) {
  std::vector<std::uint8_t> b = {'B', 'M'};
  const std::uint32_t offset = 14 + 40 + palette_entries * 4;
  put32(b, offset + image_bytes);
  put32(b, 0);
  put32(b, offset);
  put32(b, 40);
  put32(b, static_cast<std::uint32_t>(width));
  put32(b, static_cast<std::uint32_t>(height));
  put16(b, 1);
  put16(b, static_cast<std::uint32_t>(bpp));
  put32(b, 0);  // BI_RGB
  put32(b, image_bytes);
  put32(b, 2835);
  put32(b, 2835);
  put32(b, palette_entries);
  put32(b, 0);
  return b;
}

}  // namespace

std::vector<std::uint8_t> bmp_bytes_24(const Bitmap32& bitmap, bool top_down) {
  const std::size_t stride = (static_cast<std::size_t>(bitmap.width) * 3 + 3) & ~std::size_t{3};
  std::vector<std::uint8_t> b =
      bmp_header(bitmap.width, top_down ? -bitmap.height : bitmap.height, 24, 0,
                 static_cast<std::uint32_t>(stride * static_cast<std::size_t>(bitmap.height)));
  for (int i = 0; i < bitmap.height; ++i) {
    const int y = top_down ? i : bitmap.height - 1 - i;
    const std::uint8_t* p = bitmap.row(y);
    std::size_t written = 0;
    for (int x = 0; x < bitmap.width; ++x, p += 4, written += 3)
      b.insert(b.end(), {p[0], p[1], p[2]});
    for (; written < stride; ++written) b.push_back(0);
  }
  return b;
}

std::vector<std::uint8_t> bmp_bytes_8(int width, int height,
                                      const std::vector<std::uint8_t>& indices,
                                      const std::vector<std::uint8_t>& palette) {
  const std::size_t stride = (static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
  const auto entries = static_cast<std::uint32_t>(palette.size() / 3);
  std::vector<std::uint8_t> b =
      bmp_header(width, height, 8, entries, static_cast<std::uint32_t>(stride * height));
  for (std::size_t i = 0; i + 2 < palette.size(); i += 3) {
    b.insert(b.end(), {palette[i + 2], palette[i + 1], palette[i], 0});
  }
  for (int i = 0; i < height; ++i) {
    const int y = height - 1 - i;
    for (int x = 0; x < width; ++x) b.push_back(indices[static_cast<std::size_t>(y * width + x)]);
    for (std::size_t x = static_cast<std::size_t>(width); x < stride; ++x) b.push_back(0);
  }
  return b;
}

std::string djpeg_program() {
  for (const char* p : {"/usr/bin/djpeg", "/usr/local/bin/djpeg"}) {
    if (::access(p, X_OK) == 0) return p;
  }
  return "";
}

bool djpeg_decode(const std::string& jpeg_path, const std::string& scratch_dir,
                  ReferenceImage& out) {
  const std::string program = djpeg_program();
  if (program.empty()) return false;
  const std::string ppm = scratch_dir + "/reference.pnm";
  std::remove(ppm.c_str());  // a fresh file: overwriting one in place makes ext4 flush it
  const RunResult run = run_program(program, {"-ppm", "-outfile", ppm, jpeg_path});
  // djpeg exits with 2 after warnings (a truncated file), still writing the image.
  if (run.exit_code != 0 && run.exit_code != 2) return false;
  std::vector<std::uint8_t> bytes;
  if (!platform::read_file(ppm, bytes)) return false;
  std::size_t pos = 0;
  auto token = [&]() {
    while (pos < bytes.size() && std::isspace(bytes[pos])) ++pos;
    std::string t;
    while (pos < bytes.size() && !std::isspace(bytes[pos])) t += static_cast<char>(bytes[pos++]);
    return t;
  };
  const std::string magic = token();
  out.width = std::atoi(token().c_str());
  out.height = std::atoi(token().c_str());
  const int maxval = std::atoi(token().c_str());
  ++pos;  // the single whitespace before the samples
  if ((magic != "P6" && magic != "P5") || maxval != 255) return false;
  const std::size_t pixels =
      static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height);
  const std::size_t channels = magic == "P6" ? 3 : 1;
  if (bytes.size() - pos != pixels * channels) return false;
  out.rgb.resize(pixels * 3);
  for (std::size_t i = 0; i < pixels * 3; ++i)
    out.rgb[i] = bytes[pos + (channels == 3 ? i : i / 3)];
  return true;
}

std::string compare_with_reference(const Bitmap32& bitmap, const ReferenceImage& reference) {
  std::ostringstream why;
  if (bitmap.width != reference.width || bitmap.height != reference.height) {
    why << "size " << bitmap.width << "x" << bitmap.height << " vs " << reference.width << "x"
        << reference.height;
    return why.str();
  }
  for (int y = 0; y < bitmap.height; ++y) {
    const std::uint8_t* p = bitmap.row(y);
    for (int x = 0; x < bitmap.width; ++x, p += 4) {
      const std::uint8_t* r = &reference.rgb[(static_cast<std::size_t>(y) * bitmap.width + x) * 3];
      if (p[2] != r[0] || p[1] != r[1] || p[0] != r[2] || p[3] != 255) {
        why << "pixel (" << x << ", " << y << "): BGRX " << int(p[0]) << " " << int(p[1]) << " "
            << int(p[2]) << " " << int(p[3]) << ", reference RGB " << int(r[0]) << " " << int(r[1])
            << " " << int(r[2]);
        return why.str();
      }
    }
  }
  return "";
}

std::string capture_process_output(const std::function<void()>& body) {
  std::fflush(stdout);
  std::fflush(stderr);
  char name[] = "/tmp/lumvet-capture-XXXXXX";
  const int fd = ::mkstemp(name);
  ::unlink(name);
  const int saved_out = ::dup(1), saved_err = ::dup(2);
  ::dup2(fd, 1);
  ::dup2(fd, 2);
  body();
  std::fflush(stdout);
  std::fflush(stderr);
  ::dup2(saved_out, 1);
  ::dup2(saved_err, 2);
  ::close(saved_out);
  ::close(saved_err);
  std::string text;
  ::lseek(fd, 0, SEEK_SET);
  char buf[4096];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
    text.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  return text;
}

}  // namespace lumvet::testing
