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
    unsigned v = (static_cast<unsigned>(i * 7919 + j * 104729) ^ salt) * 2654435761u;
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>((i * 3 + j) & 0xFF);
    p[2] = static_cast<std::uint8_t>((v >> 8) & ((i / 16) % 2 ? 0xFF : 0x0F));
  });
}

void expect_same_bits(const FeatureVector& a, const FeatureVector& b, const std::string& what) {
  for (int k = 0; k < FEATURE_COUNT; ++k) {
    ASSERT_EQ(std::bit_cast<std::uint64_t>(a[k]), std::bit_cast<std::uint64_t>(b[k]))
        << what << " k " << k;
  }
}

// The fast walk, and rows fed as a decoder gives them (RGB, or BGRX with
// buffers shared between images and unneeded rows skipped), against the
// reference walk: with every processor extension, without FMA, and with SSE2
// only.
TEST(PatchStream, FastWalkAndFeedersMatchReferenceBitForBit) {
  const std::pair<int, int> sizes[] = {{200, 100}, {15, 14}, {14, 14},   {640, 480},  {97, 1013},
                                       {1013, 97}, {1, 150}, {411, 307}, {2400, 1800}};
  LuminanceBuffers pool;
  for (CpuExtensionLimit limit :
       {CpuExtensionLimit::all, CpuExtensionLimit::no_fma, CpuExtensionLimit::sse2_only}) {
    limit_cpu_extensions(limit);
    for (auto [w, h] : sizes) {
      const Bitmap32 b = textured(w, h, static_cast<unsigned>(w * h));
      for (std::int32_t seed : {1, -9, 2147483646}) {
        const std::string what = std::to_string(w) + "x" + std::to_string(h) + " seed " +
                                 std::to_string(seed) + " limit " +
                                 std::to_string(static_cast<int>(limit));
        RandomState rs{seed};
        const std::vector<PatchPlacement> placements{draw_patch_placement(w, h, rs),
                                                     draw_patch_placement(w, h, rs)};
        const bool rgb = seed < 0;
        PatchRowFeeder feeder(w, h, placements, rgb ? nullptr : &pool);
        std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 3);
        for (int y = 0; y < h; ++y) {
          const std::uint8_t* src = b.row(y);
          if (!rgb) {
            if (feeder.row_needed(y)) feeder.add_bgrx_row(y, src);
            continue;
          }
          for (int x = 0; x < w; ++x) {
            row[3 * x] = src[4 * x + 2];
            row[3 * x + 1] = src[4 * x + 1];
            row[3 * x + 2] = src[4 * x];
          }
          feeder.add_rgb_row(y, row.data());
        }
        feeder.finish();
        for (std::size_t d = 0; d < 2; ++d) {
          FeatureVector slow, fast, fed;
          measure_patches(b, placements[d], slow);
          measure_patches_fast(b, placements[d], fast);
          feeder.features(d, fed);
          expect_same_bits(slow, fast, "fast " + what);
          expect_same_bits(slow, fed, "fed " + what);
        }
      }
    }
  }
  limit_cpu_extensions(CpuExtensionLimit::all);
  EXPECT_FALSE(pool.free.empty());
}

TEST(PatchStream, LuminancesOfEveryChannelValue) {
  // Every value in every channel, at lengths that run the vector loop, its
  // scalar tail, or both; nothing is written past the last pixel.
  std::vector<std::uint8_t> bgrx(4 * 256 * 3);
  for (std::size_t i = 0; i < 256 * 3; ++i) {
    bgrx[4 * i] = static_cast<std::uint8_t>(i);
    bgrx[4 * i + 1] = static_cast<std::uint8_t>(255 - i);
    bgrx[4 * i + 2] = static_cast<std::uint8_t>(i * 7);
    bgrx[4 * i + 3] = static_cast<std::uint8_t>(i * 13);  // never read
  }
  for (CpuExtensionLimit limit : {CpuExtensionLimit::all, CpuExtensionLimit::sse2_only}) {
    limit_cpu_extensions(limit);
    for (std::size_t n : {0, 1, 7, 8, 17, 256 * 3}) {
      std::vector<std::uint16_t> out(n + 1, 0xBEEF);
      bgrx_luminances(bgrx.data(), n, out.data());
      for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(out[i], pixel_luminance(&bgrx[4 * i]))
            << n << " " << i << " " << static_cast<int>(limit);
      }
      EXPECT_EQ(out[n], 0xBEEF);
    }
  }
  limit_cpu_extensions(CpuExtensionLimit::all);
}

}  // namespace
}  // namespace lumvet
