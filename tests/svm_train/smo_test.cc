#include "svm_train/smo.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace lumvet {
namespace {

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// A model of n samples of `dims` coordinates, with multipliers and bias 0.0.
SvmModel make_model(int n, int dims, const std::vector<double>& samples,
                    const std::vector<std::int8_t>& labels, bool with_cache) {
  SvmModel m;
  m.sample_count = n;
  m.dims = dims;
  m.samples = samples;
  m.labels = labels;
  m.alphas.assign(static_cast<std::size_t>(n), 0.0);
  if (with_cache) m.kernel_cache = std::make_unique<double[]>(static_cast<std::size_t>(n) * n);
  return m;
}

// Random, overlapping classes from generator `seed`, with the awkward cases mixed
// in: an all-zero sample (its kernel values are 0.0, never cached) and repeated
// vectors (eta = 0), some with the opposite label.
SvmModel random_problem(std::int32_t seed, int n, int dims, bool with_cache) {
  RandomState g{seed};
  std::vector<double> x(static_cast<std::size_t>(n) * dims);
  std::vector<std::int8_t> y(static_cast<std::size_t>(n));
  for (int k = 0; k < n; ++k) {
    double* row = x.data() + static_cast<std::size_t>(k) * dims;
    if (k > 0 && k % 7 == 0) {
      std::memcpy(row, row - dims, sizeof(double) * static_cast<std::size_t>(dims));
    } else if (k == 5) {
      for (int m = 0; m < dims; ++m) row[m] = 0.0;
    } else {
      for (int m = 0; m < dims; ++m) row[m] = random_unit(g) * 1.0625;
    }
    double s = random_symmetric(g) * 0.3;
    for (int m = 0; m < dims; ++m) s += row[m] * (m % 2 == 0 ? 1.0 : -0.5);
    y[static_cast<std::size_t>(k)] = s > 0.25 * dims ? 1 : -1;
  }
  y[0] = 1;
  y[1] = -1;
  return make_model(n, dims, x, y, with_cache);
}

void expect_same_result(const SvmModel& a, const SvmModel& b) {
  ASSERT_EQ(a.alphas.size(), b.alphas.size());
  for (std::size_t k = 0; k < a.alphas.size(); ++k) {
    EXPECT_EQ(bits(a.alphas[k]), bits(b.alphas[k])) << "alpha " << k;
  }
  EXPECT_EQ(bits(a.bias), bits(b.bias));
}

// The solver written out step by step as its rules read, with no cache, no
// support set and no shortcuts: the optimised solver must match it to the bit.
void reference_smo(SvmModel& m, double C, RandomState& rs) {
  const int n = m.sample_count;
  const int d = m.dims;
  const auto K = [&](int a, int b) {
    double s = 0.0;
    for (int k = 0; k < d; ++k) s = s + m.samples[a * d + k] * m.samples[b * d + k];
    return s;
  };
  const auto E = [&](int t) {
    double e = m.bias - m.labels[t];
    for (int k = 0; k < n; ++k) {
      if (!(m.alphas[k] > 1.5e-8)) continue;
      if (m.labels[k] == 1) {
        e = e + m.alphas[k] * K(k, t);
      } else {
        e = e - m.alphas[k] * K(k, t);
      }
    }
    return e;
  };
  int idle = 0;
  while (idle < 10) {
    int changed = 0;
    for (int i = 0; i < n; ++i) {
      const double ei = E(i);
      const double yi = m.labels[i];
      const double r = yi * ei;
      if (!((r < -0.0001 && m.alphas[i] < C) || (r > 0.0001 && m.alphas[i] > 0))) continue;
      int j;
      do {
        j = random_next(rs) % n;
      } while (j == i);
      const double ej = E(j);
      const double yj = m.labels[j];
      const double ai = m.alphas[i], aj = m.alphas[j];
      double L, H;
      if (yi != yj) {
        const double D = aj - ai;
        L = D > 0 ? D : 0.0;
        H = D < 0 ? C + D : C;
      } else {
        const double S = ai + aj;
        L = S > C ? S - C : 0.0;
        H = S < C ? S : C;
      }
      if (L + 1.5e-8 >= H) continue;
      const double kij = K(i, j), kii = K(i, i), kjj = K(j, j);
      const double eta = ((kij + kij) - kii) - kjj;
      if (!(eta < -1.5e-8)) continue;
      double nj = aj - (yj * (ei - ej)) / eta;
      if (nj < L) {
        nj = L;
      } else if (nj > H) {
        nj = H;
      }
      if (std::fabs(nj - aj) < 0.0001) continue;
      double ni = ai - yi * (yj * (nj - aj));
      if (ni < 0.0) ni = 0.0;
      m.alphas[i] = ni;
      const double di = yi * (ni - ai), dj = yj * (nj - aj);
      const double b1 = ((m.bias - ei) - di * kii) - dj * kij;
      const double b2 = ((m.bias - ej) - di * kij) - dj * kjj;
      if (0 < ni && ni < C) {
        m.bias = b1;
      } else if (0 < nj && nj < C) {
        m.bias = b2;
      } else {
        m.bias = (b2 + b1) * 0.5;
      }
      m.alphas[j] = nj;
      ++changed;
    }
    idle = changed > 0 ? 0 : idle + 1;
  }
}

TEST(SmoKernel, CacheCellsWrittenInPairs) {
  SvmModel m = make_model(3, 2, {1.0, 2.0, 3.0, 4.0, -2.0, 1.0}, {1, -1, 1}, true);
  EXPECT_EQ(svm_kernel(m, 0, 1), 11.0);
  EXPECT_EQ(m.kernel_cache[0 * 3 + 1], 11.0);
  EXPECT_EQ(m.kernel_cache[1 * 3 + 0], 11.0);
  EXPECT_EQ(svm_kernel(m, 2, 2), 5.0);
  EXPECT_EQ(m.kernel_cache[2 * 3 + 2], 5.0);
  // A true 0.0 stays unmarked and is computed again at every use.
  EXPECT_EQ(svm_kernel(m, 0, 2), 0.0);
  EXPECT_EQ(m.kernel_cache[0 * 3 + 2], 0.0);
  // A filled cell is returned as it stands.
  m.kernel_cache[1 * 3 + 2] = 42.0;
  EXPECT_EQ(svm_kernel(m, 1, 2), 42.0);
  int filled = 0;
  for (int c = 0; c < 9; ++c) filled += m.kernel_cache[c] != 0.0;
  EXPECT_EQ(filled, 4);
}

// The plain rules, the solver without the cache and with it, also with a cache
// already filled by an earlier run (whole, or only its lower triangle): the same
// model and state give the same multipliers, bias, final state and path, to the bit.
TEST(SmoSolve, KernelCacheChangesNothing) {
  for (std::int32_t seed = 1; seed <= 40; ++seed) {
    for (const int n : {2, 3, 17, 60}) {
      for (const double C : {0.75, 4.0}) {
        SCOPED_TRACE(::testing::Message() << "seed " << seed << " n " << n << " C " << C);
        const int dims = 2 + seed % 4;
        SvmModel plain = random_problem(seed, n, dims, false);
        SvmModel cached = random_problem(seed, n, dims, true);
        SvmModel reference = random_problem(seed, n, dims, false);
        RandomState rs_reference{seed * 7919};
        reference_smo(reference, C, rs_reference);
        RandomState rs_plain{seed * 7919};
        RandomState rs_cached{seed * 7919};
        SmoStats st_plain, st_cached;
        smo_solve(plain, C, rs_plain, &st_plain);
        smo_solve(cached, C, rs_cached, &st_cached);
        expect_same_result(reference, plain);
        expect_same_result(reference, cached);
        EXPECT_EQ(rs_reference.value, rs_plain.value);
        EXPECT_EQ(rs_plain.value, rs_cached.value);
        EXPECT_EQ(st_plain.passes, st_cached.passes);
        EXPECT_EQ(st_plain.partner_draws, st_cached.partner_draws);
        EXPECT_EQ(st_plain.changed_pairs, st_cached.changed_pairs);
        // Every partner attempt took exactly one generator step.
        EXPECT_EQ(rs_plain.value, random_jump(seed * 7919, static_cast<std::uint64_t>(
                                                               st_plain.partner_draws)));

        const std::size_t cells = static_cast<std::size_t>(n) * n;
        for (std::size_t c = 0; c < cells; ++c) {
          const std::size_t a = c / n, b = c % n;
          if (cached.kernel_cache[c] != 0.0) {
            EXPECT_EQ(bits(cached.kernel_cache[c]), bits(cached.kernel_cache[b * n + a]));
          }
        }
        SvmModel refilled = random_problem(seed, n, dims, false);
        refilled.kernel_cache = std::move(cached.kernel_cache);
        SvmModel half = random_problem(seed, n, dims, true);
        for (std::size_t c = 0; c < cells; ++c) {
          if (c / n >= c % n) half.kernel_cache[c] = refilled.kernel_cache[c];
        }
        RandomState rs_refilled{seed * 7919};
        RandomState rs_half{seed * 7919};
        smo_solve(refilled, C, rs_refilled);
        smo_solve(half, C, rs_half);
        expect_same_result(plain, refilled);
        expect_same_result(plain, half);
        EXPECT_EQ(rs_plain.value, rs_refilled.value);
        EXPECT_EQ(rs_plain.value, rs_half.value);
      }
    }
  }
}

TEST(SmoSolve, StopsTenPassesAfterTheLastChange) {
  for (std::int32_t seed = 1; seed <= 20; ++seed) {
    SvmModel m = random_problem(seed, 30, 3, true);
    RandomState rs{seed};
    SmoStats st;
    smo_solve(m, 0.75, rs, &st);
    // From all-zero multipliers every sample has r = -1 at first; the first one
    // certainly violates, and the first pass changes a pair.
    EXPECT_GE(st.first_pass_violations, 1);
    EXPECT_GE(st.last_changing_pass, 1);
    EXPECT_GE(st.passes, 11);
    EXPECT_EQ(st.passes, st.last_changing_pass + SMO_IDLE_PASS_LIMIT);
  }
}

TEST(SmoSolve, ZeroBoxConstantChangesNothing) {
  SvmModel m = random_problem(3, 12, 4, true);
  RandomState rs{99};
  SmoStats st;
  smo_solve(m, 0.0, rs, &st);
  EXPECT_EQ(st.passes, 10);
  EXPECT_EQ(st.violations, 0);
  EXPECT_EQ(st.partner_draws, 0);
  EXPECT_EQ(rs.value, 99);
  for (const double a : m.alphas) EXPECT_EQ(bits(a), bits(0.0));
  EXPECT_EQ(bits(m.bias), bits(0.0));
}

TEST(SmoSolve, EmptyModelMakesTenEmptyPasses) {
  SvmModel m;
  RandomState rs{5};
  SmoStats st;
  smo_solve(m, 0.75, rs, &st);
  EXPECT_EQ(st.passes, 10);
  EXPECT_EQ(rs.value, 5);
}

TEST(SmoSolve, SkippedPairsStillDrawTheirPartner) {
  {
    SCOPED_TRACE("identical vectors: eta = 0");
    SvmModel m = make_model(2, 2, {0.5, 0.25, 0.5, 0.25}, {1, -1}, true);
    RandomState rs{1};
    SmoStats st;
    smo_solve(m, 0.75, rs, &st);
    EXPECT_EQ(st.passes, 10);
    EXPECT_EQ(st.changed_pairs, 0);
    EXPECT_EQ(st.skipped_curvature, 20);  // both samples, every pass
    EXPECT_EQ(rs.value, random_jump(1, static_cast<std::uint64_t>(st.partner_draws)));
    EXPECT_GE(st.partner_draws, 20);
    EXPECT_EQ(m.alphas, std::vector<double>({0.0, 0.0}));
    EXPECT_EQ(m.bias, 0.0);
  }
  {
    SCOPED_TRACE("bounds closer than 1.5e-8");
    SvmModel m = make_model(2, 1, {1.0, 0.0}, {1, -1}, true);
    RandomState rs{1};
    SmoStats st;
    smo_solve(m, 1e-8, rs, &st);
    EXPECT_EQ(st.skipped_bounds, 20);
    EXPECT_EQ(st.skipped_curvature, 0);
    EXPECT_EQ(st.changed_pairs, 0);
    EXPECT_NE(rs.value, 1);
  }
}

// Two samples x = 1 and x = 0 of opposite labels: the first step proposes
// alpha_j = 2, clipped to H = C, so the move is exactly C.
TEST(SmoSolve, SmallestAcceptedMoveIsTheTolerance) {
  const double exact = SMO_TOLERANCE;
  const double below = std::nextafter(SMO_TOLERANCE, 0.0);
  {
    SvmModel m = make_model(2, 1, {1.0, 0.0}, {1, -1}, false);
    RandomState rs{1};
    SmoStats st;
    smo_solve(m, exact, rs, &st);
    EXPECT_GE(st.changed_pairs, 1);
    EXPECT_EQ(m.alphas, std::vector<double>({exact, exact}));
  }
  {
    SvmModel m = make_model(2, 1, {1.0, 0.0}, {1, -1}, false);
    RandomState rs{1};
    SmoStats st;
    smo_solve(m, below, rs, &st);
    EXPECT_EQ(st.changed_pairs, 0);
    EXPECT_EQ(st.skipped_small_move, 20);
    EXPECT_EQ(m.alphas, std::vector<double>({0.0, 0.0}));
    EXPECT_EQ(bits(m.bias), bits(0.0));
  }
}

// Two +1 samples, x = 2 and x = 1, starting from alphas 0.1 and 0.2: the step
// moves everything to sample 1 (a_j clipped to H = 0.1 + 0.2), and
// 0.1 - ((0.1 + 0.2) - 0.2) is slightly negative in doubles.
TEST(SmoSolve, RoundingBelowZeroStoresZero) {
  ASSERT_LT(0.1 - ((0.1 + 0.2) - 0.2), 0.0);
  SvmModel m = make_model(2, 1, {2.0, 1.0}, {1, 1}, true);
  m.alphas = {0.1, 0.2};
  RandomState rs{1};
  SmoStats st;
  smo_solve(m, 1e33, rs, &st);
  EXPECT_EQ(st.changed_pairs, 1);
  EXPECT_EQ(bits(m.alphas[0]), bits(0.0));
  EXPECT_EQ(m.alphas[1], 0.1 + 0.2);
}

// The draws that could never end give up the partner search for the sample in
// that pass; everything else goes on as before.
TEST(SmoSolve, EndlessPartnerSearchesEnd) {
  {
    SCOPED_TRACE("one sample");
    SvmModel m = make_model(1, 1, {1.0}, {1}, true);
    RandomState rs{1};
    SmoStats st;
    smo_solve(m, 0.75, rs, &st);
    EXPECT_EQ(st.passes, 10);
    EXPECT_EQ(st.violations, 10);
    EXPECT_EQ(st.abandoned_searches, 10);
    EXPECT_EQ(st.partner_draws, 0);
    EXPECT_EQ(rs.value, 1);
    EXPECT_EQ(m.alphas[0], 0.0);
  }
  {
    SCOPED_TRACE("state stuck at 0 while sample 0 violates");
    const std::vector<double> x = {1.0, 0.0, 0.0, 1.0, 2.0, 2.0};
    SvmModel from_zero = make_model(3, 2, x, {1, -1, 1}, true);
    RandomState rs{0};
    SmoStats st;
    smo_solve(from_zero, 0.75, rs, &st);
    EXPECT_EQ(rs.value, 0);
    EXPECT_GE(st.abandoned_searches, 1);
    EXPECT_GE(st.changed_pairs, 1);  // samples 1 and 2 still pair with sample 0
    // The seeds that step to 0 at once end the same way.
    for (const std::int32_t seed : {2147483647, -2147483647}) {
      SvmModel m = make_model(3, 2, x, {1, -1, 1}, false);
      RandomState rs2{seed};
      smo_solve(m, 0.75, rs2);
      expect_same_result(from_zero, m);
    }
  }
  {
    SCOPED_TRACE("state stuck at 0, sample 0 violating in every pass");
    SvmModel m = make_model(2, 1, {1.0, 1.0}, {1, -1}, true);
    RandomState rs{0};
    SmoStats st;
    smo_solve(m, 0.75, rs, &st);
    EXPECT_EQ(st.passes, 10);
    EXPECT_EQ(st.abandoned_searches, 10);  // sample 0, once per pass
    EXPECT_EQ(st.skipped_curvature, 10);   // sample 1 draws 0 and meets eta = 0
    EXPECT_EQ(st.partner_draws, 20);
  }
}

TEST(SmoWeights, SumOverEverySample) {
  // Sample 2's multiplier is below the error-sum threshold but still counts.
  SvmModel m = make_model(3, 2, {1.0, 2.0, 3.0, -1.0, 1e6, 0.0}, {1, -1, 1}, false);
  m.alphas = {0.5, 0.25, 1e-9};
  m.bias = 0.125;
  m.weights = {7.0, 7.0, 7.0};  // replaced
  svm_compute_weights(m);
  ASSERT_EQ(m.weights.size(), 2u);
  EXPECT_EQ(m.weights[0], (0.5 - 0.75) + 1e6 * 1e-9);
  EXPECT_EQ(m.weights[1], 1.25);
  EXPECT_EQ(svm_decision_value(m, 0), (0.125 + m.weights[0]) + 2.5);
  EXPECT_EQ(svm_decision_value(m, 1), (0.125 + 3.0 * m.weights[0]) - 1.25);
}

}  // namespace
}  // namespace lumvet
