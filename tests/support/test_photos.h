// Photographs made up for the training tests: textured "sharp" pictures and
// blurred copies of them, written as real JPEG files.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/bitmap.h"

namespace lumvet::testing {

// A picture of random grey-blue blocks of 1 to 4 pixels: strong local contrast,
// like a detailed photograph. The same seed gives the same picture.
Bitmap32 make_textured_bitmap(std::int32_t width, std::int32_t height, std::uint32_t seed);

// `passes` box blurs of the given radius, per channel, edges clamped.
Bitmap32 box_blurred(const Bitmap32& bitmap, int radius, int passes);

// Writes `count` sharp pictures as sharp_<i>.jpg into `good_dir` and their blurred
// copies as blur_<i>.jpg into `blur_dir` (both folders created), as write_jpeg's
// baseline 4:2:0 JPEGs of quality 90.
void write_photo_folders(const std::string& good_dir, const std::string& blur_dir, int count,
                         std::int32_t width, std::int32_t height);

}  // namespace lumvet::testing
