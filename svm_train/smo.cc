#include "svm_train/smo.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace lumvet {
namespace {

// Raw views of the arrays the solver works on; n is 0 for a negative count.
struct Problem {
  std::size_t n = 0;
  std::size_t dims = 0;
  const double* x = nullptr;       // n rows of dims values
  const std::int8_t* y = nullptr;  // +1 or -1
  double* alpha = nullptr;
  double* cache = nullptr;  // n x n, 0.0 = not yet computed; may be null
};

Problem view_of(SvmModel& model) {
  Problem p;
  p.n = model.sample_count > 0 ? static_cast<std::size_t>(model.sample_count) : 0;
  p.dims = model.dims > 0 ? static_cast<std::size_t>(model.dims) : 0;
  p.x = model.samples.data();
  p.y = model.labels.data();
  p.alpha = model.alphas.data();
  p.cache = model.kernel_cache.get();
  return p;
}

// Sum of a[m] * b[m] from 0.0 in ascending m. The order is part of the result.
inline double dot(const double* a, const double* b, std::size_t dims) {
  double s = 0.0;
  for (std::size_t m = 0; m < dims; ++m) s = s + a[m] * b[m];
  return s;
}

double kernel(const Problem& p, std::size_t a, std::size_t b) {
  if (p.cache != nullptr) {
    const double cached = p.cache[a * p.n + b];
    if (cached != 0.0) return cached;
  }
  const double k = dot(p.x + a * p.dims, p.x + b * p.dims, p.dims);
  if (p.cache != nullptr) {
    p.cache[a * p.n + b] = k;
    if (a != b) p.cache[b * p.n + a] = k;
  }
  return k;
}

// The samples whose multiplier exceeds SMO_ALPHA_EPSILON, in ascending order,
// with y_k * alpha_k beside each: the only terms of the error sums. Kept up to
// date as multipliers change, it spares every error a scan of all n multipliers.
struct SupportSet {
  std::vector<std::size_t> index;
  std::vector<double> signed_alpha;
};

// Brings sample k's entry in line with its current multiplier.
void update_support(SupportSet& set, const Problem& p, std::size_t k) {
  const auto at = std::lower_bound(set.index.begin(), set.index.end(), k);
  const auto pos = at - set.index.begin();
  const bool present = at != set.index.end() && *at == k;
  if (p.alpha[k] > SMO_ALPHA_EPSILON) {
    const double signed_alpha = static_cast<double>(p.y[k]) * p.alpha[k];
    if (present) {
      set.signed_alpha[static_cast<std::size_t>(pos)] = signed_alpha;
    } else {
      set.index.insert(at, k);
      set.signed_alpha.insert(set.signed_alpha.begin() + pos, signed_alpha);
    }
  } else if (present) {
    set.index.erase(at);
    set.signed_alpha.erase(set.signed_alpha.begin() + pos);
  }
}

// E(t) = f(x_t) - y_t: from bias - y_t, add alpha_k * K(k, t) for y_k = +1 and
// subtract it for y_k = -1, over the support set in ascending k. With labels of
// exactly +1 and -1, (y_k * alpha_k) * K is +-(alpha_k * K) to the bit, and adding
// a negated term is subtracting it, so the sum is the same to the last bit.
double sample_error(const Problem& p, const SupportSet& set, double bias, std::size_t t) {
  const double* xt = p.x + t * p.dims;
  const std::size_t count = set.index.size();
  const std::size_t* index = set.index.data();
  const double* signed_alpha = set.signed_alpha.data();
  double e = bias - static_cast<double>(p.y[t]);
  if (p.cache != nullptr) {
    // The dot product is symmetric to the bit and cells are written in pairs, so
    // row t can stand for column t: cell (t, k) holds K(k, t) or 0.0.
    double* row = p.cache + t * p.n;
    for (std::size_t s = 0; s < count; ++s) {
      const std::size_t k = index[s];
      double kv = row[k];
      if (kv == 0.0) {
        kv = dot(p.x + k * p.dims, xt, p.dims);
        row[k] = kv;
        p.cache[k * p.n + t] = kv;
      }
      e = e + signed_alpha[s] * kv;
    }
  } else {
    for (std::size_t s = 0; s < count; ++s) {
      e = e + signed_alpha[s] * dot(p.x + index[s] * p.dims, xt, p.dims);
    }
  }
  return e;
}

// Draws the partner j != i of sample i: one generator step per attempt, attempts
// giving i rejected. Returns false, giving up, where the draw could never end:
// with fewer than two samples (no step taken), or when a rejected draw leaves the
// state at 0, the generator's only fixed point, from which every draw gives i again.
bool draw_partner(RandomState& rs, std::size_t i, std::size_t n, SmoStats& stats, std::size_t& j) {
  if (n < 2) return false;
  for (;;) {
    const std::int32_t s = random_next(rs);  // in [0, 2147483646]
    ++stats.partner_draws;
    j = static_cast<std::size_t>(s) % n;
    if (j != i) return true;
    if (s == 0) return false;
  }
}

}  // namespace

double svm_kernel(SvmModel& model, int a, int b) {
  return kernel(view_of(model), static_cast<std::size_t>(a), static_cast<std::size_t>(b));
}

void smo_solve(SvmModel& model, double C, RandomState& rs, SmoStats* stats) {
  SmoStats local;
  SmoStats& st = stats != nullptr ? *stats : local;
  st = SmoStats{};
  const Problem p = view_of(model);
  SupportSet support;
  for (std::size_t k = 0; k < p.n; ++k) update_support(support, p, k);

  int idle = 0;
  while (idle < SMO_IDLE_PASS_LIMIT) {
    int changed = 0;
    ++st.passes;
    for (std::size_t i = 0; i < p.n; ++i) {
      const double e_i = sample_error(p, support, model.bias, i);
      const double y_i = static_cast<double>(p.y[i]);
      const double r = y_i * e_i;
      const double alpha_i = p.alpha[i];
      if (!((r < -SMO_TOLERANCE && alpha_i < C) || (r > SMO_TOLERANCE && alpha_i > 0.0))) {
        continue;
      }
      ++st.violations;
      if (st.passes == 1) ++st.first_pass_violations;

      std::size_t j = 0;
      if (!draw_partner(rs, i, p.n, st, j)) {
        ++st.abandoned_searches;
        continue;
      }
      const double e_j = sample_error(p, support, model.bias, j);
      const double y_j = static_cast<double>(p.y[j]);
      const double alpha_j = p.alpha[j];

      // The pair moves along the line y_i alpha_i + y_j alpha_j = const inside
      // the box [0, C]^2; [L, H] is the segment open to alpha_j.
      double low;
      double high;
      if (y_i != y_j) {
        const double d = alpha_j - alpha_i;
        low = d > 0.0 ? d : 0.0;
        high = d < 0.0 ? C + d : C;
      } else {
        const double s = alpha_i + alpha_j;
        low = s > C ? s - C : 0.0;
        high = s < C ? s : C;
      }
      if (low + SMO_ALPHA_EPSILON >= high) {
        ++st.skipped_bounds;
        continue;
      }

      const double k_ij = kernel(p, i, j);
      const double k_ii = kernel(p, i, i);
      const double k_jj = kernel(p, j, j);
      // Second derivative of the objective along the line: -|x_i - x_j|^2.
      const double eta = ((k_ij + k_ij) - k_ii) - k_jj;
      if (!(eta < -SMO_ALPHA_EPSILON)) {
        ++st.skipped_curvature;
        continue;
      }

      double a_j = alpha_j - (y_j * (e_i - e_j)) / eta;
      if (a_j < low) {
        a_j = low;
      } else if (a_j > high) {
        a_j = high;
      }
      if (std::fabs(a_j - alpha_j) < SMO_TOLERANCE) {
        ++st.skipped_small_move;
        continue;
      }

      // Rounding may leave a_i a hair below zero: it is raised to 0.0. It is not
      // clipped at C.
      double a_i = alpha_i - y_i * (y_j * (a_j - alpha_j));
      if (a_i < 0.0) a_i = 0.0;
      p.alpha[i] = a_i;

      const double d_i = y_i * (a_i - alpha_i);
      const double d_j = y_j * (a_j - alpha_j);
      const double b = model.bias;
      const double b1 = ((b - e_i) - d_i * k_ii) - d_j * k_ij;
      const double b2 = ((b - e_j) - d_i * k_ij) - d_j * k_jj;
      if (0.0 < a_i && a_i < C) {
        model.bias = b1;
      } else if (0.0 < a_j && a_j < C) {
        model.bias = b2;
      } else {
        model.bias = (b2 + b1) * 0.5;
      }
      p.alpha[j] = a_j;
      update_support(support, p, i);
      update_support(support, p, j);
      ++changed;
      ++st.changed_pairs;
    }
    if (changed > 0) {
      idle = 0;
      st.last_changing_pass = st.passes;
    } else {
      ++idle;
    }
  }
}

void svm_compute_weights(SvmModel& model) {
  const Problem p = view_of(model);
  model.weights.assign(p.dims, 0.0);
  for (std::size_t m = 0; m < p.dims; ++m) {
    double w = 0.0;
    for (std::size_t k = 0; k < p.n; ++k) {
      w = w + (p.x[k * p.dims + m] * p.alpha[k]) * static_cast<double>(p.y[k]);
    }
    model.weights[m] = w;
  }
}

double svm_decision_value(const SvmModel& model, int k) {
  const std::size_t dims = model.dims > 0 ? static_cast<std::size_t>(model.dims) : 0;
  const double* x = model.samples.data() + static_cast<std::size_t>(k) * dims;
  double f = model.bias;
  for (std::size_t m = 0; m < dims; ++m) f = f + model.weights[m] * x[m];
  return f;
}

}  // namespace lumvet
