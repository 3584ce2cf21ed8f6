// The solver self-test: SMO on a fixed, linearly separable toy problem of fifteen
// points in the plane, reported as accuracy, separating line and support vectors.
#pragma once

#include <cstdio>

#include "scoring/linear_model.h"
#include "scoring/random.h"

namespace lumvet {

inline constexpr int SELF_TEST_SAMPLE_COUNT = 15;
// So large that no multiplier reaches it: a hard-margin problem.
inline constexpr double SELF_TEST_C = 1e33;

// The self-test model before training: 15 samples of FEATURE_COUNT coordinates,
// (x, y) in coordinates 0 and 1 and 0.0 in the rest; labels +1 for samples 0-6
// and -1 for 7-14; multipliers and bias 0.0; no weights; a zero-filled kernel
// cache (absent only if it could not be allocated, which changes nothing but time).
SvmModel make_self_test_model();

// Prints the report of a trained model to `out`, exactly three lines:
//   "correct classification = %d%%\n"   correct * 100 / sample_count
//   "y=%g*x + (%g)\n"                   -(w_0 / w_1), -(bias / w_1)
//   "support vectors:" then " %d" for every sample with a multiplier above 0.0, "\n"
// A decision value of exactly 0.0 counts as the -1 class.
// REQUIRES: weights present, dims >= 2, sample_count >= 1.
void print_self_test_report(const SvmModel& model, std::FILE* out);

// Trains the self-test model with SELF_TEST_C from the current `rs` (the caller
// seeds it), derives the weights and prints the report.
void run_solver_self_test(RandomState& rs, std::FILE* out);

}  // namespace lumvet
