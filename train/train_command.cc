#include "train/train_command.h"

#include <string>
#include <vector>

#include "build_config.h"
#include "nn/network_training.h"
#include "scoring/model_dir.h"
#include "scoring/random.h"
#include "svm_train/self_test.h"
#include "svm_train/sharpness_training.h"
#include "svm_train/svm_training.h"

namespace lumvet {
namespace {

constexpr const char* PROGRAM_NAME = "lumvet-train";

constexpr const char* USAGE_TEXT =
    "usage: lumvet-train [--seed=N] [--good=DIR] [--blur=DIR] [--model-dir=DIR]\n"
    "       lumvet-train --selftest [--seed=N]\n"
    "       lumvet-train --network [--seed=N] [--good=DIR] [--blur=DIR] [--model-dir=DIR]\n"
    "       lumvet-train --assessor=sharpness [--seed=N] [--good=DIR] [--blur=DIR]\n"
    "                    [--model-dir=DIR]\n"
    "Trains the linear blur model on the photographs of the folders good/ (sharp)\n"
    "and blur/ (blurred) of the current directory, writes it into the model\n"
    "directory as test_30-10_0.75-0.0001=15-1-12000=e10.svm and scores the model\n"
    "directory's blur/ and good/ folders with it (lumvet --model=FILE scores with\n"
    "such a file); or runs the solver self-test on a fixed toy problem.\n"
    "  --selftest   run the solver self-test and print its three result lines\n"
    "  --network    train the network that lumqet uses, on the same folders, and\n"
    "               write it into the model directory\n"
    "  --assessor=sharpness    train the sharpness assessor's model instead, on\n"
    "               the same folders, and write it into the model directory as\n"
    "               sharpness.lvsm (lumvet --assessor=sharpness --model=FILE uses it)\n"
    "  --assessor=contrast     the default: the linear contrast model\n"
    "  --good=DIR, --blur=DIR  read the sharp and blurred photographs from DIR\n"
    "  --model-dir=DIR         write the model or network file into DIR\n"
    "  --seed=N     start the random state at N (-2147483648 to 2147483647)\n"
    "               instead of the clock, to reproduce a run\n"
    "  --help       print this text\n"
    "  --version    print the version\n";

bool take_self_test(const std::string&, TrainOptions& options, std::string&) {
  options.mode = TrainMode::self_test;
  return true;
}

bool take_network(const std::string&, TrainOptions& options, std::string&) {
  options.mode = TrainMode::network;
  return true;
}

bool take_assessor(const std::string& value, TrainOptions& options, std::string& error) {
  if (value == "sharpness") {
    options.mode = TrainMode::sharpness;
  } else if (value == "contrast") {
    if (options.mode == TrainMode::sharpness) options.mode = TrainMode::svm_training;
  } else {
    error = "invalid value for --assessor: '" + value + "' (contrast or sharpness)";
    return false;
  }
  return true;
}

bool take_good(const std::string& value, TrainOptions& options, std::string& error) {
  return take_path_value("good", value, options.good_dir, error);
}

bool take_blur(const std::string& value, TrainOptions& options, std::string& error) {
  return take_path_value("blur", value, options.blur_dir, error);
}

bool take_model_dir(const std::string& value, TrainOptions& options, std::string& error) {
  return take_path_value("model-dir", value, options.model_dir, error);
}

constexpr OptionRow<TrainOptions> OPTIONS[] = {
    {{"selftest", false}, take_self_test},
    {{"network", false}, take_network},
    {{"assessor", true}, take_assessor},
    {{"good", true}, take_good},
    {{"blur", true}, take_blur},
    {{"model-dir", true}, take_model_dir},
    {{"seed", true}, take_seed<TrainOptions>},
    {{"help", false}, take_help<TrainOptions>},
    {{"version", false}, take_version<TrainOptions>},
};

}  // namespace

bool parse_train_options(int argc, char** argv, TrainOptions& options, std::string& error) {
  return parse_program_options(std::vector<std::string>(argv, argv + argc), OPTIONS, options,
                               options.positional, error);
}

int run_train_main(int argc, char** argv, std::FILE* out, std::FILE* err) {
  TrainOptions options;
  std::string error;
  if (!parse_train_options(argc, argv, options, error)) {
    report_problem(out, err, PROGRAM_NAME, error);
    return EXIT_BAD_OPTION;
  }
  if (options.help) {
    std::fputs(USAGE_TEXT, out);
    return EXIT_DONE;
  }
  if (options.version) {
    print_version(out, PROGRAM_NAME, LUMVET_VERSION);
    return EXIT_DONE;
  }
  if (!options.positional.empty()) {
    report_problem(out, err, PROGRAM_NAME,
                   "unexpected argument '" + options.positional.front() + "'");
    return EXIT_BAD_OPTION;
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
      return EXIT_DONE;
    case TrainMode::network: {
      NetworkTrainingOptions network;
      network.good_dir = options.good_dir;
      network.blur_dir = options.blur_dir;
      if (!options.model_dir.empty()) network.model_dir = as_model_dir(options.model_dir);
      return run_network_training(network, rs, out, err);
    }
    case TrainMode::sharpness: {
      SharpnessTrainingOptions sharpness;
      sharpness.good_dir = options.good_dir;
      sharpness.blur_dir = options.blur_dir;
      sharpness.model_path = (options.model_dir.empty() ? default_model_dir()
                                                        : as_model_dir(options.model_dir)) +
                             SHARPNESS_MODEL_FILE_NAME;
      return run_sharpness_training(sharpness, rs, out, err);
    }
    case TrainMode::svm_training:
      break;
  }
  SvmTrainingOptions training;
  training.good_dir = options.good_dir;
  training.blur_dir = options.blur_dir;
  training.model_dir = options.model_dir;
  return run_svm_training(training, rs, out, err);
}

}  // namespace lumvet
