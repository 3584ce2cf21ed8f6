#include "svm_train/train_command.h"

#include <charconv>
#include <cstring>
#include <string_view>

#include "build_config.h"
#include "nn/network_training.h"
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

enum class OptionId { self_test, network, good, blur, model_dir, seed, help, version };

struct LongOption {
  std::string_view name;
  OptionId id;
  bool takes_value;
};

constexpr LongOption LONG_OPTIONS[] = {
    {"selftest", OptionId::self_test, false},
    {"network", OptionId::network, false},
    {"good", OptionId::good, true},
    {"blur", OptionId::blur, true},
    {"model-dir", OptionId::model_dir, true},
    {"seed", OptionId::seed, true},
    {"help", OptionId::help, false},
    {"version", OptionId::version, false},
};

const LongOption* find_option(std::string_view name) {
  for (const LongOption& option : LONG_OPTIONS) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

bool apply_option(const LongOption& option, const std::string& value, TrainOptions& options,
                  std::string& error) {
  switch (option.id) {
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
        error = "option '--" + std::string(option.name) + "' needs a folder";
        return false;
      }
      (option.id == OptionId::good   ? options.good_dir
       : option.id == OptionId::blur ? options.blur_dir
                                     : options.model_dir) = value;
      return true;
    case OptionId::help:
      options.help = true;
      return true;
    case OptionId::version:
      options.version = true;
      return true;
    case OptionId::seed: {
      const std::optional<std::int32_t> seed = parse_seed(value);
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

std::optional<std::int32_t> parse_seed(const std::string& text) {
  const char* first = text.data();
  const char* last = first + text.size();
  std::int32_t value = 0;
  // from_chars takes an optional '-' and digits only: no '+', no blanks.
  const auto [end, ec] = std::from_chars(first, last, value, 10);
  if (ec != std::errc() || end != last || text.empty()) return std::nullopt;
  return value;
}

bool parse_train_options(int argc, char** argv, TrainOptions& options, std::string& error) {
  bool options_ended = false;
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (options_ended || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      options.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    const LongOption* option = find_option(name);
    if (option == nullptr) {
      error = "unknown option '--" + name + "'";
      return false;
    }
    std::string value;
    if (!option->takes_value) {
      if (eq != std::string::npos) {
        error = "option '--" + name + "' takes no value";
        return false;
      }
    } else if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else if (a + 1 < argc) {
      value = argv[++a];
    } else {
      error = "option '--" + name + "' needs a value";
      return false;
    }
    if (!apply_option(*option, value, options, error)) return false;
  }
  return true;
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
