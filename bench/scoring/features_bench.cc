// extract_patch_features on a 4000 x 3000 bitmap: nanoseconds per visited pixel
// (30 patches of side 244 per draw, 1,786,080 pixels).
// Usage: features_bench [draws]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "scoring/features.h"

int main(int argc, char** argv) {
  const int draws = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
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
  const std::int64_t side = lumvet::patch_side(WIDTH, HEIGHT);
  const std::int64_t pixels_per_draw = side * side * lumvet::FEATURE_COUNT;

  lumvet::RandomState rs;
  lumvet::FeatureVector features{};
  double checksum = 0.0;
  lumvet::extract_patch_features(bitmap, features, rs);  // warm-up
  std::vector<double> ns_per_pixel;
  for (int i = 0; i < draws; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    lumvet::extract_patch_features(bitmap, features, rs);
    const double ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
    ns_per_pixel.push_back(ns / static_cast<double>(pixels_per_draw));
    checksum += features[0];
  }
  std::sort(ns_per_pixel.begin(), ns_per_pixel.end());
  double sum = 0.0;
  for (double v : ns_per_pixel) sum += v;
  std::printf("extract_patch_features, 4000 x 3000, side %lld, %lld visited pixels per draw\n",
              static_cast<long long>(side), static_cast<long long>(pixels_per_draw));
  std::printf("ns per visited pixel: min %.3f  median %.3f  avg %.3f  (%d draws)\n",
              ns_per_pixel.front(), ns_per_pixel[ns_per_pixel.size() / 2],
              sum / static_cast<double>(draws), draws);
  std::printf("checksum %.6f\n", checksum);
  return 0;
}
