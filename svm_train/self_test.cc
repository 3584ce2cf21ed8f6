#include "svm_train/self_test.h"

#include <cstddef>
#include <memory>
#include <new>

#include "scoring/constants.h"
#include "svm_train/smo.h"

namespace lumvet {
namespace {

struct ToyPoint {
  double x;
  double y;
  std::int8_t label;
};

// Separable; the maximum-margin line is y = -0.4 x + 9.3, with samples 3 and 6 on
// the +1 margin and sample 14 on the -1 margin.
constexpr ToyPoint SELF_TEST_POINTS[SELF_TEST_SAMPLE_COUNT] = {
    {10.0, 10.0, +1}, {4.0, 10.0, +1}, {7.0, 10.0, +1}, {4.0, 8.0, +1}, {8.0, 7.0, +1},
    {9.0, 7.0, +1},   {9.0, 6.0, +1},  {1.0, 3.0, -1},  {8.0, 3.0, -1}, {4.0, 4.0, -1},
    {2.0, 5.0, -1},   {7.0, 5.0, -1},  {4.0, 6.0, -1},  {2.0, 7.0, -1}, {5.0, 7.0, -1},
};

}  // namespace

SvmModel make_self_test_model() {
  constexpr std::size_t n = SELF_TEST_SAMPLE_COUNT;
  constexpr std::size_t dims = FEATURE_COUNT;
  SvmModel model;
  model.sample_count = SELF_TEST_SAMPLE_COUNT;
  model.dims = FEATURE_COUNT;
  model.samples.assign(n * dims, 0.0);
  model.labels.resize(n);
  for (std::size_t k = 0; k < n; ++k) {
    model.samples[k * dims + 0] = SELF_TEST_POINTS[k].x;
    model.samples[k * dims + 1] = SELF_TEST_POINTS[k].y;
    model.labels[k] = SELF_TEST_POINTS[k].label;
  }
  model.alphas.assign(n, 0.0);
  model.bias = 0.0;
  // The cache only saves time, so training goes on without it if it cannot be had.
  model.kernel_cache.reset(new (std::nothrow) double[n * n]());
  return model;
}

void print_self_test_report(const SvmModel& model, std::FILE* out) {
  int correct = 0;
  for (int k = 0; k < model.sample_count; ++k) {
    if ((svm_decision_value(model, k) > 0.0) == (model.labels[k] > 0)) ++correct;
  }
  std::fprintf(out, "correct classification = %d%%\n", correct * 100 / model.sample_count);
  // The line w_0 x + w_1 y + b = 0 solved for y.
  std::fprintf(out, "y=%g*x + (%g)\n", -(model.weights[0] / model.weights[1]),
               -(model.bias / model.weights[1]));
  std::fprintf(out, "support vectors:");
  for (int k = 0; k < model.sample_count; ++k) {
    if (model.alphas[k] > 0.0) std::fprintf(out, " %d", k);
  }
  std::fprintf(out, "\n");
}

void run_solver_self_test(RandomState& rs, std::FILE* out) {
  SvmModel model = make_self_test_model();
  smo_solve(model, SELF_TEST_C, rs);
  svm_compute_weights(model);
  print_self_test_report(model, out);
  release_svm_model(model);
}

}  // namespace lumvet
