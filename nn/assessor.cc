#include "nn/assessor.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

#include "build_config.h"
#include "imaging/imaging.h"
#include "platform/long_options.h"
#include "platform/platform.h"
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

struct AssessorOptions {
  bool help = false;
  bool version = false;
  std::optional<std::int32_t> seed;
  std::optional<std::string> model_dir;
  std::vector<std::string> positional;
};

// The rows of OPTIONS, in the same order.
enum class OptionId { seed, model_dir, help, version };

// clang-format off
constexpr LongOption OPTIONS[] = {
    {"seed", true},
    {"model-dir", true},
    {"help", false},
    {"version", false},
};
// clang-format on
static_assert(std::size(OPTIONS) == static_cast<std::size_t>(OptionId::version) + 1);

bool apply_option(std::size_t index, const std::string& value, AssessorOptions& options,
                  std::string& error) {
  switch (static_cast<OptionId>(index)) {
    case OptionId::seed:
      options.seed = parse_int32(value);
      if (!options.seed) {
        error = "invalid value '" + value +
                "' for --seed: expected a whole number from -2147483648 to 2147483647";
        return false;
      }
      return true;
    case OptionId::model_dir:
      if (value.empty()) {
        error = "option '--model-dir' needs a folder";
        return false;
      }
      options.model_dir = as_model_dir(value);
      return true;
    case OptionId::help:
      options.help = true;
      return true;
    case OptionId::version:
      options.version = true;
      return true;
  }
  return false;
}

// Takes the long options out of argv[1 ...] ("--name=value" or "--name value";
// "--" ends them). On a problem returns false with a one-line description.
bool parse_assessor_options(int argc, char** argv, AssessorOptions& options, std::string& error) {
  const auto take = [&options](std::size_t index, const std::string& value, std::string& problem) {
    return apply_option(index, value, options, problem);
  };
  return split_long_options(std::vector<std::string>(argv, argv + argc), OPTIONS, "'", take,
                            options.positional, error);
}

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

void shuffle_indices(std::int32_t* indices, std::int32_t count, RandomState& rs) {
  for (std::int32_t i = 0; i < count; ++i) indices[i] = i;
  for (std::int32_t n = 0; n < count / 2; ++n) {
    // The raw generator states are non-negative, so the remainders are indices.
    const std::int32_t a = random_next(rs) % count;
    const std::int32_t b = random_next(rs) % count;
    if (a != b) std::swap(indices[a], indices[b]);
  }
}

void net_set_sample(NeuralNet& net, const double* features, std::int32_t positive) {
  std::copy(features, features + net.input_count, net.input_units.begin() + 1);
  net.targets[1] = positive != 0 ? TARGET_HIGH : TARGET_LOW;
  if (net.output_count == 2) net.targets[2] = positive != 0 ? TARGET_LOW : TARGET_HIGH;
}

std::int32_t net_eval_sample(NeuralNet& net, const double* features, std::int32_t positive,
                             double& abs_error) {
  net_set_sample(net, features, positive);
  net_forward(net);
  abs_error = std::fabs(net.targets[1] - net.output_units[1]);
  if (net.output_units[1] < 0.5) return positive == 0 ? 1 : 0;
  return positive == 1 ? 1 : 0;
}

std::int32_t net_output_score(const NeuralNet& net) {
  double x;
  if (net.output_count == 2) {
    x = (net.output_units[1] - net.output_units[2]) * TWO_OUTPUT_SCORE_FACTOR;
  } else {
    x = (net.output_units[1] - 0.5) * ONE_OUTPUT_SCORE_FACTOR;
  }
  if (std::isnan(x)) return 0;  // converting it to an integer would be undefined
  if (x < -1.0) return 100;
  if (x > 1.0) x = 1.0;
  return static_cast<std::int32_t>(x * -100.0);
}

std::int32_t net_score_file(NeuralNet& net, const std::string& path, double scale,
                            RandomState& rs) {
  if (net.input_count > NET_FEATURE_BUFFER_SIZE) return 0;
  FeatureVector features;
  if (!extract_file_features(path, features, rs)) return 0;
  std::array<double, NET_FEATURE_BUFFER_SIZE> buffer{};
  std::copy(features.begin(), features.end(), buffer.begin());
  const double r = 1.0 / scale;
  for (std::int32_t i = 0; i < net.input_count; ++i) buffer[i] = buffer[i] * r;
  net_set_sample(net, buffer.data(), 1);
  net_forward(net);
  return net_output_score(net);
}

std::int32_t net_assess_file(NeuralNet& net, const std::string& path, double scale,
                             RandomState& rs) {
  const std::int32_t first = net_score_file(net, path, scale, rs);
  if (!assessment_needs_second_score(first)) return first;
  // Fresh patches: the generator has moved on.
  const std::int32_t second = net_score_file(net, path, scale, rs);
  return combine_assessment(first, second);
}

int run_network_assessor(int argc, char** argv, std::FILE* out, std::FILE* err) {
  AssessorOptions options;
  std::string error;
  if (!parse_assessor_options(argc, argv, options, error)) {
    std::fprintf(err, "%s: %s\n", PROGRAM_NAME, error.c_str());
    return ASSESSOR_EXIT_BAD_OPTION;
  }
  if (options.help) {
    std::fputs(HELP_TEXT, out);
    return ASSESSOR_EXIT_OK;
  }
  if (options.version) {
    std::fprintf(out, "%s %s\n", PROGRAM_NAME, LUMVET_VERSION);
    return ASSESSOR_EXIT_OK;
  }

  // Further arguments after the path are ignored.
  platform::PathKind kind = platform::PathKind::missing;
  if (!options.positional.empty()) {
    kind = platform::path_kind(options.positional.front());
    if (kind == platform::PathKind::missing) {
      std::fputs(USAGE_TEXT, out);
      return ASSESSOR_EXIT_USAGE;
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
  if (options.positional.empty()) return ASSESSOR_EXIT_OK;

  const std::string model_dir = options.model_dir ? *options.model_dir : default_model_dir();
  const std::unique_ptr<NeuralNet> net =
      load_assessor_network(model_dir + NETWORK_FILE_NAME, out, err);
  if (!net) {
    std::fflush(out);
    return ASSESSOR_EXIT_BAD_NETWORK;
  }

  const std::string& path = options.positional.front();
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
  return ASSESSOR_EXIT_OK;
}

}  // namespace lumvet
