#include "svm_train/train_command.h"

#include <iterator>
#include <string_view>

#include "build_config.h"
#include "nn/network_training.h"
#include "platform/long_options.h"
#include "scoring/model_dir.h"
#include "scoring/random.h"
#include "svm_train/self_test.h"
#include "svm_train/svm_training.h"

namespace lumvet {
namespace {

constexpr const char* PROGRAM_NAME = "lumvet-train";

constexpr const char* USAGE_TEXT =
    "usage: lumvet-train [--seed=N] [--good=DIR] [--blur=DIR] [--model-dir=DIR]\n"
    "       lumvet-train --selftest [--seed=N]\n"
    "       lumvet-train --network [--seed=N] [--good=DIR] [--blur=DIR] [--model-dir=DIR]\n"
    "Trains the linear blur model on the photographs of the folders good/ (sharp)\n"
    "and blur/ (blurred) of the current directory, writes it into the model\n"
    "directory as test_30-10_0.75-0.0001=15-1-12000=e10.svm and scores the model\n"
    "directory's blur/ and good/ folders with it (lumvet --model=FILE scores with\n"
    "such a file); or runs the solver self-test on a fixed toy problem.\n"
    "  --selftest   run the solver self-test and print its three result lines\n"
    "  --network    train the network that lumqet uses, on the same folders, and\n"
    "               write it into the model directory\n"
    "  --good=DIR, --blur=DIR  read the sharp and blurred photographs from DIR\n"
    "  --model-dir=DIR         write the model or network file into DIR\n"
    "  --seed=N     start the random state at N (-2147483648 to 2147483647)\n"
    "               instead of the clock, to reproduce a run\n"
    "  --help       print this text\n"
    "  --version    print the version\n";

// The rows of OPTIONS, in the same order.
enum class OptionId { self_test, network, good, blur, model_dir, seed, help, version };

// clang-format off
constexpr LongOption OPTIONS[] = {
    {"selftest", false},
    {"network", false},
    {"good", true},
    {"blur", true},
    {"model-dir", true},
    {"seed", true},
    {"help", false},
    {"version", false},
};
// clang-format on
static_assert(std::size(OPTIONS) == static_cast<std::size_t>(OptionId::version) + 1);

bool apply_option(std::size_t index, const std::string& value, TrainOptions& options,
                  std::string& error) {
  const OptionId id = static_cast<OptionId>(index);
  switch (id) {
    case OptionId::self_test:
      options.mode = TrainMode::self_test;
      return true;
    case OptionId::network:
      options.mode = TrainMode::network;
      return true;
    case OptionId::good:
    case OptionId::blur:
    case OptionId::model_dir:
      if (value.empty()) {
        error = "option '--" + std::string(OPTIONS[index].name) + "' needs a folder";
        return false;
      }
      (id == OptionId::good   ? options.good_dir
       : id == OptionId::blur ? options.blur_dir
                              : options.model_dir) = value;
      return true;
    case OptionId::help:
      options.help = true;
      return true;
    case OptionId::version:
      options.version = true;
      return true;
    case OptionId::seed: {
      const std::optional<std::int32_t> seed = parse_int32(value);
      if (!seed) {
        error = "invalid value '" + value +
                "' for --seed: expected a whole number from -2147483648 to 2147483647";
        return false;
      }
      options.seed = seed;
      return true;
    }
  }
  return false;
}

}  // namespace

bool parse_train_options(int argc, char** argv, TrainOptions& options, std::string& error) {
  const auto take = [&options](std::size_t index, const std::string& value, std::string& problem) {
    return apply_option(index, value, options, problem);
  };
  return split_long_options(std::vector<std::string>(argv, argv + argc), OPTIONS, "'", take,
                            options.positional, error);
}

int run_train_main(int argc, char** argv, std::FILE* out) {
  TrainOptions options;
  std::string error;
  if (!parse_train_options(argc, argv, options, error)) {
    std::fprintf(stderr, "%s: %s\n", PROGRAM_NAME, error.c_str());
    return TRAIN_EXIT_USAGE_ERROR;
  }
  if (options.help) {
    std::fputs(USAGE_TEXT, out);
    return TRAIN_EXIT_OK;
  }
  if (options.version) {
    std::fprintf(out, "%s %s\n", PROGRAM_NAME, LUMVET_VERSION);
    return TRAIN_EXIT_OK;
  }
  if (!options.positional.empty()) {
    std::fprintf(stderr, "%s: unexpected argument '%s'\n", PROGRAM_NAME,
                 options.positional.front().c_str());
    return TRAIN_EXIT_USAGE_ERROR;
  }

  RandomState rs;
  if (options.seed) {
    rs.value = *options.seed;
  } else {
    seed_random_from_ticks(rs);
  }

  switch (options.mode) {
    case TrainMode::self_test:
      run_solver_self_test(rs, out);
      std::fflush(out);
      return TRAIN_EXIT_OK;
    case TrainMode::network: {
      NetworkTrainingOptions network;
      network.good_dir = options.good_dir;
      network.blur_dir = options.blur_dir;
      if (!options.model_dir.empty()) network.model_dir = as_model_dir(options.model_dir);
      return run_network_training(network, rs, out, stderr);
    }
    case TrainMode::svm_training:
      break;
  }
  SvmTrainingOptions training;
  training.good_dir = options.good_dir;
  training.blur_dir = options.blur_dir;
  training.model_dir = options.model_dir;
  return run_svm_training(training, rs, out, stderr);
}

}  // namespace lumvet
