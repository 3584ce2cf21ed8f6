// The report's evidence of one photo, made on the thread that scored it: a
// thumbnail, a full-size crop around the region that decided the score, and
// the regions measured. The pictures come from the frame that the scoring
// decode kept (`frame`); where it kept none (it may be null), from a scaled
// and a partial decode of the file.
#pragma once

#include <memory>
#include <string>

#include "report/report.h"
#include "scoring/file_scoring.h"
#include "sharpness/assess.h"
#include "sharpness/edge_slopes.h"

namespace lumvet {

// Contrast assessor: the deciding region is the patch with the highest
// standard deviation of both draws (the first of equals).
std::shared_ptr<const PhotoEvidence> contrast_evidence(const std::string& path,
                                                       const PatchEvidence& patches,
                                                       const KeptFrame* frame = nullptr);

// Sharpness assessor: the deciding region is the steepest tile
// (SharpnessMeasure::sharpest); a photo that could not be measured has none,
// and its crop is taken from the middle.
std::shared_ptr<const PhotoEvidence> sharpness_evidence(const std::string& path,
                                                        const SharpnessResult& result,
                                                        const SlopeMap& map,
                                                        const KeptFrame* frame = nullptr);

// The CROP_SIZE square (or the whole side, for a smaller photo) centred on
// `region` as far as the frame allows; centred on the frame when `region` is
// empty.
PhotoRect crop_around(const PhotoRect& region, std::int32_t width, std::int32_t height);

// A bitmap as a baseline JPEG file (4:2:0, the given quality); empty on failure.
std::vector<std::uint8_t> encode_jpeg(const Bitmap32& bitmap, int quality);

}  // namespace lumvet
