// A small fully connected feed-forward network of logistic units with one
// optional hidden layer, trained one sample at a time by backpropagation with a
// learning rate and a momentum term (a negative momentum acts as weight decay).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "scoring/random.h"

namespace lumvet {

// Every layer that feeds another carries an extra unit 0 holding the constant 1.0,
// the bias. F, the first-layer count, is hidden_count when that is non-zero and
// output_count otherwise: the number of units that input_weights feeds.
//
// Weight matrices are row-major, one row per unit of the upper layer (rows
// 0 ... upper count) and one column per unit of the lower layer (columns
// 0 ... lower count): the weight from lower unit k into upper unit j lies at
// j * (lower count + 1) + k, column 0 holding the bias weights. Row 0 belongs to no
// unit: the arithmetic never reads or changes it, but it is drawn, copied, stored
// in the network file and counted in the weight statistics.
//
// Without a hidden layer, input_weights connects the inputs to the outputs and the
// hidden arrays still exist (hidden_units and hidden_deltas with one element,
// hidden_weights and hidden_prev_changes with output_count + 1); nothing reads them.
struct NeuralNet {
  std::int32_t input_count = 0;
  std::int32_t hidden_count = 0;  // 0: no hidden layer
  std::int32_t output_count = 0;
  std::vector<double> input_units;     // input_count + 1; [0] is the bias unit
  std::vector<double> hidden_units;    // hidden_count + 1; [0] is the bias unit
  std::vector<double> output_units;    // output_count + 1; [0] unused
  std::vector<double> hidden_deltas;   // hidden_count + 1; [0] unused
  std::vector<double> output_deltas;   // output_count + 1; [0] unused
  std::vector<double> targets;         // output_count + 1; [0] unused
  std::vector<double> input_weights;   // (F + 1) x (input_count + 1)
  std::vector<double> hidden_weights;  // (output_count + 1) x (hidden_count + 1)
  // The change applied to each weight by the last training step that ran with a
  // positive momentum; zero after creation and loading.
  std::vector<double> input_prev_changes;   // same shape as input_weights
  std::vector<double> hidden_prev_changes;  // same shape as hidden_weights
};

// F: hidden_count when non-zero, else output_count.
inline std::int32_t first_layer_count(const NeuralNet& net) {
  return net.hidden_count != 0 ? net.hidden_count : net.output_count;
}

// 1 / (1 + e^-x); 0 when e^-x overflows.
double sigmoid(double x);

// values[i] = random_symmetric(rs) * scale for i = 0 ... (a + 1)(b + 1) - 1 in
// that order: one generator step per value. A scale of 0 gives -0.0 for a
// negative draw. REQUIRES: values holds (a + 1)(b + 1) doubles.
void fill_random(double* values, std::int32_t a, std::int32_t b, double scale, RandomState& rs);

// Sets (a + 1)(b + 1) values to 0.0.
void fill_zero(double* values, std::int32_t a, std::int32_t b);

// A network with the given counts and every array allocated at its full length
// and zero-filled (so units, deltas and targets never computed read 0.0). Null
// when a count is negative or the arrays cannot be allocated.
std::unique_ptr<NeuralNet> net_alloc(std::int32_t input_count, std::int32_t hidden_count,
                                     std::int32_t output_count);

// net_alloc, then random weights: (input_count + 1)(F + 1) draws for
// input_weights and (hidden_count + 1)(output_count + 1) for hidden_weights (drawn
// also without a hidden layer), each in storage order, row 0 included; the
// previous changes are zero. Null (with no draw made) when net_alloc fails.
std::unique_ptr<NeuralNet> net_create(std::int32_t input_count, std::int32_t hidden_count,
                                      std::int32_t output_count, double scale, RandomState& rs);

// A new network holding input_weights, input_prev_changes, output_units and
// output_deltas of `net`, and, only with a hidden layer, hidden_weights,
// hidden_prev_changes, hidden_units and hidden_deltas. Everything else (always
// input_units and targets) is 0.0 in the copy. Null when allocation fails.
std::unique_ptr<NeuralNet> net_copy(const NeuralNet& net);

// lower[0] = 1.0; then for j = 1 ... n_upper, upper[j] = sigmoid of
// sum_{k = 0 ... n_lower} w[j][k] * lower[k], summed from 0.0 in increasing k.
// upper[0] is not touched.
void layer_forward(double* lower, double* upper, const double* weights, std::int32_t n_lower,
                   std::int32_t n_upper);

// For j = 1 ... n: output_deltas[j] = o * ((t - o) * (1 - o)); error = sum of |delta|.
void output_error(double* output_deltas, const double* targets, const double* output_units,
                  std::int32_t n, double& error);

// For j = 1 ... n_hidden: s = sum_{k = 1 ... n_out} output_deltas[k] * w[k][j];
// hidden_deltas[j] = h * ((1 - h) * s); error = sum of |delta|. The bias unit 0
// gets no delta.
void hidden_error(double* hidden_deltas, std::int32_t n_hidden, const double* output_deltas,
                  std::int32_t n_out, const double* hidden_weights, const double* hidden_units,
                  double& error);

// lower[0] = 1.0; then for j = 1 ... n_upper, k = 0 ... n_lower:
//   change = (eta * deltas[j]) * lower[k]
//   momentum > 0: change += momentum * prev[j][k], and prev[j][k] = change
//   momentum < 0: change += momentum * w[j][k] (weight decay; prev untouched)
//   momentum = 0: plain gradient step (prev untouched)
//   w[j][k] += change
void adjust_weights(const double* deltas, std::int32_t n_upper, double* lower, std::int32_t n_lower,
                    double* weights, double* prev, double eta, double momentum);

// Forward pass from input_units to output_units, through the hidden layer if any.
void net_forward(NeuralNet& net);

// One backpropagation step on the sample already in input_units and targets:
// forward pass, output deltas, then (with a hidden layer) hidden deltas from the
// unchanged hidden_weights, hidden_weights, input_weights.
void net_train_step(NeuralNet& net, double eta, double momentum);

}  // namespace lumvet
