// Decode time per megapixel of one picture in every format lumvet reads, next to
// JPEG: the same 3000 x 2000 picture (fine texture with noise) written as JPEG
// (quality 90, 4:2:0), PNG, WebP (lossy quality 90 and lossless), HEIC and AVIF
// (quality 90), and a DNG of its colour-filter mosaic with and without a
// full-size JPEG preview (the preview read by default; the demosaic forced).
// Each figure is load_bitmap32's time, the minimum and the median of the runs.
// Usage: format_bench [runs]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "imaging/imaging.h"
#include "tests/support/format_files.h"
#include "tests/support/image_files.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int WIDTH = 3000, HEIGHT = 2000;

lumvet::Bitmap32 make_bench_bitmap() {
  lumvet::Bitmap32 b = lumvet::make_bitmap32(WIDTH, HEIGHT);
  std::uint32_t noise = 12345;
  for (int y = 0; y < b.height; ++y) {
    std::uint8_t* p = b.row(y);
    for (int x = 0; x < b.width; ++x, p += 4) {
      noise = noise * 1103515245u + 12345u;
      const int n = static_cast<int>((noise >> 24) & 31);
      p[2] = static_cast<std::uint8_t>((x / 7 + y / 5) % 200 + n);
      p[1] = static_cast<std::uint8_t>(((x ^ y) & 127) + n);
      p[0] = static_cast<std::uint8_t>((x * y / 97) % 220 + n);
      p[3] = 255;
    }
  }
  return b;
}

bool write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = !bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

std::vector<std::uint8_t> read_file(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  std::uint8_t chunk[65536];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
    bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  return bytes;
}

long file_size(const std::string& path) { return static_cast<long>(read_file(path).size()); }

}  // namespace

int main(int argc, char** argv) {
  using namespace lumvet;
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const char* tmp = std::getenv("TMPDIR");
  const std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/lumvet-format-bench-" +
                           std::to_string(::getpid());
  start_imaging_library();
  const Bitmap32 picture = make_bench_bitmap();
  const testing::RgbaImage rgba = testing::rgba_of(picture, false);

  struct Case {
    const char* name;
    std::string path;
    RawMode raw;
  };
  std::vector<Case> cases;
  const auto add = [&](const char* name, const char* ext, bool written, RawMode raw) {
    if (!written) {
      std::fprintf(stderr, "format_bench: cannot write the %s file\n", name);
      return;
    }
    cases.push_back({name, base + ext, raw});
  };
  add("JPEG q90 4:2:0", ".jpg", testing::write_jpeg(base + ".jpg", picture), RawMode::preview);
  add("PNG", ".png", testing::write_png(base + ".png", picture), RawMode::preview);
  add("WebP lossy q90", ".webp",
      write_file(base + ".webp", testing::webp_bytes(rgba, false, false, 90)), RawMode::preview);
  add("WebP lossless", ".l.webp",
      write_file(base + ".l.webp", testing::webp_bytes(rgba, false, true)), RawMode::preview);
  add("HEIC q90", ".heic",
      write_file(base + ".heic", testing::heif_bytes(rgba, false, testing::HeifCodec::hevc, 90)),
      RawMode::preview);
  add("AVIF q90", ".avif",
      write_file(base + ".avif", testing::heif_bytes(rgba, false, testing::HeifCodec::av1, 90)),
      RawMode::preview);
  const std::vector<std::uint16_t> cfa = testing::cfa_mosaic(picture, 4095);
  const std::vector<std::uint8_t> jpeg = read_file(base + ".jpg");
  const bool dng_written =
      testing::write_dng(base + ".p.dng", WIDTH, HEIGHT, cfa, 4095, jpeg, WIDTH, HEIGHT);
  add("DNG + preview (preview)", ".p.dng", dng_written, RawMode::preview);
  add("DNG + preview (develop)", ".p.dng", dng_written, RawMode::develop);
  add("DNG, no preview (develop)", ".dng",
      testing::write_dng(base + ".dng", WIDTH, HEIGHT, cfa, 4095), RawMode::develop);

  const double megapixels = WIDTH * HEIGHT / 1e6;
  std::printf("load_bitmap32 on a %d x %d picture (%.1f MP), %d runs each\n", WIDTH, HEIGHT,
              megapixels, runs);
  std::printf("%-27s %10s %10s %10s %12s\n", "format", "file KB", "min ms", "median ms",
              "ms per MP");
  for (const Case& c : cases) {
    std::vector<double> ms;
    bool ok = true;
    DecodeInfo info;
    for (int r = 0; r < runs + 1 && ok; ++r) {  // the first run warms the caches
      const Clock::time_point t0 = Clock::now();
      ok = load_bitmap32(c.path, DecodeOptions{c.raw}, &info).has_value();
      const double t = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
      if (r > 0) ms.push_back(t);
    }
    if (!ok) {
      std::printf("%-27s did not decode\n", c.name);
      continue;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-27s %10ld %10.1f %10.1f %12.1f\n", c.name, file_size(c.path) / 1024, ms.front(),
                ms[ms.size() / 2], ms.front() / megapixels);
  }
  for (const char* ext : {".jpg", ".png", ".webp", ".l.webp", ".heic", ".avif", ".p.dng", ".dng"})
    std::remove((base + ext).c_str());
  return 0;
}
