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

#include "imaging/imaging.h"
#include "scoring/linear_model.h"
#include "tests/support/image_files.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// The benchmark photo: fine texture with noise, the same on every run.
lumvet::Bitmap32 make_bench_bitmap(int width, int height) {
  lumvet::Bitmap32 b = lumvet::make_bitmap32(width, height);
  std::uint32_t noise = 12345;
  for (int y = 0; y < b.height; ++y) {
    std::uint8_t* p = b.row(y);
    for (int x = 0; x < b.width; ++x, p += 4) {
      noise = noise * 1103515245u + 12345u;
      const int n = static_cast<int>((noise >> 24) & 31);
      p[2] = static_cast<std::uint8_t>((x / 7 + y / 5) % 200 + n);  // red
      p[1] = static_cast<std::uint8_t>(((x ^ y) & 127) + n);
      p[0] = static_cast<std::uint8_t>((x * y / 97) % 220 + n);
      p[3] = 255;
    }
  }
  return b;
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
  if (!lumvet::testing::write_jpeg(path, make_bench_bitmap(4000, 3000))) {
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
