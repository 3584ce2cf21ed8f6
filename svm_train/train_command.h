// The command line of lumvet-train: long options, then the chosen mode.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace lumvet {

// Exit codes of lumvet-train.
inline constexpr int TRAIN_EXIT_OK = 0;
// An unknown or malformed option, or a mode that cannot run.
inline constexpr int TRAIN_EXIT_USAGE_ERROR = 2;

enum class TrainMode {
  svm_training,  // the default: train the linear model
  self_test,     // --selftest
  network,       // --network: train the network of the network-based assessor
};

struct TrainOptions {
  TrainMode mode = TrainMode::svm_training;
  bool help = false;
  bool version = false;
  std::optional<std::int32_t> seed;     // --seed: start state instead of the tick count
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

// The whole program: reports go to `out`, problems as one line on stderr.
// Returns the exit code.
int run_train_main(int argc, char** argv, std::FILE* out);

}  // namespace lumvet
