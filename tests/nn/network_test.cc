// The network: creation, forward pass, training step, and its file and printout.
#include "nn/network.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "nn/network_file.h"
#include "platform/coding.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::capture_output;
using testing::read_bytes;
using testing::ScopedTempDir;
using testing::write_bytes;

std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }

// Exact equality, sign of zero included.
void expect_same(const std::vector<double>& a, const std::vector<double>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) EXPECT_EQ(bits(a[i]), bits(b[i])) << "index " << i;
}

// A network file's header, then zeros up to `size` bytes.
std::vector<std::uint8_t> header(std::int32_t i, std::int32_t h, std::int32_t o,
                                 std::size_t size = 12) {
  std::vector<std::uint8_t> b;
  for (std::int32_t v : {i, h, o}) put_fixed32(b, static_cast<std::uint32_t>(v));
  b.resize(size);
  return b;
}

std::unique_ptr<NeuralNet> load_quietly(const std::string& path, std::string& printed) {
  std::unique_ptr<NeuralNet> net;
  printed = capture_output([&](std::FILE* out) { net = net_load(path, out); });
  return net;
}

std::string print(const NeuralNet& net, int precision) {
  return capture_output([&](std::FILE* out) { net_print(net, precision, out); });
}

TEST(Network, WorkedExampleCreateForwardTrain) {
  RandomState rs;  // 1
  auto net = net_create(1, 0, 1, 1.0, rs);
  ASSERT_TRUE(net);
  expect_same(net->input_weights,
              {-0.9999843472614739, -0.7369244235911634, 0.5112106450937788, -0.08269973572595024});
  expect_same(net->hidden_weights, {0.0655344753205167, -0.5620816271398976});
  EXPECT_EQ(rs.value, 470211272);

  // Row 1 alone: sigmoid(0.5112106450937788 + -0.08269973572595024 x 0.5).
  net->input_units[1] = 0.5;
  net_forward(*net);
  EXPECT_EQ(net->output_units[1], 0.615350803699563);

  net->targets[1] = TARGET_HIGH;
  net_train_step(*net, 0.5, 0.0);
  EXPECT_EQ(net->output_deltas[1], 0.06737480590299341);
  expect_same(net->input_weights,
              {-0.9999843472614739, -0.7369244235911634, 0.5448980480452755, -0.0658560342502019});

  EXPECT_EQ(print(*net, 0),
            "Showing 1x0x1 network \n"
            "input weights:\n"
            "0.544898048045,-0.0658560342502,\n"
            "Wmax=0.544898, min=-0.999984, ave=-0.314467, satur=0%, average delta=0.0673748 "
            "(~zero delta=0%)\n");
}

TEST(Network, CountsDrawsAndSaturation) {
  EXPECT_FALSE(net_alloc(-1, 0, 1));
  EXPECT_FALSE(net_alloc(1, -3, 1));
  // (2^31)^2 doubles per matrix: refused before anything is allocated.
  EXPECT_FALSE(net_alloc(2147483647, 2147483647, 1));
  RandomState rs;
  EXPECT_FALSE(net_create(1, 0, -1, 1.0, rs));
  EXPECT_EQ(rs.value, 1);  // nothing drawn for a network that does not exist
  // One draw per weight of both matrices, rows 0 included, whatever the scale.
  net_create(30, 15, 1, 0.0, rs);
  EXPECT_EQ(rs.value, random_jump(1, 31 * 16 + 16 * 2));

  EXPECT_EQ(sigmoid(-1000.0), 0.0);  // e^1000 overflows: 0, not a failure
  EXPECT_EQ(sigmoid(1000.0), 1.0);
}

// Each step is eta times the negative gradient of 0.5 * sum (t - o)^2 (checked by
// central differences), plus momentum times the previous change (remembered) when
// momentum > 0, or times the weight (decay) when < 0. Row 0 never moves.
TEST(Network, TrainingStepFollowsTheGradientAndTheMomentum) {
  RandomState rs{2024};
  auto net = net_create(3, 4, 2, 0.8, rs);
  net->input_units = {0.0, 0.3, -0.7, 0.9};
  net->targets = {0.0, TARGET_HIGH, TARGET_LOW};
  const NeuralNet before = *net;
  net_train_step(*net, 0.5, 0.0);
  const auto error_with = [&](bool hidden, std::size_t i, double nudge) {
    NeuralNet probe = before;
    (hidden ? probe.hidden_weights : probe.input_weights)[i] += nudge;
    net_forward(probe);
    double e = 0.0;
    for (int j = 1; j <= probe.output_count; ++j)
      e += 0.5 * std::pow(probe.targets[j] - probe.output_units[j], 2);
    return e;
  };
  for (const bool hidden : {false, true}) {
    const std::vector<double>& was = hidden ? before.hidden_weights : before.input_weights;
    const std::vector<double>& now = hidden ? net->hidden_weights : net->input_weights;
    for (std::size_t i = hidden ? 5 : 4; i < was.size(); ++i) {
      const double gradient = (error_with(hidden, i, 1e-6) - error_with(hidden, i, -1e-6)) / 2e-6;
      EXPECT_NEAR(now[i] - was[i], -0.5 * gradient, 1e-8) << hidden << " " << i;
    }
  }
  EXPECT_GT(std::fabs(net->hidden_weights[5] - before.hidden_weights[5]), 1e-4);

  net_train_step(*net, 0.5, 0.9);  // previous changes become non-zero
  for (const double momentum : {0.9, 0.0, -0.01}) {
    NeuralNet after = *net;
    net_train_step(after, 0.5, momentum);
    for (std::size_t i = 0; i < net->hidden_weights.size(); ++i) {
      const double was = net->hidden_weights[i], prev = net->hidden_prev_changes[i];
      double change = (0.5 * after.output_deltas[i / 5]) * after.hidden_units[i % 5];
      if (momentum != 0) change += momentum * (momentum > 0 ? prev : was);
      if (i < 5) change = 0.0;
      EXPECT_EQ(bits(after.hidden_weights[i]), bits(was + change)) << momentum << " " << i;
      EXPECT_EQ(bits(after.hidden_prev_changes[i]), bits(momentum > 0 ? change : prev))
          << momentum << " " << i;
    }
    if (momentum <= 0) expect_same(after.input_prev_changes, net->input_prev_changes);
  }
}

TEST(NetworkFile, SaveLoadRoundTripIsExact) {
  ScopedTempDir dir;
  const std::string path = dir.file("net.nn");
  std::string printed;
  RandomState rs{555};
  auto net = net_create(30, 15, 1, 1.0, rs);
  net->targets[1] = TARGET_HIGH;
  net_train_step(*net, 0.5, 0.9);  // previous changes become non-zero
  ASSERT_EQ(net_save(*net, path, stdout), 1);
  const auto b = read_bytes(path);
  ASSERT_EQ(b.size(), 4236u);
  // Block 1: the 16 weights from the bias unit into hidden units 0 ... 15 (row 0
  // too), then those from input 1. Block 2: pairs (output 0, output 1) per hidden unit.
  for (std::size_t j = 0; j < 16; ++j) {
    EXPECT_EQ(decode_fixed64(&b[12 + 8 * j]), bits(net->input_weights[j * 31]));
    EXPECT_EQ(decode_fixed64(&b[12 + 8 * (16 + j)]), bits(net->input_weights[j * 31 + 1]));
    EXPECT_EQ(decode_fixed64(&b[3980 + 16 * j]), bits(net->hidden_weights[j]));
    EXPECT_EQ(decode_fixed64(&b[3980 + 16 * j + 8]), bits(net->hidden_weights[16 + j]));
  }
  auto loaded = load_quietly(path, printed);
  ASSERT_TRUE(loaded);
  expect_same(loaded->input_weights, net->input_weights);
  expect_same(loaded->hidden_weights, net->hidden_weights);
  for (double v : loaded->input_prev_changes) EXPECT_EQ(bits(v), 0u);
  for (double v : loaded->hidden_prev_changes) EXPECT_EQ(bits(v), 0u);

  // A zero scale draws signed zeros: -0, -0, +0, -0 from state 1, kept as they are.
  RandomState one;
  auto zero = net_create(1, 0, 1, 0.0, one);
  expect_same(zero->input_weights, {-0.0, -0.0, 0.0, -0.0});
  ASSERT_EQ(net_save(*zero, path, stdout), 1);
  loaded = load_quietly(path, printed);
  expect_same(loaded->input_weights, zero->input_weights);
  EXPECT_EQ(print(*loaded, 0),
            "Showing 1x0x1 network \ninput weights:\n0,-0,\n"
            "Wmax=0, min=0, ave=0, satur=100%, average delta=0 (~zero delta=100%)\n");
}

TEST(NetworkFile, StatisticsBoundaries) {
  const auto stats = [](const NeuralNet& n) {
    return capture_output([&](std::FILE* out) { net_print_stats(n, out); });
  };
  // No units at all: no division by zero.
  EXPECT_EQ(stats(*net_alloc(2, 0, 0)),
            "Wmax=0, min=0, ave=0, satur=0%, average delta=0 (~zero delta=0%)\n");

  // 8 units: at TARGET_HIGH or TARGET_LOW not saturated, just beyond either one
  // saturated; a delta of 1.5e-8 counts as near zero (1 of 8: 12%), 1.6e-8 does not.
  // All weights negative: the maximum stays 0, the mean is (16 x -0.5 + 16 x -0.25) / 32.
  auto net = net_alloc(1, 7, 1);
  for (double& v : net->input_weights) v = -0.5;
  for (double& v : net->hidden_weights) v = -0.25;
  net->hidden_units = {1.0, TARGET_HIGH, TARGET_LOW, std::nextafter(TARGET_HIGH, 1.0),
                       0.5, 0.5,         0.5,        0.5};
  net->output_units[1] = std::nextafter(TARGET_LOW, 0.0);
  net->hidden_deltas = {0.0, 1.5e-8, 1.6e-8, 1.0, 1.0, 1.0, 1.0, 1.0};
  net->output_deltas[1] = 1.0;
  EXPECT_EQ(stats(*net),
            "Wmax=0, min=-0.5, ave=-0.375, satur=25%, average delta=0.75 (~zero delta=12%)\n");
}

TEST(NetworkFile, LoadRefusesDamagedFiles) {
  ScopedTempDir dir;
  const std::string path = dir.file("bad.nn");
  std::string printed;
  // Nothing there, a FIFO without a writer (a plain open would block), a folder.
  ASSERT_EQ(::mkfifo(dir.file("pipe.nn").c_str(), 0600), 0);
  for (const std::string& p : {dir.file("missing.nn"), dir.file("pipe.nn"), dir.path()}) {
    EXPECT_FALSE(load_quietly(p, printed)) << p;
    EXPECT_EQ(printed, "") << p;
  }

  const std::string read_error = "*** read ERROR!\n";
  // Cut short in the header, in block 1 and in block 2; counts that claim far more
  // than the file holds (no huge allocation); impossible headers.
  const std::pair<std::vector<std::uint8_t>, std::string> cases[] = {
      {{}, read_error},
      {{1, 0, 0, 0, 0}, read_error},
      {header(1, 0, 1, 43), read_error},
      {header(2, 1, 1, 12 + 8 * 6 + 8 * 4 - 1), read_error},
      {header(2147483647, 2147483647, 2147483647, 100), read_error},
      {header(100000, 100000, 1), read_error},
      {header(-1, 0, 1), ""},
      {header(1, -5, 1), ""},
      {header(1, 0, 0), ""},
      {header(1, 0, -2147483647 - 1), ""}};
  for (const auto& [bytes, message] : cases) {
    write_bytes(path, bytes);
    EXPECT_FALSE(load_quietly(path, printed)) << bytes.size();
    EXPECT_EQ(printed, message) << bytes.size();
  }
  // A sparse file one byte shorter than its huge header announces is refused
  // before anything is read.
  write_bytes(path, header(30, 1000000, 1));
  const std::uint64_t full = 12 + 8 * (31ull * 1000001 + 1000001ull * 2);
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(full - 1)), 0);
  EXPECT_FALSE(load_quietly(path, printed));
  EXPECT_EQ(printed, read_error);
}

TEST(NetworkFile, SaveFailuresAndPermissions) {
  ScopedTempDir dir;
  const auto net = net_alloc(1, 0, 1);
  std::string printed;
  std::int32_t result = -1;
  const auto save = [&](const std::string& path) {
    printed = capture_output([&](std::FILE* out) { result = net_save(*net, path, out); });
    return result;
  };
  // A file that cannot be created: 0, nothing printed. A full device: 0 and the message.
  EXPECT_EQ(save(dir.file("no/such/dir.nn")), 0);
  EXPECT_EQ(printed, "");
  if (::access("/dev/full", W_OK) == 0) {
    EXPECT_EQ(save("/dev/full"), 0);
    EXPECT_EQ(printed, "*** write ERROR!\n");
  }

  // A full write replaces an earlier file and keeps its permission bits (one
  // that fails part-way leaves it whole: the file-size limit test in train_tests).
  const std::string path = dir.file("net.nn");
  write_bytes(path, {'o', 'l', 'd'});
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_EQ(save(path), 1);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

}  // namespace
}  // namespace lumvet
