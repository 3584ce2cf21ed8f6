// Small JPEG files written with libjpeg's compressor, for command-line tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace lumvet::testing {

// Writes a width x height RGB JPEG at quality 90 whose pixel (row i, column j) is
// fill(i, j, rgb) with rgb[0] = red.
void write_test_jpeg(const std::string& path, int width, int height,
                     const std::function<void(int, int, std::uint8_t*)>& fill);

// A flat grey picture: every patch has contrast 0, the most blurred photo there is.
void write_flat_jpeg(const std::string& path, std::uint8_t grey = 128);
// Fine detail everywhere: pseudo-random pixels from `seed`.
void write_noise_jpeg(const std::string& path, std::uint32_t seed, int amplitude = 255);

// Noise on the left five sixths, flat grey on the right: scores spread widely
// with the seed, around 0.
void write_part_noise_jpeg(const std::string& path);

}  // namespace lumvet::testing
