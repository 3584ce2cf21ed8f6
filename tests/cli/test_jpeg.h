// Small grey JPEG photographs for the command-line tests, written by write_jpeg
// (tests/support/image_files.h) at quality 90.
#pragma once

#include <cstdint>
#include <string>

namespace lumvet::testing {

// A flat grey picture: every patch has contrast 0, the most blurred photo there is.
void write_flat_jpeg(const std::string& path, std::uint8_t grey = 128);
// Fine detail everywhere: pseudo-random pixels from `seed`.
void write_noise_jpeg(const std::string& path, std::uint32_t seed, int amplitude = 255);

// Noise on the left five sixths, flat grey on the right: scores spread widely
// with the seed, around 0.
void write_part_noise_jpeg(const std::string& path);

}  // namespace lumvet::testing
