#include "cli/options.h"

#include <iterator>
#include <string_view>

#include "platform/long_options.h"

namespace lumvet {

namespace {

// Stores one option's value; false (with `error` set) when the value is unusable.
using OptionHandler = bool (*)(const std::string& value, LongOptions& options, std::string& error);

bool bad_value(std::string_view name, const std::string& value, std::string& error) {
  error = "invalid value for --";
  error += name;
  error += ": '";
  error += value;
  error += "'";
  return false;
}

bool handle_seed(const std::string& value, LongOptions& options, std::string& error) {
  const auto n = parse_int32(value);
  if (!n) return bad_value("seed", value, error);
  options.seed = *n;
  return true;
}

bool handle_threshold(const std::string& value, LongOptions& options, std::string& error) {
  const auto n = parse_int32(value);
  if (!n) return bad_value("threshold", value, error);
  options.threshold = *n;
  return true;
}

bool handle_jobs(const std::string& value, LongOptions& options, std::string& error) {
  const auto n = parse_int32(value);
  if (!n || *n < 1 || *n > MAX_JOBS) return bad_value("jobs", value, error);
  options.jobs = *n;
  return true;
}

bool handle_format(const std::string& value, LongOptions& options, std::string& error) {
  if (value == "text") {
    options.format = OutputFormat::text;
  } else if (value == "tsv") {
    options.format = OutputFormat::tsv;
  } else if (value == "jsonl") {
    options.format = OutputFormat::jsonl;
  } else {
    return bad_value("format", value, error);
  }
  return true;
}

bool handle_model(const std::string& value, LongOptions& options, std::string& error) {
  if (value.empty()) return bad_value("model", value, error);
  options.model_file = value;
  return true;
}

bool handle_help(const std::string&, LongOptions& options, std::string&) {
  options.help = true;
  return true;
}

bool handle_version(const std::string&, LongOptions& options, std::string&) {
  options.version = true;
  return true;
}

// clang-format off
constexpr LongOption OPTIONS[] = {
    {"seed", true},
    {"format", true},
    {"threshold", true},
    {"model", true},
    {"jobs", true},
    {"help", false},
    {"version", false},
};
// The handler of each option of OPTIONS, in the same order.
constexpr OptionHandler HANDLERS[] = {
    handle_seed,
    handle_format,
    handle_threshold,
    handle_model,
    handle_jobs,
    handle_help,
    handle_version,
};
// clang-format on
static_assert(std::size(HANDLERS) == std::size(OPTIONS));

}  // namespace

bool parse_long_options(const std::vector<std::string>& args, LongOptions& options,
                        std::vector<std::string>& rest, std::string& error) {
  rest.clear();
  if (args.empty()) return true;
  const auto take = [&options](std::size_t index, const std::string& value, std::string& problem) {
    return HANDLERS[index](value, options, problem);
  };
  if (!split_long_options(args, OPTIONS, "", take, rest, error)) return false;
  rest.insert(rest.begin(), args[0]);
  return true;
}

}  // namespace lumvet
