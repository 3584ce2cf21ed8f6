// The colour conversion of JPEG spans on every path a processor can take: the
// AVX2, SSE2 and plain steps give libjpeg's bytes for every chroma pair.
#include "imaging/ycc_spans.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/cpu_features.h"

namespace lumvet {
namespace {

std::uint8_t clamp(int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// libjpeg's jdcolor.c conversion, written from its documented tables.
void expected_bgrx(int y, int cb, int cr, std::uint8_t* p) {
  p[0] = clamp(y + ((116130 * (cb - 128) + 32768) >> 16));
  p[1] = clamp(y + ((-22554 * (cb - 128) - 46802 * (cr - 128) + 32768) >> 16));
  p[2] = clamp(y + ((91881 * (cr - 128) + 32768) >> 16));
  p[3] = 255;
}

class YccSpans : public ::testing::TestWithParam<CpuExtensionLimit> {
 protected:
  void SetUp() override { limit_cpu_extensions(GetParam()); }
  void TearDown() override { limit_cpu_extensions(CpuExtensionLimit::all); }
};

// Every (cb, cr) pair with luma at the extremes and in the middle, converted in
// runs whose lengths leave every tail (0 ... 15 pixels after the vector steps).
TEST_P(YccSpans, EveryChromaPairAndEveryTail) {
  std::vector<std::uint8_t> y;
  std::vector<std::int16_t> cb, cr;
  for (int l : {0, 1, 77, 128, 254, 255}) {
    for (int b = 0; b < 256; ++b) {
      for (int r = 0; r < 256; ++r) {
        y.push_back(static_cast<std::uint8_t>(l));
        cb.push_back(static_cast<std::int16_t>(b));
        cr.push_back(static_cast<std::int16_t>(r));
      }
    }
  }
  const std::size_t total = y.size();
  std::vector<std::uint8_t> got(4 * total, 0), want(4 * total);
  for (std::size_t i = 0; i < total; ++i) expected_bgrx(y[i], cb[i], cr[i], &want[4 * i]);
  std::size_t at = 0;
  for (std::int32_t run = 0; at < total; run = (run + 1) % 41) {
    const auto count = static_cast<std::int32_t>(std::min<std::size_t>(run, total - at));
    detail::ycc_to_bgrx_span(&y[at], &cb[at], &cr[at], count, &got[4 * at]);
    at += static_cast<std::size_t>(count);
  }
  ASSERT_EQ(got, want);
}

INSTANTIATE_TEST_SUITE_P(EveryLimit, YccSpans,
                         ::testing::Values(CpuExtensionLimit::all, CpuExtensionLimit::no_fma,
                                           CpuExtensionLimit::sse2_only));

// The limit reaches what the processor reports: nothing beyond SSE2 under
// sse2_only, no FMA kernel under no_fma, and never more than the processor has.
TEST(CpuFeatures, LimitTakesAwayNeverAdds) {
  const CpuExtensions all = usable_cpu_extensions();
  limit_cpu_extensions(CpuExtensionLimit::no_fma);
  const CpuExtensions no_fma = usable_cpu_extensions();
  limit_cpu_extensions(CpuExtensionLimit::sse2_only);
  const CpuExtensions sse2 = usable_cpu_extensions();
  limit_cpu_extensions(CpuExtensionLimit::all);
  EXPECT_FALSE(sse2.ssse3 || sse2.avx || sse2.avx2 || sse2.avx2_fma);
  EXPECT_FALSE(no_fma.avx2_fma);
  EXPECT_EQ(no_fma.avx2, all.avx2);
  EXPECT_EQ(no_fma.avx, all.avx);
  EXPECT_TRUE(!all.avx2_fma || all.avx2);
}

}  // namespace
}  // namespace lumvet
