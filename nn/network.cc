#include "nn/network.h"

#include <cmath>
#include <cstddef>
#include <new>

namespace lumvet {

namespace {

// (a + 1)(b + 1) for non-negative 32-bit counts: at most 2^62, so it fits.
std::size_t matrix_size(std::int32_t a, std::int32_t b) {
  return static_cast<std::size_t>(static_cast<std::int64_t>(a) + 1) *
         static_cast<std::size_t>(static_cast<std::int64_t>(b) + 1);
}

std::size_t unit_count(std::int32_t n) {
  return static_cast<std::size_t>(static_cast<std::int64_t>(n) + 1);
}

void copy_values(const std::vector<double>& from, std::vector<double>& to, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
}

}  // namespace

double sigmoid(double x) { return 1.0 / (1.0 + std::exp(-x)); }

void fill_random(double* values, std::int32_t a, std::int32_t b, double scale, RandomState& rs) {
  const std::size_t n = matrix_size(a, b);
  for (std::size_t i = 0; i < n; ++i) values[i] = random_symmetric(rs) * scale;
}

void fill_zero(double* values, std::int32_t a, std::int32_t b) {
  const std::size_t n = matrix_size(a, b);
  for (std::size_t i = 0; i < n; ++i) values[i] = 0.0;
}

std::unique_ptr<NeuralNet> net_alloc(std::int32_t input_count, std::int32_t hidden_count,
                                     std::int32_t output_count) {
  if (input_count < 0 || hidden_count < 0 || output_count < 0) return nullptr;
  const std::int32_t first = hidden_count != 0 ? hidden_count : output_count;
  const std::size_t input_matrix = matrix_size(input_count, first);
  const std::size_t hidden_matrix = matrix_size(hidden_count, output_count);
  const std::size_t max_doubles = std::vector<double>().max_size();
  if (input_matrix > max_doubles || hidden_matrix > max_doubles) return nullptr;
  // The only place where an allocation failure can surface: it becomes a null
  // network here, and every caller stops on null.
  try {
    auto net = std::make_unique<NeuralNet>();
    net->input_count = input_count;
    net->hidden_count = hidden_count;
    net->output_count = output_count;
    net->input_units.resize(unit_count(input_count));
    net->hidden_units.resize(unit_count(hidden_count));
    net->output_units.resize(unit_count(output_count));
    net->hidden_deltas.resize(unit_count(hidden_count));
    net->output_deltas.resize(unit_count(output_count));
    net->targets.resize(unit_count(output_count));
    net->input_weights.resize(input_matrix);
    net->hidden_weights.resize(hidden_matrix);
    net->input_prev_changes.resize(input_matrix);
    net->hidden_prev_changes.resize(hidden_matrix);
    return net;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<NeuralNet> net_create(std::int32_t input_count, std::int32_t hidden_count,
                                      std::int32_t output_count, double scale, RandomState& rs) {
  auto net = net_alloc(input_count, hidden_count, output_count);
  if (!net) return nullptr;
  const std::int32_t first = first_layer_count(*net);
  fill_random(net->input_weights.data(), input_count, first, scale, rs);
  // Drawn also without a hidden layer, for a matrix nothing reads: the number of
  // draws decides every later random choice.
  fill_random(net->hidden_weights.data(), hidden_count, output_count, scale, rs);
  fill_zero(net->input_prev_changes.data(), input_count, first);
  fill_zero(net->hidden_prev_changes.data(), hidden_count, output_count);
  return net;
}

std::unique_ptr<NeuralNet> net_copy(const NeuralNet& net) {
  auto copy = net_alloc(net.input_count, net.hidden_count, net.output_count);
  if (!copy) return nullptr;
  const std::size_t input_matrix = matrix_size(net.input_count, first_layer_count(net));
  copy_values(net.input_weights, copy->input_weights, input_matrix);
  copy_values(net.input_prev_changes, copy->input_prev_changes, input_matrix);
  copy_values(net.output_units, copy->output_units, unit_count(net.output_count));
  copy_values(net.output_deltas, copy->output_deltas, unit_count(net.output_count));
  if (net.hidden_count != 0) {
    const std::size_t hidden_matrix = matrix_size(net.hidden_count, net.output_count);
    copy_values(net.hidden_weights, copy->hidden_weights, hidden_matrix);
    copy_values(net.hidden_prev_changes, copy->hidden_prev_changes, hidden_matrix);
    copy_values(net.hidden_units, copy->hidden_units, unit_count(net.hidden_count));
    copy_values(net.hidden_deltas, copy->hidden_deltas, unit_count(net.hidden_count));
  }
  // input_units and targets are not copied: they keep net_alloc's zeros.
  return copy;
}

void layer_forward(double* lower, double* upper, const double* weights, std::int32_t n_lower,
                   std::int32_t n_upper) {
  lower[0] = 1.0;
  const std::size_t stride = unit_count(n_lower);
  const double* w = weights + stride;  // row 1
  for (std::int32_t j = 1; j <= n_upper; ++j, w += stride) {
    double sum = 0.0;
    for (std::size_t k = 0; k < stride; ++k) sum = sum + w[k] * lower[k];
    upper[j] = sigmoid(sum);
  }
}

void output_error(double* output_deltas, const double* targets, const double* output_units,
                  std::int32_t n, double& error) {
  double e = 0.0;
  for (std::int32_t j = 1; j <= n; ++j) {
    const double o = output_units[j];
    const double t = targets[j];
    const double d = o * ((t - o) * (1.0 - o));
    output_deltas[j] = d;
    e = e + std::fabs(d);
  }
  error = e;
}

void hidden_error(double* hidden_deltas, std::int32_t n_hidden, const double* output_deltas,
                  std::int32_t n_out, const double* hidden_weights, const double* hidden_units,
                  double& error) {
  const std::size_t stride = unit_count(n_hidden);
  double e = 0.0;
  for (std::int32_t j = 1; j <= n_hidden; ++j) {
    // Column j of hidden_weights, rows 1 ... n_out.
    const double* w = hidden_weights + stride + static_cast<std::size_t>(j);
    double s = 0.0;
    for (std::int32_t k = 1; k <= n_out; ++k, w += stride) s = s + output_deltas[k] * *w;
    const double h = hidden_units[j];
    const double d = h * ((1.0 - h) * s);
    hidden_deltas[j] = d;
    e = e + std::fabs(d);
  }
  error = e;
}

void adjust_weights(const double* deltas, std::int32_t n_upper, double* lower, std::int32_t n_lower,
                    double* weights, double* prev, double eta, double momentum) {
  lower[0] = 1.0;
  const std::size_t stride = unit_count(n_lower);
  // One argument, three roles: a positive momentum adds a share of the previous
  // change and remembers the new one, a negative one pulls each weight towards 0 by
  // |momentum| * w (decay), and 0 gives plain gradient steps. Only the first writes
  // the previous-change matrix. The branch is hoisted; the arithmetic per weight is
  // exactly change = (eta * delta_j) * lower_k, then the momentum term.
  for (std::int32_t j = 1; j <= n_upper; ++j) {
    const double step = eta * deltas[j];
    double* w = weights + static_cast<std::size_t>(j) * stride;
    double* p = prev + static_cast<std::size_t>(j) * stride;
    if (momentum > 0.0) {
      for (std::size_t k = 0; k < stride; ++k) {
        const double change = step * lower[k] + momentum * p[k];
        p[k] = change;
        w[k] = w[k] + change;
      }
    } else if (momentum < 0.0) {
      for (std::size_t k = 0; k < stride; ++k) {
        const double change = step * lower[k] + momentum * w[k];
        w[k] = w[k] + change;
      }
    } else {
      for (std::size_t k = 0; k < stride; ++k) w[k] = w[k] + step * lower[k];
    }
  }
}

void net_forward(NeuralNet& net) {
  if (net.hidden_count != 0) {
    layer_forward(net.input_units.data(), net.hidden_units.data(), net.input_weights.data(),
                  net.input_count, net.hidden_count);
    layer_forward(net.hidden_units.data(), net.output_units.data(), net.hidden_weights.data(),
                  net.hidden_count, net.output_count);
  } else {
    layer_forward(net.input_units.data(), net.output_units.data(), net.input_weights.data(),
                  net.input_count, net.output_count);
  }
}

void net_train_step(NeuralNet& net, double eta, double momentum) {
  net_forward(net);
  double output_sum = 0.0;
  output_error(net.output_deltas.data(), net.targets.data(), net.output_units.data(),
               net.output_count, output_sum);
  if (net.hidden_count != 0) {
    double hidden_sum = 0.0;
    // Reads hidden_weights before this step changes them.
    hidden_error(net.hidden_deltas.data(), net.hidden_count, net.output_deltas.data(),
                 net.output_count, net.hidden_weights.data(), net.hidden_units.data(), hidden_sum);
    adjust_weights(net.output_deltas.data(), net.output_count, net.hidden_units.data(),
                   net.hidden_count, net.hidden_weights.data(), net.hidden_prev_changes.data(), eta,
                   momentum);
    adjust_weights(net.hidden_deltas.data(), net.hidden_count, net.input_units.data(),
                   net.input_count, net.input_weights.data(), net.input_prev_changes.data(), eta,
                   momentum);
  } else {
    adjust_weights(net.output_deltas.data(), net.output_count, net.input_units.data(),
                   net.input_count, net.input_weights.data(), net.input_prev_changes.data(), eta,
                   momentum);
  }
}

}  // namespace lumvet
