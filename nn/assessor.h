// The network-based assessor: scores JPEG photographs with a stored network
// instead of the embedded linear model, and the per-sample operations a training
// loop for the network rests on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "nn/network.h"
#include "nn/network_file.h"
#include "scoring/constants.h"
#include "scoring/random.h"

namespace lumvet {

// The network file under the model directory. The name is a fixed literal that is
// never parsed: the layer counts come from the file's header. It records a network
// of 30 inputs, 15 hidden units and 1 output, trained with learning rate 0.5 and
// momentum 0.05 for 15 epochs on features scaled by 1/12000.
inline constexpr const char* NETWORK_FILE_NAME = "test_30-15-1_0.5-0.05-1=15-1-12000=e15.nn";

// The assessor feeds at most FEATURE_COUNT measured values; a network with more
// inputs is refused.
inline constexpr std::int32_t NETWORK_MAX_INPUTS = FEATURE_COUNT;
// Bounds on the other layers of a network the assessor loads, judged from the
// file's header before anything is allocated: with them a network file and its
// network take at most a few tens of megabytes.
inline constexpr std::int32_t NETWORK_MAX_HIDDEN = 1024;
inline constexpr std::int32_t NETWORK_MAX_OUTPUTS = 1024;
// Room for the feature values of net_score_file; the values after the first
// FEATURE_COUNT are 0.0.
inline constexpr std::int32_t NET_FEATURE_BUFFER_SIZE = 512;

// Maps an output onto [-1, 1], computed in double from the widened targets so that
// an output at TARGET_HIGH maps to exactly 1: 2.500000149011621 for one output,
// 1.2500000395812108 for two (output 1 minus output 2).
inline constexpr double ONE_OUTPUT_SCORE_FACTOR = 1.0 / (TARGET_HIGH - 0.5);
inline constexpr double TWO_OUTPUT_SCORE_FACTOR = 1.0 / (TARGET_HIGH - TARGET_LOW);

// indices[i] = i for i < count, then count / 2 swap attempts: a = random_next mod
// count, b = random_next mod count, swap when a != b. Two steps per attempt, also
// when nothing is swapped; nothing is drawn when count < 2.
// REQUIRES: indices holds count values.
void shuffle_indices(std::int32_t* indices, std::int32_t count, RandomState& rs);

// input_units[i + 1] = features[i] for i < input_count (input_units[0] untouched);
// targets[1] = TARGET_HIGH when positive is non-zero, else TARGET_LOW, and with
// exactly two outputs targets[2] the other one. Other targets are not touched.
// REQUIRES: features holds input_count values; output_count >= 1.
void net_set_sample(NeuralNet& net, const double* features, std::int32_t positive);

// net_set_sample, a forward pass, and abs_error = |targets[1] - output_units[1]|.
// Returns 1 when output 1 classifies the sample correctly (below 0.5 for a
// negative sample, 0.5 or more for a positive one), else 0. Only output 1 decides.
std::int32_t net_eval_sample(NeuralNet& net, const double* features, std::int32_t positive,
                             double& abs_error);

// The score of the outputs last computed: x = (output 1 - output 2) x
// TWO_OUTPUT_SCORE_FACTOR with two outputs, else (output 1 - 0.5) x
// ONE_OUTPUT_SCORE_FACTOR; 100 when x < -1, else min(x, 1) x -100 truncated. So
// a high output (sharp) gives a negative score; 0.5 scores 0. An output that is
// not a number (only from absurd weights) scores 0.
// REQUIRES: output_count >= 1.
std::int32_t net_output_score(const NeuralNet& net);

// Measures one FeatureVector of the file (60 draws), multiplies the first
// input_count values by 1.0 / scale (inputs past FEATURE_COUNT get 0.0), loads
// them as a positive sample and returns net_output_score after a forward pass.
// Returns 0 with nothing drawn when the file cannot be decoded, and also for a
// network with more than NET_FEATURE_BUFFER_SIZE inputs.
std::int32_t net_score_file(NeuralNet& net, const std::string& path, double scale, RandomState& rs);

// A first score of 20 or more, or -20 or less, stands; anything in -19 ... 19 is
// looked at a second time.
inline bool assessment_needs_second_score(std::int32_t first) { return first < 20 && first > -20; }
// The average of the two looks, truncated toward zero.
inline std::int32_t combine_assessment(std::int32_t first, std::int32_t second) {
  return (first + second) / 2;
}

// net_score_file, and a second score with fresh patches when the first is in
// -19 ... 19: the average of both, truncated toward zero.
std::int32_t net_assess_file(NeuralNet& net, const std::string& path, double scale,
                             RandomState& rs);

}  // namespace lumvet
