#include "tests/sharpness/synthetic.h"

#include <algorithm>
#include <cmath>

namespace lumvet::testing {
namespace {

// The square wave of period 2 * square at pixel x (any integer), blurred.
std::vector<double> blurred_wave(std::int32_t size, std::int32_t square, double sigma,
                                 std::int32_t motion) {
  auto wave = [square](std::int64_t x) {
    const std::int64_t q = x >= 0 ? x / square : -((-x + square - 1) / square);
    return q % 2 == 0 ? 1.0 : -1.0;
  };
  std::vector<double> kernel{1.0};
  std::int32_t radius = 0;
  if (sigma > 0.0) {
    radius = static_cast<std::int32_t>(std::ceil(4.0 * sigma));
    kernel.clear();
    double sum = 0.0;
    for (std::int32_t d = -radius; d <= radius; ++d) {
      kernel.push_back(std::exp(-0.5 * d * d / (sigma * sigma)));
      sum += kernel.back();
    }
    for (double& k : kernel) k /= sum;
  } else if (motion > 0) {
    radius = motion / 2;
    kernel.assign(static_cast<std::size_t>(2 * radius + 1), 1.0 / (2 * radius + 1));
  }
  std::vector<double> out(static_cast<std::size_t>(size));
  for (std::int32_t x = 0; x < size; ++x) {
    double v = 0.0;
    for (std::int32_t d = -radius; d <= radius; ++d) {
      v += kernel[static_cast<std::size_t>(d + radius)] * wave(x + d);
    }
    out[static_cast<std::size_t>(x)] = v;
  }
  return out;
}

}  // namespace

LumaImage make_checker(const CheckerOptions& o) {
  // A motion smear runs across only; a Gaussian blurs both axes.
  const std::vector<double> sx = blurred_wave(o.width, o.square, o.sigma, o.motion);
  const std::vector<double> sy = blurred_wave(o.height, o.square, o.sigma, 0);
  LumaImage image{o.width, o.height, {}};
  image.pixels.reserve(static_cast<std::size_t>(o.width) * static_cast<std::size_t>(o.height));
  for (std::int32_t y = 0; y < o.height; ++y) {
    for (std::int32_t x = 0; x < o.width; ++x) {
      const double v =
          o.low + (o.high - o.low) * 0.5 *
                      (1.0 + sx[static_cast<std::size_t>(x)] * sy[static_cast<std::size_t>(y)]);
      image.pixels.push_back(static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)));
    }
  }
  return image;
}

LumaImage make_flat(std::int32_t width, std::int32_t height, std::uint8_t level) {
  return {width, height,
          std::vector<std::uint8_t>(
              static_cast<std::size_t>(width) * static_cast<std::size_t>(height), level)};
}

SharpnessMeasure measure_luma(const LumaImage& image) {
  EdgeSlopeMeter meter(image.width, image.height);
  for (std::int32_t y = 0; y < image.height; ++y) meter.add_row(image.row(y));
  return meter.finish();
}

Bitmap32 luma_to_bitmap(const LumaImage& image) {
  Bitmap32 b = make_bitmap32(image.width, image.height);
  for (std::int32_t y = 0; y < image.height; ++y) {
    for (std::int32_t x = 0; x < image.width; ++x) {
      std::uint8_t* p = b.row(y) + 4 * x;
      p[0] = p[1] = p[2] = image.row(y)[x];
      p[3] = 255;
    }
  }
  return b;
}

}  // namespace lumvet::testing
