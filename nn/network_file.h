// The network file, which holds a network's layer counts and weights, and the
// printed diagnostics of a network (its weights and a one-line summary).
//
// Network file, all little-endian, nothing before or after:
//   offset 0   int32  input_count
//   offset 4   int32  hidden_count (0: no hidden layer)
//   offset 8   int32  output_count
//   offset 12  block 1: (input_count + 1)(F + 1) binary64, input_weights
//   then       block 2: (hidden_count + 1)(output_count + 1) binary64,
//              hidden_weights, only when hidden_count is non-zero
// Both blocks are transposed with respect to memory: lower unit outer, upper unit
// inner, so w[j][k] of block 1 lies at 12 + 8 (k (F + 1) + j). Row 0 is stored.
// Units, deltas, targets and previous changes are not stored.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "nn/network.h"

namespace lumvet {

// The single-precision 0.9 and 0.1 widened to double: the training targets, and
// the bounds beyond which a unit counts as saturated.
inline constexpr double TARGET_HIGH = static_cast<double>(0.9f);  // 0.8999999761581421
inline constexpr double TARGET_LOW = static_cast<double>(0.1f);   // 0.10000000149011612
// A delta whose magnitude is not above this counts as (nearly) zero.
inline constexpr double NEAR_ZERO_DELTA = 1.5e-8;

// Writes the network file at `path`, replacing any earlier one only once the new
// contents are completely written (a new file gets permission bits 0600).
// Returns 1 once the whole file is written. Returns 0 when the file cannot be
// opened or created (nothing is written, nothing printed), and also when writing
// fails: then "*** write ERROR!\n" is printed to `out` and an earlier file at
// `path` is left as it was.
std::int32_t net_save(const NeuralNet& net, const std::string& path, std::FILE* out);

// The layer counts a network file announces.
struct NetworkHeader {
  std::int32_t input_count = 0;
  std::int32_t hidden_count = 0;
  std::int32_t output_count = 0;
};

// Judges a header before anything is allocated for its network: true to load it.
using NetworkHeaderCheck = std::function<bool(const NetworkHeader&)>;

// Reads a network file: the weights as stored, previous changes, units, deltas
// and targets 0.0. Null when the file cannot be opened, when its header holds a
// negative count or no output unit, or when its data is shorter than the header
// announces (this last case prints "*** read ERROR!\n" to `out`); then, before
// anything is allocated, null when `accept` (if given) refuses the header; also
// null when the network cannot be allocated. Bytes after the last block are
// ignored.
std::unique_ptr<NeuralNet> net_load(const std::string& path, std::FILE* out,
                                    const NetworkHeaderCheck& accept = nullptr);

// Prints "Showing IxHxO network \n", the input weights (rows 1 ... F, bias weight
// first, each value followed by a comma), the hidden weights when there is a
// hidden layer, then the statistics line. Values use "%g," when short_format is
// non-zero, else "%.12g,".
void net_print(const NeuralNet& net, std::int32_t short_format, std::FILE* out);

// Prints "Wmax=%g, min=%g, ave=%g, satur=%d%%, average delta=%g (~zero delta=%d%%)\n":
// the largest weight (at least 0), the smallest (at most 0) and the mean over both
// matrices with row 0; the share of output and hidden units beyond TARGET_HIGH or
// TARGET_LOW; the mean |delta| and the share of deltas not above NEAR_ZERO_DELTA.
// A network without units prints 0 for both shares and the mean delta.
void net_print_stats(const NeuralNet& net, std::FILE* out);

}  // namespace lumvet
