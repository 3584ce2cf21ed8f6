// Prepares the benchmark's photo sets from full-size camera originals (the
// lomiri-wallpapers-16.04 files the bundled samples were made from):
//
//   original/            the originals as shipped (progressive JPEGs, 6 to 16 MP)
//   baseline/            the same pictures as baseline JPEGs, 4:2:0, quality 92
//   12mp/                4000 x 3000 baseline 4:2:0 q92 (4:3 centre crops, resampled)
//   24mp/                6000 x 4000 baseline 4:2:0 q92 from the four largest
//   24mp_progressive/    the same 24-megapixel pictures as progressive JPEGs
//
// Usage: make_bench_photos ORIGINALS_DIR OUT_DIR
// Files already present are kept. Prints one line per set.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

// jpeglib.h needs <cstdio> first.
#include <jpeglib.h>

#include "imaging/bitmap.h"
#include "tests/support/image_files.h"

namespace {

namespace fs = std::filesystem;

// The originals of the bundled samples that have at least 6 megapixels, largest
// first. (Two smaller ones, 4.5 and 1.5 MP, are left out.)
const char* const ORIGINALS[] = {
    "seeding_by_Clements_Engelhardt.jpg",
    "sunset_by_Aitzol_Berasategi.jpg",
    "Wine_by_Jakkub_Mede.jpg",
    "picosdeeuropa_by_Aitzol_Berasategi.jpg",
    "aitzgorri_by_Aitzol_Berasategi.jpg",
    "friends_by_Aitzol_Berasategi.jpg",
    "life_by_Aitzol_Berasategi.jpg",
};

// Decodes to the BGRX bitmap that the shared writer takes.
bool read_jpeg(const std::string& path, lumvet::Bitmap32& out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  jpeg_decompress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);  // a broken original ends the program: fine for a tool
  jpeg_create_decompress(&c);
  jpeg_stdio_src(&c, f);
  jpeg_read_header(&c, TRUE);
  c.out_color_space = JCS_EXT_BGRX;
  jpeg_start_decompress(&c);
  out = lumvet::make_bitmap32(static_cast<std::int32_t>(c.output_width),
                              static_cast<std::int32_t>(c.output_height));
  const bool ok = out.pixels != nullptr;
  while (ok && c.output_scanline < c.output_height) {
    JSAMPROW row = out.row(static_cast<std::int32_t>(c.output_scanline));
    jpeg_read_scanlines(&c, &row, 1);
  }
  if (ok) jpeg_finish_decompress(&c);
  jpeg_destroy_decompress(&c);
  std::fclose(f);
  return ok;
}

// Baseline 4:2:0 (the default sampling) or progressive, quality 92, written under
// a temporary name and renamed into place.
bool write_jpeg(const std::string& path, const lumvet::Bitmap32& image, bool progressive) {
  const std::string tmp = path + ".tmp";
  lumvet::testing::JpegOptions options;
  options.quality = 92;
  options.progressive = progressive;
  return lumvet::testing::write_jpeg(tmp, image, options) &&
         std::rename(tmp.c_str(), path.c_str()) == 0;
}

// The largest centre crop of the target's aspect ratio (turned to the source's
// orientation), resampled bilinearly to the target size.
lumvet::Bitmap32 crop_and_resample(const lumvet::Bitmap32& src, int width, int height) {
  if ((src.width < src.height) != (width < height)) std::swap(width, height);
  double cw = src.width, ch = src.width * static_cast<double>(height) / width;
  if (ch > src.height) {
    ch = src.height;
    cw = src.height * static_cast<double>(width) / height;
  }
  const double x0 = (src.width - cw) / 2, y0 = (src.height - ch) / 2;
  lumvet::Bitmap32 out = lumvet::make_bitmap32(width, height);
  for (int y = 0; y < out.height; ++y) {
    const double sy = std::clamp(y0 + (y + 0.5) * ch / height - 0.5, 0.0, src.height - 1.0);
    const int iy = std::min(static_cast<int>(sy), src.height - 2);
    const double fy = sy - iy;
    std::uint8_t* o = out.row(y);
    for (int x = 0; x < out.width; ++x, o += 4) {
      const double sx = std::clamp(x0 + (x + 0.5) * cw / width - 0.5, 0.0, src.width - 1.0);
      const int ix = std::min(static_cast<int>(sx), src.width - 2);
      const double fx = sx - ix;
      const std::uint8_t* p = src.row(iy) + std::size_t{static_cast<std::size_t>(ix)} * 4;
      const std::uint8_t* q = src.row(iy + 1) + std::size_t{static_cast<std::size_t>(ix)} * 4;
      for (int k = 0; k < 3; ++k) {
        const double top = p[k] + (p[k + 4] - p[k]) * fx;
        const double bottom = q[k] + (q[k + 4] - q[k]) * fx;
        o[k] = static_cast<std::uint8_t>(std::lround(top + (bottom - top) * fy));
      }
      o[3] = 255;
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_bench_photos ORIGINALS_DIR OUT_DIR\n");
    return 2;
  }
  const fs::path in = argv[1], out = argv[2];
  for (const char* set : {"original", "baseline", "12mp", "24mp", "24mp_progressive"}) {
    fs::create_directories(out / set);
  }
  int index = 0;
  for (const char* name : ORIGINALS) {
    const fs::path source = in / name;
    const std::string stem = fs::path(name).stem().string();
    std::error_code ec;
    fs::copy_file(source, out / "original" / name, fs::copy_options::skip_existing, ec);
    if (ec) {
      std::fprintf(stderr, "cannot copy %s: %s\n", source.c_str(), ec.message().c_str());
      return 1;
    }
    const bool big = index < 4;
    const fs::path baseline = out / "baseline" / name, mp12 = out / "12mp" / name;
    const fs::path mp24 = out / "24mp" / name, mp24p = out / "24mp_progressive" / name;
    ++index;
    if (fs::exists(baseline) && fs::exists(mp12) &&
        (!big || (fs::exists(mp24) && fs::exists(mp24p)))) {
      continue;
    }
    lumvet::Bitmap32 picture;
    if (!read_jpeg(source.string(), picture)) {
      std::fprintf(stderr, "cannot read %s\n", source.c_str());
      return 1;
    }
    bool ok = write_jpeg(baseline.string(), picture, false) &&
              write_jpeg(mp12.string(), crop_and_resample(picture, 4000, 3000), false);
    if (big) {
      const lumvet::Bitmap32 large = crop_and_resample(picture, 6000, 4000);
      ok = ok && write_jpeg(mp24.string(), large, false) && write_jpeg(mp24p.string(), large, true);
    }
    if (!ok) {
      std::fprintf(stderr, "cannot write the pictures of %s\n", stem.c_str());
      return 1;
    }
  }
  for (const char* set : {"original", "baseline", "12mp", "24mp", "24mp_progressive"}) {
    std::uintmax_t bytes = 0;
    int files = 0;
    for (const auto& e : fs::directory_iterator(out / set)) {
      if (e.path().extension() == ".jpg") bytes += e.file_size(), ++files;
    }
    std::printf("  %-18s %d files, %.1f MB\n", set, files, static_cast<double>(bytes) / 1e6);
  }
  return 0;
}
