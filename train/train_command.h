// The command line of lumvet-train: long options, then the chosen mode (the linear
// model's training, the network's training, or the solver self-test).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/exit_codes.h"
#include "platform/program_start.h"

namespace lumvet {

enum class TrainMode {
  svm_training,  // the default: train the linear model
  self_test,     // --selftest
  network,       // --network: train the network of the network-based assessor
  sharpness,     // --assessor=sharpness: train the sharpness assessor's model
};

// --seed (the start state instead of the tick count), --help and --version come
// from StartOptions.
struct TrainOptions : StartOptions {
  TrainMode mode = TrainMode::svm_training;
  std::string good_dir = "good";        // --good: the sharp photographs
  std::string blur_dir = "blur";        // --blur: the blurred photographs
  std::string model_dir;                // --model-dir; empty: the default model directory
  std::vector<std::string> positional;  // arguments that are not long options
};

// Takes the long options out of argv[1 ...]: "--name=value" or "--name value" for
// options with a value, "--name" for flags; "--" ends them. Everything else goes
// to `positional`. On an unknown option, a missing or malformed value, or a value
// given to a flag, returns false with a one-line description in `error`.
bool parse_train_options(int argc, char** argv, TrainOptions& options, std::string& error);

// The whole program: reports go to `out`, problems as one line each on `err`.
// Returns EXIT_DONE, EXIT_NOT_TRAINED or EXIT_BAD_OPTION (platform/exit_codes.h).
int run_train_main(int argc, char** argv, std::FILE* out, std::FILE* err);

}  // namespace lumvet
