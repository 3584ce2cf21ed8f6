// The SMO solver that trains the linear support-vector model, and the two
// companions that turn its multipliers into weights and evaluate the result.
#pragma once

#include <cstdint>

#include "scoring/linear_model.h"
#include "scoring/random.h"

namespace lumvet {

// Tolerance of the optimality test, and the smallest change of the second
// multiplier that counts as progress.
inline constexpr double SMO_TOLERANCE = 0.0001;
// A multiplier above this takes part in the error sums; also the smallest gap
// between the bounds L and H, and the curvature must lie below its negative.
inline constexpr double SMO_ALPHA_EPSILON = 1.5e-8;
// Consecutive passes without a changed pair after which the solver returns.
inline constexpr int SMO_IDLE_PASS_LIMIT = 10;

// What one smo_solve call did; only for tests and benchmarks.
struct SmoStats {
  int passes = 0;               // passes over all samples
  int last_changing_pass = 0;   // 1-based number of the last pass that changed a pair; 0 if none
  std::int64_t violations = 0;  // samples found violating the optimality conditions
  std::int64_t first_pass_violations = 0;  // of those, in the first pass
  std::int64_t partner_draws = 0;  // generator steps taken for partners, rejected ones included
  std::int64_t abandoned_searches = 0;  // partner searches given up (see smo_solve)
  std::int64_t skipped_bounds = 0;      // pairs skipped because L + 1.5e-8 >= H
  std::int64_t skipped_curvature = 0;   // pairs skipped because eta >= -1.5e-8
  std::int64_t skipped_small_move = 0;  // pairs skipped because the move was below 0.0001
  std::int64_t changed_pairs = 0;
};

// The kernel value K(a, b) = sum_m x_a[m] * x_b[m], summed from 0.0 in ascending
// m. With a kernel cache, a non-zero cell (a, b) is returned as it stands; a
// computed value is stored in cell (a, b) and, when a != b, in cell (b, a).
double svm_kernel(SvmModel& model, int a, int b);

// Simplified sequential minimal optimisation of the soft-margin SVM dual
//
//   maximise   sum_k alpha_k - 1/2 sum_k sum_l y_k y_l alpha_k alpha_l K(k, l)
//   subject to 0 <= alpha_k <= C,  sum_k y_k alpha_k = 0
//
// with the linear kernel K. Each pass walks the samples in order; a sample i whose
// error E_i = f(x_i) - y_i breaks the optimality conditions by more than
// SMO_TOLERANCE is paired with a partner j drawn from `rs` (one step per attempt,
// attempts with j == i rejected), and the two multipliers are optimised jointly
// in closed form:
//
//   eta = 2 K_ij - K_ii - K_jj            (must be below -1.5e-8)
//   a_j = alpha_j - y_j (E_i - E_j) / eta, clipped to [L, H]
//   a_i = alpha_i - y_i y_j (a_j - alpha_j), raised to 0.0 when rounding leaves it negative
//
// and the bias is moved so that the error of a sample strictly inside the box
// becomes zero. The next sample of the same pass sees the new multipliers and
// bias. The solver returns after SMO_IDLE_PASS_LIMIT consecutive passes in which
// no pair changed. Its result is a deterministic function of the model, C and
// `rs` at entry; the kernel cache, when present, changes only the time taken.
//
// Where the plain algorithm would search for a partner for ever, the search is
// given up for that sample in that pass, as if the pair had been skipped:
//   - with fewer than two samples there is no partner: nothing is drawn;
//   - when a draw gives j == i and leaves `rs` at its fixed point 0, every later
//     draw would give the same j: the one rejected draw is all that is taken.
// Every run that ends without these rules ends identically with them.
//
// Changes model.alphas, model.bias, cells of model.kernel_cache and `rs`.
// REQUIRES: labels are +1 or -1; samples, labels and alphas hold sample_count
// rows; a present kernel_cache holds sample_count^2 cells, each 0.0 or the
// correct kernel value of its pair (a zero-filled matrix qualifies).
void smo_solve(SvmModel& model, double C, RandomState& rs, SmoStats* stats = nullptr);

// Sets model.weights to dims values, w_m = sum_k (x_k[m] * alpha_k) * y_k summed
// from 0.0 over every sample k in ascending order, replacing any earlier weights.
void svm_compute_weights(SvmModel& model);

// f(x_k) = bias + sum_m w_m * x_k[m], summed from the bias in ascending m.
// Sample k is classified correctly when (f > 0.0) == (y_k > 0).
// REQUIRES: weights present, 0 <= k < sample_count.
double svm_decision_value(const SvmModel& model, int k);

}  // namespace lumvet
