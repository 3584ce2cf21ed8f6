#include "scoring/patch_stream.h"

#include <gtest/gtest.h>

#include <bit>
#include <vector>

#include "tests/support/test_support.h"

namespace lumvet {
namespace {

// Pseudo-random texture with smooth and sharp areas, so that statistics take
// many different values.
Bitmap32 textured(int w, int h, unsigned salt) {
  return testing::make_test_bitmap(w, h, [salt](int i, int j, std::uint8_t* p) {
    unsigned v = static_cast<unsigned>(i * 7919 + j * 104729) ^ salt;
    v *= 2654435761u;
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>((i * 3 + j) & 0xFF);
    p[2] = static_cast<std::uint8_t>((v >> 8) & ((i / 16) % 2 ? 0xFF : 0x0F));
  });
}

TEST(PatchStream, FastWalkMatchesReferenceBitForBit) {
  const std::pair<int, int> sizes[] = {{200, 100}, {15, 14},   {14, 14}, {640, 480},
                                       {97, 1013}, {1013, 97}, {1, 150}, {333, 333}};
  // With the processor's extensions (SSSE3, AVX) where it has them, and without.
  for (bool extensions : {true, false}) {
    allow_cpu_extensions(extensions);
    for (auto [w, h] : sizes) {
      const Bitmap32 b = textured(w, h, static_cast<unsigned>(w * h));
      for (std::int32_t seed : {1, 2, 12345, -9, 2147483646}) {
        RandomState rs{seed};
        const PatchPlacement p = draw_patch_placement(w, h, rs);
        FeatureVector slow, fast;
        measure_patches(b, p, slow);
        measure_patches_fast(b, p, fast);
        for (int k = 0; k < FEATURE_COUNT; ++k) {
          ASSERT_EQ(std::bit_cast<std::uint64_t>(slow[k]), std::bit_cast<std::uint64_t>(fast[k]))
              << w << "x" << h << " seed " << seed << " k " << k << " extensions " << extensions;
        }
      }
    }
  }
  allow_cpu_extensions(true);
}

TEST(PatchStream, TwoDrawsFedTogetherFromRgbRows) {
  const int w = 411, h = 307;
  const Bitmap32 b = textured(w, h, 77);
  RandomState rs{31337};
  std::vector<PatchPlacement> placements{draw_patch_placement(w, h, rs),
                                         draw_patch_placement(w, h, rs)};
  PatchRowFeeder feeder(w, h, placements);
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * 3);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* src = b.row(y);
    for (int x = 0; x < w; ++x) {
      rgb[3 * x] = src[4 * x + 2];
      rgb[3 * x + 1] = src[4 * x + 1];
      rgb[3 * x + 2] = src[4 * x];
    }
    feeder.add_rgb_row(y, rgb.data());
  }
  feeder.finish();
  for (std::size_t d = 0; d < 2; ++d) {
    FeatureVector expected, got;
    measure_patches(b, placements[d], expected);
    feeder.features(d, got);
    EXPECT_EQ(expected, got) << "draw " << d;
  }
}

TEST(PatchStream, SharedBuffersAcrossFeedersOfDifferentSizes) {
  LuminanceBuffers pool;
  const std::pair<int, int> sizes[] = {{640, 480}, {200, 100}, {1013, 97}, {333, 333}, {640, 480}};
  for (auto [w, h] : sizes) {
    const Bitmap32 b = textured(w, h, static_cast<unsigned>(w + h));
    RandomState rs{w};
    std::vector<PatchPlacement> placements{draw_patch_placement(w, h, rs),
                                           draw_patch_placement(w, h, rs)};
    PatchRowFeeder feeder(w, h, placements, &pool);
    for (int y = 0; y < h; ++y) {
      if (feeder.row_needed(y)) feeder.add_bgrx_row(y, b.row(y));
    }
    feeder.finish();
    for (std::size_t d = 0; d < 2; ++d) {
      FeatureVector expected, got;
      measure_patches(b, placements[d], expected);
      feeder.features(d, got);
      EXPECT_EQ(expected, got) << w << "x" << h << " draw " << d;
    }
  }
  EXPECT_FALSE(pool.free.empty());
}

TEST(PatchStream, LuminancesOfEveryChannelValue) {
  // Every value in every channel, at every length up to two vector steps and
  // past, so that the vector loop and its scalar tail both run.
  std::vector<std::uint8_t> bgrx(4 * 256 * 3);
  for (std::size_t i = 0; i < 256 * 3; ++i) {
    bgrx[4 * i] = static_cast<std::uint8_t>(i);
    bgrx[4 * i + 1] = static_cast<std::uint8_t>(255 - i);
    bgrx[4 * i + 2] = static_cast<std::uint8_t>(i * 7);
    bgrx[4 * i + 3] = static_cast<std::uint8_t>(i * 13);  // never read
  }
  for (bool extensions : {true, false}) {
    allow_cpu_extensions(extensions);
    for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{8},
                          std::size_t{17}, std::size_t{256 * 3}}) {
      std::vector<std::uint16_t> out(n + 1, 0xBEEF);
      bgrx_luminances(bgrx.data(), n, out.data());
      for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(out[i], pixel_luminance(&bgrx[4 * i])) << n << " " << i << " " << extensions;
      }
      EXPECT_EQ(out[n], 0xBEEF);
    }
  }
  allow_cpu_extensions(true);
  const std::uint8_t white[4 * 8] = {255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
                                     255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
                                     255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
  std::uint16_t lum[8];
  bgrx_luminances(white, 8, lum);
  EXPECT_EQ(lum[7], 25500);
}

TEST(PatchStream, ReferenceBitmapWorkedValues) {
  const Bitmap32 b = testing::make_reference_bitmap();
  RandomState rs;
  const PatchPlacement p = draw_patch_placement(200, 100, rs);
  FeatureVector f;
  measure_patches_fast(b, p, f);
  EXPECT_EQ(f[0], 2186.824155596421);
  EXPECT_EQ(f[29], 1819.184028596337);
}

}  // namespace
}  // namespace lumvet
