// Decoding and scoring of a 12-megapixel JPEG (4000 x 3000, 4:2:0, quality 90,
// with fine texture), timed separately: load_bitmap32, then the two scoring draws.
// Usage: decode_bench [runs]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "imaging/imaging.h"
#include "scoring/linear_model.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

bool write_test_jpeg(const std::string& path, int width, int height) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, f);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * 3);
  std::uint32_t noise = 12345;
  while (c.next_scanline < c.image_height) {
    const int y = static_cast<int>(c.next_scanline);
    for (int x = 0; x < width; ++x) {
      noise = noise * 1103515245u + 12345u;
      const int n = static_cast<int>((noise >> 24) & 31);
      row[3 * x + 0] = static_cast<JSAMPLE>((x / 7 + y / 5) % 200 + n);
      row[3 * x + 1] = static_cast<JSAMPLE>(((x ^ y) & 127) + n);
      row[3 * x + 2] = static_cast<JSAMPLE>((x * y / 97) % 220 + n);
    }
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&c, &p, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  return std::fclose(f) == 0;
}

void report(const char* what, std::vector<double>& ms) {
  std::sort(ms.begin(), ms.end());
  double sum = 0.0;
  for (double v : ms) sum += v;
  std::printf("%-28s min %8.2f ms  median %8.2f ms  avg %8.2f ms  (%zu runs)\n", what, ms.front(),
              ms[ms.size() / 2], sum / static_cast<double>(ms.size()), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const char* tmp = std::getenv("TMPDIR");
  const std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/lumvet-bench-" +
                           std::to_string(::getpid()) + ".jpg";
  if (!write_test_jpeg(path, 4000, 3000)) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return 1;
  }
  lumvet::start_imaging_library();
  lumvet::SvmModel model;
  lumvet::init_embedded_model(model);
  lumvet::RandomState rs;

  std::optional<lumvet::Bitmap32> warm = lumvet::load_bitmap32(path);  // page cache, allocator
  if (!warm) {
    std::fprintf(stderr, "cannot decode %s\n", path.c_str());
    return 1;
  }
  std::vector<double> decode_ms, score_ms;
  int checksum = 0;
  for (int i = 0; i < runs; ++i) {
    Clock::time_point t0 = Clock::now();
    std::optional<lumvet::Bitmap32> b = lumvet::load_bitmap32(path);
    decode_ms.push_back(ms_since(t0));
    t0 = Clock::now();
    const int s1 = lumvet::score_bitmap(model, *b, lumvet::FEATURE_SCALE, rs);
    const int s2 = lumvet::score_bitmap(model, *b, lumvet::FEATURE_SCALE, rs);
    score_ms.push_back(ms_since(t0));
    checksum += s1 + s2;
  }
  std::printf("12-megapixel JPEG (4000 x 3000, 4:2:0, q90), %ld bytes\n",
              static_cast<long>(std::filesystem::file_size(path)));
  report("decode (load_bitmap32)", decode_ms);
  report("score (two draws)", score_ms);
  std::printf("checksum %d\n", checksum);
  lumvet::release_svm_model(model);
  std::remove(path.c_str());
  return 0;
}
