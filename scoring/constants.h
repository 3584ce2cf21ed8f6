// Constants shared by the scorers, the trainers and the command line.
#pragma once

#include <array>

namespace lumvet {

// Number of random patches measured per draw, and so the length of a feature vector.
inline constexpr int FEATURE_COUNT = 30;

// Every feature is multiplied by the double reciprocal of this value before a
// model sees it; contrasts lie in 0 ... 12750.
inline constexpr double FEATURE_SCALE = 12000.0;

// A photo is listed when its score is greater than this (11 or more).
inline constexpr int LIST_THRESHOLD = 10;

// Population standard deviations of the luminance 30 R + 59 G + 11 B inside each
// patch, in draw order.
using FeatureVector = std::array<double, FEATURE_COUNT>;

}  // namespace lumvet
