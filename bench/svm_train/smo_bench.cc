// Times smo_solve on a training-sized problem (2130 samples of 30 features), with
// and without the kernel cache, and checks that both give the same model.
// Usage: smo_bench [SEED]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "scoring/constants.h"
#include "svm_train/smo.h"

namespace {

using lumvet::RandomState;
using lumvet::SmoStats;
using lumvet::SvmModel;

constexpr int SAMPLES = 2130;
constexpr int DIMS = lumvet::FEATURE_COUNT;
constexpr double C = 0.75;

// Scaled contrasts like the trainer's: sharp photographs (-1) spread over higher
// contrasts than blurred ones (+1), with a wide overlap.
SvmModel make_problem(std::int32_t seed, bool with_cache) {
  RandomState g{seed};
  SvmModel m;
  m.sample_count = SAMPLES;
  m.dims = DIMS;
  m.samples.resize(static_cast<std::size_t>(SAMPLES) * DIMS);
  m.labels.resize(SAMPLES);
  for (int k = 0; k < SAMPLES; ++k) {
    const bool blurred = k >= SAMPLES / 2;
    const double base =
        blurred ? 0.05 + 0.45 * lumvet::random_unit(g) : 0.3 + 0.7 * lumvet::random_unit(g);
    for (int d = 0; d < DIMS; ++d) {
      m.samples[static_cast<std::size_t>(k) * DIMS + d] = base * 1.0625 * lumvet::random_unit(g);
    }
    m.labels[k] = blurred ? 1 : -1;
  }
  m.alphas.assign(SAMPLES, 0.0);
  if (with_cache) {
    m.kernel_cache = std::make_unique<double[]>(static_cast<std::size_t>(SAMPLES) * SAMPLES);
  }
  return m;
}

double run(SvmModel& m, std::int32_t seed, SmoStats& st, RandomState& rs) {
  rs.value = seed;
  const auto start = std::chrono::steady_clock::now();
  lumvet::smo_solve(m, C, rs, &st);
  const auto stop = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::milli>(stop - start).count();
}

void report(const char* name, double ms, const SvmModel& m, const SmoStats& st) {
  int support = 0;
  for (const double a : m.alphas) support += a > lumvet::SMO_ALPHA_EPSILON;
  std::printf("%-14s %10.1f ms  passes %d  changed pairs %lld  draws %lld  support vectors %d\n",
              name, ms, st.passes, static_cast<long long>(st.changed_pairs),
              static_cast<long long>(st.partner_draws), support);
}

}  // namespace

int main(int argc, char** argv) {
  const std::int32_t seed = argc > 1 ? static_cast<std::int32_t>(std::atol(argv[1])) : 1;
  std::printf("smo_solve: %d samples x %d features, C = %g, seed %d\n", SAMPLES, DIMS, C, seed);

  SvmModel cached = make_problem(seed, true);
  SmoStats st_cached;
  RandomState rs_cached;
  const double ms_cached = run(cached, seed, st_cached, rs_cached);
  report("kernel cache", ms_cached, cached, st_cached);

  SvmModel plain = make_problem(seed, false);
  SmoStats st_plain;
  RandomState rs_plain;
  const double ms_plain = run(plain, seed, st_plain, rs_plain);
  report("no cache", ms_plain, plain, st_plain);

  const bool same =
      rs_plain.value == rs_cached.value &&
      std::memcmp(&plain.bias, &cached.bias, sizeof(double)) == 0 &&
      std::memcmp(plain.alphas.data(), cached.alphas.data(), sizeof(double) * SAMPLES) == 0;
  std::printf("identical results: %s\n", same ? "yes" : "NO");
  return same ? 0 : 1;
}
