#include "nn/lumqet_command.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "build_config.h"
#include "imaging/imaging.h"
#include "nn/assessor.h"
#include "nn/network_file.h"
#include "platform/platform.h"
#include "platform/program_start.h"
#include "scoring/file_scoring.h"
#include "scoring/model_dir.h"

namespace lumvet {

namespace {

constexpr const char* PROGRAM_NAME = "lumqet";

constexpr const char* USAGE_TEXT =
    "USAGE: lumqet path\nPATH could be a single image to assess or a whole folder of images\n";

constexpr const char* HELP_TEXT =
    "usage: lumqet [--seed=N] [--model-dir=DIR] PATH\n"
    "Assesses how blurred photographs are with a trained neural network.\n"
    "PATH is one image (its score is printed) or a folder: every entry ending in\n"
    ".jpg is assessed, those scoring above 10 are listed, then a summary.\n"
    "  --seed=N         start the random state at N (-2147483648 to 2147483647)\n"
    "                   instead of the clock, to reproduce a run\n"
    "  --model-dir=DIR  read the network file from DIR instead of the model directory\n"
    "  --help           print this text\n"
    "  --version        print the version\n"
    "Exit codes: 0 done, 1 output not written, 2 bad option, 3 network file\n"
    "missing or unusable, 100 PATH names nothing.\n";

// --seed, --help and --version come from StartOptions.
struct AssessorOptions : StartOptions {
  std::string model_dir;  // --model-dir; empty: the default model directory
};

bool take_model_dir(const std::string& value, AssessorOptions& options, std::string& error) {
  return take_path_value("model-dir", value, options.model_dir, error);
}

constexpr OptionRow<AssessorOptions> OPTIONS[] = {
    {{"seed", true}, take_seed<AssessorOptions>},
    {{"model-dir", true}, take_model_dir},
    {{"help", false}, take_help<AssessorOptions>},
    {{"version", false}, take_version<AssessorOptions>},
};

// The network of the model directory, or null after one line on `err`. A network
// this assessor cannot apply is refused from its header, before it is allocated:
// it is never used for scoring.
std::unique_ptr<NeuralNet> load_assessor_network(const std::string& path, std::FILE* out,
                                                 std::FILE* err) {
  bool judged = false;  // refused from its header, with its own line
  const auto accept = [&](const NetworkHeader& header) {
    judged = true;
    if (header.input_count > NETWORK_MAX_INPUTS) {
      std::fprintf(err, "%s: network file %s has %d inputs; at most %d can be fed\n", PROGRAM_NAME,
                   path.c_str(), header.input_count, NETWORK_MAX_INPUTS);
      return false;
    }
    if (header.hidden_count > NETWORK_MAX_HIDDEN) {
      std::fprintf(err, "%s: network file %s has %d hidden units; at most %d are supported\n",
                   PROGRAM_NAME, path.c_str(), header.hidden_count, NETWORK_MAX_HIDDEN);
      return false;
    }
    if (header.output_count > NETWORK_MAX_OUTPUTS) {
      std::fprintf(err, "%s: network file %s has %d outputs; at most %d are supported\n",
                   PROGRAM_NAME, path.c_str(), header.output_count, NETWORK_MAX_OUTPUTS);
      return false;
    }
    judged = false;
    return true;
  };
  std::unique_ptr<NeuralNet> net = net_load(path, out, accept);
  if (!net) {
    if (judged) return nullptr;
    if (platform::path_kind(path) == platform::PathKind::missing) {
      std::fprintf(err, "%s: network file not found: %s\n", PROGRAM_NAME, path.c_str());
    } else {
      std::fprintf(err, "%s: network file unreadable or invalid: %s\n", PROGRAM_NAME, path.c_str());
    }
    return nullptr;
  }
  if (net->output_count < 1) {
    std::fprintf(err, "%s: network file %s has no output unit\n", PROGRAM_NAME, path.c_str());
    return nullptr;
  }
  return net;
}

}  // namespace

int run_network_assessor(int argc, char** argv, std::FILE* out, std::FILE* err) {
  AssessorOptions options;
  std::vector<std::string> positional;
  std::string error;
  if (!parse_program_options(std::vector<std::string>(argv, argv + argc), OPTIONS, options,
                             positional, error)) {
    report_problem(out, err, PROGRAM_NAME, error);
    return EXIT_BAD_OPTION;
  }
  if (options.help) {
    std::fputs(HELP_TEXT, out);
    return EXIT_DONE;
  }
  if (options.version) {
    print_version(out, PROGRAM_NAME, LUMVET_VERSION);
    return EXIT_DONE;
  }

  // Further arguments after the path are ignored.
  platform::PathKind kind = platform::PathKind::missing;
  if (!positional.empty()) {
    kind = platform::path_kind(positional.front());
    if (kind == platform::PathKind::missing) {
      std::fputs(USAGE_TEXT, out);
      return EXIT_USAGE;
    }
  }

  start_imaging_library();
  RandomState rs;
  if (options.seed) {
    rs.value = *options.seed;
  } else {
    seed_random_from_time(rs);
  }
  // With nothing to assess nothing is printed, and a missing network is no error.
  if (positional.empty()) return EXIT_DONE;

  const std::string model_dir =
      options.model_dir.empty() ? default_model_dir() : as_model_dir(options.model_dir);
  const std::unique_ptr<NeuralNet> net =
      load_assessor_network(model_dir + NETWORK_FILE_NAME, out, err);
  if (!net) {
    std::fflush(out);
    return EXIT_BAD_NETWORK;
  }

  const std::string& path = positional.front();
  if (kind == platform::PathKind::directory) {
    // A .jpg entry that does not decode (a folder named x.jpg, say) scores 0 and
    // still counts.
    const auto assess = [&](const std::string& photo) {
      return net_assess_file(*net, photo, FEATURE_SCALE, rs);
    };
    report_blurred_in_folder(path, assess, out);
  } else {
    const std::int32_t score = net_assess_file(*net, path, FEATURE_SCALE, rs);
    std::fprintf(out, "%d\n", score >= 1 ? score : 0);
  }
  std::fflush(out);
  return EXIT_DONE;
}

}  // namespace lumvet
