// Scoring and measuring image files: decode once, then draw patches.
#pragma once

#include <cstdint>
#include <string>

#include "scoring/constants.h"
#include "scoring/linear_model.h"
#include "scoring/random.h"

namespace lumvet {

struct FileScore {
  std::int32_t score = 0;  // (draw 1 + draw 2) / 2, truncated; 0 when not decoded
  bool decoded = false;
};

// Decodes the file once, scores it with two draws on the same bitmap and returns
// the average truncated toward zero. A file that cannot be decoded (or measured)
// scores 0 and draws nothing.
FileScore score_image_file_checked(const SvmModel& model, const std::string& path, double scale,
                                   RandomState& rs);
std::int32_t score_image_file(const SvmModel& model, const std::string& path, double scale,
                              RandomState& rs);

// One FeatureVector of a file (60 draws). Returns false, with `features` untouched
// and nothing drawn, when the file cannot be decoded.
bool extract_file_features(const std::string& path, FeatureVector& features, RandomState& rs);

}  // namespace lumvet
