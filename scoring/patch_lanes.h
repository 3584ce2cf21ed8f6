// The vector kernels of the patch statistics: finished patches measured side by
// side, one patch per lane, each lane doing the reference walk's operations in
// its order; and the luminances of BGRX pixels. The kernel is chosen at run time
// from usable_cpu_extensions (platform/cpu_features.h); every kernel gives the
// same bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumvet::detail {

// The most patches a kernel measures at once.
inline constexpr std::size_t kMaxLanes = 20;

// A statistics routine and the number of patches it measures at once: out[a] is
// the population standard deviation of the `count` luminances at src[a], for
// every a below `lanes`.
struct LaneKernel {
  void (*measure)(std::size_t count, const std::uint16_t* const src[], double out[]);
  std::size_t lanes;
};

// The kernel for this processor and the current limit: twenty lanes with AVX2
// and FMA (the division by multiplication), else twelve (AVX, or SSE2 and the
// portable code). A group is measured with the kernel chosen for it.
LaneKernel lane_kernel();

// The luminance 30 R + 59 G + 11 B of one pixel (at most 25500).
inline std::uint16_t luminance(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return static_cast<std::uint16_t>(30 * r + 59 * g + 11 * b);
}

}  // namespace lumvet::detail
