// The SMO solver against a plain transcription of its rules, its awkward cases,
// and the self-test that trains it on a known data set.
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
    double s = random_symmetric(g) * 0.3;
    for (int m = 0; m < dims; ++m) {
      const std::size_t at = static_cast<std::size_t>(k * dims + m);
      if (k > 0 && k % 7 == 0) {
        x[at] = x[at - static_cast<std::size_t>(dims)];
      } else if (k != 5) {
        x[at] = random_unit(g) * 1.0625;
      }
      s += x[at] * (m % 2 == 0 ? 1.0 : -0.5);
    }
    y[static_cast<std::size_t>(k)] = k == 0 || (k > 1 && s > 0.25 * dims) ? 1 : -1;
  }
  return make_model(n, dims, x, y, with_cache);
}

void expect_same_result(const SvmModel& a, const SvmModel& b) {
  ASSERT_EQ(a.alphas.size(), b.alphas.size());
  for (std::size_t k = 0; k < a.alphas.size(); ++k) {
    EXPECT_EQ(bits(a.alphas[k]), bits(b.alphas[k])) << "alpha " << k;
  }
  EXPECT_EQ(bits(a.bias), bits(b.bias));
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
// multipliers, bias, final state and path, to the bit. Every partner attempt
// takes one step; the solver stops ten idle passes after the last changing one.
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
        SmoStats st_plain, st_cached;
        reference_smo(reference, C, rs_reference);
        smo_solve(plain, C, rs_plain, &st_plain);
        smo_solve(cached, C, rs_cached, &st_cached);
        expect_same_result(reference, plain);
        expect_same_result(reference, cached);
        EXPECT_EQ(rs_reference.value, rs_plain.value);
        EXPECT_EQ(rs_plain.value, rs_cached.value);
        EXPECT_EQ(st_plain.partner_draws, st_cached.partner_draws);
        EXPECT_EQ(rs_plain.value,
                  random_jump(seed * 7919, static_cast<std::uint64_t>(st_plain.partner_draws)));
        EXPECT_EQ(st_plain.passes, st_plain.last_changing_pass + SMO_IDLE_PASS_LIMIT);
        EXPECT_GE(st_plain.last_changing_pass, n >= 17 ? 1 : 0);
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
  SmoStats st = solve(m, 0.0, rs);
  EXPECT_EQ(st.passes, 10);
  EXPECT_EQ(st.violations, 0);
  EXPECT_EQ(rs.value, 99);
  for (const double a : m.alphas) EXPECT_EQ(bits(a), bits(0.0));
  EXPECT_EQ(bits(m.bias), bits(0.0));
  SvmModel empty;
  EXPECT_EQ(solve(empty, 0.75, rs).passes, 10);
  EXPECT_EQ(rs.value, 99);

  // Identical vectors (eta = 0) and bounds closer than 1.5e-8: every pair is
  // skipped, both samples in every pass, but the partner is still drawn.
  SvmModel same = make_model(2, 2, {0.5, 0.25, 0.5, 0.25}, {1, -1}, true);
  rs.value = 1;
  st = solve(same, 0.75, rs);
  EXPECT_EQ(st.passes, 10);
  EXPECT_EQ(st.skipped_curvature, 20);
  EXPECT_EQ(st.changed_pairs, 0);
  EXPECT_EQ(rs.value, random_jump(1, static_cast<std::uint64_t>(st.partner_draws)));
  EXPECT_GE(st.partner_draws, 20);
  EXPECT_EQ(same.alphas, std::vector<double>({0.0, 0.0}));
  SvmModel narrow = make_model(2, 1, {1.0, 0.0}, {1, -1}, true);
  EXPECT_EQ(solve(narrow, 1e-8, rs).skipped_bounds, 20);

  // x = 1 and x = 0 of opposite labels: the first step proposes alpha_j = 2,
  // clipped to H = C, so the move is exactly C. A move of exactly 0.0001 is taken,
  // the next smaller double is not.
  SvmModel exact = make_model(2, 1, {1.0, 0.0}, {1, -1}, false);
  rs.value = 1;
  EXPECT_GE(solve(exact, SMO_TOLERANCE, rs).changed_pairs, 1);
  EXPECT_EQ(exact.alphas, std::vector<double>({SMO_TOLERANCE, SMO_TOLERANCE}));
  SvmModel below = make_model(2, 1, {1.0, 0.0}, {1, -1}, false);
  rs.value = 1;
  st = solve(below, std::nextafter(SMO_TOLERANCE, 0.0), rs);
  EXPECT_EQ(st.skipped_small_move, 20);
  EXPECT_EQ(below.alphas, std::vector<double>({0.0, 0.0}));
  EXPECT_EQ(bits(below.bias), bits(0.0));
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

// The draws that could never end give up the partner search for the sample in
// that pass; everything else goes on as before.
TEST(SmoSolve, EndlessPartnerSearchesEnd) {
  SvmModel one = make_model(1, 1, {1.0}, {1}, true);
  RandomState rs{1};
  SmoStats st = solve(one, 0.75, rs);
  EXPECT_EQ(st.passes, 10);
  EXPECT_EQ(st.abandoned_searches, 10);
  EXPECT_EQ(rs.value, 1);

  // The state stuck at 0 while sample 0 violates: samples 1 and 2 still pair with it.
  const std::vector<double> x = {1.0, 0.0, 0.0, 1.0, 2.0, 2.0};
  SvmModel from_zero = make_model(3, 2, x, {1, -1, 1}, true);
  rs.value = 0;
  st = solve(from_zero, 0.75, rs);
  EXPECT_EQ(rs.value, 0);
  EXPECT_GE(st.abandoned_searches, 1);
  EXPECT_GE(st.changed_pairs, 1);
  // Sample 0 violating in every pass: abandoned once per pass, while sample 1
  // draws 0 and meets eta = 0.
  SvmModel twins = make_model(2, 1, {1.0, 1.0}, {1, -1}, true);
  st = solve(twins, 0.75, rs);
  EXPECT_EQ(st.passes, 10);
  EXPECT_EQ(st.abandoned_searches, 10);
  EXPECT_EQ(st.skipped_curvature, 10);
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
}

// The maximum-margin line of the data set is y = -0.4 x + 9.3. A run may stop
// short of it; a trained line counts as near when it stays within 0.5 in y of
// the optimum for every x from 0 to 10, the range of the data. The report is
// three lines: full marks, the line of the trained weights, and the samples with
// a multiplier above 0.0, each index after one space.
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
      EXPECT_GT(m.labels[k] * svm_decision_value(m, k), 0.0) << k;
      EXPECT_GE(m.alphas[k], 0.0);
      sum += m.alphas[k] * m.labels[k];
      if (m.alphas[k] > 0.0) support.append(" ").append(std::to_string(k));
    }
    EXPECT_NEAR(sum, 0.0, 1e-12);  // each step keeps sum(alpha_k y_k) = 0
    const double slope = -(m.weights[0] / m.weights[1]);
    const double intercept = -(m.bias / m.weights[1]);
    EXPECT_NEAR(intercept, 9.3, 0.5);
    EXPECT_NEAR(slope * 10.0 + intercept, 5.3, 0.5);
    EXPECT_GT(m.alphas[3], 0.0);
    EXPECT_GT(m.alphas[6], 0.0);
    EXPECT_GT(m.alphas[14], 0.0);
    for (int w = 2; w < 30; ++w) EXPECT_EQ(std::bit_cast<std::uint64_t>(m.weights[w]), 0u);

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
