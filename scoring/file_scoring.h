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

// The score of an image from its two draw scores: (s1 + s2) / 2 with the quotient
// truncated toward zero (99 and 100 give 99; -3 and 0 give -1).
inline std::int32_t average_draw_scores(std::int32_t s1, std::int32_t s2) {
  return static_cast<std::int32_t>((std::int64_t{s1} + s2) / 2);
}

// Decodes the file once (load_bitmap32), refuses an image whose patches cannot fit
// (image_is_measurable) exactly like one that cannot be decoded, scores it with
// two draws on the same bitmap (120 generator steps) and returns
// average_draw_scores. A file that cannot be decoded or measured scores 0, has
// `decoded` false and draws nothing.
FileScore score_image_file_checked(const SvmModel& model, const std::string& path, double scale,
                                   RandomState& rs);
std::int32_t score_image_file(const SvmModel& model, const std::string& path, double scale,
                              RandomState& rs);

// One FeatureVector of a file (60 draws). Returns false, with `features` untouched
// and nothing drawn, when the file cannot be decoded or measured.
bool extract_file_features(const std::string& path, FeatureVector& features, RandomState& rs);

}  // namespace lumvet
