// The SMO solver with and without its kernel cache, its awkward cases, and the
// self-test that trains it on a known data set.
#include "svm_train/smo.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <string>
#include <vector>

#include "svm_train/self_test.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// The multipliers, then the bias, as bit patterns.
std::vector<std::uint64_t> result_bits(const SvmModel& m) {
  std::vector<std::uint64_t> r;
  for (const double a : m.alphas) r.push_back(bits(a));
  r.push_back(bits(m.bias));
  return r;
}

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
  const auto d = static_cast<std::size_t>(dims);
  std::vector<double> x(static_cast<std::size_t>(n) * d);
  std::vector<std::int8_t> y(static_cast<std::size_t>(n));
  for (std::size_t k = 0; k < y.size(); ++k) {
    double s = random_symmetric(g) * 0.3;
    for (std::size_t m = 0, at = k * d; m < d; ++m, ++at) {
      x[at] = k > 0 && k % 7 == 0 ? x[at - d] : k == 5 ? 0.0 : random_unit(g) * 1.0625;
      s += x[at] * (m % 2 == 0 ? 1.0 : -0.5);
    }
    y[k] = k == 0 || (k > 1 && s > 0.25 * dims) ? 1 : -1;
  }
  return make_model(n, dims, x, y, with_cache);
}

// The solver written out as its rules read, with no cache, no support set and no
// shortcuts: the optimised solver must match it to the bit.
void reference_smo(SvmModel& m, double C, RandomState& rs) {
  const int n = m.sample_count, d = m.dims;
  const auto K = [&](int a, int b) {
    double s = 0.0;
    for (int k = 0; k < d; ++k) s = s + m.samples[a * d + k] * m.samples[b * d + k];
    return s;
  };
  const auto E = [&](int t) {
    double e = m.bias - m.labels[t];
    for (int k = 0; k < n; ++k) {
      if (!(m.alphas[k] > 1.5e-8)) continue;
      e = m.labels[k] == 1 ? e + m.alphas[k] * K(k, t) : e - m.alphas[k] * K(k, t);
    }
    return e;
  };
  for (int idle = 0; idle < 10;) {
    int changed = 0;
    for (int i = 0; i < n; ++i) {
      const double ei = E(i), yi = m.labels[i], r = yi * ei;
      if (!((r < -0.0001 && m.alphas[i] < C) || (r > 0.0001 && m.alphas[i] > 0))) continue;
      int j;
      do {
        j = random_next(rs) % n;
      } while (j == i);
      const double ej = E(j), yj = m.labels[j], ai = m.alphas[i], aj = m.alphas[j];
      double L, H;
      if (yi != yj) {
        L = aj - ai > 0 ? aj - ai : 0.0;
        H = aj - ai < 0 ? C + (aj - ai) : C;
      } else {
        L = ai + aj > C ? (ai + aj) - C : 0.0;
        H = ai + aj < C ? ai + aj : C;
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
      const double di = yi * (ni - ai), dj = yj * (nj - aj);
      const double b1 = ((m.bias - ei) - di * kii) - dj * kij;
      const double b2 = ((m.bias - ej) - di * kij) - dj * kjj;
      m.bias = 0 < ni && ni < C ? b1 : 0 < nj && nj < C ? b2 : (b2 + b1) * 0.5;
      m.alphas[i] = ni;
      m.alphas[j] = nj;
      ++changed;
    }
    idle = changed > 0 ? 0 : idle + 1;
  }
}

// The plain rules, and the solver without the cache and with it: the same
// multipliers, bias and final state, to the bit. The solver stops ten idle
// passes after the last changing one.
TEST(SmoSolve, MatchesThePlainRulesWithAndWithoutCache) {
  for (std::int32_t seed = 1; seed <= 12; ++seed) {
    for (const int n : {2, 3, 17, 60}) {
      for (const double C : {0.75, 4.0}) {
        SCOPED_TRACE(::testing::Message() << "seed " << seed << " n " << n << " C " << C);
        const int dims = 2 + seed % 4;
        SvmModel reference = random_problem(seed, n, dims, false);
        SvmModel plain = random_problem(seed, n, dims, false);
        SvmModel cached = random_problem(seed, n, dims, true);
        RandomState rs_reference{seed * 7919}, rs_plain{seed * 7919}, rs_cached{seed * 7919};
        SmoStats st;
        reference_smo(reference, C, rs_reference);
        smo_solve(plain, C, rs_plain, &st);
        smo_solve(cached, C, rs_cached);
        EXPECT_EQ(result_bits(reference), result_bits(plain));
        EXPECT_EQ(result_bits(plain), result_bits(cached));
        EXPECT_EQ(rs_reference.value, rs_plain.value);
        EXPECT_EQ(rs_plain.value, rs_cached.value);
        EXPECT_EQ(st.passes, st.last_changing_pass + SMO_IDLE_PASS_LIMIT);
        EXPECT_GE(st.last_changing_pass, n >= 17 ? 1 : 0);
      }
    }
  }
}

SmoStats solve(SvmModel& m, double C, RandomState& rs) {
  SmoStats st;
  smo_solve(m, C, rs, &st);
  return st;
}

TEST(SmoSolve, PassesThatCannotChangeAnything) {
  // C = 0, and no samples at all: ten passes, no draw.
  SvmModel m = random_problem(3, 12, 4, true);
  RandomState rs{99};
  EXPECT_EQ(solve(m, 0.0, rs).passes, 10);
  EXPECT_EQ(result_bits(m), std::vector<std::uint64_t>(13, 0));
  SvmModel empty;
  EXPECT_EQ(solve(empty, 0.75, rs).passes, 10);
  EXPECT_EQ(rs.value, 99);

  // Identical vectors (eta = 0): the pair is skipped, for both samples in every pass.
  SvmModel same = make_model(2, 2, {0.5, 0.25, 0.5, 0.25}, {1, -1}, true);
  EXPECT_EQ(solve(same, 0.75, rs).skipped_curvature, 20);
  EXPECT_EQ(same.alphas, std::vector<double>({0.0, 0.0}));

  // x = 1 and x = 0 of opposite labels: the first step proposes alpha_j = 2,
  // clipped to H = C, so the move is exactly C. A move of exactly 0.0001 is taken,
  // the next smaller double is not.
  for (const double C : {SMO_TOLERANCE, std::nextafter(SMO_TOLERANCE, 0.0)}) {
    SvmModel two = make_model(2, 1, {1.0, 0.0}, {1, -1}, false);
    solve(two, C, rs);
    const double taken = C == SMO_TOLERANCE ? C : 0.0;
    EXPECT_EQ(two.alphas, std::vector<double>({taken, taken})) << C;
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
  EXPECT_EQ(solve(m, 1e33, rs).changed_pairs, 1);
  EXPECT_EQ(bits(m.alphas[0]), bits(0.0));
  EXPECT_EQ(m.alphas[1], 0.1 + 0.2);
}

// A partner search that could never end is given up for that sample in that
// pass; everything else goes on as before.
TEST(SmoSolve, EndlessPartnerSearchesEnd) {
  SvmModel one = make_model(1, 1, {1.0}, {1}, true);
  RandomState rs{1};
  EXPECT_EQ(solve(one, 0.75, rs).abandoned_searches, 10);
  EXPECT_EQ(rs.value, 1);
  // The state stuck at 0 while sample 0 violates: samples 1 and 2 still pair with it.
  SvmModel from_zero = make_model(3, 2, {1.0, 0.0, 0.0, 1.0, 2.0, 2.0}, {1, -1, 1}, true);
  rs.value = 0;
  const SmoStats st = solve(from_zero, 0.75, rs);
  EXPECT_EQ(rs.value, 0);
  EXPECT_GE(st.abandoned_searches, 1);
  EXPECT_GE(st.changed_pairs, 1);
}

// Sample 2's multiplier is below the error-sum threshold but still counts.
TEST(SmoWeights, SumOverEverySample) {
  SvmModel m = make_model(3, 2, {1.0, 2.0, 3.0, -1.0, 1e6, 0.0}, {1, -1, 1}, false);
  m.alphas = {0.5, 0.25, 1e-9};
  m.bias = 0.125;
  m.weights = {7.0, 7.0, 7.0};  // replaced
  svm_compute_weights(m);
  EXPECT_EQ(m.weights, std::vector<double>({(0.5 - 0.75) + 1e6 * 1e-9, 1.25}));
  EXPECT_EQ(svm_decision_value(m, 0), (0.125 + m.weights[0]) + 2.5);
}

// The maximum-margin line of the data set is y = -0.4 x + 9.3. A run may stop
// short of it, but stays within 0.5 in y of it for every x from 0 to 10, the
// range of the data. The report: full marks, the trained line, and the samples
// with a multiplier above 0.0.
TEST(SelfTest, SeedsOneToFive) {
  for (std::int32_t seed = 1; seed <= 5; ++seed) {
    SCOPED_TRACE(::testing::Message() << "seed " << seed);
    SvmModel m = make_self_test_model();
    RandomState rs{seed};
    smo_solve(m, SELF_TEST_C, rs);
    svm_compute_weights(m);
    double sum = 0.0;
    std::string support;
    for (int k = 0; k < 15; ++k) {
      sum += m.alphas[k] * m.labels[k];
      if (m.alphas[k] > 0.0) support.append(" ").append(std::to_string(k));
    }
    EXPECT_NEAR(sum, 0.0, 1e-12);  // each step keeps sum(alpha_k y_k) = 0
    const double slope = -(m.weights[0] / m.weights[1]), intercept = -(m.bias / m.weights[1]);
    EXPECT_NEAR(intercept, 9.3, 0.5);
    EXPECT_NEAR(slope * 10.0 + intercept, 5.3, 0.5);
    for (const int k : {3, 6, 14}) EXPECT_GT(m.alphas[k], 0.0) << k;
    for (int w = 2; w < 30; ++w) EXPECT_EQ(bits(m.weights[w]), 0u) << w;

    char line[64];
    std::snprintf(line, sizeof line, "y=%g*x + (%g)\n", slope, intercept);
    rs.value = seed;
    EXPECT_EQ(testing::capture_output([&](std::FILE* f) { run_solver_self_test(rs, f); }),
              "correct classification = 100%\n" + std::string(line) + "support vectors:" + support +
                  "\n");
  }
}

}  // namespace
}  // namespace lumvet
