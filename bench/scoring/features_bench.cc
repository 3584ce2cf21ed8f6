// The patch statistics on a 4000 x 3000 image, in nanoseconds per visited pixel
// (30 patches of side 244 per draw, 1,786,080 pixels): the reference walk
// (measure_patches) on a full-frame bitmap, and the row feeder that lumvet uses,
// fed both draws' rows as a decoder hands them over (from an eight-row rolling
// buffer that stays in the cache), with luminance buffers kept from image to
// image; also the feeder without FMA (true divisions) and with SSE2 only.
// Usage: features_bench [repeats]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "scoring/features.h"
#include "scoring/patch_stream.h"

namespace {

using Clock = std::chrono::steady_clock;

// Median and minimum of `repeats` timings of `body`, in ns per `pixels`.
void report(const char* what, int repeats, double pixels, const std::function<void()>& body) {
  body();  // warm-up
  std::vector<double> ns;
  for (int i = 0; i < repeats; ++i) {
    const auto t0 = Clock::now();
    body();
    ns.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / pixels);
  }
  std::sort(ns.begin(), ns.end());
  std::printf("%-46s min %.3f  median %.3f ns per visited pixel\n", what, ns.front(),
              ns[ns.size() / 2]);
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  constexpr int WIDTH = 4000, HEIGHT = 3000;
  lumvet::Bitmap32 bitmap = lumvet::make_bitmap32(WIDTH, HEIGHT);
  if (!bitmap.pixels) return 1;
  for (int y = 0; y < HEIGHT; ++y) {
    std::uint8_t* p = bitmap.row(y);
    for (int x = 0; x < WIDTH; ++x, p += 4) {
      p[0] = static_cast<std::uint8_t>(x * y);
      p[1] = static_cast<std::uint8_t>(7 * x + 2 * y);
      p[2] = static_cast<std::uint8_t>(3 * x + 5 * y);
      p[3] = 255;
    }
  }
  const double side = lumvet::patch_side(WIDTH, HEIGHT);
  const double pixels_per_draw = side * side * lumvet::FEATURE_COUNT;
  std::printf("4000 x 3000 bitmap, side %.0f, %.0f visited pixels per draw\n", side,
              pixels_per_draw);

  lumvet::RandomState rs;
  lumvet::FeatureVector features{};
  double checksum = 0.0;
  report("reference walk (measure_patches), one draw", repeats, pixels_per_draw, [&] {
    const lumvet::PatchPlacement p = lumvet::draw_patch_placement(WIDTH, HEIGHT, rs);
    lumvet::measure_patches(bitmap, p, features);
    checksum += features[0];
  });
  lumvet::LuminanceBuffers pool;
  const auto feed_two_draws = [&] {
    std::vector<lumvet::PatchPlacement> p{lumvet::draw_patch_placement(WIDTH, HEIGHT, rs),
                                          lumvet::draw_patch_placement(WIDTH, HEIGHT, rs)};
    lumvet::PatchRowFeeder feeder(WIDTH, HEIGHT, p, &pool);
    for (int y = 0; y < HEIGHT; ++y) {
      if (feeder.row_needed(y)) feeder.add_bgrx_row(y, bitmap.row(y % 8));
    }
    feeder.finish();
    feeder.features(1, features);
    checksum += features[0];
  };
  report("row feeder, two draws, rolling rows", repeats, 2 * pixels_per_draw, feed_two_draws);
  lumvet::limit_cpu_extensions(lumvet::CpuExtensionLimit::no_fma);
  report("the same, divisions (no FMA)", repeats, 2 * pixels_per_draw, feed_two_draws);
  lumvet::limit_cpu_extensions(lumvet::CpuExtensionLimit::sse2_only);
  report("the same, SSE2 only", repeats, 2 * pixels_per_draw, feed_two_draws);
  lumvet::limit_cpu_extensions(lumvet::CpuExtensionLimit::all);
  std::printf("checksum %.6f\n", checksum);
  return 0;
}
