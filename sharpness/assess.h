// The sharpness assessor on a file: decode the luminance, measure, score.
// A photo's result depends on its pixels only: no random draws, no clock, no
// other photo.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/imaging.h"
#include "sharpness/edge_slopes.h"
#include "sharpness/sharpness_model.h"

namespace lumvet {

struct SharpnessResult {
  bool decoded = false;  // false: the file could not be decoded; score 0
  std::int32_t width = 0;
  std::int32_t height = 0;
  SharpnessMeasure measure;
  std::int32_t score = 0;  // 0 ... 100, the chance in per cent that the photo is blurred
  DecodeSource source = DecodeSource::image;  // which picture of a camera raw file was read
};

// Measures the image file at `path` (any format the imaging library reads, at
// full size, streamed through its luminance rows: no full-frame bitmap of a
// JPEG is kept).
// With `map`, also where the edges were measured (EdgeSlopeMeter::slope_map);
// with `frame`, the decoded frame is kept there where the decoder can keep it
// (ImageRowSink::frame_to_keep). The measure is the same.
SharpnessMeasure measure_sharpness_file(const std::string& path, bool& decoded, std::int32_t& width,
                                        std::int32_t& height, const DecodeOptions& options = {},
                                        DecodeInfo* info = nullptr, SlopeMap* map = nullptr,
                                        KeptFrame* frame = nullptr);

SharpnessResult assess_sharpness_file(const std::string& path, const SharpnessModel& model,
                                      const DecodeOptions& options = {}, SlopeMap* map = nullptr,
                                      KeptFrame* frame = nullptr);

}  // namespace lumvet
