#include "nn/network.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "nn/network_file.h"

namespace lumvet {
namespace {

std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }

// Exact equality, sign of zero included.
void expect_same(const std::vector<double>& a, const std::vector<double>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) EXPECT_EQ(bits(a[i]), bits(b[i])) << "index " << i;
}

double half_squared_error(const NeuralNet& net) {
  double e = 0.0;
  for (int j = 1; j <= net.output_count; ++j) {
    const double d = net.targets[j] - net.output_units[j];
    e += 0.5 * d * d;
  }
  return e;
}

// A 3-4-2 network with a sample loaded.
std::unique_ptr<NeuralNet> small_hidden_net(RandomState& rs) {
  auto net = net_create(3, 4, 2, 0.8, rs);
  const double inputs[] = {0.3, -0.7, 0.9};
  for (int i = 0; i < 3; ++i) net->input_units[i + 1] = inputs[i];
  net->targets[1] = TARGET_HIGH;
  net->targets[2] = TARGET_LOW;
  return net;
}

TEST(Network, WorkedExampleCreateForwardTrain) {
  RandomState rs;  // 1
  auto net = net_create(1, 0, 1, 1.0, rs);
  ASSERT_TRUE(net);
  expect_same(net->input_weights,
              {-0.9999843472614739, -0.7369244235911634, 0.5112106450937788, -0.08269973572595024});
  expect_same(net->hidden_weights, {0.0655344753205167, -0.5620816271398976});
  EXPECT_EQ(rs.value, 470211272);
  expect_same(net->input_prev_changes, {0.0, 0.0, 0.0, 0.0});
  expect_same(net->hidden_prev_changes, {0.0, 0.0});

  // Row 1 alone: bias weight times 1.0 plus weight times the input, from 0.0.
  net->input_units[1] = 0.5;
  const double sum = 0.0 + 0.5112106450937788 * 1.0 + -0.08269973572595024 * 0.5;
  EXPECT_EQ(sum, 0.46986077723080366);
  net_forward(*net);
  EXPECT_EQ(net->input_units[0], 1.0);
  EXPECT_EQ(bits(net->output_units[1]), bits(sigmoid(0.46986077723080366)));
  EXPECT_EQ(net->output_units[1], 0.615350803699563);

  net->targets[1] = TARGET_HIGH;
  net_train_step(*net, 0.5, 0.0);
  EXPECT_EQ(net->output_deltas[1], 0.06737480590299341);
  expect_same(net->input_weights,
              {-0.9999843472614739, -0.7369244235911634, 0.5448980480452755, -0.0658560342502019});
  expect_same(net->hidden_weights, {0.0655344753205167, -0.5620816271398976});
  expect_same(net->input_prev_changes, {0.0, 0.0, 0.0, 0.0});
}

TEST(Network, ZeroScaleDrawsSignedZerosAndAdvancesTheGenerator) {
  RandomState rs;
  auto net = net_create(1, 0, 1, 0.0, rs);
  EXPECT_EQ(rs.value, 470211272);  // all 6 draws made
  // Draws -0.99.., -0.73.., 0.51.., -0.08.. give -0, -0, +0, -0.
  const std::vector<std::uint64_t> expected = {0x8000000000000000u, 0x8000000000000000u, 0u,
                                               0x8000000000000000u};
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(bits(net->input_weights[i]), expected[i]);

  RandomState a, b;
  net_create(30, 15, 1, 0.0, a);
  for (int i = 0; i < 31 * 16 + 16 * 2; ++i) random_next(b);  // 528 draws
  EXPECT_EQ(a.value, b.value);
}

TEST(Network, AllocationRefusesBadCounts) {
  EXPECT_FALSE(net_alloc(-1, 0, 1));
  EXPECT_FALSE(net_alloc(1, -3, 1));
  // (2^31)^2 doubles per matrix exceed what any vector can hold: refused before
  // anything is allocated.
  EXPECT_FALSE(net_alloc(2147483647, 2147483647, 1));
  RandomState rs;
  EXPECT_FALSE(net_create(1, 0, -1, 1.0, rs));
  EXPECT_EQ(rs.value, 1);  // nothing drawn for a network that does not exist

  auto net = net_alloc(2, 0, 3);
  ASSERT_TRUE(net);
  EXPECT_EQ(net->input_weights.size(), 4u * 3u);
  EXPECT_EQ(net->hidden_weights.size(), 4u);
  EXPECT_EQ(net->hidden_units.size(), 1u);
  EXPECT_EQ(net->targets.size(), 4u);
  for (double v : net->output_units) EXPECT_EQ(bits(v), 0u);
}

TEST(Network, ElementaryOperations) {
  EXPECT_EQ(sigmoid(0.0), 0.5);
  EXPECT_EQ(sigmoid(-1000.0), 0.0);  // e^1000 overflows: 0, not a failure
  EXPECT_EQ(sigmoid(1000.0), 1.0);

  // Lower count 0: each upper unit is the sigmoid of its bias weight.
  double lower[1] = {7.0};
  double upper[3] = {42.0, 0.0, 0.0};
  const double w[3] = {5.0, 0.25, -1.5};
  layer_forward(lower, upper, w, 0, 2);
  EXPECT_EQ(lower[0], 1.0);
  EXPECT_EQ(upper[0], 42.0);
  EXPECT_EQ(upper[1], sigmoid(0.25));
  EXPECT_EQ(upper[2], sigmoid(-1.5));

  // Output equal to the target, or exactly 0 or 1, gives delta 0.
  const double outputs[4] = {0.0, 0.3, 0.0, 1.0};
  const double targets[4] = {0.0, 0.3, 0.9, 0.1};
  double deltas[4] = {9.0, 9.0, 9.0, 9.0};
  double error = -1.0;
  output_error(deltas, targets, outputs, 3, error);
  EXPECT_EQ(deltas[0], 9.0);
  EXPECT_EQ(deltas[1], 0.0);
  EXPECT_EQ(deltas[2], 0.0);
  EXPECT_EQ(deltas[3], 0.0);
  EXPECT_EQ(error, 0.0);
  output_error(deltas, targets, outputs, 0, error);
  EXPECT_EQ(error, 0.0);
}

TEST(Network, NoHiddenLayerTrainsOnlyInputWeights) {
  RandomState rs{12345};
  auto net = net_create(3, 0, 2, 0.5, rs);
  const std::vector<double> hidden_before = net->hidden_weights;
  const std::vector<double> input_before = net->input_weights;
  net->input_units = {0.0, 0.1, 0.2, 0.3};
  net->targets = {0.0, TARGET_HIGH, TARGET_LOW};
  net_train_step(*net, 0.5, 0.9);
  expect_same(net->hidden_weights, hidden_before);
  expect_same(net->hidden_prev_changes, {0.0, 0.0, 0.0});
  for (int k = 0; k <= 3; ++k) EXPECT_EQ(bits(net->input_weights[k]), bits(input_before[k]));
  EXPECT_NE(net->input_weights[4], input_before[4]);
  EXPECT_NE(net->input_prev_changes[4], 0.0);
}

// The three roles of momentum, on a network with a hidden layer.
TEST(Network, MomentumPositiveRemembersTheWholeChange) {
  RandomState rs{777};
  auto net = small_hidden_net(rs);
  net_train_step(*net, 0.5, 0.9);  // prev now holds the first changes
  const NeuralNet before = *net;
  net_train_step(*net, 0.5, 0.9);
  const std::size_t stride = 5;  // hidden_count + 1
  for (int j = 1; j <= 2; ++j) {
    for (std::size_t k = 0; k < stride; ++k) {
      const std::size_t i = j * stride + k;
      const double change = (0.5 * net->output_deltas[j]) * net->hidden_units[k] +
                            0.9 * before.hidden_prev_changes[i];
      EXPECT_EQ(bits(net->hidden_prev_changes[i]), bits(change));
      EXPECT_EQ(bits(net->hidden_weights[i]), bits(before.hidden_weights[i] + change));
    }
  }
  for (std::size_t k = 0; k < stride; ++k) {
    EXPECT_EQ(bits(net->hidden_weights[k]), bits(before.hidden_weights[k]));  // row 0
    EXPECT_EQ(net->hidden_prev_changes[k], 0.0);
  }
}

TEST(Network, MomentumNegativeDecaysWeights) {
  RandomState rs{4242};
  auto net = small_hidden_net(rs);
  net_forward(*net);
  // Targets equal to the outputs: every delta is 0, only the decay acts.
  net->targets[1] = net->output_units[1];
  net->targets[2] = net->output_units[2];
  NeuralNet before = *net;
  net_train_step(*net, 0.5, -0.01);
  for (int j = 1; j <= 2; ++j) EXPECT_EQ(net->output_deltas[j], 0.0);
  for (int j = 1; j <= 4; ++j) EXPECT_EQ(net->hidden_deltas[j], 0.0);
  auto check = [](const std::vector<double>& after, const std::vector<double>& was,
                  std::size_t stride) {
    for (std::size_t i = 0; i < after.size(); ++i) {
      const double expected = i < stride ? was[i] : was[i] + (-0.01 * was[i]);
      EXPECT_EQ(bits(after[i]), bits(expected)) << i;
    }
  };
  check(net->input_weights, before.input_weights, 4);
  check(net->hidden_weights, before.hidden_weights, 5);
  expect_same(net->input_prev_changes, before.input_prev_changes);
  expect_same(net->hidden_prev_changes, before.hidden_prev_changes);
}

TEST(Network, MomentumZeroLeavesPreviousChanges) {
  RandomState rs{99};
  auto net = small_hidden_net(rs);
  net_train_step(*net, 0.5, 0.5);
  const NeuralNet before = *net;
  ASSERT_NE(before.input_prev_changes[5], 0.0);
  net_train_step(*net, 0.25, 0.0);
  expect_same(net->input_prev_changes, before.input_prev_changes);
  expect_same(net->hidden_prev_changes, before.hidden_prev_changes);
  const double expected = before.hidden_weights[6] + (0.25 * net->output_deltas[1]) *
                                                         net->hidden_units[1];
  EXPECT_EQ(bits(net->hidden_weights[6]), bits(expected));
}

// The delta rule is eta times the negative gradient of 0.5 * sum (t - o)^2; check
// every trained weight of both matrices against central differences.
TEST(Network, TrainingStepFollowsTheGradient) {
  RandomState rs{2024};
  auto net = small_hidden_net(rs);
  const NeuralNet before = *net;
  const double eta = 0.5;
  net_train_step(*net, eta, 0.0);

  auto numeric = [&](bool hidden_matrix, std::size_t i) {
    const double h = 1e-6;
    NeuralNet probe = before;
    std::vector<double>& w = hidden_matrix ? probe.hidden_weights : probe.input_weights;
    w[i] = (hidden_matrix ? before.hidden_weights : before.input_weights)[i] + h;
    net_forward(probe);
    const double up = half_squared_error(probe);
    w[i] = (hidden_matrix ? before.hidden_weights : before.input_weights)[i] - h;
    net_forward(probe);
    return (up - half_squared_error(probe)) / (2 * h);
  };
  int checked = 0;
  for (std::size_t i = 4; i < net->input_weights.size(); ++i, ++checked) {
    const double step = net->input_weights[i] - before.input_weights[i];
    EXPECT_NEAR(step, -eta * numeric(false, i), 1e-8) << "input weight " << i;
  }
  for (std::size_t i = 5; i < net->hidden_weights.size(); ++i, ++checked) {
    const double step = net->hidden_weights[i] - before.hidden_weights[i];
    EXPECT_NEAR(step, -eta * numeric(true, i), 1e-8) << "hidden weight " << i;
  }
  EXPECT_EQ(checked, 4 * 4 + 2 * 5);
  // And the step is not trivially zero.
  EXPECT_GT(std::fabs(net->hidden_weights[5] - before.hidden_weights[5]), 1e-4);
}

TEST(Network, CopyTakesExactlyTheListedArrays) {
  RandomState rs{31};
  auto net = small_hidden_net(rs);
  net_train_step(*net, 0.5, 0.9);
  auto copy = net_copy(*net);
  ASSERT_TRUE(copy);
  expect_same(copy->input_weights, net->input_weights);
  expect_same(copy->input_prev_changes, net->input_prev_changes);
  expect_same(copy->hidden_weights, net->hidden_weights);
  expect_same(copy->hidden_prev_changes, net->hidden_prev_changes);
  expect_same(copy->hidden_units, net->hidden_units);
  expect_same(copy->hidden_deltas, net->hidden_deltas);
  expect_same(copy->output_units, net->output_units);
  expect_same(copy->output_deltas, net->output_deltas);
  expect_same(copy->input_units, {0.0, 0.0, 0.0, 0.0});
  expect_same(copy->targets, {0.0, 0.0, 0.0});

  // Without a hidden layer the hidden arrays are not copied.
  auto flat = net_create(2, 0, 1, 1.0, rs);
  auto flat_copy = net_copy(*flat);
  expect_same(flat_copy->input_weights, flat->input_weights);
  expect_same(flat_copy->hidden_weights, {0.0, 0.0});

  net_free(copy);
  EXPECT_FALSE(copy);
}

}  // namespace
}  // namespace lumvet
